#include "extract/textcollector.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

size_t TextLength(const char16_t* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

// Inline and extended controls of HWP text (codes 1-9, 11, 12, 14-23) take
// eight code units: the code, six units of control data and the code again.
constexpr unsigned kHwpEightUnitControls = 0xFFDBFE;

}  // namespace

// ---------------------------------------------------------------- CTextBuffer

CTextBuffer::~CTextBuffer()
{
    delete[] m_pText;
    PsGiveTextMemory(m_pAccount, m_nCharged);
}

char16_t* CTextBuffer::Reserve(int n)
{
    if (n < 0)
        n = 0;
    if (m_nCapacity != 0 && m_nCapacity >= n)
        return m_pText;
    if (n > INT_MAX / 2 - 256)
        throw std::bad_alloc();
    int capacity = n + 256;
    delete[] m_pText;
    m_pText = nullptr;
    m_nCapacity = 0;
    PsGiveTextMemory(m_pAccount, m_nCharged);
    m_nCharged = 0;
    const unsigned long long bytes = static_cast<unsigned long long>(capacity) * 2 * sizeof(char16_t);
    if (PsTakeTextMemory(m_pAccount, bytes) <= 0)
        throw std::bad_alloc();
    m_nCharged = bytes;
    m_pText = new char16_t[static_cast<size_t>(capacity) * 2];
    m_nCapacity = capacity;
    m_pText[0] = 0;
    return m_pText;
}

// -------------------------------------------------------------- CTextCollector

CTextCollector::~CTextCollector()
{
    for (CTextBuffer* b : m_savedBuffers)
        delete b;
    delete m_pCurrent;
}

CTextBuffer* CTextCollector::GetCurrentBuffer()
{
    if (!m_pCurrent)
        m_pCurrent = new CTextBuffer(m_pAccount);
    return m_pCurrent;
}

char16_t* CTextCollector::GetBuffer(int n)
{
    // A piece no document may give (HWP text loses at most its controls on
    // the way: twice the limit is room enough for the longest that may).
    if (m_nTextLimit && n > 0 && static_cast<size_t>(n) / 2 > m_nTextLimit) {
        ReachLimit();
        throw std::bad_alloc();
    }
    try {
        return GetCurrentBuffer()->Reserve(n);
    } catch (const std::bad_alloc&) {
        ReachLimit();
        throw;
    }
}

void CTextCollector::SetOutput(std::u16string* output)
{
    m_pOutput = output;
    if (!output || m_pCharged)
        return;
    m_pCharged = output;
    m_nKnownCapacity = output->capacity();  // held before this document: not its memory
    m_pAccount = PsCurrentMemoryAccount();
    const unsigned long long limit = PsCurrentDocumentBudget().text;
    m_nTextLimit = limit > SIZE_MAX ? 0 : static_cast<size_t>(limit);
}

void CTextCollector::ReachLimit()
{
    if (m_limitReached)
        return;
    m_limitReached = true;
    PsNoteReadLimit(kReadLimitMemory);
    // Outside a search's scope the limit cannot be noted: the cut text is
    // then reported as damage, never as the whole document.
    if (!PsCurrentMemoryAccount())
        PsNoteDamage("한도에 이르러 건너뜀");
}

bool CTextCollector::GrowOutput(size_t characters)
{
    std::u16string& out = *m_pOutput;
    // The old array is freed only after the new one is filled: both count
    // while it grows.
    const unsigned long long bytes = static_cast<unsigned long long>(characters) * sizeof(char16_t);
    if (PsTakeTextMemory(m_pAccount, bytes) <= 0)
        return false;
    try {
        // A fresh string gets the room asked for; reserve on the output
        // would double a request below twice its room (past the limit).
        std::u16string grown;
        grown.reserve(characters);
        grown.append(out);
        out.swap(grown);
    } catch (const std::bad_alloc&) {
        PsGiveTextMemory(m_pAccount, bytes);
        return false;
    }
    const unsigned long long now = static_cast<unsigned long long>(out.capacity()) * sizeof(char16_t);
    unsigned long long charged = now;
    if (now > bytes && PsTakeTextMemory(m_pAccount, now - bytes) <= 0)
        charged = bytes;  // already allocated; the limit is then seen at the next growth
    else if (now < bytes)
        PsGiveTextMemory(m_pAccount, bytes - now);
    PsGiveTextMemory(m_pAccount, m_nChargedBytes);  // the old array
    m_nChargedBytes = charged;
    m_nKnownCapacity = out.capacity();
    return true;
}

