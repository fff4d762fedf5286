#include "extract/hwp/hwpoldarchive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "extract/codepage.h"
#include "extract/io/compress_stream.h"
#include "extract/io/h2s_bufio.h"
#include "extract/liblog.h"
#include "extract/libstring.h"
#include "extract/readerror.h"
#include "extract/textcollector.h"
#include "platform/docfile.h"
#include "platform/text.h"

namespace {

constexpr char kSignaturePrefix[] = "HWP Document File V";
constexpr unsigned char kSignatureTail[6] = {0x1A, 0x01, 0x02, 0x03, 0x04, 0x05};

// "HWP Document File Vx.xx " and the six bytes 1A 01 02 03 04 05.
bool SignatureIs(const unsigned char head[30], const char* version)
{
    char expected[25];
    std::snprintf(expected, sizeof expected, "%s%s ", kSignaturePrefix, version);
    return std::memcmp(head, expected, 24) == 0 && std::memcmp(head + 24, kSignatureTail, 6) == 0;
}

int HasSignature(const char16_t* path, const char* version)
{
    if (!path)
        return 0;
    FILE* f = plat::OpenDocumentStream(path);
    if (!f)
        return 0;
    unsigned char head[30];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return got == sizeof head && SignatureIs(head, version) ? 1 : 0;
}

// Size in 16-bit units (the code included) of the special characters.
constexpr std::uint8_t kSpecialSize[32] = {1, 4, 4, 4, 4, 4, 4,   42, 48, 4, 4, 4, 4,  1, 4, 4,
                                           4, 4, 4, 4, 4, 4, 12,  5,  3,  3, 123, 4, 32, 4, 2, 2};

unsigned SpecialSize(int generation, unsigned code)
{
    if (generation == kHwpV20) {
        if (code == 22)
            return 3;
        if (code == 28)
            return 11;
    }
    return kSpecialSize[code & 31];
}

unsigned CharShapeSize(int generation)
{
    return generation == kHwpV20 ? 25 : 31;
}

constexpr unsigned kParagraphShapeSize = 187;
constexpr unsigned kLineInfoSize = 14;
// A paragraph header before its character shape: shape kind, character
// count, line count, character-shape flag, flags, special-character flags
// and style.
constexpr int kParagraphHeadSize = 12;

// Reasons of damage (plat::NoteDamage keeps the pointer).
constexpr const char* kDamagePastData = "길이가 데이터를 넘음";
constexpr const char* kDamageOpen = "구조가 끝나지 않음";
constexpr const char* kDamageInflate = "압축 스트림 손상";
constexpr const char* kDamageCheck = "검사값 불일치";
constexpr const char* kDamageDepth = "한도에 이르러 건너뜀";
constexpr const char* kDamageLength = "문단 길이 불일치";
constexpr const char* kDamageShapes = "글자 모양 목록 손상";
constexpr const char* kDamageStyle = "참조된 스타일 없음";
constexpr const char* kDamageStyleCount = "스타일 수 손상";
constexpr const char* kDamageSignature = "문서 서명 불일치";

std::uint32_t Le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

}  // namespace

// The compressed body as a byte device: raw deflate data from where the body
// starts, followed by an 8-byte check value (the CRC-32 and the length of the
// inflated bytes). Reads hand out inflated bytes; data that does not inflate
// (damaged, or cut before its final block) marks the document damaged and
// ends the body there. The archive reads it as an uncompressed device, so
// that the check value can be compared here once the body was read whole.
class CHwpOldArchive::Body final : public CH2sBufIO {
public:
    Body() = default;
    ~Body() override { CompressStreamFree(m_stream); }

    // The file stands where the body starts, start bytes from its beginning.
    bool Start(CH2sBufIO* source, std::int64_t start)
    {
        m_source = source;
        m_start = start;
        m_stream = InflateStreamOpen(&Body::Pull, this);
        return m_stream != nullptr;
    }
    bool active() const { return m_stream != nullptr; }

