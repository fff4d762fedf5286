#include "extract/hwp/hwpoldarchive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "extract/codepage.h"
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

}  // namespace

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

void CHwpOldArchive::SkipLarge(std::uint64_t n)
{
    while (n > 0) {
        const int chunk = static_cast<int>(std::min<std::uint64_t>(n, 1u << 30));
        const int skipped = Skip(chunk);
        if (skipped <= 0)
            return;  // the data ends here
        n -= static_cast<std::uint64_t>(skipped);
    }
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
    return count;
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
    int result = 1;
    try {
        if (!path || !file.Open(path, 0))
            throw ReadError(ReadFailure::LibraryError, static_cast<std::uint32_t>(GetLibraryError()));
        Attach(&file, kBufferSize);
        Skip(30);
        if (generation == kHwpV20) {
            Skip(122);
            Skip(6);
        } else {
            Skip(124);
            m_bCompressed = ReadByte();
            ReadByte();
            m_nInfoBlockLength = ReadWord();
        }
        Skip(1008);
        if (generation != kHwpV20)
            Skip(m_nInfoBlockLength);
        if (m_bCompressed)
            BeginCompression();
        ReadFontTable(generation == kHwpV20 ? 5 : 7);
        const unsigned styles = ReadStyleTable(generation);
        if (styles != 0 && styles <= 160) {
            ReadParagraphList(generation);
            if (m_bCompressed)
                EndCompression();
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
    int result = 1;
    try {
        if (!path || !file.Open(path, 0))
            throw ReadError(ReadFailure::LibraryError, static_cast<std::uint32_t>(GetLibraryError()));
        Attach(&file, kBufferSize);
        unsigned char head[30] = {};
        Read(head, 30);
        m_bSignatureMismatch = !SignatureIs(head, "3.00");
        unsigned char info[128] = {};
        Read(info, 128);
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
        Skip(1008);
        Skip(m_nInfoBlockLength);
        if (m_bCompressed)
            BeginCompression();
        if (m_nEncryption == 2 || m_nEncryption == 3) {
            // Reading never deciphers: an encrypted body is not read.
            if (!SetPassword(m_nEncryption, password))
                result = 0;
        }
        if (result) {
            ReadFontTable(7);
            ReadStyleTable(kHwpV30);
            if (!m_bSignatureMismatch)
                ReadParagraphList(kHwpV30);
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
        SetLibraryError(kLibErrorUnexpectedRecord);
        throw ReadError(ReadFailure::LibraryError, kLibErrorUnexpectedRecord);
    }
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
    // A list that the data leaves unfinished ends with the data.
    if (AtEndOfData())
        return 0;
    const std::uint8_t previousShape = ReadByte();
    const std::uint16_t count = ReadWord();
    const std::uint16_t lines = ReadWord();
    const std::uint8_t charShapes = ReadByte();
    ReadByte();   // flags
    ReadDword();  // special-character flags
    ReadByte();   // style
    Skip(static_cast<int>(CharShapeSize(generation)));
    if (count == 0)
        return 0;
    if (previousShape == 0)
        Skip(kParagraphShapeSize);
    SkipLarge(std::uint64_t(lines) * kLineInfoSize);
    if (charShapes) {
        for (unsigned i = 0; i < count; ++i) {
            if (ReadByte() == 0)
                Skip(static_cast<int>(CharShapeSize(generation)));
        }
    }

    std::vector<std::uint16_t> run;
    run.reserve(count);
    for (unsigned pos = 0; pos < count; ++pos) {
        if (AtEndOfData()) {
            // A paragraph cut short: what it held so far is kept.
            EmitHwpCodes(run);
            SetLibraryError(kLibErrorUnexpectedRecord);
            throw ReadError(ReadFailure::LibraryError, kLibErrorUnexpectedRecord);
        }
        std::uint16_t code = ReadWord();
        if (code == 13)
            continue;
        if (code >= 32) {
            if (generation == kHwpV20 && (code & 0xFF00) == 0x2F00)
                code = static_cast<std::uint16_t>(0x3300 | (code & 0xFF));
            run.push_back(code);
            continue;
        }
        if (generation == kHwpV30 && code == 9) {
            // The tab stays on the line and keeps the words on either side
            // apart.
            Skip(6);
            EmitHwpCodes(run);
            run.clear();
            CommitTab();
            pos += SpecialSize(generation, code) - 1;
            continue;
        }
        EmitHwpCodes(run);
        CommitLineFeed();
        run.clear();
        m_pCollector->PushBuffer();
        ReadSpecialChar(generation, code);
        m_pCollector->PopBuffer();
        pos += SpecialSize(generation, code) - 1;
    }
    EmitHwpCodes(run);
    CommitLineFeed();
    return 1;
}

void CHwpOldArchive::ReadBoxInfo()
{
    Skip(2);
    Skip(3 * 2);
    const std::uint16_t border = ReadWord();
    Skip(12 * 2 + 7 * 2 + 4 + 2 + 2 * 2 + 4);
    if (border != 14)
        Skip(2 * 2);
}

void CHwpOldArchive::ReadBox(int generation)
{
    if (generation == kHwpV30) {
        Skip(6);
        Skip(78);
        ReadWord();
        const std::uint16_t cells = ReadWord();
        Skip(2);
        SkipLarge(std::uint64_t(cells) * 27);
        for (unsigned i = 0; i < cells; ++i)
            ReadParagraphList(generation);
        ReadParagraphList(generation);
        return;
    }
    Skip(14);
    ReadBoxInfo();
    Skip(2 * 2);
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
        Skip(6);
        const std::uint32_t length = ReadDword();
        Skip(70 + 1 + 8 + 256);
        SkipLarge(std::uint64_t(length) + 9);
        ReadParagraphList(generation);
        return;
    }
    Skip(6);
    ReadDword();
    Skip(4);
    ReadBoxInfo();
    Skip(42 + 4 * 2);
    if (generation == kHwpV21)
        Skip(32);
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
            Skip(4);
        break;
    case 5:
        if (v30) {
            Skip(6 + 2 + 4 + 2 + 22);
            std::uint64_t sum = 0;
            for (int i = 0; i < 4; ++i)
                sum += ReadDword();
            SkipLarge(sum);
        } else {
            Skip(4);
        }
        break;
    case 7: Skip(82); break;
    case 8: Skip(94); break;
    case 9:
    case 18:
    case 19:
    case 20:
    case 21: Skip(6); break;
    case 10: ReadBox(generation); break;
    case 11: ReadPicture(generation); break;
    case 14: Skip(90); break;
    case 15:
        Skip(14);
        ReadParagraphList(generation);
        break;
    case 16:
        Skip(16);
        ReadParagraphList(generation);
        break;
    case 17:
        Skip(20);
        ReadParagraphList(generation);
        break;
    case 22: Skip(22); break;
    case 23: Skip(8); break;
    case 26: Skip(244); break;
    case 28:
        if (generation == kHwpV20)
            Skip(18 + 2);
        else
            Skip(62);
        break;
    case 30:
    case 31: Skip(2); break;
    case 0:
    case 24:
    case 25:
    case 27:
        if (v30)
            Skip(2 * static_cast<int>(SpecialSize(generation, code) - 1));
        else
            Skip(4);
        break;
    default:
        break;
    }
}