size_t CTextCollector::Room(size_t n)
{
    if (m_limitReached)
        return 0;
    std::u16string& out = *m_pOutput;
    size_t allowed = n;
    if (m_nTextLimit && n > m_nTextLimit - std::min(m_nGiven, m_nTextLimit)) {
        allowed = m_nTextLimit - std::min(m_nGiven, m_nTextLimit);
        ReachLimit();
    }
    if (m_pOutput != m_pCharged)
        return allowed;  // a while in between: its text goes on to the document's output
    if (out.capacity() != m_nKnownCapacity) {
        // The room was changed by a reader itself (a workbook reserving for
        // its text): the new array is the document's.
        const unsigned long long now = static_cast<unsigned long long>(out.capacity()) * sizeof(char16_t);
        const bool granted = PsTakeTextMemory(m_pAccount, now) > 0;
        PsGiveTextMemory(m_pAccount, m_nChargedBytes);
        m_nChargedBytes = granted ? now : 0;
        m_nKnownCapacity = out.capacity();
        if (!granted) {
            ReachLimit();
            return 0;
        }
    }
    if (allowed > out.capacity() - out.size()) {
        size_t wanted = out.size() + allowed;
        // Doubling, but never past the room the text limit needs; a step
        // whose next one would pass it goes to the limit at once (one copy
        // of the text fewer).
        size_t target = std::max(wanted, 2 * out.capacity());
        if (m_nTextLimit && target > m_nTextLimit / 2)
            target = std::max(wanted, m_nTextLimit);
        if (!GrowOutput(target) && !(target > wanted && GrowOutput(wanted))) {
            allowed = out.capacity() - out.size();
            ReachLimit();
        }
    }
    return allowed;
}

void CTextCollector::Emit(const char16_t* text, size_t length)
{
    if (!m_pOutput || length == 0)
        return;
    const size_t n = Room(length);
    m_pOutput->append(text, n);
    m_nGiven += n;
}

void CTextCollector::CommitText(int start, int end)
{
    if (end == 0)
        return;
    CTextBuffer* buffer = GetCurrentBuffer();
    char16_t* text = buffer->Text();
    const int room = buffer->Allocated();
    // Positions the reader never reserved are not touched.
    if (!text || start < 0 || start >= room)
        return;
    end = std::clamp(end, 0, room - 1);
    for (int i = start; i < end; ++i) {
        if (text[i] == 7 || text[i] == 13)
            text[i] = 10;
    }
    text[std::max(start, end)] = 0;
    if (text[start] != 0)
        Emit(text + start, TextLength(text + start));
}

void CTextCollector::CommitTextPieces(const char16_t* text, size_t length, const char16_t* suffix,
                                      size_t suffixLength)
{
    if (!m_pOutput)
        return;
    std::u16string& out = *m_pOutput;
    const size_t at = out.size();
    const size_t room = Room(length + suffixLength);
    out.append(text, std::min(length, room));
    if (room > length)
        out.append(suffix, room - length);
    m_nGiven += room;
    for (size_t i = at; i < out.size(); ++i) {
        if (out[i] == 7 || out[i] == 13)
            out[i] = 10;
    }
}

void CTextCollector::CommitRange(int start, int count)
{
    if (count == 0)
        return;
    CTextBuffer* buffer = GetCurrentBuffer();
    char16_t* text = buffer->Text();
    const int room = buffer->Allocated();
    if (!text || start < 0 || count < 0 || start >= room)
        return;
    int end = static_cast<int>(std::min<long long>(static_cast<long long>(start) + count, room - 1));
    text[end] = 0;
    if (text[start] != 0)
        Emit(text + start, TextLength(text + start));
}

