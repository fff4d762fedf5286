#include "support/isolation.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace ps_test {

namespace {

std::string MakeTemp(const char* prefix)
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

}  // namespace

IsolatedHome::IsolatedHome() : root_(MakeTemp("ps-home-"))
{
    const char* sub[][2] = {
        {"HOME", ""},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_STATE_HOME", "/.local/state"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_RUNTIME_DIR", "/run"},
        {"XDG_DOCUMENTS_DIR", "/Documents"},
    };
    for (auto& s : sub) {
        std::string p = root_ + s[1];
        std::filesystem::create_directories(p);
        setenv(s[0], p.c_str(), 1);
    }
    chmod((root_ + "/run").c_str(), 0700);
}

IsolatedHome::~IsolatedHome()
{
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

TempDir::TempDir() : path_(MakeTemp("ps-test-")) {}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string CorpusDir()
{
    std::string dir = std::string(PS_SHARED_DIR) + "/corpus";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::string();
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int RunQuietly(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace ps_test
