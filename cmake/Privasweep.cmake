# Helpers shared by the project's CMake files.

# ps_library(NAME DIRS dir... [RECURSE] [EXCLUDE file...] LIBS lib...)
# A static library of every .cpp/.c directly in the listed folders (relative to
# the source root). Folders listed with a trailing /** are taken recursively.
function(ps_library name)
  cmake_parse_arguments(A "" "" "DIRS;EXCLUDE;LIBS" ${ARGN})
  set(srcs)
  foreach(d ${A_DIRS})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/${d}/*.cpp ${CMAKE_SOURCE_DIR}/${d}/*.c)
    list(APPEND srcs ${found})
  endforeach()
  list(REMOVE_DUPLICATES srcs)
  # core/ and core/eventstore are one library, core/controls belongs to the GUI.
  if(NOT name STREQUAL "ps_gui")
    list(FILTER srcs EXCLUDE REGEX "/core/controls/")
  endif()
  foreach(x ${A_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_SOURCE_DIR}/${x})
  endforeach()
  if(NOT srcs)
    set(stub ${CMAKE_BINARY_DIR}/stubs/${name}.cpp)
    file(WRITE ${stub} "// empty layer\n")
    set(srcs ${stub})
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