    int Read(void* buffer, int n) override
    {
        if (!m_stream || m_ended || m_broken || n <= 0)
            return 0;
        const int got = InflateStreamRead(m_stream, buffer, n);
        if (got > 0)
            return got;
        if (got == 0) {
            m_ended = true;
            return 0;
        }
        // The file could not be read (or the search stopped): a failure of
        // the read, not damage of the document.
        if (m_sourceFailed)
            return -1;
        m_broken = true;
        plat::NoteDamage(kDamageInflate);
        return 0;
    }
    int Write(const void*, int) override { return -1; }
    std::int64_t Seek(std::int64_t, int) override { return -1; }
    std::int64_t GetLength() override { return -1; }
    int SetLength(std::int64_t) override { return 0; }

    // Once the body was read to the end of its compressed data: compares the
    // check value that follows it.
    void CheckTrailer()
    {
        if (!m_stream || !m_ended)
            return;
        CompressStream* stream = m_stream;
        m_stream = nullptr;
        if (InflateStreamClose(stream) >= 0)
            return;  // present and matching
        if (m_sourceFailed)
            return;  // the file could not be read: a failure, reported by the read
        // More bytes followed the data: they are a check value that does not
        // match. Otherwise the data ended the file, or a check value at its
        // end is cut short or wrong.
        if (!m_sourceEnded || !DataEndsWithFile())
            plat::NoteDamage(kDamageCheck);
    }

private:
    static int Pull(CompressStream*, void* user, void* buffer, int n)
    {
        auto* self = static_cast<Body*>(user);
        if (self->m_limit >= 0)
            n = static_cast<int>(std::min<std::int64_t>(n, self->m_limit));
        const int got = n > 0 ? self->m_source->Read(buffer, n) : 0;
        if (got < 0)
            self->m_sourceFailed = true;
        if (got <= 0) {
            self->m_sourceEnded = true;
            return got;
        }
        if (self->m_limit >= 0)
            self->m_limit -= got;
        return got;
    }

    // True when the compressed data runs to the file's last byte, so that no
    // check value follows it at all: some writers leave it off, and the body
    // is whole. Inflates the body once more without the file's last byte:
    // data that ends before it decompresses to its end without it.
    bool DataEndsWithFile()
    {
        const std::int64_t length = m_source->GetLength();
        if (length <= m_start || m_source->Seek(m_start, 0) != m_start)
            return false;
        m_limit = length - 1 - m_start;
        m_sourceEnded = false;
        CompressStream* probe = InflateStreamOpen(&Body::Pull, this);
        if (!probe)
            return false;
        unsigned char scratch[4096];
        int got;
        while ((got = InflateStreamRead(probe, scratch, sizeof scratch)) > 0) {
        }
        CompressStreamFree(probe);
        return got < 0 && !m_sourceFailed;
    }

    CH2sBufIO* m_source = nullptr;
    CompressStream* m_stream = nullptr;
    std::int64_t m_start = 0;
    std::int64_t m_limit = -1;  // source bytes the probe may still take; -1: all
    bool m_sourceEnded = false;
    bool m_sourceFailed = false;
    bool m_ended = false;
    bool m_broken = false;
};

int IsHwp20File(const char16_t* path)
{
    return HasSignature(path, "2.00");
}

int IsHwp21File(const char16_t* path)
{
    return HasSignature(path, "2.10");
}

int IsHwp30File(const char16_t* path)
{
    return HasSignature(path, "3.00");
}

CHwpOldArchive::CHwpOldArchive(CTextCollector* collector) : CH2sArchive(nullptr, kBufferSize), m_pCollector(collector)
{
}

CHwpOldArchive::~CHwpOldArchive() = default;

bool CHwpOldArchive::SkipLarge(std::uint64_t n)
{
    while (n > 0) {
        const int chunk = static_cast<int>(std::min<std::uint64_t>(n, 1u << 30));
        const int skipped = Skip(chunk);
        if (skipped <= 0) {
            plat::NoteDamage(kDamagePastData);
            return false;
        }
        n -= static_cast<std::uint64_t>(skipped);
    }
    return true;
}

