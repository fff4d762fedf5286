// The library's error word and throw flag, as the byte-I/O and storage layer
// needs them. This is a private stand-in, kept in its own namespace, until
// the library-wide error state is available; every use in extract/io goes
// through these five functions, so switching over means replacing this file.
#pragma once

#include <cstdint>

namespace h2s_local {

inline std::int32_t& ErrorWord()
{
    static std::int32_t word = 0;
    return word;
}

inline int& ThrowFlag()
{
    static int flag = 0;
    return flag;
}

inline int GetLibraryError() { return ErrorWord(); }
inline int SetLibraryError(int code) { return ErrorWord() = code; }
inline void ClearLibraryError() { ErrorWord() = 0; }
inline int SetThrowOnError(int flag)
{
    int old = ThrowFlag();
    ThrowFlag() = flag;
    return old;
}
// Throws the error word as unsigned long while the throw flag is set.
inline void RaiseLibraryError()
{
    if (ThrowFlag())
        throw static_cast<unsigned long>(static_cast<std::uint32_t>(ErrorWord()));
}

}  // namespace h2s_local
