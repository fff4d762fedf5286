// The development tools' common answer to -h and --help: the usage on
// standard output and exit status 0. A call that is not understood prints the
// same usage on standard error and fails. A file named like an option is
// given with its folder ("./--help").
#pragma once

#include <cstdio>
#include <cstring>

namespace tools {

inline bool AskedForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help"))
            return true;
    return false;
}

inline int ShowHelp(const char* usage)
{
    std::fputs(usage, stdout);
    return 0;
}

inline int UsageError(const char* usage, int status)
{
    std::fputs(usage, stderr);
    return status;
}

}  // namespace tools