void CHwpOldArchive::CommitLineFeed()
{
    char16_t* b = m_pCollector->GetBuffer(2);
    b[0] = 13;
    b[1] = 0;
    m_pCollector->CommitHwpText(0, 1);
}

void CHwpOldArchive::CommitTab()
{
    char16_t* b = m_pCollector->GetBuffer(2);
    b[0] = 9;
    b[1] = 0;
    m_pCollector->CommitHwpText(0, 1);
}

void CHwpOldArchive::EmitHwpCodes(const std::vector<std::uint16_t>& run)
{
    if (run.empty())
        return;
    const size_t len = run.size();
    const size_t room = len >= 1024 ? 2 * len : 4 * len;
    // A run is at most one paragraph's 65535 codes: never reached.
    if (room > 0x3FFFFFFF)
        return;
    char16_t* buffer = m_pCollector->GetBuffer(static_cast<int>(room));
    const int n = HwpCharsToWide(0x30933, run.data(), static_cast<int>(len), buffer, static_cast<int>(room),
                                 u"\u3000");
    m_pCollector->CommitHwpText(0, n);
}

void CHwpOldArchive::ReadFontTable(int groups)
{
    for (int g = 0; g < groups; ++g) {
        const std::uint16_t count = ReadWord();
        SkipLarge(std::uint64_t(count) * 40);
    }
}

unsigned CHwpOldArchive::ReadStyleTable(int generation)
{
    const std::uint16_t count = ReadWord();
    SkipLarge(std::uint64_t(count) * (20 + CharShapeSize(generation) + kParagraphShapeSize));
    m_nStyles = count;
    return count;
}

void CHwpOldArchive::StartBody(Body& body)
{
    if (!m_bCompressed)
        return;
    // The bytes read so far are the file's header: the body starts there.
    const std::int64_t start = consumed();
    CH2sBufIO* file = device();
    DropReadAhead();
    if (!file || !body.Start(file, start))
        throw ReadError(ReadFailure::OutOfMemory);
    Attach(&body, kBufferSize);
}

void CHwpOldArchive::FinishBody(Body& body, int generation)
{
    // A search stopped inside the list: the scan reports the document read
    // in part.
    if (plat::ReadCancelled())
        return;
    if (generation == kHwpV30) {
        // Blocks of a 32-bit id and a 32-bit length follow the list (none in
        // some documents) and fill the body to its end; a list that ended
        // on a misread end paragraph leaves bytes that are no such blocks.
        // What follows a V2.x list is not read.
        while (!AtEndOfData()) {
            unsigned char head[8];
            if (Read(head, sizeof head) != static_cast<int>(sizeof head)) {
                plat::NoteDamage(kDamageOpen);
                break;
            }
            if (!SkipLarge(Le32(head + 4)))
                break;
        }
    }
    if (!body.active())
        return;
    // The rest of a compressed body is inflated so that its check value
    // can be compared.
    while (Skip(1 << 20) > 0) {
    }
    body.CheckTrailer();
}

namespace {

// A read ended by a failure: the document is not read (result 0); the
// conversion log says which failure ended it. Call inside a catch block.
void TraceReadFailure(const char16_t* path) noexcept
{
    const ReadError failure = CurrentReadError();
    try {
        const std::u16string what = plat::Utf8ToWide(failure.what());
        ConvertLog().Write(u"HWP 2.x/3.x read ended (%s, code %u): %s", what.c_str(),
                           static_cast<unsigned>(failure.code()), path ? path : u"");
    } catch (...) {
        // No room to trace: the result still says the document was not read.
    }
}

}  // namespace

