// What the benchmarks share: running a reference tool quietly and timing the
// best of several rounds over a list of documents.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Runs a program found on PATH with its output thrown away; true when it
// started and exited with status 0.
inline bool Run(const std::vector<std::string>& args)
{
    if (args.empty())
        return false;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Best seconds of rounds runs of work over the documents.
inline double Best(int rounds, const std::vector<std::string>& docs,
                   const std::function<void(const std::string&)>& work)
{
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& d : docs)
            work(d);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// A pattern of the matcher as ripgrep reads it: each "\b" an ASCII word
// boundary, as the matcher's are.
inline std::string RipgrepPattern(const std::string& pattern)
{
    std::string q;
    for (size_t k = 0; k < pattern.size(); ++k) {
        if (pattern.compare(k, 2, "\\b") == 0) {
            q += "(?-u:\\b)";
            ++k;
        } else {
            q += pattern[k];
        }
    }
    return q;
}

}  // namespace bench
