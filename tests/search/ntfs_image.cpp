#include "ntfs_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "support/isolation.h"

#if defined(PS_HAVE_NTFS3G)
#include <cstdarg>
#include <cstdint>
#include <ctime>
#define HAVE_TIME_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_STDARG_H 1
extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
#endif

namespace ps_test {

std::string FindProgram(const std::string& name) {
    std::string dirs;
    if (const char* p = std::getenv("PATH")) dirs = p;
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::stringstream ss(dirs);
    std::string d;
    while (std::getline(ss, d, ':')) {
        if (d.empty()) continue;
        std::string full = d + "/" + name;
        if (::access(full.c_str(), X_OK) == 0) return full;
    }
    return {};
}

int RunProgram(const std::vector<std::string>& argv, std::string* out) {
    if (argv.empty()) return -1;
    std::string prog = argv[0].find('/') == std::string::npos ? FindProgram(argv[0]) : argv[0];
    if (prog.empty()) return -1;
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) return -1;
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        return -1;
    }
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(out ? pipefd[1] : devnull, 1);
        ::dup2(devnull, 2);
        ::dup2(devnull, 0);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(prog.c_str(), args.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buf[65536];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (out) out->append(buf, size_t(n));
    }
    ::close(pipefd[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveNtfsLibrary() {
#if defined(PS_HAVE_NTFS3G)
    return true;
#else
    return false;
#endif
}

bool HaveNtfsTools() {
    return !FindProgram("mkntfs").empty() && !FindProgram("ntfsls").empty() &&
           (HaveNtfsLibrary() || !FindProgram("ntfscp").empty());
}

bool MakeNtfsImage(const std::string& image, uint64_t bytes, const std::vector<std::string>& extra) {
    int fd = ::open(image.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool sized = ::ftruncate(fd, off_t(bytes)) == 0;
    ::close(fd);
    if (!sized) return false;
    std::vector<std::string> argv = {"mkntfs", "-F", "-Q", "-q"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(image);
    return RunProgram(argv) == 0;
}

namespace {

std::string Content(uint64_t size, const std::string& path) {
    std::string s(size_t(size), '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = char('a' + (i + path.size()) % 26);
    return s;
}

#if defined(PS_HAVE_NTFS3G)
class LibImage {
public:
    explicit LibImage(const std::string& image) {
        ntfs_log_set_handler(ntfs_log_handler_null);
        vol_ = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
        if (vol_) dirs_[""] = ntfs_pathname_to_inode(vol_, nullptr, "/");
    }
    ~LibImage() {
        if (!vol_) return;
        // Deepest first, each closed in its still open parent.
        for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) {
            if (!it->second) continue;
            auto parent = parents_.find(it->first);
            if (parent != parents_.end() && parent->second)
                ntfs_inode_close_in_dir(it->second, parent->second);
            else
                ntfs_inode_close(it->second);
        }
        ntfs_umount(vol_, FALSE);
    }
    bool ok() const { return vol_ && dirs_.at(""); }

    ntfs_inode* Dir(const std::string& path) {
        auto it = dirs_.find(path);
        if (it != dirs_.end()) return it->second;
        size_t slash = path.rfind('/');
        std::string parentPath = slash == std::string::npos ? "" : path.substr(0, slash);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        ntfs_inode* parent = Dir(parentPath);
        if (!parent) return nullptr;
        ntfs_inode* ni = Create(parent, name, S_IFDIR);
        dirs_[path] = ni;
        parents_[path] = parent;
        return ni;
    }

    bool File(const ImageEntry& e) {
        size_t slash = e.path.rfind('/');
        ntfs_inode* parent = Dir(slash == std::string::npos ? "" : e.path.substr(0, slash));
        if (!parent) return false;
        ntfs_inode* ni = Create(parent, slash == std::string::npos ? e.path : e.path.substr(slash + 1), S_IFREG);
        if (!ni) return false;
        bool ok = true;
        if (e.size > 0) {
            ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
            std::string data = Content(e.size, e.path);
            ok = na && ntfs_attr_pwrite(na, 0, s64(data.size()), data.data()) == s64(data.size());
            if (na) ntfs_attr_close(na);
        }
        if (e.lastWriteTime) {
            ni->last_data_change_time = sle64(e.lastWriteTime);
            NInoSetDirty(ni);
        }
        return ntfs_inode_close_in_dir(ni, parent) == 0 && ok;
    }

private:
    ntfs_inode* Create(ntfs_inode* parent, const std::string& name, mode_t type) {
        ntfschar* u = nullptr;
        int n = ntfs_mbstoucs(name.c_str(), &u);
        if (n <= 0 || n > 255) {
            std::free(u);
            return nullptr;
        }
        ntfs_inode* ni = ntfs_create(parent, const_cpu_to_le32(0), u, u8(n), type);
        std::free(u);
        return ni;
    }

    ntfs_volume* vol_ = nullptr;
    std::map<std::string, ntfs_inode*> dirs_;
    std::map<std::string, ntfs_inode*> parents_;
};
#endif

}  // namespace

bool PopulateNtfsImage(const std::string& image, const std::vector<ImageEntry>& entries) {
#if defined(PS_HAVE_NTFS3G)
    LibImage lib(image);
    if (!lib.ok()) return false;
    for (const ImageEntry& e : entries) {
        if (e.folder ? lib.Dir(e.path) == nullptr : !lib.File(e)) return false;
    }
    return true;
#else
    TempDir tmp;
    for (const ImageEntry& e : entries) {
        if (e.folder || e.path.find('/') != std::string::npos || e.lastWriteTime) return false;
        std::string src = tmp.file("content");
        if (!WriteFileBytes(src, Content(e.size, e.path))) return false;
        if (RunProgram({"ntfscp", "-f", image, src, e.path}) != 0) return false;
    }
    return true;
#endif
}

std::vector<ListedFile> NtfslsFiles(const std::string& image, bool* ok) {
    std::string out;
    std::vector<ListedFile> files;
    *ok = RunProgram({"ntfsls", "-R", "-l", "-F", image}, &out) == 0;
    if (!*ok) return files;
    std::stringstream ss(out);
    std::string line, dir;
    while (std::getline(ss, line)) {
        if (line.empty()) continue;
        if (line[0] == '/' && line.back() == ':') {  // "/Docs/:" or "/:"
            dir = line.substr(1, line.size() - 2);
            if (!dir.empty() && dir.back() != '/') dir.push_back('/');
            continue;
        }
        // "    5000 Dec 10 12:57 2026 name": the size, four date fields, the name.
        std::stringstream ls(line);
        std::string size, f1, f2, f3, f4;
        if (!(ls >> size >> f1 >> f2 >> f3 >> f4)) continue;
        std::string name;
        std::getline(ls, name);
        if (!name.empty() && name[0] == ' ') name.erase(0, 1);
        if (name.empty() || name.back() == '/') continue;  // folders, "./", "../"
        files.push_back({dir + name, std::strtoull(size.c_str(), nullptr, 10)});
    }
    return files;
}

}  // namespace ps_test