int CHwpOldArchive::ReadOld(const char16_t* path, int generation)
{
    m_pCollector->Reset();
    CH2sFile file;
    Body body;
    int result = 1;
    try {
        if (!path || !file.Open(path, 0))
            throw ReadError(ReadFailure::LibraryError, static_cast<std::uint32_t>(GetLibraryError()));
        Attach(&file, kBufferSize);
        SkipLarge(30);
        if (generation == kHwpV20) {
            SkipLarge(122 + 6);
        } else {
            SkipLarge(124);
            m_bCompressed = ReadByte();
            ReadByte();
            m_nInfoBlockLength = ReadWord();
        }
        // The summary's texts are not part of the document's text.
        SkipLarge(1008);
        if (generation != kHwpV20)
            SkipLarge(m_nInfoBlockLength);
        StartBody(body);
        ReadFontTable(generation == kHwpV20 ? 5 : 7);
        const unsigned styles = ReadStyleTable(generation);
        if (styles != 0 && styles <= 160) {
            ReadParagraphList(generation);
            FinishBody(body, generation);
        } else {
            // A V2.x document has 1 to 160 styles: another count is no
            // style table, and what follows it no body to read.
            plat::NoteDamage(kDamageStyleCount);
        }
    } catch (...) {
        result = 0;
        TraceReadFailure(path);
    }
    Detach();
    try {
        file.Close();
    } catch (...) {
    }
    return result;
}

int CHwpOldArchive::ReadHwp20(const char16_t* path, const void*)
{
    return ReadOld(path, kHwpV20);
}

int CHwpOldArchive::ReadHwp21(const char16_t* path, const void*)
{
    return ReadOld(path, kHwpV21);
}

int CHwpOldArchive::ReadHwp30(const char16_t* path, const char16_t* password)
{
    SetThrowOnError(1);
    m_pCollector->Reset();
    CH2sFile file;
    Body body;
    int result = 1;
    try {
        if (!path || !file.Open(path, 0))
            throw ReadError(ReadFailure::LibraryError, static_cast<std::uint32_t>(GetLibraryError()));
        Attach(&file, kBufferSize);
        unsigned char head[30] = {};
        unsigned char info[128] = {};
        if (Read(head, 30) != 30 || Read(info, 128) != 128)
            plat::NoteDamage(kDamageOpen);
        m_bSignatureMismatch = !SignatureIs(head, "3.00");
        m_nEncryptValue = static_cast<std::uint16_t>(info[96] | (info[97] << 8));
        m_bCompressed = info[124];
        m_bSubRevision = info[125];
        m_nInfoBlockLength = static_cast<std::uint16_t>(info[126] | (info[127] << 8));
        if (m_nEncryptValue == 0 || m_bSignatureMismatch)
            m_nEncryption = 0;
        else if (m_bSubRevision == 0)
            m_nEncryption = 1;
        else
            m_nEncryption = m_nEncryptValue == 2 ? 2 : 3;
        // The summary's texts are not part of the document's text.
        SkipLarge(1008);
        SkipLarge(m_nInfoBlockLength);
        StartBody(body);
        if (m_nEncryption == 2 || m_nEncryption == 3) {
            // Reading never deciphers: an encrypted body is not read.
            if (!SetPassword(m_nEncryption, password))
                result = 0;
        }
        if (result) {
            ReadFontTable(7);
            ReadStyleTable(kHwpV30);
            if (!m_bSignatureMismatch) {
                ReadParagraphList(kHwpV30);
                FinishBody(body, kHwpV30);
            } else {
                // The file changed since it was recognised as V3.00.
                plat::NoteDamage(kDamageSignature);
            }
        }
    } catch (...) {
        result = 0;
        TraceReadFailure(path);
    }
    Detach();
    try {
        file.Close();
    } catch (...) {
    }
    return result;
}

int CHwpOldArchive::ReadParagraphList(int generation)
{
    if (++m_nDepth > kMaxNesting) {
        --m_nDepth;
        plat::NoteDamage(kDamageDepth);
        SetLibraryError(kLibErrorUnexpectedRecord);
        throw ReadError(ReadFailure::LibraryError, kLibErrorUnexpectedRecord);
    }
    // A stopped search ends the list; the scan reports the document read in
    // part.
    while (!plat::ReadCancelled() && ReadParagraph(generation)) {
    }
    --m_nDepth;
    return 0;
}

