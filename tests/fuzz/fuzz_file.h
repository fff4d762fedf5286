// Readers of this program open documents by path: a fuzz input is written to
// one private temporary file per process (with the file name's extension the
// reader expects) and rewritten for every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/text.h"

namespace ps_fuzz {

inline const std::u16string& InputFile(const std::uint8_t* data, std::size_t size, const char* suffix)
{
    static std::string native;
    static std::u16string wide;
    static int fd = -1;
    if (fd < 0) {
        const char* tmp = std::getenv("TMPDIR");
        native = std::string(tmp && *tmp ? tmp : "/tmp") + "/psfuzz-XXXXXX" + suffix;
        fd = mkstemps(native.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
        if (fd < 0)
            std::abort();
        wide = plat::PathFromNative(native);
        static struct Remover {
            ~Remover() { unlink(native.c_str()); }
        } remover;
    }
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    return wide;
}

}  // namespace ps_fuzz
