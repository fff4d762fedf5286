// The day's error-file list as the tests read it.
#pragma once

#include <string>

#include "platform/system.h"

namespace ps_test {

// The list's path for the day of t.
std::string ErrorListPath(const plat::LocalTime& t);
// Today's list, empty when there is none.
std::string TodaysErrorList();
// The reason on today's line of path ("[hh:mm:ss] path<TAB>reason"), empty
// when path is not listed.
std::string ListedReason(const std::string& path);

}  // namespace ps_test
