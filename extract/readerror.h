// The readers' one failure vocabulary.
//
// Inside a reader a failure that ends the document travels as a ReadError,
// the only exception thrown across reader code (the library error word of
// extract/libstring.h is thrown as one; std::bad_alloc from an allocation
// is the standard library's and is turned into one at the entry). Every
// entry catches at its boundary and returns an EntryResult; when it failed
// on an exception, the entry's failure argument (when given) says which.
#pragma once

#include <cstdint>
#include <exception>

#include "platform/docfile.h"

// What a reader's entry gives back.
enum class EntryResult : int {
    Read = 0,     // read to its end: the text (possibly empty) is in the output
    NotRead = 1,  // not read, or not to its end (a damaged or unsupported document)
    Failed = 2,   // the reader failed (an exception ended it) or no output string
};

// Why a read ended on an exception.
enum class ReadFailure : std::uint8_t {
    None,          // no failure described (a ReadError not yet filled in)
    LibraryError,  // the library error word (code()): a record, stream or storage failed
    OutOfMemory,   // an allocation refused, or a text past its cap
    Exception,     // another standard exception (what() says which)
    Unknown,       // an exception of no known type
};

class ReadError : public std::exception {
public:
    ReadError() noexcept = default;
    // reason LibraryError carries the error word as its code.
    explicit ReadError(ReadFailure reason, std::uint32_t code = 0, const char* detail = nullptr) noexcept;

    ReadFailure reason() const noexcept { return m_reason; }
    std::uint32_t code() const noexcept { return m_code; }
    // The detail given (an exception's own text) or a fixed text of the reason.
    const char* what() const noexcept override;

private:
    ReadFailure m_reason = ReadFailure::None;
    std::uint32_t m_code = 0;
    // Copied in, so that describing a failure never allocates.
    char m_detail[256] = {};
};

// The ReadError the exception being handled stands for (call inside a catch
// block): itself, OutOfMemory for std::bad_alloc, Exception with its text
// for another std::exception, Unknown for the rest.
ReadError CurrentReadError() noexcept;

// The common boundary of an entry: runs body (which returns an EntryResult)
// and turns any exception out of it into Failed, described in *failure when
// failure is given. A read to the end during which the reader noted damage
// (plat::NoteDamage) is NotRead: the text it gathered stays in the output,
// and the damage's reason reaches the DamageScope around the entry.
template <class Body>
EntryResult RunReaderEntry(ReadError* failure, Body&& body) noexcept
{
    plat::DamageScope damage;
    try {
        const EntryResult result = body();
        return result == EntryResult::Read && damage.Damaged() ? EntryResult::NotRead : result;
    } catch (...) {
        if (failure)
            *failure = CurrentReadError();
        return EntryResult::Failed;
    }
}
