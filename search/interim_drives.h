// Interim list of the drives a whole-computer search walks by directory:
// the mount points of /proc/self/mountinfo without the pseudo and RAM file
// systems. Stands in until the drive classification replaces it; the engine
// reaches it only through InterimWalkableDriveRoots().
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Mount points (UTF-16 paths) from the text of a mountinfo file, in table
// order, each (device, mounted subtree) once.
std::vector<std::u16string> ParseInterimDriveRoots(std::string_view mountinfo);

// The same from /proc/self/mountinfo; empty when it cannot be read.
std::vector<std::u16string> InterimWalkableDriveRoots();