void CTextCollector::CommitHwpText(int start, int end)
{
    if (end == 0)
        return;
    CTextBuffer* buffer = GetCurrentBuffer();
    const char16_t* text = buffer->Text();
    const int room = buffer->Allocated();
    if (!text || start < 0)
        return;
    end = std::min(end, room);
    // The temporary lives on the heap and is reused from piece to piece: a
    // long paragraph must not exhaust the stack.
    m_hwpScratch.clear();
    if (end > start)
        m_hwpScratch.reserve(static_cast<size_t>(end - start));
    int pos = start;
    while (pos < end) {
        const char16_t c = text[pos];
        if (c > 31 || c == 9)
            m_hwpScratch.push_back(c);
        else if (c == 13 || c == 10)  // paragraph end, line break
            m_hwpScratch.push_back(u'\n');
        else if (c == 30 || c == 31)  // the non-breaking and the fixed-width blank
            m_hwpScratch.push_back(u' ');
        else if (c == 24)  // the hyphen: a character of the text, as in HWPML
            m_hwpScratch.push_back(u'-');
        if (c < 32 && ((kHwpEightUnitControls >> c) & 1u))
            pos += 8;
        else
            pos += 1;
    }
    Emit(m_hwpScratch.data(), m_hwpScratch.size());
}

int CTextCollector::PushBuffer()
{
    GetCurrentBuffer();
    auto* fresh = new (std::nothrow) CTextBuffer(m_pAccount);
    if (!fresh)
        return 0;
    m_savedBuffers.push_back(m_pCurrent);
    m_pCurrent = fresh;
    return 1;
}

int CTextCollector::PopBuffer()
{
    if (!m_savedBuffers.empty()) {
        delete m_pCurrent;
        m_pCurrent = m_savedBuffers.back();
        m_savedBuffers.pop_back();
    }
    return 1;
}

void CTextCollector::Reset()
{
    for (CTextBuffer* b : m_savedBuffers)
        delete b;
    m_savedBuffers.clear();
    if (m_pOutput)
        m_pOutput->clear();
    m_nGiven = 0;
}

// ------------------------------------------------------------------- helpers

namespace {

enum class CommitKind { Text, Hwp };

void AppendPiece(CTextCollector* collector, const char16_t* text, int count,
                 const char16_t* suffix, CommitKind kind)
{
    if (!collector || !text || !*text)
        return;
    const size_t textLength = TextLength(text);
    const size_t n = count < 0 ? textLength : std::min(textLength, static_cast<size_t>(count));
    const size_t suffixLength = suffix ? TextLength(suffix) : 0;
    const size_t total = n + suffixLength;
    if (total == 0)
        return;
    if (total > static_cast<size_t>(INT_MAX / 2 - 512))
        throw std::bad_alloc();
    if (kind == CommitKind::Text) {
        // Straight to the output: a long piece (a shared string a sheet
        // repeats thousands of times) is not copied through the buffer.
        collector->CommitTextPieces(text, n, suffix, suffixLength);
        return;
    }
    char16_t* buffer = collector->GetBuffer(static_cast<int>(total + 1));
    std::memcpy(buffer, text, n * sizeof(char16_t));
    if (suffixLength)
        std::memcpy(buffer + n, suffix, suffixLength * sizeof(char16_t));
    buffer[total] = 0;
    if (kind == CommitKind::Text)
        collector->CommitText(0, static_cast<int>(total));
    else
        collector->CommitHwpText(0, static_cast<int>(total));
}

}  // namespace

void AppendTextToCollector(CTextCollector* collector, const char16_t* text, int count,
                           const char16_t* suffix)
{
    AppendPiece(collector, text, count, suffix, CommitKind::Text);
}

void AppendHwpTextToCollector(CTextCollector* collector, const char16_t* text, int count,
                              const char16_t* suffix)
{
    AppendPiece(collector, text, count, suffix, CommitKind::Hwp);
}
