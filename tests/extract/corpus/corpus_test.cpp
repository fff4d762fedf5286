// Robustness of every reader over the shared corpus: each document runs
// through build/bin/extract-text in a child process of its own, under a time
// limit. A crash, a sanitizer report, a time-out or an exit status other
// than 0, 1 or 2 fails the test with the file named. At the end a table
// gives, per folder, how many documents answered 0, 1 and 2.
//
// PS_CORPUS_TIMEOUT (seconds per document, default 120) and PS_CORPUS_JOBS
// (documents at a time, default 2) tune a run; PS_CORPUS_TOOL runs another
// program in place of the build's extract-text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/isolation.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Exit codes the sanitizers use in the children, apart from the statuses.
constexpr int kAsanExit = 86;
constexpr int kUbsanExit = 87;

struct Document {
    std::string path;
    std::string group;  // "public/doc", "pii/pdf", ...
};

// The extensions extract-text has an entry for.
bool IsDocument(const fs::path& p)
{
    static const std::set<std::string> known = {"hwp", "hml", "doc", "docx", "docm", "ppt", "pptx",
                                                "pptm", "xls", "xlsx", "xlsm", "pdf", "rtf"};
    std::string ext = p.extension().string();
    if (ext.empty())
        return false;
    ext = ext.substr(1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return known.count(ext) != 0;
}

std::vector<Document> ListCorpus(const std::string& corpus)
{
    std::vector<Document> docs;
    std::error_code ec;
    for (const auto& folder : fs::directory_iterator(corpus + "/public", ec)) {
        if (!folder.is_directory())
            continue;
        for (const auto& f : fs::directory_iterator(folder.path(), ec)) {
            if (f.is_regular_file() && IsDocument(f.path()))
                docs.push_back({f.path().string(), "public/" + folder.path().filename().string()});
        }
    }
    for (const auto& f : fs::directory_iterator(corpus + "/pii", ec)) {
        if (f.is_regular_file() && IsDocument(f.path()))
            docs.push_back({f.path().string(), "pii/" + f.path().extension().string().substr(1)});
    }
    std::sort(docs.begin(), docs.end(), [](const Document& a, const Document& b) { return a.path < b.path; });
    return docs;
}

int EnvInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    int n = std::atoi(v);
    return n > 0 ? n : fallback;
}

// The environment of a child: the sanitizers report with their own exit codes.
std::vector<std::string> ChildEnvironment()
{
    std::vector<std::string> env;
    std::string asan = "ASAN_OPTIONS=";
    std::string ubsan = "UBSAN_OPTIONS=";
    for (char** e = environ; *e; ++e) {
        std::string s = *e;
        if (s.rfind("ASAN_OPTIONS=", 0) == 0)
            asan = s + ":";
        else if (s.rfind("UBSAN_OPTIONS=", 0) == 0)
            ubsan = s + ":";
        else
            env.push_back(s);
    }
    env.push_back(asan + "exitcode=" + std::to_string(kAsanExit) + ":detect_leaks=1:abort_on_error=0");
    env.push_back(ubsan + "exitcode=" + std::to_string(kUbsanExit) + ":print_stacktrace=1:halt_on_error=1");
    return env;
}

struct Running {
    pid_t pid = 0;
    size_t index = 0;
    std::string errFile;
    Clock::time_point start;
};

std::string FirstLines(const std::string& text, int lines)
{
    std::istringstream in(text);
    std::string line, out;
    for (int i = 0; i < lines && std::getline(in, line); ++i)
        out += "    " + line + "\n";
    return out;
}

}  // namespace