bool CHwpOldArchive::AtEndOfData()
{
    return available() == 0 && FillBuffer() <= 0;
}

int CHwpOldArchive::ReadParagraph(int generation)
{
    // A list ends with a paragraph of no characters; a list that the data
    // leaves unfinished ends with the data.
    if (AtEndOfData()) {
        plat::NoteDamage(kDamageOpen);
        return 0;
    }
    unsigned char head[kParagraphHeadSize];
    const int shapeSize = static_cast<int>(CharShapeSize(generation));
    if (Read(head, kParagraphHeadSize) != kParagraphHeadSize || Skip(shapeSize) != shapeSize) {
        plat::NoteDamage(kDamageOpen);
        return 0;
    }
    const std::uint8_t previousShape = head[0];
    const std::uint16_t count = static_cast<std::uint16_t>(head[1] | (head[2] << 8));
    const std::uint16_t lines = static_cast<std::uint16_t>(head[3] | (head[4] << 8));
    const std::uint8_t charShapes = head[5];
    // head[6]: flags, head[7..10]: special-character flags.
    const std::uint8_t style = head[11];
    if (count == 0)
        return 0;
    if (style >= m_nStyles)
        plat::NoteDamage(kDamageStyle);
    if (previousShape == 0)
        SkipLarge(kParagraphShapeSize);
    SkipLarge(std::uint64_t(lines) * kLineInfoSize);
    if (charShapes) {
        // One byte per character: 1 keeps the shape before, 0 brings a shape.
        // Another value is no shape list (the flag set without one).
        bool listDamaged = false;
        for (unsigned i = 0; i < count; ++i) {
            const std::uint8_t same = ReadByte();
            if (same == 0)
                SkipLarge(static_cast<std::uint64_t>(shapeSize));
            else if (same != 1 && !listDamaged) {
                listDamaged = true;
                plat::NoteDamage(kDamageShapes);
            }
        }
    }

    std::vector<std::uint16_t> run;
    run.reserve(count);
    bool ended = false;
    for (unsigned pos = 0; pos < count; ++pos) {
        if (AtEndOfData()) {
            // A paragraph cut short: what it held so far is kept.
            EmitHwpCodes(run);
            plat::NoteDamage(kDamageOpen);
            SetLibraryError(kLibErrorUnexpectedRecord);
            throw ReadError(ReadFailure::LibraryError, kLibErrorUnexpectedRecord);
        }
        std::uint16_t code = ReadWord();
        if (code == 13) {
            // The paragraph's end, which its count places last. A count that
            // runs on past it disagrees with the text; the paragraph ends here
            // all the same, so that the next one is read where it stands.
            if (pos + 1 != count)
                plat::NoteDamage(kDamageLength);
            ended = true;
            break;
        }
        if (code >= 32) {
            if (generation == kHwpV20 && (code & 0xFF00) == 0x2F00)
                code = static_cast<std::uint16_t>(0x3300 | (code & 0xFF));
            run.push_back(code);
            continue;
        }
        // A special character takes its size in positions of the count.
        const unsigned size = SpecialSize(generation, code);
        if (pos + size > count)
            plat::NoteDamage(kDamageLength);
        if (generation == kHwpV30 && code == 9) {
            // The tab stays on the line and keeps the words on either side
            // apart.
            SkipLarge(6);
            EmitHwpCodes(run);
            run.clear();
            CommitTab();
            pos += size - 1;
            continue;
        }
        EmitHwpCodes(run);
        CommitLineFeed();
        run.clear();
        m_pCollector->PushBuffer();
        ReadSpecialChar(generation, code);
        m_pCollector->PopBuffer();
        pos += size - 1;
    }
    // A count that ends before the paragraph's end disagrees with the text.
    if (!ended)
        plat::NoteDamage(kDamageLength);
    EmitHwpCodes(run);
    CommitLineFeed();
    return 1;
}

