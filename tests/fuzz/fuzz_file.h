// Readers of this program open documents by path: a fuzz input is written to
// a private temporary file (one per process and file name extension, the
// extension the reader expects) and rewritten for every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/text.h"

namespace ps_fuzz {

inline const std::u16string& InputFile(const std::uint8_t* data, std::size_t size, const char* suffix)
{
    struct File {
        std::string native;
        std::u16string wide;
        int fd = -1;
        ~File()
        {
            if (fd >= 0) {
                close(fd);
                unlink(native.c_str());
            }
        }
    };
    static std::map<std::string, File> files;
    File& f = files[suffix];
    if (f.fd < 0) {
        const char* tmp = std::getenv("TMPDIR");
        f.native = std::string(tmp && *tmp ? tmp : "/tmp") + "/psfuzz-XXXXXX" + suffix;
        f.fd = mkstemps(f.native.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
        if (f.fd < 0)
            std::abort();
        f.wide = plat::PathFromNative(f.native);
    }
    if (ftruncate(f.fd, 0) != 0 || pwrite(f.fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    return f.wide;
}

}  // namespace ps_fuzz