TEST(CorpusRobustness, EveryDocumentSurvivesItsEntry)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus at " << PS_SHARED_DIR "/corpus";
    const char* toolOverride = std::getenv("PS_CORPUS_TOOL");
    const std::string tool = toolOverride && *toolOverride ? std::string(toolOverride)
                                                           : std::string(PS_BINARY_DIR) + "/bin/extract-text";
    ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool << " is missing";

    const std::vector<Document> docs = ListCorpus(corpus);
    ASSERT_FALSE(docs.empty());
    const int timeoutSeconds = EnvInt("PS_CORPUS_TIMEOUT", 120);
    const size_t jobs = static_cast<size_t>(EnvInt("PS_CORPUS_JOBS", 2));

    ps_test::TempDir scratch;
    const std::vector<std::string> envStrings = ChildEnvironment();
    std::vector<char*> envp;
    for (const std::string& s : envStrings)
        envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);

    std::map<std::string, std::array<int, 3>> table;
    std::vector<std::string> failures;
    std::vector<Running> running;
    size_t next = 0;
    double slowestSeconds = 0;
    std::string slowest;
    const auto begin = Clock::now();

    auto launch = [&](size_t index) {
        Running r;
        r.index = index;
        r.errFile = scratch.file("stderr-" + std::to_string(index) + ".txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, r.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>(docs[index].path.c_str()), nullptr};
        // A group of its own, so that a time-out ends whatever the child started.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        int rc = posix_spawn(&r.pid, tool.c_str(), &actions, &attr, argv, envp.data());
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            failures.push_back(docs[index].path + ": cannot start extract-text");
            return;
        }
        r.start = Clock::now();
        running.push_back(r);
    };

    while (next < docs.size() || !running.empty()) {
        while (next < docs.size() && running.size() < jobs)
            launch(next++);
        bool reaped = false;
        for (auto it = running.begin(); it != running.end();) {
            int wstatus = 0;
            pid_t done = waitpid(it->pid, &wstatus, WNOHANG);
            const double seconds = std::chrono::duration<double>(Clock::now() - it->start).count();
            const Document& doc = docs[it->index];
            if (done == 0 && seconds < timeoutSeconds) {
                ++it;
                continue;
            }
            std::string problem;
            if (done == 0) {
                kill(-it->pid, SIGKILL);
                waitpid(it->pid, &wstatus, 0);
                problem = "no answer within " + std::to_string(timeoutSeconds) + " s";
            } else if (done < 0) {
                problem = "lost the child process";
            }
            const std::string err = ps_test::ReadFileBytes(it->errFile);
            if (problem.empty()) {
                if (WIFSIGNALED(wstatus)) {
                    problem = std::string("killed by signal ") + strsignal(WTERMSIG(wstatus));
                } else {
                    const int code = WEXITSTATUS(wstatus);
                    if (code == kAsanExit || code == kUbsanExit || err.find("Sanitizer") != std::string::npos ||
                        err.find("runtime error:") != std::string::npos)
                        problem = "sanitizer report (exit " + std::to_string(code) + ")";
                    else if (code > 2)
                        problem = "exit status " + std::to_string(code);
                    else
                        ++table[doc.group][code];
                }
            }
            if (!problem.empty())
                failures.push_back(doc.path + ": " + problem + "\n" + FirstLines(err, 12));
            if (seconds > slowestSeconds) {
                slowestSeconds = seconds;
                slowest = doc.path;
            }
            std::remove(it->errFile.c_str());
            it = running.erase(it);
            reaped = true;
        }
        if (!reaped)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double total = std::chrono::duration<double>(Clock::now() - begin).count();

    std::ostringstream report;
    report << "\nstatus per folder (0 read, 1 not read, 2 failed)\n";
    report << std::left << std::setw(16) << "folder" << std::right << std::setw(7) << "0" << std::setw(7) << "1"
           << std::setw(7) << "2" << "\n";
    std::array<int, 3> sum{};
    for (const auto& [group, counts] : table) {
        report << std::left << std::setw(16) << group << std::right;
        for (int i = 0; i < 3; ++i) {
            report << std::setw(7) << counts[i];
            sum[i] += counts[i];
        }
        report << "\n";
    }
    report << std::left << std::setw(16) << "all" << std::right << std::setw(7) << sum[0] << std::setw(7) << sum[1]
           << std::setw(7) << sum[2] << "\n";
    report << docs.size() << " documents, " << failures.size() << " failures, " << std::fixed
           << std::setprecision(1) << total << " s; slowest " << slowestSeconds << " s: " << slowest << "\n";
    std::cout << report.str();

    for (const std::string& f : failures)
        ADD_FAILURE() << f;
}
