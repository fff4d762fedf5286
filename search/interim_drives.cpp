#include "search/interim_drives.h"

#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "platform/text.h"

namespace {

// File systems that hold no user documents: kernel interfaces and memory.
const char* const kPseudoTypes[] = {
    "proc",     "sysfs",    "devtmpfs",  "devpts",   "tmpfs",     "ramfs",      "cgroup",
    "cgroup2",  "securityfs", "debugfs", "tracefs",  "pstore",    "bpf",        "mqueue",
    "hugetlbfs", "configfs", "fusectl",  "binfmt_misc", "autofs", "efivarfs",   "rpc_pipefs",
    "nsfs",     "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal",
};

bool IsPseudo(const std::string& type)
{
    for (const char* t : kPseudoTypes)
        if (type == t)
            return true;
    return false;
}

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            int v = 0;
            bool ok = true;
            for (size_t k = 1; k <= 3; ++k) {
                char c = s[i + k];
                if (c < '0' || c > '7')
                    ok = false;
                else
                    v = v * 8 + (c - '0');
            }
            if (ok) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

std::vector<std::u16string> ParseInterimDriveRoots(std::string_view mountinfo)
{
    std::vector<std::u16string> roots;
    std::set<std::pair<std::string, std::string>> seen;
    std::istringstream in{std::string(mountinfo)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (!(fields >> id >> parent >> device >> root >> mountPoint))
            continue;
        std::string f, type;
        while (fields >> f && f != "-") {
        }
        if (f != "-" || !(fields >> type))
            continue;
        if (IsPseudo(type))
            continue;
        if (!seen.insert({device, root}).second)
            continue;
        roots.push_back(plat::PathFromNative(Unescape(mountPoint)));
    }
    return roots;
}

std::vector<std::u16string> InterimWalkableDriveRoots()
{
    std::ifstream in("/proc/self/mountinfo");
    if (!in)
        return {};
    std::stringstream all;
    all << in.rdbuf();
    return ParseInterimDriveRoots(all.str());
}
