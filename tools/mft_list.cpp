// mft-list [--ext LIST] DEVICE_OR_IMAGE
// Prints, one per line, the path (relative to the volume root) of every file
// of an NTFS volume with a listed extension and a size above 0, read through
// the master file table. LIST is comma-separated (default: the eight document
// extensions of a whole-computer search).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/documentkinds.h"
#include "platform/text.h"
#include "search/ntfs_volume.h"
#include "tools/toolhelp.h"

namespace {

const char kUsage[] =
    "usage: mft-list [--ext LIST] DEVICE_OR_IMAGE\n"
    "Prints every file of an NTFS volume with a listed extension and a size above 0,\n"
    "read through the master file table.\n"
    "  --ext LIST  comma-separated extensions (default: the eight document extensions)\n";

int Usage() { return tools::UsageError(kUsage, 2); }

}  // namespace

int main(int argc, char** argv) {
    if (tools::AskedForHelp(argc, argv)) return tools::ShowHelp(kUsage);
    std::vector<plat::WString> exts = ExtensionsOfKinds(kAllDocumentKinds);
    std::sort(exts.begin(), exts.end());
    const char* device = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ext") == 0 && i + 1 < argc) {
            exts.clear();
            std::string list = argv[++i];
            size_t start = 0;
            while (start <= list.size()) {
                size_t comma = list.find(',', start);
                if (comma == std::string::npos) comma = list.size();
                std::string one = list.substr(start, comma - start);
                if (!one.empty() && one[0] == '.') one.erase(0, 1);
                if (!one.empty()) exts.push_back(plat::ToUpperAscii(plat::Utf8ToWide(one)));
                start = comma + 1;
            }
        } else if (argv[i][0] == '-' && argv[i][1] != 0) {
            return Usage();
        } else if (!device) {
            device = argv[i];
        } else {
            return Usage();
        }
    }
    if (!device) return Usage();

    auto volume = search::NtfsVolume::Open(device);
    if (!volume) {
        std::fprintf(stderr, "mft-list: cannot open %s: %s\n", device, std::strerror(errno));
        return 1;
    }
    if (volume->status() != search::kNtfsStatusNtfs) {
        std::fprintf(stderr, "mft-list: %s is not an NTFS volume\n", device);
        return 1;
    }
    if (volume->LoadMFT() == 0) {
        std::fprintf(stderr, "mft-list: the master file table of %s cannot be read\n", device);
        return 1;
    }
    volume->ParseMFT();
    volume->ListFiles(exts, [](const search::MftFile& f) {
        std::string line = plat::PathToNative(f.path);
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stdout);
        return true;
    });
    return 0;
}
