# Helpers shared by the project's CMake files.

# ps_library(NAME DIRS dir... [EXCLUDE file...] LIBS lib...)
# A static library of every .cpp/.c in the listed folders and below (relative
# to the source root). A listed folder that does not exist or holds no sources
# stops the configure: a layer is never silently empty.
function(ps_library name)
  cmake_parse_arguments(A "" "" "DIRS;EXCLUDE;LIBS" ${ARGN})
  if(NOT A_DIRS)
    message(FATAL_ERROR "ps_library(${name}): no folders listed")
  endif()
  set(srcs)
  foreach(d ${A_DIRS})
    if(NOT IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${d})
      message(FATAL_ERROR "ps_library(${name}): folder '${d}' does not exist")
    endif()
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/${d}/*.cpp ${CMAKE_SOURCE_DIR}/${d}/*.c)
    if(NOT found)
      message(FATAL_ERROR "ps_library(${name}): folder '${d}' holds no .cpp or .c sources")
    endif()
    list(APPEND srcs ${found})
  endforeach()
  list(REMOVE_DUPLICATES srcs)
  # core/ and core/eventstore are one library, core/controls belongs to the GUI.
  if(NOT name STREQUAL "ps_gui")
    list(FILTER srcs EXCLUDE REGEX "/core/controls/")
  endif()
  foreach(x ${A_EXCLUDE})
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${x})
      message(FATAL_ERROR "ps_library(${name}): excluded file '${x}' does not exist")
    endif()
    list(REMOVE_ITEM srcs ${CMAKE_SOURCE_DIR}/${x})
  endforeach()
  if(NOT srcs)
    message(FATAL_ERROR "ps_library(${name}): no sources left in ${A_DIRS}")
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# ps_tool(NAME SOURCES... LIBS ...): a development tool in build/bin.
function(ps_tool name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()
