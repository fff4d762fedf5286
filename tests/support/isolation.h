// Per-test-program isolation of the per-user folders.
#pragma once

#include <string>
#include <vector>

namespace ps_test {

// Creates a private temporary folder, points HOME and the XDG folders at it
// and removes it again on destruction.
class IsolatedHome {
public:
    IsolatedHome();
    ~IsolatedHome();
    IsolatedHome(const IsolatedHome&) = delete;
    IsolatedHome& operator=(const IsolatedHome&) = delete;

    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// A fresh private temporary folder, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The shared test corpus folder, or an empty string when it is absent.
std::string CorpusDir();

// Reads a whole file; empty on failure.
std::string ReadFileBytes(const std::string& path);

// Writes a whole file; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// Exit status of a program (looked up on PATH) run with its output
// discarded; -1 when it cannot start or does not exit.
int RunQuietly(const std::vector<std::string>& argv);

}  // namespace ps_test
