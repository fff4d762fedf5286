#include "extract/hwp/hwpdocmanager.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "extract/hwp/hwp_datablock.h"
#include "extract/hwp/hwpoldarchive.h"
#include "extract/io/h2s_bufio.h"
#include "extract/io/h2s_storage.h"
#include "extract/libstring.h"
#include "extract/liblog.h"
#include "extract/readerror.h"
#include "platform/cfb.h"
#include "platform/docfile.h"

namespace {

// "HWP Document File" followed by 15 zero bytes.
constexpr unsigned char kHwp5Signature[32] = {'H', 'W', 'P', ' ', 'D', 'o', 'c', 'u', 'm', 'e', 'n',
                                              't', ' ', 'F', 'i', 'l', 'e'};

// Properties of "FileHeader": the document was saved for distribution.
constexpr std::uint32_t kPropertyDistribution = 4;

// Record tags of HWP 5 streams.
enum : unsigned {
    kTagDocumentProperties = 16,
    kTagIdMappings = 17,
    kTagParaHeader = 66,
    kTagParaText = 67,
    kTagParaCharShape = 68,
    kTagParaLineSeg = 69,
    kTagParaRangeTag = 70,
    kTagCtrlHeader = 71,
    kTagListHeader = 72,
    kTagPageDef = 73,
    kTagFootnoteShape = 74,
    kTagPageBorderFill = 75,
    kTagShapeComponent = 76,
    kTagTable = 77,
    kTagCtrlData = 87,
    kTagMemoList = 93,
};

// Control ids: four characters, the first in the highest byte.
constexpr std::uint32_t Id(const char (&s)[5])
{
    return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
           (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}

// Extended controls (codes 1-3, 11, 12, 14-18, 21-23) own a control header.
constexpr std::uint32_t kExtendedControls = 0xE7D80E;
// Inline and extended controls take eight code units.
constexpr std::uint32_t kEightUnitControls = 0xFFDBFE;

bool IsDrawingObject(std::uint32_t id)
{
    switch (id) {
    case Id("$arc"):
    case Id("$cur"):
    case Id("$ell"):
    case Id("$lin"):
    case Id("$pic"):
    case Id("$pol"):
    case Id("$rec"):
        return true;
    default:
        return false;
    }
}

CConvertLogMgr& Log()
{
    return ConvertLog();
}

// Leaves a nesting level on every way out.
struct NestingGuard {
    explicit NestingGuard(int& depth) : depth_(depth) {}
    ~NestingGuard() { --depth_; }
    int& depth_;
};

}  // namespace

CHwpDocumentManager::CHwpDocumentManager() = default;

CHwpDocumentManager::~CHwpDocumentManager()
{
    delete m_pPassword;
    if (m_pStorage) {
        try {
            m_pStorage->Close();
        } catch (...) {
        }
    }
    m_pBlock.reset();
    m_pStorage.reset();
    m_pDevice.reset();
}

CH2sStream& CHwpDocumentManager::Device()
{
    if (!m_pDevice)
        m_pDevice = std::make_unique<CH2sStream>();
    return *m_pDevice;
}

CH2sMainStorage& CHwpDocumentManager::Storage()
{
    if (!m_pStorage)
        m_pStorage = std::make_unique<CH2sMainStorage>();
    return *m_pStorage;
}

CH2sDataBlock& CHwpDocumentManager::Block()
{
    if (!m_pBlock)
        m_pBlock = std::make_unique<CH2sDataBlock>();
    return *m_pBlock;
}

int CHwpDocumentManager::IsHwp5File(const char16_t* path)
{
    if (!path)
        return 0;
    // The compound-file layer takes no share locks: one try is enough.
    const plat::CfbPtr<plat::CfbStorage> root = OpenRootStorage(path);
    if (!root)
        return 0;
    plat::CfbStream* raw = nullptr;
    if (!OpenChildStream(root.get(), u"FileHeader", &raw))
        return 0;
    plat::CfbPtr<plat::CfbStream> stream(raw);
    unsigned char head[32] = {};
    std::uint32_t got = 0;
    if (!ReadStreamBytes(stream.get(), head, sizeof head, &got) || got < sizeof head)
        return 0;
    return std::memcmp(head, kHwp5Signature, sizeof head) == 0 ? 1 : 0;
}

int CHwpDocumentManager::IsFormat(const char16_t* path)
{
    if (IsHwp5File(path))
        return 5;
    if (IsHwp30File(path))
        return 4;
    if (IsHwp21File(path))
        return 3;
    if (IsHwp20File(path))
        return 2;
    return 0;
}

int CHwpDocumentManager::Convert(const char16_t* path)
{
    ClearLibraryError();
    const int oldThrow = SetThrowOnError(1);
    int status = 1;
    int generation = 0;
    try {
        generation = IsFormat(path);
        switch (generation) {
        case 2:
        case 3: {
            CHwpOldArchive reader(GetTextCollector());
            const int ok = generation == 2 ? reader.ReadHwp20(path, nullptr) : reader.ReadHwp21(path, nullptr);
            status = ok ? 0 : 1;
            break;
        }
        case 4: {
            CHwpOldArchive reader(GetTextCollector());
            status = reader.ReadHwp30(path, m_pPassword ? m_pPassword->c_str() : nullptr) ? 0 : 1;
            break;
        }
        case 5:
            status = ConvertHwp5(path);
            if (status == 0)
                Finish();
            break;
        default:
            status = 1;
            break;
        }
    } catch (const ReadError&) {
        if (generation == 5)
            Finish();
        status = 2;
    }
    // The throw flag belongs to this conversion only.
    SetThrowOnError(oldThrow);
    m_nStatus = status;
    return status;
}

void CHwpDocumentManager::Finish()
{
    Block().Detach();
    try {
        Storage().Close();
    } catch (const ReadError&) {
    }
    if (m_pDevice) {
        try {
            m_pDevice->Close();
        } catch (const ReadError&) {
        }
    }
    SetOutputString(nullptr);
}

int CHwpDocumentManager::ConvertHwp5(const char16_t* path)
{
    GetTextCollector()->Reset();
    if (!path)
        return 0;
    Log().Write(u"Convert Begin. >>> \"%s\"", path);
    const std::u16string p(path);
    SetThrowOnError(0);
    const int opened = Storage().Open(p, kH2sRootMode);
    SetThrowOnError(1);
    if (!opened) {
        ClearLibraryError();
        Storage().Open(p, kH2sStreamMode);  // exclusive, read only
    }
    unsigned char header[256] = {};
    Storage().ReadFileHeader(header);
    if (std::memcmp(header, kHwp5Signature, sizeof kHwp5Signature) != 0) {
        if (GetLibraryError() == 0)
            SetLibraryError(kLibErrorUnexpectedRecord);
        RaiseLibraryError();
        // Without the throw flag the document still ends here.
        return 2;
    }
    const std::uint32_t properties = std::uint32_t(header[36]) | (std::uint32_t(header[37]) << 8);
    m_nFlags = properties & 3u;
    m_bPartial = false;
    if ((m_nFlags & 2u) && (!m_pPassword || m_pPassword->empty())) {
        // The records are encrypted and no password is known: not read.
        Log().Write(u"Convert End. (password)");
        return 1;
    }
    if (properties & kPropertyDistribution) {
        // Saved for distribution: the body is encrypted in "ViewText"; the
        // sections of "BodyText" hold only a notice that says so. Not read.
        Log().Write(u"Convert End. (distribution)");
        return 1;
    }
    if (!ReadDocInfo()) {
        // Without DocInfo the document cannot be read.
        Log().Write(u"Convert End. (no DocInfo)");
        return 1;
    }
    ReadRootText();
    Log().Write(u"Convert End.");
    return m_bPartial ? 1 : 0;
}

int CHwpDocumentManager::OpenRecordStream(const std::u16string& name, CH2sStorage& storage, CH2sDataBlock& ar)
{
    ar.Attach(&Device(), CH2sDataBlock::kBufferSize);
    if (!storage.OpenStream(name, Device(), kH2sStreamMode)) {
        ar.Detach();
        Device().Close();
        // A missing stream is passed over: its failure must not stay in the
        // error word, where it would suspend the record checks that follow.
        ClearLibraryError();
        return 0;
    }
    if (m_nFlags & 1u)
        ar.BeginCompression();
    if ((m_nFlags & 2u) && m_pPassword && !m_pPassword->empty())
        ar.SetPassword(2, m_pPassword->c_str());
    return 1;
}

void CHwpDocumentManager::CloseRecordStream(CH2sDataBlock& ar)
{
    ar.Detach();
    Device().Close();
}

bool CHwpDocumentManager::ReadDocInfo()
{
    Log().Write(u"ReadDocInfo() Start.");
    CH2sDataBlock& ar = Block();
    CH2sMainStorage& root = Storage();
    if (!OpenRecordStream(u"DocInfo", root, ar)) {
        plat::NoteDamage("필요한 스트림 없음");
        return false;
    }
    ar.NextRecord(kTagDocumentProperties);
    if (m_nFlags & 2u)
        ar.Skip(256);
    m_nSectionCount = ar.ReadWord();
    ar.EndRecord();
    ar.NextRecord(kTagIdMappings);
    ar.EndRecord();
    // The rest of DocInfo (fonts, shapes, styles) holds no text: not read.
    CloseRecordStream(ar);
    Log().Write(u"ReadDocInfo() End.");
    return true;
}

void CHwpDocumentManager::ReadRootText()
{
    Log().Write(u"ReadRootText()");
    CH2sStorage body;
    Storage().OpenSubStorage(u"BodyText", body, kH2sStreamMode);
    if (!body.storage()) {
        if (GetLibraryError() == 0)
            SetLibraryError(kH2sErrorNotFound);
        RaiseLibraryError();
        return;
    }
    m_nMemoCount = 0;
    const std::vector<unsigned> sections = SectionsToRead(body);
    CH2sDataBlock& ar = Block();
    for (std::size_t k = 0; k < sections.size() && !plat::ReadCancelled(); ++k) {
        char16_t name[32];
        FormatWide(name, 32, u"Section%d", static_cast<int>(sections[k]));
        Log().Write(u"OpenStream(%s)", name);
        if (!OpenRecordStream(name, body, ar)) {
            // Its chain damaged: the other sections are still read, and the
            // document is read in part.
            Log().Write(u"OpenStream(%s) failed: section not read", name);
            plat::NoteDamage("참조된 스트림 없음");
            m_bPartial = true;
            continue;
        }
        bool last = false, marked = false;
        while ((!last || ListGoesOn(ar, 0)) && !plat::ReadCancelled()) {
            last = false;
            ReadParaFromArchive(ar, &last, 0, marked);
            marked |= last;
        }
        if (k + 1 == sections.size()) {
            Log().Write(u"ReadEndSection()");
            SerializeMemoListBody(ar);
        }
        EndSection(ar);
        CloseRecordStream(ar);
        Log().Write(u"CloseStream(%s)", name);
    }
}

std::vector<unsigned> CHwpDocumentManager::SectionsToRead(CH2sStorage& body)
{
    // The sections BodyText holds, by their numbers.
    std::vector<unsigned> present;
    std::vector<plat::CfbStat> elements;
    if (!StorageElements(body.storage(), &elements)) {
        // The directory below BodyText cannot be listed: the count decides.
        plat::NoteDamage("스트림을 읽을 수 없음");
        for (unsigned i = 0; i < m_nSectionCount; ++i)
            present.push_back(i);
        return present;
    }
    static constexpr char16_t kPrefix[] = u"SECTION";
    constexpr std::size_t kPrefixLength = 7;
    for (const plat::CfbStat& e : elements) {
        const std::u16string& n = e.name;
        // Other elements of BodyText are no sections of the body.
        if (e.type != plat::stg::kTypeStream || n.size() <= kPrefixLength || n.size() > kPrefixLength + 5)
            continue;
        bool match = true;
        for (std::size_t i = 0; i < kPrefixLength && match; ++i)
            match = plat::CfbUpper(n[i]) == kPrefix[i];
        unsigned number = 0;
        for (std::size_t i = kPrefixLength; i < n.size() && match; ++i) {
            match = n[i] >= u'0' && n[i] <= u'9' && !(i == kPrefixLength && n[i] == u'0' && n.size() > i + 1);
            number = number * 10 + static_cast<unsigned>(n[i] - u'0');
        }
        if (match)
            present.push_back(number);
    }
    std::sort(present.begin(), present.end());
    present.erase(std::unique(present.begin(), present.end()), present.end());
    // DocInfo counts the sections 0 to count - 1: a section it does not
    // count, or one it counts that is not there, is damage. Every section
    // there is gets read.
    std::size_t counted = 0;
    for (unsigned n : present)
        counted += n < m_nSectionCount ? 1 : 0;
    if (counted != present.size())
        plat::NoteDamage("구역 수가 맞지 않음");
    if (counted != m_nSectionCount) {
        plat::NoteDamage("참조된 스트림 없음");
        m_bPartial = true;
    }
    return present;
}

void CHwpDocumentManager::EndSection(CH2sDataBlock& ar)
{
    if (GetLibraryError() != 0 || plat::ReadCancelled())
        return;
    // The body ends with its last paragraph (and the memo lists after the
    // last section): records left over were not read.
    ar.PeekTag();
    if (!ar.atEnd()) {
        Log().Write(u"EndSection() : records after the last paragraph");
        plat::NoteDamage("구조 뒤에 데이터가 남음");
        return;
    }
    // The compressed data ends with its final block, and only its trailer
    // follows it.
    if (ar.device() && ar.device()->compressed()) {
        const int ended = InflateStreamEndedCleanly(ar.device()->filter());
        if (ended < 0)
            plat::NoteDamage("검사값 불일치");
        else if (ended == 0)
            plat::NoteDamage("압축 스트림 손상");
    }
}

void CHwpDocumentManager::EnterNesting()
{
    if (++m_nDepth > kMaxNesting) {
        SetLibraryError(kLibErrorUnexpectedRecord);
        RaiseLibraryError();
    }
}

bool CHwpDocumentManager::SkipToParagraph(CH2sDataBlock& ar, unsigned paraLevel)
{
    for (;;) {
        const unsigned tag = ar.PeekTag();
        if (GetLibraryError() != 0)
            return false;
        if (ar.atEnd())
            return true;  // the paragraph asked for is missing: NextRecord says so
        const unsigned level = ar.level();
        if (tag == kTagParaHeader && level == paraLevel)
            return true;
        if (level < paraLevel)
            return false;  // the list's owner goes on here
        if (tag == kTagListHeader && level == paraLevel)
            return false;  // the next list of the owner (a damaged last flag)
        // A record this reader does not know, or one that other writers put
        // where Hangul puts none: passed over with what it holds.
        Log().Write(u"ReadParaFromArchive() : record %d passed over", static_cast<int>(tag));
        PassOver(ar);
    }
}

void CHwpDocumentManager::PassOver(CH2sDataBlock& ar)
{
    const unsigned tag = ar.PeekTag();
    // A paragraph belongs to a list; where none is read its text would be
    // lost: a record at a level its place does not have.
    if (!ar.atEnd() && (tag == kTagParaHeader || tag == kTagParaText)) {
        Log().Write(u"PassOver() : paragraph record %d at level %d passed over", static_cast<int>(tag),
                    static_cast<int>(ar.level()));
        plat::NoteDamage("레코드 단계가 맞지 않음");
    }
    ar.SkipRecord();
}

bool CHwpDocumentManager::ListGoesOn(CH2sDataBlock& ar, unsigned paraLevel)
{
    const unsigned tag = ar.PeekTag();
    return GetLibraryError() == 0 && !ar.atEnd() && tag == kTagParaHeader && ar.level() == paraLevel;
}

bool CHwpDocumentManager::ReadFreeList(CH2sDataBlock& ar, unsigned paraLevel)
{
    const unsigned tag = ar.PeekTag();
    if (GetLibraryError() != 0 || ar.atEnd() || tag != kTagListHeader || ar.level() != paraLevel + 1)
        return false;
    Log().Write(u"ReadParaFromArchive() : list without a control");
    ListSerialize(ar);
    return true;
}

void CHwpDocumentManager::SkipParagraphRest(CH2sDataBlock& ar, unsigned paraLevel)
{
    for (;;) {
        ar.PeekTag();
        if (GetLibraryError() != 0 || ar.atEnd() || ar.level() <= paraLevel)
            return;
        // The records of controls this reader does not read.
        if (!ReadFreeList(ar, paraLevel))
            PassOver(ar);
    }
}

void CHwpDocumentManager::ReadParaFromArchive(CH2sDataBlock& ar, bool* last, unsigned paraLevel, bool marked)
{
    Log().Write(u"ReadParaFromArchive() Start.");
    if (!SkipToParagraph(ar, paraLevel)) {
        // The list ends without another paragraph. After one marked last
        // (a writer that marks a cell's first paragraph so) its records
        // decide where it ends; a list with none marked is left open.
        if (!marked) {
            Log().Write(u"ReadParaFromArchive() : list without its last paragraph");
            plat::NoteDamage("구조가 끝나지 않음");
        }
        *last = true;
        return;
    }
    const unsigned opened = ar.NextRecord(kTagParaHeader);
    std::uint32_t nChars = ar.ReadDword();
    ar.ReadDword();  // control mask
    ar.ReadWord();   // paragraph shape
    ar.ReadByte();   // style
    ar.ReadByte();   // division kind
    ar.ReadWord();   // character shapes
    const std::uint16_t rangeTags = ar.ReadWord();
    const std::uint16_t lineSegs = ar.ReadWord();
    ar.ReadDword();  // instance id
    if (nChars & 0x80000000u) {
        *last = true;
        nChars &= 0x7FFFFFFFu;
    }
    ar.EndRecord();
    if (!opened) {
        // Only without the throw flag: no paragraph is there to read.
        *last = true;
        return;
    }
    Log().Write(u"ReadParaFromArchive() : text lenght [%d]%s", static_cast<int>(nChars), *last ? u" [LAST]" : u"");

    // The paragraph buffer; what the text record does not hold reads as zeros.
    std::uint32_t count = std::min(nChars, kMaxParagraphChars);
    const bool cut = nChars > kMaxParagraphChars;
    std::vector<char16_t> text;
    if (count < 2) {
        text.assign(2, 0);
        text[0] = 13;
        GetTextCollector()->GetBuffer(1)[0] = 0;
        count = nChars < 2 ? nChars : count;
        // A paragraph of its end alone has no text record: one here holds
        // text that the count leaves out.
        if (ar.PeekTag() == kTagParaText && !ar.atEnd() && ar.level() > paraLevel) {
            Log().Write(u"ReadParaFromArchive() : text record of a paragraph counting %d", static_cast<int>(nChars));
            plat::NoteDamage("글자 수가 맞지 않음");
        }
    } else {
        Log().Write(u"SerializeTextBuf()");
        ar.NextRecord(kTagParaText);
        // Characters beyond the record's body are zeros: no need to hold them.
        const std::int64_t inBody = ar.Remaining() / 2;
        // The text record holds the count's code units, no more and no fewer.
        if (ar.size() != std::uint64_t(nChars) * 2 && !(cut && inBody > count)) {
            Log().Write(u"ReadParaFromArchive() : %d characters counted, the text record holds %d",
                        static_cast<int>(nChars), static_cast<int>(ar.size() / 2));
            plat::NoteDamage("글자 수가 맞지 않음");
        }
        // A paragraph longer than the buffer whose record really holds more:
        // its end is not read.
        if (cut && inBody > count) {
            Log().Write(u"ReadParaFromArchive() : paragraph cut at %d", static_cast<int>(count));
            plat::NoteDamage("한도에 이르러 건너뜀");
            m_bPartial = true;
        }
        count = static_cast<std::uint32_t>(std::min<std::int64_t>(count, inBody));
        count = SerializeTextBuf(ar, count, text);
        ar.EndRecord();
    }

    if (ar.PeekTag() == kTagParaCharShape) {
        Log().Write(u"SerializeCharShapeBuf()");
        ar.SkipRecord();
    }
    if (lineSegs != 0 && ar.PeekTag() == kTagParaLineSeg) {
        Log().Write(u"SerializeLineSegBuf()");
        ar.SkipRecord();
    }
    if (rangeTags != 0 && ar.PeekTag() == kTagParaRangeTag) {
        Log().Write(u"SerializeRangeTagBuf()");
        ar.SkipRecord();
    }
    SerializeCtrlBuf(ar, count, text.data(), paraLevel);
    SkipParagraphRest(ar, paraLevel);
    Log().Write(u"ReadParaFromArchive() End.");
    GetTextCollector()->CommitHwpText(0, static_cast<int>(count));
}

std::uint32_t CHwpDocumentManager::SerializeTextBuf(CH2sDataBlock& ar, std::uint32_t nChars,
                                                   std::vector<char16_t>& text)
{
    // Read in pieces, so that the buffer grows with the data really there
    // (a compressed stream's record may claim far more than it holds).
    constexpr std::uint32_t kPiece = 1u << 20;
    std::vector<unsigned char> raw;
    text.clear();
    std::uint32_t got = 0;
    while (got < nChars) {
        const std::uint32_t want = std::min(kPiece, nChars - got);
        raw.resize(static_cast<size_t>(want) * 2);
        const int n = ar.Read(raw.data(), static_cast<int>(raw.size()));
        const std::uint32_t units = n > 0 ? static_cast<std::uint32_t>(n) / 2 : 0;
        text.resize(static_cast<size_t>(got) + units);
        for (std::uint32_t i = 0; i < units; ++i)
            text[got + i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        got += units;
        if (units < want) {
            // The data ends inside the text record: the paragraph's end is lost.
            Log().Write(u"SerializeTextBuf() : text cut at %d", static_cast<int>(got));
            m_bPartial = true;
            break;
        }
    }
    // Two zeros past the count: the control walk reads a control's id there.
    text.resize(static_cast<size_t>(got) + 2, 0);
    char16_t* out = GetTextCollector()->GetBuffer(static_cast<int>(got) + 1);
    std::memcpy(out, text.data(), static_cast<size_t>(got) * sizeof(char16_t));
    out[got] = 0;
    return got;
}

void CHwpDocumentManager::ListSerialize(CH2sDataBlock& ar)
{
    EnterNesting();
    NestingGuard guard(m_nDepth);
    Log().Write(u"ListSerialize()");
    // The list header alone: the paragraphs after it may sit at its level
    // (as Hangul writes them) or one deeper (as other writers do).
    int listLevel = -1;
    if (ar.PeekTag() == kTagListHeader) {
        listLevel = static_cast<int>(ar.level());
        ar.NextRecord(kTagListHeader);
        ar.EndRecord();
    }
    unsigned paraLevel = listLevel < 0 ? 0 : static_cast<unsigned>(listLevel);
    for (;;) {
        const unsigned tag = ar.PeekTag();
        if (GetLibraryError() != 0 || ar.atEnd())
            break;
        const int level = static_cast<int>(ar.level());
        if (tag == kTagParaHeader) {
            if (level >= listLevel)
                paraLevel = static_cast<unsigned>(level);
            break;
        }
        if (level <= listLevel)
            break;  // no paragraph: the list ends without its last one (noted there)
        PassOver(ar);  // not understood
    }
    CHwpTextConvertItem::PushBuffer();
    bool last = false, marked = false;
    // A paragraph of the same list after the one marked last (other writers
    // mark a cell's first paragraph so): the list ends where its records do.
    while (!last || ListGoesOn(ar, paraLevel)) {
        last = false;
        ReadParaFromArchive(ar, &last, paraLevel, marked);
        marked |= last;
    }
    CHwpTextConvertItem::PopBuffer();
}

void CHwpDocumentManager::SkipControlData(CH2sDataBlock& ar)
{
    if (ar.PeekTag() == kTagCtrlData)
        ar.SkipRecord();
}

void CHwpDocumentManager::SerializeNoteLike(CH2sDataBlock& ar, const char16_t* name)
{
    ar.NextRecord(kTagCtrlHeader);
    Log().Write(name, u" [HEADER]");
    ar.EndRecord();
    Log().Write(name, u"");
    SkipControlData(ar);
    ListSerialize(ar);
}

void CHwpDocumentManager::SerializeCtrlBuf(CH2sDataBlock& ar, std::uint32_t n, const char16_t* buffer,
                                           unsigned paraLevel)
{
    Log().Write(u"SerializeCtrlBuf()");
    std::uint32_t pos = 0;
    while (pos < n) {
        const char16_t c = buffer[pos];
        if (c >= 32 || !((kEightUnitControls >> c) & 1u)) {
            ++pos;
            continue;
        }
        // Eight units: the code, its id and data, the code again.
        if (n - pos < 8) {
            Log().Write(u"SerializeCtrlBuf() : control %d runs past the text", static_cast<int>(c));
            plat::NoteDamage("제어 문자가 문단을 넘음");
        } else if (buffer[pos + 7] != c) {
            Log().Write(u"SerializeCtrlBuf() : control %d not closed", static_cast<int>(c));
            plat::NoteDamage("제어 문자가 맞지 않음");
        }
        if ((kExtendedControls >> c) & 1u) {
            // The control's header, past records not understood; a paragraph
            // whose records end first has no more controls to read.
            bool found = false;
            for (;;) {
                const unsigned tag = ar.PeekTag();
                if (GetLibraryError() != 0 || ar.atEnd() || ar.level() <= paraLevel)
                    break;
                if (tag == kTagCtrlHeader) {
                    found = true;
                    break;
                }
                if (!ReadFreeList(ar, paraLevel))
                    PassOver(ar);
            }
            if (!found) {
                // The control's own records are missing.
                plat::NoteDamage("참조된 레코드 없음");
                return;
            }
            // The buffer holds two zeros past the count, so these reads stay inside.
            const std::uint32_t id = std::uint32_t(buffer[pos + 1]) | (std::uint32_t(buffer[pos + 2]) << 16);
            bool caption = false;
            switch (id) {
            case Id("$cht"):
            case Id("$tat"):
            case Id("eqed"):
                ar.NextRecord(kTagCtrlHeader);
                SerializeObjectCommon(ar, true, &caption);
                ar.EndRecord();
                SerializeObjectCommon(ar, false, &caption);
                PassOver(ar);
                break;
            case Id("%%me"):
                ++m_nMemoCount;
                ar.SkipRecord();
                break;
            case Id("fn  "):
            case Id("en  "):
                SerializeNoteLike(ar, u"SerializeFootnote()%s");
                break;
            case Id("head"):
            case Id("foot"):
                SerializeNoteLike(ar, u"SerializeHeader()%s");
                break;
            case Id("tcmt"):
                SerializeNoteLike(ar, u"SerializeComment()%s");
                break;
            case Id("gso "):
                ar.NextRecord(kTagCtrlHeader);
                Log().Write(u"SerializeGenShapeObject()%s", u" [HEADER]");
                SerializeObjectCommon(ar, true, &caption);
                ar.EndRecord();
                SerializeObjectCommon(ar, false, &caption);
                SerializeGenShapeObject(ar);
                break;
            case Id("secd"): {
                ar.NextRecord(kTagCtrlHeader);
                Log().Write(u"SerializeSecDef()%s", u" [HEADER]");
                ar.ReadDword();  // control id
                const std::uint32_t attributes = ar.ReadDword();
                ar.EndRecord();
                SerializeSecDef(ar, attributes);
                break;
            }
            case Id("tbl "):
                ar.NextRecord(kTagCtrlHeader);
                SerializeTable(ar, true, &caption);
                ar.EndRecord();
                SerializeTable(ar, false, &caption);
                break;
            case Id("tdut"):
                ar.NextRecord(kTagCtrlHeader);
                SerializeDutmal(ar);
                ar.EndRecord();
                Log().Write(u"SerializeDutmal()%s", u"");
                SkipControlData(ar);
                break;
            default:
                ar.SkipRecord();  // a control not read: its header and records
                break;
            }
        }
        pos += 8;
    }
}

void CHwpDocumentManager::SerializeObjectCommon(CH2sDataBlock& ar, bool header, bool* caption)
{
    if (header) {
        ar.ReadDword();  // control id
        const std::uint32_t attributes = ar.ReadDword();
        ar.Skip(5 * 4 + 4 * 2 + 4 + 4);  // offsets, size, z-order, margins, instance id, page break
        *caption = (attributes & (1u << 29)) != 0;
        return;
    }
    SkipControlData(ar);
    if (*caption)
        ListSerialize(ar);
}

void CHwpDocumentManager::SerializeSecDef(CH2sDataBlock& ar, std::uint32_t attributes)
{
    Log().Write(u"SerializeSecDef()%s", u"");
    static constexpr unsigned kTags[] = {kTagCtrlData,      kTagPageDef,        kTagFootnoteShape, kTagFootnoteShape,
                                         kTagPageBorderFill, kTagPageBorderFill, kTagPageBorderFill};
    for (unsigned tag : kTags) {
        if (ar.PeekTag() == tag)
            ar.SkipRecord();
    }
    for (int bit = 29; bit <= 31; ++bit) {
        if (attributes & (1u << bit))
            ListSerialize(ar);
    }
}

void CHwpDocumentManager::SerializeTable(CH2sDataBlock& ar, bool header, bool* caption)
{
    if (header) {
        Log().Write(u"SerializeTable()%s", u" [HEADER]");
        SerializeObjectCommon(ar, true, caption);
        return;
    }
    Log().Write(u"SerializeTable()%s", u"");
    SerializeObjectCommon(ar, false, caption);
    ar.NextRecord(kTagTable);
    ar.ReadDword();  // attributes
    const std::uint16_t rows = ar.ReadWord();
    ar.ReadWord();  // columns
    ar.ReadWord();  // cell spacing
    ar.Skip(4 * 2);
    std::vector<std::uint16_t> cells;
    // Row sizes beyond the record's body would read as 0 anyway.
    const std::uint32_t rowsInBody = static_cast<std::uint32_t>(std::min<std::int64_t>(rows, ar.Remaining() / 2));
    if (rowsInBody < rows)
        plat::NoteDamage("길이가 데이터를 넘음");
    cells.reserve(rowsInBody);
    for (std::uint32_t r = 0; r < rowsInBody; ++r)
        cells.push_back(ar.ReadWord());
    ar.ReadWord();  // border fill
    ar.EndRecord();
    for (std::uint16_t n : cells) {
        for (std::uint16_t c = 0; c < n; ++c)
            ListSerialize(ar);
    }
}

void CHwpDocumentManager::CommitPiece(const char16_t* text, std::uint32_t length)
{
    if (length == 0)
        return;
    char16_t* out = GetTextCollector()->GetBuffer(static_cast<int>(length) + 1);
    std::memcpy(out, text, static_cast<size_t>(length) * sizeof(char16_t));
    out[length] = 0;
    GetTextCollector()->CommitHwpText(0, static_cast<int>(length));
}

void CHwpDocumentManager::SerializeDutmal(CH2sDataBlock& ar)
{
    Log().Write(u"SerializeDutmal()%s", u" [HEADER]");
    ar.ReadDword();  // control id
    auto readText = [&ar]() {
        const std::uint16_t length = ar.ReadWord();
        const std::uint32_t inBody = static_cast<std::uint32_t>(std::min<std::int64_t>(length, ar.Remaining() / 2));
        if (inBody < length)
            plat::NoteDamage("길이가 데이터를 넘음");
        std::u16string s;
        s.reserve(inBody);
        for (std::uint32_t i = 0; i < inBody; ++i)
            s.push_back(static_cast<char16_t>(ar.ReadWord()));
        ar.Skip(2 * (length - static_cast<int>(inBody)));
        return s;
    };
    const std::u16string main = readText();
    const std::u16string sub = readText();
    ar.Skip(5 * 4);
    CHwpTextConvertItem::PushBuffer();
    CommitPiece(main.data(), static_cast<std::uint32_t>(main.size()));
    CommitPiece(sub.data(), static_cast<std::uint32_t>(sub.size()));
    CHwpTextConvertItem::PopBuffer();
}

void CHwpDocumentManager::SerializeRenderInfo(CH2sDataBlock& ar, std::uint16_t localVersion)
{
    Log().Write(u"SerializeRenderInfo()");
    const std::uint16_t count = ar.ReadWord();
    if (count == 0) {
        SetLibraryError(kLibErrorUnexpectedRecord);
        RaiseLibraryError();
        return;
    }
    if (localVersion == 0)
        ar.ReadWord();
    double m[9];
    ar.ReadTransform(m);
    if (localVersion == 0)
        ar.ReadTransform(m);
    // A scale and a rotation matrix per entry.
    for (std::uint32_t i = 0; i < count; ++i) {
        if (ar.Remaining() <= 0) {
            plat::NoteDamage("길이가 데이터를 넘음");
            break;
        }
        ar.ReadTransform(m);
        ar.ReadTransform(m);
    }
}

std::uint32_t CHwpDocumentManager::SerializeShapeComponent(CH2sDataBlock& ar, std::uint16_t* localVersion)
{
    Log().Write(u"SerializeShapeComponent()%s", u" [HEADER]");
    ar.ReadDword();  // control id
    ar.Skip(2 * 4);  // offsets
    ar.ReadWord();   // group level
    *localVersion = ar.ReadWord();
    ar.Skip(4 * 4);  // sizes at creation and now
    const std::uint32_t attributes = ar.ReadDword();
    ar.Skip(*localVersion != 0 ? 2 : 4);  // rotation angle
    ar.Skip(2 * 4);                       // rotation centre
    SerializeRenderInfo(ar, *localVersion);
    return attributes;
}

void CHwpDocumentManager::SerializeDrawingObject(CH2sDataBlock& ar)
{
    Log().Write(u"SerializeDrawingObject()%s", u" [HEADER]");
    const std::uint32_t componentLevel = ar.currentLevel();
    std::uint16_t localVersion = 0;
    const std::uint32_t attributes = SerializeShapeComponent(ar, &localVersion);
    const bool textFlag = (attributes & (1u << 24)) != 0;
    ar.Skip(3 * 4 + 1);  // line colour, thickness, attributes, outline style
    ar.EndRecord();
    Log().Write(u"SerializeDrawingObject()%s", u"");
    Log().Write(u"SerializeShapeComponent()%s", u"");
    SkipControlData(ar);
    // The text box: Hangul marks it with bit 24; other writers leave the bit
    // clear but put the list header under the component all the same.
    if (ar.PeekTag() == kTagListHeader && GetLibraryError() == 0 && !ar.atEnd() &&
        (textFlag || ar.level() == componentLevel + 1))
        ListSerialize(ar);
    PassOver(ar);
}

void CHwpDocumentManager::SerializeShapeCompContainer(CH2sDataBlock& ar)
{
    EnterNesting();
    NestingGuard guard(m_nDepth);
    Log().Write(u"SerializeShapeCompContainer()%s", u" [HEADER]");
    // The container's component: the common fields, then its children's ids.
    std::uint16_t localVersion = 0;
    SerializeShapeComponent(ar, &localVersion);
    const std::uint16_t children = ar.ReadWord();
    if (localVersion == 0)
        ar.ReadWord();
    const std::uint32_t inBody = static_cast<std::uint32_t>(std::min<std::int64_t>(children, ar.Remaining() / 4));
    if (inBody < children)
        plat::NoteDamage("길이가 데이터를 넘음");
    std::vector<std::uint32_t> ids;
    ids.reserve(inBody);
    for (std::uint32_t i = 0; i < inBody; ++i)
        ids.push_back(ar.ReadDword());
    ar.EndRecord();
    Log().Write(u"SerializeShapeCompContainer()%s", u"");
    Log().Write(u"SerializeShapeComponent()%s", u"");
    SkipControlData(ar);
    for (std::uint32_t id : ids)
        SerializeShapeCompContainer_Chile(ar, id);
}

void CHwpDocumentManager::SerializeShapeCompContainer_Chile(CH2sDataBlock& ar, std::uint32_t childId)
{
    Log().Write(u"SerializeShapeCompContainer_Chile() : ctrl = %x", childId);
    ar.NextRecord(kTagShapeComponent);
    if (IsDrawingObject(childId)) {
        SerializeDrawingObject(ar);
    } else if (childId == Id("$con")) {
        SerializeShapeCompContainer(ar);
    } else {
        ar.EndRecord();
        PassOver(ar);
    }
}

void CHwpDocumentManager::SerializeGenShapeObject(CH2sDataBlock& ar)
{
    Log().Write(u"SerializeGenShapeObject()%s", u"");
    ar.NextRecord(kTagShapeComponent);
    // The outermost object's component starts with its control id once
    // more: the kind. The component readers go on from the second id.
    const std::uint32_t kind = ar.ReadDword();
    if (IsDrawingObject(kind)) {
        SerializeDrawingObject(ar);
    } else if (kind == Id("$con")) {
        SerializeShapeCompContainer(ar);
    } else {
        ar.EndRecord();
        SkipControlData(ar);
        PassOver(ar);
    }
}

void CHwpDocumentManager::SerializeMemoListBody(CH2sDataBlock& ar)
{
    while (m_nMemoCount > 0) {
        ar.NextRecord(kTagMemoList);
        const std::uint32_t v = ar.ReadDword();
        ar.EndRecord();
        // A memo list record of no memo holds no list: the next record is
        // the memo's (every turn takes a record, so the data's end ends it).
        if (v == 0)
            continue;
        Log().Write(u"SerializeMemoListBody()");
        ListSerialize(ar);
        --m_nMemoCount;
    }
}
