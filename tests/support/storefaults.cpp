#include "support/storefaults.h"

#include <fcntl.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

#include "core/eventstore/eventstore.h"

namespace ps_test {

void OverwriteStoreButFirstPage(const std::string& dbPath)
{
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr));
        sqlite3_busy_timeout(db, 5000);
        const int rc = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(SQLITE_OK, rc);
    }
    const int fd = open(dbPath.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(0, fstat(fd, &st));
    const std::string junk(4096, '\x5a');
    for (off_t at = 4096; at < st.st_size; at += 4096)
        ASSERT_EQ(4096, pwrite(fd, junk.data(), junk.size(), at));
    close(fd);
    std::lock_guard<std::recursive_timed_mutex> guard(EventStoreLock());
    sqlite3_db_release_memory(EventDatabase().Handle());
}

std::map<std::string, std::string> RunWithPrivateMounts(const std::function<bool()>& arrange,
                                                        const std::function<void(std::ostream&)>& scenario)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {{"error", "pipe"}};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::ostringstream out;
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            !arrange()) {
            out << "skip=1\n";
        } else {
            scenario(out);
        }
        const std::string text = out.str();
        const bool sent = write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::map<std::string, std::string> report;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            report[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report["error"] = "child status " + std::to_string(status);
    return report;
}

bool MountSmallDisk(const std::string& dir)
{
    return mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=4m") == 0;
}

bool MakeFileReadOnly(const std::string& path)
{
    return mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

}  // namespace ps_test
