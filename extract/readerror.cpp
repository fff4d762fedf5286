#include "extract/readerror.h"

#include <cstring>
#include <new>

ReadError::ReadError(ReadFailure reason, std::uint32_t code, const char* detail) noexcept
    : m_reason(reason), m_code(code)
{
    if (detail) {
        std::strncpy(m_detail, detail, sizeof m_detail - 1);
        m_detail[sizeof m_detail - 1] = '\0';
    }
}

const char* ReadError::what() const noexcept
{
    if (m_detail[0] != '\0')
        return m_detail;
    switch (m_reason) {
    case ReadFailure::None: return "no failure";
    case ReadFailure::LibraryError: return "library error";
    case ReadFailure::OutOfMemory: return "out of memory or text too long";
    case ReadFailure::Exception: return "exception";
    case ReadFailure::Unknown: break;
    }
    return "unknown exception";
}

ReadError CurrentReadError() noexcept
{
    try {
        throw;
    } catch (const ReadError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return ReadError(ReadFailure::OutOfMemory);
    } catch (const std::exception& e) {
        return ReadError(ReadFailure::Exception, 0, e.what());
    } catch (...) {
        return ReadError(ReadFailure::Unknown);
    }
}
