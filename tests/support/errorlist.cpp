#include "support/errorlist.h"

#include <cstdio>

#include "support/isolation.h"

namespace ps_test {

std::string ErrorListPath(const plat::LocalTime& t)
{
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d", t.year, t.month, t.day);
    return plat::PathToNative(plat::DocumentsDir()) + "/Privasweep/PrivasweepErrorFile/" + day +
           "/PrivasweepErrFileList.txt";
}

std::string TodaysErrorList()
{
    return ReadFileBytes(ErrorListPath(plat::LocalTimeNow()));
}

std::string ListedReason(const std::string& path)
{
    const std::string list = TodaysErrorList();
    const std::string key = "] " + path + "\t";
    size_t at = list.rfind(key);
    if (at == std::string::npos)
        return {};
    at += key.size();
    return list.substr(at, list.find("\r\n", at) - at);
}

}  // namespace ps_test