void CHwpOldArchive::ReadBoxInfo()
{
    SkipLarge(2);
    SkipLarge(3 * 2);
    const std::uint16_t border = ReadWord();
    SkipLarge(12 * 2 + 7 * 2 + 4 + 2 + 2 * 2 + 4);
    if (border != 14)
        SkipLarge(2 * 2);
}

void CHwpOldArchive::ReadBox(int generation)
{
    if (generation == kHwpV30) {
        SkipLarge(6);
        SkipLarge(78);
        ReadWord();
        const std::uint16_t cells = ReadWord();
        SkipLarge(2);
        SkipLarge(std::uint64_t(cells) * 27);
        for (unsigned i = 0; i < cells; ++i)
            ReadParagraphList(generation);
        ReadParagraphList(generation);
        return;
    }
    SkipLarge(14);
    ReadBoxInfo();
    SkipLarge(2 * 2);
    const std::uint16_t kind = ReadWord();
    const std::uint16_t cells = ReadWord();
    ReadWord();
    SkipLarge(std::uint64_t(cells) * 27);
    if (kind == 2) {
        for (unsigned i = 0; i < cells; ++i) {
            ReadParagraphList(generation);
            ReadParagraphList(generation);
        }
    } else {
        for (unsigned i = 0; i < cells; ++i)
            ReadParagraphList(generation);
        ReadParagraphList(generation);
    }
}

void CHwpOldArchive::ReadPicture(int generation)
{
    if (generation == kHwpV30) {
        SkipLarge(6);
        const std::uint32_t length = ReadDword();
        SkipLarge(70 + 1 + 8 + 256);
        SkipLarge(std::uint64_t(length) + 9);
        ReadParagraphList(generation);
        return;
    }
    SkipLarge(6);
    ReadDword();
    SkipLarge(4);
    ReadBoxInfo();
    SkipLarge(42 + 4 * 2);
    if (generation == kHwpV21)
        SkipLarge(32);
    ReadParagraphList(generation);
}

void CHwpOldArchive::ReadSpecialChar(int generation, std::uint16_t code)
{
    const bool v30 = generation == kHwpV30;
    switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 12:
    case 29:
        if (v30)
            SkipLarge(std::uint64_t(ReadDword()) + 2);
        else
            SkipLarge(4);
        break;
    case 5:
        if (v30) {
            SkipLarge(6 + 2 + 4 + 2 + 22);
            std::uint64_t sum = 0;
            for (int i = 0; i < 4; ++i)
                sum += ReadDword();
            SkipLarge(sum);
        } else {
            SkipLarge(4);
        }
        break;
    case 7: SkipLarge(82); break;
    case 8: SkipLarge(94); break;
    case 9:
    case 18:
    case 19:
    case 20:
    case 21: SkipLarge(6); break;
    case 10: ReadBox(generation); break;
    case 11: ReadPicture(generation); break;
    case 14: SkipLarge(90); break;
    case 15:
        SkipLarge(14);
        ReadParagraphList(generation);
        break;
    case 16:
        SkipLarge(16);
        ReadParagraphList(generation);
        break;
    case 17:
        SkipLarge(20);
        ReadParagraphList(generation);
        break;
    case 22: SkipLarge(22); break;
    case 23: SkipLarge(8); break;
    case 26: SkipLarge(244); break;
    case 28:
        if (generation == kHwpV20)
            SkipLarge(18 + 2);
        else
            SkipLarge(62);
        break;
    case 30:
    case 31: SkipLarge(2); break;
    case 0:
    case 24:
    case 25:
    case 27:
        if (v30)
            SkipLarge(2 * std::uint64_t(SpecialSize(generation, code) - 1));
        else
            SkipLarge(4);
        break;
    default:
        // 13, the paragraph's end, is taken before the special characters.
        break;
    }
}
