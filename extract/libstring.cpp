#include "extract/libstring.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "extract/codepage.h"
#include "extract/readerror.h"
#include "platform/text.h"
#include "platform/wformat.h"

// ---- Error word and throw flag ------------------------------------------------

// Both belong to the conversion running on the calling thread: documents are
// converted on several threads at once, and one document's error must never
// be seen by, or thrown into, another's.
namespace {
thread_local int t_libraryError = 0;
thread_local int t_throwOnError = 0;
}  // namespace

int GetLibraryError() { return t_libraryError; }

int SetLibraryError(int code)
{
    t_libraryError = code;
    return code;
}

void ClearLibraryError() { t_libraryError = 0; }

int SetThrowOnError(int flag) { return std::exchange(t_throwOnError, flag); }

void RaiseLibraryError()
{
    if (t_throwOnError != 0)
        throw ReadError(ReadFailure::LibraryError, static_cast<uint32_t>(t_libraryError));
}

int FormatWide(char16_t* buffer, size_t bufferChars, const char16_t* format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = plat::FormatWideToV(buffer, bufferChars, format, ap);
    va_end(ap);
    return n;
}

// ---- Blocks ---------------------------------------------------------------------

namespace {

struct RefHeader {
    int refs;
    int len;
    int cap;
};

// Longest string the library allocates (characters); longer requests fail
// like an allocation failure.
constexpr int kMaxChars = 1 << 28;

template <typename C>
struct EmptyBlock {
    RefHeader h;
    C text[4];
};
static_assert(offsetof(EmptyBlock<char16_t>, text) == sizeof(RefHeader));
static_assert(offsetof(EmptyBlock<char>, text) == sizeof(RefHeader));

EmptyBlock<char16_t> g_emptyWide = {{-2, 0, 0}, {0, 0, 0, 0}};
EmptyBlock<char> g_emptyNarrow = {{-2, 0, 0}, {0, 0, 0, 0}};

template <typename C>
RefHeader* Hdr(C* text)
{
    return reinterpret_cast<RefHeader*>(text) - 1;
}

template <typename C>
const RefHeader* Hdr(const C* text)
{
    return reinterpret_cast<const RefHeader*>(text) - 1;
}

template <typename C>
C* EmptyText();
template <>
char16_t* EmptyText<char16_t>() { return g_emptyWide.text; }
template <>
char* EmptyText<char>() { return g_emptyNarrow.text; }

template <typename C>
C* NewBlock(int len, int cap)
{
    void* p = std::malloc(sizeof(RefHeader) + (static_cast<size_t>(cap) + 1) * sizeof(C));
    if (!p) return nullptr;
    RefHeader* h = static_cast<RefHeader*>(p);
    h->refs = 1;
    h->len = len;
    h->cap = cap;
    C* text = reinterpret_cast<C*>(h + 1);
    text[len] = 0;
    return text;
}

// One reference less; frees the block when none is left. The shared empty
// block is never touched.
template <typename C>
void ReleaseBlock(C* text)
{
    RefHeader* h = Hdr(text);
    if (h->refs == -2) return;
    if (__atomic_sub_fetch(&h->refs, 1, __ATOMIC_ACQ_REL) <= 0) std::free(h);
}

bool IsUnicodeSpace(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

size_t WideLen(const char16_t* s) { return s ? plat::WideLength(s) : 0; }

}  // namespace

// ---- CRefString -------------------------------------------------------------------

CRefString::CRefString() : m_pchData(EmptyText<char16_t>()) {}

CRefString::CRefString(const char16_t* text) : m_pchData(EmptyText<char16_t>()) { AssignText(text); }

CRefString::CRefString(const CRefString& other) : m_pchData(EmptyText<char16_t>()) { Assign(other); }

CRefString& CRefString::operator=(const CRefString& other)
{
    Assign(other);
    return *this;
}

CRefString::~CRefString() { Release(); }

int CRefString::GetLength() const { return Hdr(m_pchData)->len; }
int CRefString::GetCapacity() const { return Hdr(m_pchData)->cap; }
int CRefString::GetRefCount() const { return __atomic_load_n(&Hdr(m_pchData)->refs, __ATOMIC_ACQUIRE); }
bool CRefString::IsSharedEmpty() const { return m_pchData == EmptyText<char16_t>(); }

void CRefString::Release()
{
    ReleaseBlock(m_pchData);
    m_pchData = EmptyText<char16_t>();
}

int CRefString::AllocBuffer(int n)
{
    if (n == 0) {
        m_pchData = EmptyText<char16_t>();
        return 1;
    }
    if (n < 0 || n > kMaxChars) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    char16_t* p = NewBlock<char16_t>(n, ((n + 9) & ~7) - 1);
    if (!p) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    m_pchData = p;
    return 1;
}

int CRefString::CopyBeforeWrite()
{
    if (GetRefCount() <= 1) return 1;
    char16_t* old = m_pchData;
    const int len = Hdr(old)->len;
    if (!AllocBuffer(len)) return 0;
    std::memcpy(m_pchData, old, static_cast<size_t>(len) * sizeof(char16_t));
    ReleaseBlock(old);
    return 1;
}

int CRefString::AllocBeforeWrite(int n)
{
    const RefHeader* h = Hdr(m_pchData);
    if (h->refs <= 1 && h->cap >= n) return 1;
    Release();
    return AllocBuffer(n);
}

int CRefString::AssignCopy(int n, const char16_t* text)
{
    if (n <= 0 || !text) {
        Empty();
        return 1;
    }
    // The text may lie in this string's own block, which may be replaced.
    std::u16string keep;
    if (text >= m_pchData && text <= m_pchData + GetLength()) {
        keep.assign(text, static_cast<size_t>(n));
        text = keep.data();
    }
    if (!AllocBeforeWrite(n)) return 0;
    std::memmove(m_pchData, text, static_cast<size_t>(n) * sizeof(char16_t));
    Hdr(m_pchData)->len = n;
    m_pchData[n] = 0;
    return 1;
}

int CRefString::AssignText(const char16_t* text)
{
    size_t n = WideLen(text);
    if (n > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    return AssignCopy(static_cast<int>(n), text);
}

int CRefString::AssignChar(char16_t c) { return AssignCopy(1, &c); }

int CRefString::Assign(const CRefString& other)
{
    if (m_pchData == other.m_pchData) return 1;
    if (other.IsSharedEmpty()) {
        Empty();
        return 1;
    }
    Release();
    __atomic_add_fetch(&Hdr(other.m_pchData)->refs, 1, __ATOMIC_ACQ_REL);
    m_pchData = other.m_pchData;
    return 1;
}

int CRefString::ConcatCopy(int n1, const char16_t* t1, int n2, const char16_t* t2)
{
    if (n1 < 0 || n2 < 0) return 0;
    if (n1 == 0 && n2 == 0) return 1;
    if (n1 > kMaxChars - n2) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    char16_t* old = m_pchData;
    if (!AllocBuffer(n1 + n2)) return 0;
    if (n1) std::memcpy(m_pchData, t1, static_cast<size_t>(n1) * sizeof(char16_t));
    if (n2) std::memcpy(m_pchData + n1, t2, static_cast<size_t>(n2) * sizeof(char16_t));
    ReleaseBlock(old);
    return 1;
}

int CRefString::Append(int n, const char16_t* text)
{
    if (n <= 0 || !text) return 1;
    RefHeader* h = Hdr(m_pchData);
    if (h->refs == 1 && n <= h->cap - h->len) {
        std::memmove(m_pchData + h->len, text, static_cast<size_t>(n) * sizeof(char16_t));
        h->len += n;
        m_pchData[h->len] = 0;
        return 1;
    }
    return ConcatCopy(h->len, m_pchData, n, text);
}

int CRefString::AppendText(const char16_t* text)
{
    size_t n = WideLen(text);
    if (n > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    return Append(static_cast<int>(n), text);
}

int CRefString::AppendChar(char16_t c) { return Append(1, &c); }

char16_t* CRefString::GetBuffer(int n)
{
    if (n < 0) n = 0;
    const RefHeader* h = Hdr(m_pchData);
    if (h->refs > 1 || h->cap < n) {
        char16_t* old = m_pchData;
        const int len = h->len;
        if (!AllocBuffer(std::max(n, len))) return nullptr;
        std::memcpy(m_pchData, old, static_cast<size_t>(len) * sizeof(char16_t));
        if (!IsSharedEmpty()) {
            Hdr(m_pchData)->len = len;
            m_pchData[len] = 0;
        }
        ReleaseBlock(old);
    }
    return m_pchData;
}

char16_t* CRefString::ShiftToEnd(int n)
{
    const int len = GetLength();
    if (len >= n) {
        if (!CopyBeforeWrite()) return nullptr;
        return m_pchData;
    }
    char16_t* p = GetBuffer(n);
    if (!p) return nullptr;
    std::memmove(p + (n - len), p, static_cast<size_t>(len) * sizeof(char16_t));
    Hdr(p)->len = n;
    p[n] = 0;
    return p + (n - len);
}

void CRefString::ReleaseBuffer(int length)
{
    if (!CopyBeforeWrite() || IsSharedEmpty()) return;
    RefHeader* h = Hdr(m_pchData);
    if (length < 0) {
        // Up to the first zero, never past the block.
        length = 0;
        while (length < h->cap && m_pchData[length]) ++length;
    }
    if (length > h->cap) length = h->cap;
    h->len = length;
    m_pchData[length] = 0;
}

void CRefString::SetAt(int index, char16_t c)
{
    if (index < 0 || index >= GetLength()) return;
    if (!CopyBeforeWrite()) return;
    m_pchData[index] = c;
}

int CRefString::Find(char16_t c) const
{
    const int len = GetLength();
    for (int i = 0; i < len; ++i)
        if (m_pchData[i] == c) return i;
    return -1;
}

int CRefString::FindText(const char16_t* text) const
{
    if (!text) return -1;
    std::u16string_view hay(m_pchData, static_cast<size_t>(GetLength()));
    size_t pos = hay.find(std::u16string_view(text, WideLen(text)));
    return pos == std::u16string_view::npos ? -1 : static_cast<int>(pos);
}

int CRefString::CopyLeft(CRefString& destination, int n) const
{
    n = std::clamp(n, 0, GetLength());
    return destination.AssignCopy(n, m_pchData);
}

int CRefString::Replace(char16_t oldChar, char16_t newChar)
{
    if (oldChar == newChar) return 0;
    int count = 0;
    const int len = GetLength();
    for (int i = 0; i < len; ++i)
        if (m_pchData[i] == oldChar) ++count;
    if (count == 0 || !CopyBeforeWrite()) return 0;
    for (int i = 0; i < len; ++i)
        if (m_pchData[i] == oldChar) m_pchData[i] = newChar;
    return count;
}

int CRefString::ReplaceText(const char16_t* oldText, const char16_t* newText)
{
    const size_t L = WideLen(oldText);
    if (L == 0) return 0;
    const std::u16string_view from(oldText, L);
    const std::u16string_view to(newText ? newText : u"", WideLen(newText));
    const std::u16string_view text(m_pchData, static_cast<size_t>(GetLength()));
    std::u16string out;
    int count = 0;
    size_t pos = 0;
    for (size_t hit; (hit = text.find(from, pos)) != std::u16string_view::npos; pos = hit + L) {
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        ++count;
    }
    if (count == 0) return 0;
    out.append(text.substr(pos));
    if (out.size() > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    if (!AssignCopy(static_cast<int>(out.size()), out.data())) return 0;
    return count;
}

void CRefString::TrimRight()
{
    if (!CopyBeforeWrite() || IsSharedEmpty()) return;
    RefHeader* h = Hdr(m_pchData);
    int len = h->len;
    while (len > 0 && IsUnicodeSpace(m_pchData[len - 1])) --len;
    h->len = len;
    m_pchData[len] = 0;
}

void CRefString::TrimLeft()
{
    if (!CopyBeforeWrite() || IsSharedEmpty()) return;
    RefHeader* h = Hdr(m_pchData);
    int skip = 0;
    while (skip < h->len && IsUnicodeSpace(m_pchData[skip])) ++skip;
    if (skip == 0) return;
    std::memmove(m_pchData, m_pchData + skip, static_cast<size_t>(h->len - skip) * sizeof(char16_t));
    h->len -= skip;
    m_pchData[h->len] = 0;
}

void CRefString::Empty()
{
    if (GetLength() == 0) return;
    Release();
}

int CRefString::FormatV(const char16_t* format, va_list args)
{
    std::u16string s = plat::FormatWideV(format, args);
    if (s.size() > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    return AssignCopy(static_cast<int>(s.size()), s.data());
}

int CRefString::Format(const char16_t* format, ...)
{
    va_list ap;
    va_start(ap, format);
    int r = FormatV(format, ap);
    va_end(ap);
    return r;
}

// ---- CRefStringA ---------------------------------------------------------------------

CRefStringA::CRefStringA() : m_pchData(EmptyText<char>()) {}
CRefStringA::~CRefStringA() { Release(); }

int CRefStringA::GetLength() const { return Hdr(m_pchData)->len; }
int CRefStringA::GetCapacity() const { return Hdr(m_pchData)->cap; }
bool CRefStringA::IsSharedEmpty() const { return m_pchData == EmptyText<char>(); }

void CRefStringA::Release()
{
    ReleaseBlock(m_pchData);
    m_pchData = EmptyText<char>();
}

int CRefStringA::AllocBuffer(int n)
{
    if (n == 0) {
        m_pchData = EmptyText<char>();
        return 1;
    }
    if (n < 0 || n > kMaxChars) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    char* p = NewBlock<char>(n, n);
    if (!p) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    m_pchData = p;
    return 1;
}

int CRefStringA::AllocBeforeWrite(int n)
{
    const RefHeader* h = Hdr(m_pchData);
    if (h->refs <= 1 && h->cap >= n) return 1;
    Release();
    return AllocBuffer(n);
}

int CRefStringA::AssignText(const char* text)
{
    size_t n = text ? std::strlen(text) : 0;
    if (n == 0) {
        if (GetLength() != 0) Release();
        return 1;
    }
    if (n > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
    std::string keep;
    if (text >= m_pchData && text <= m_pchData + GetLength()) {
        keep.assign(text, n);
        text = keep.data();
    }
    if (!AllocBeforeWrite(static_cast<int>(n))) return 0;
    std::memmove(m_pchData, text, n);
    Hdr(m_pchData)->len = static_cast<int>(n);
    m_pchData[n] = 0;
    return 1;
}

// ---- CConvBuffers --------------------------------------------------------------------

void* CConvBuffers::Add(void* p)
{
    if (count < 2) {
        inlineSlots[count++] = p;
        return p;
    }
    void** grown = static_cast<void**>(std::malloc((static_cast<size_t>(count) + 1) * sizeof(void*)));
    if (!grown) {
        std::free(p);
        SetLibraryError(kLibErrorOutOfMemory);
        return nullptr;
    }
    std::memcpy(grown, slots, static_cast<size_t>(count) * sizeof(void*));
    if (slots != inlineSlots) std::free(slots);
    slots = grown;
    slots[count++] = p;
    return p;
}

void CConvBuffers::FreeAll()
{
    for (int i = 0; i < count; ++i) std::free(slots[i]);
    if (slots != inlineSlots) std::free(slots);
    count = 0;
    slots = inlineSlots;
    inlineSlots[0] = inlineSlots[1] = nullptr;
}

char16_t* MultiByteToWideAlloc(unsigned codePage, const char* text, CConvBuffers& buffers)
{
    if (!text) return nullptr;
    const size_t len = std::strlen(text);
    if (len > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return nullptr;
    }
    auto* block = static_cast<char16_t*>(std::malloc(2 * len + 8));
    if (!block) {
        SetLibraryError(kLibErrorOutOfMemory);
        return nullptr;
    }
    if (!buffers.Add(block)) return nullptr;
    block[0] = 0;
    CodePageToWide(codePage, text, static_cast<int>(len), block, static_cast<int>(len) + 4);
    return block;
}

char* WideToMultiByteAlloc(unsigned codePage, const char16_t* text, CConvBuffers& buffers)
{
    if (!text) return nullptr;
    const size_t len = plat::WideLength(text);
    if (len > static_cast<size_t>(kMaxChars)) {
        SetLibraryError(kLibErrorOutOfMemory);
        return nullptr;
    }
    auto* block = static_cast<char*>(std::malloc(3 * len + 4));
    if (!block) {
        SetLibraryError(kLibErrorOutOfMemory);
        return nullptr;
    }
    if (!buffers.Add(block)) return nullptr;
    block[0] = 0;
    WideToCodePage(codePage, text, static_cast<int>(len), block, static_cast<int>(3 * len + 4), nullptr);
    return block;
}
