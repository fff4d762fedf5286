#include "office/powerpoint/pptaccess.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "extract/liblog.h"
#include "extract/textcollector.h"
#include "platform/docfile.h"

namespace {

constexpr int kMaxDepth = 64;              // nesting of containers followed
constexpr std::size_t kMaxEdits = 65536;   // user edits followed in one chain
constexpr std::size_t kMaxTexts = 65536;   // outline texts of one entry

std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// UTF-16LE bytes up to the first zero character.
std::u16string Utf16Text(const std::uint8_t* bytes, std::size_t n)
{
    std::u16string text;
    text.reserve(n / 2);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        char16_t c = char16_t(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}

bool ReadWholeStream(plat::CfbStream* stream, std::string& out)
{
    out.clear();
    if (!stream || !SeekStreamTo(stream, 0))
        return false;
    char chunk[65536];
    for (;;) {
        std::uint32_t got = 0;
        if (!ReadStreamBytes(stream, chunk, sizeof chunk, &got))
            return false;
        if (got == 0)
            return true;
        out.append(chunk, got);
    }
}

const char16_t* const kFormControls[] = {
    u"Forms.CommandButton.1", u"Forms.CheckBox.1", u"Forms.OptionButton.1", u"Forms.TextBox.1",
    u"Forms.ListBox.1",       u"Forms.ComboBox.1", u"Forms.ToggleButton.1",
};

}  // namespace

// ---- Slide entries ---------------------------------------------------------

CSlideEntry::~CSlideEntry()
{
    for (CPowerPointDrawAccess* d : drawings)
        delete d;
}

std::uint32_t CSlideEntry::PersistIdRef() const { return Le32(persistAtom); }
std::int32_t CSlideEntry::NumberTexts() const { return std::int32_t(Le32(persistAtom + 8)); }
std::uint32_t CSlideEntry::SlideId() const { return Le32(persistAtom + 12); }
std::uint32_t CSlideEntry::MasterIdRef() const { return Le32(slideAtom + 12); }
std::uint32_t CSlideEntry::NotesIdRef() const { return Le32(slideAtom + 16); }

// ---- Persist directory -----------------------------------------------------

bool CPersistDirectory::AddEntries(std::uint32_t wordCount, const std::uint8_t* body, std::uint64_t streamSize)
{
    ++m_nodes;
    bool sound = true;
    std::uint32_t i = 0;
    while (i < wordCount) {
        const std::uint32_t head = Le32(body + 4 * std::size_t(i++));
        const std::uint32_t first = head & 0xFFFFF;
        const std::uint32_t count = head >> 20;
        if (count > wordCount - i)
            sound = false;  // the run claims more offsets than the atom holds
        for (std::uint32_t k = 0; k < count && i < wordCount; ++k, ++i) {
            const std::uint32_t offset = Le32(body + 4 * std::size_t(i));
            if (offset >= streamSize)
                sound = false;
            // Nodes come newest first: an id already known keeps its offset.
            m_offsets.emplace(first + k, offset);
        }
    }
    return sound;
}

std::int64_t CPersistDirectory::Lookup(std::uint32_t persistId) const
{
    auto it = m_offsets.find(persistId);
    return it == m_offsets.end() ? -1 : std::int64_t(it->second);
}

// ---- Reader ----------------------------------------------------------------

CPowerPointAccess::CPowerPointAccess(CTextCollector* collector, const char16_t* path)
    : CStorageAccess(), m_pCollector(collector)
{
    if (path)
        OpenStorage(path);
}

CPowerPointAccess::~CPowerPointAccess()
{
    for (auto* list : {&m_slides, &m_masters, &m_notes, &m_unlisted})
        for (CSlideEntry* e : *list)
            delete e;
    if (m_pPictures)
        m_pPictures->Release();
    if (mainStream_) {
        ReleaseStream();
        mainStream_->Release();
        mainStream_ = nullptr;
    }
}

plat::CfbStream* CPowerPointAccess::GetMainStream()
{
    if (!mainStream_) {
        if (currentStream())
            ReleaseStream();
        plat::CfbStream* s = nullptr;
        if (!OpenStream(u"PowerPoint Document", kH2sStreamMode, &s) || !s) {
            if (s)
                s->Release();
            return nullptr;
        }
        mainStream_ = s;
    }
    return CStorageAccess::GetMainStream();
}

bool CPowerPointAccess::LoadDocument()
{
    if (m_docLoaded)
        return true;
    plat::CfbStream* s = GetMainStream();
    if (!s || !ReadWholeStream(s, m_doc))
        return false;
    m_docLoaded = true;
    m_pos = 0;
    return true;
}

bool CPowerPointAccess::ReadBytes(void* out, std::size_t n)
{
    if (m_pos > m_doc.size() || n > m_doc.size() - m_pos)
        return false;
    std::memcpy(out, m_doc.data() + m_pos, n);
    m_pos += n;
    return true;
}

bool CPowerPointAccess::ReadHeader(PptRecordHeader& h)
{
    std::uint8_t b[8];
    if (!ReadBytes(b, 8))
        return false;
    h = officeart::DecodeHeader(b);
    return true;
}

bool CPowerPointAccess::SeekTo(std::int64_t offset)
{
    if (offset < 0 || std::uint64_t(offset) > m_doc.size())
        return false;
    m_pos = std::size_t(offset);
    return true;
}

std::u16string CPowerPointAccess::BytesToText(const std::uint8_t* bytes, std::size_t n) const
{
    // A byte text holds the low bytes of characters U+0000 to U+00FF (the
    // document keeps any other text as UTF-16).
    std::u16string text;
    text.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = bytes[i];
        if (c == 0)
            break;  // a byte text ends at its first zero
        text.push_back(c == 0x0B ? u'\n' : c == 0xA0 ? u' ' : char16_t(c));
    }
    return text;
}

int CPowerPointAccess::Convert(const char16_t* path)
{
    if (!path || !OpenStorage(path))
        return 0;
    IsCurrentUserValid();
    return ReadPresentation();
}

int CPowerPointAccess::IsCurrentUserValid()
{
    // A "Current User" stream that cannot be read leaves the offset of the
    // current edit 0; BuildPersistDirectory finds no edit there, notes the
    // damage and looks for the newest edit in the document stream.
    ConvertLog().Write(u"OpenStream() : %s", u"Current User");
    if (currentStream())
        ReleaseStream();
    if (!OpenStream(u"Current User", kH2sStreamMode))
        return 0;
    std::uint8_t header[8];
    std::uint32_t got = 0;
    if (ReadStream(8, header, &got) == 1 && got == 8) {
        std::uint8_t atom[20];
        got = 0;
        if (ReadStream(20, atom, &got) != 1 || got != 20) {
            ReleaseStream();
            return 0;
        }
        std::memcpy(m_currentUser, atom, 20);
    }
    ConvertLog().Write(u"ReleaseStream() : %s", u"Current User");
    const int released = ReleaseStream();
    return released && Le32(m_currentUser) == 20 && Le32(m_currentUser + 4) == 0xE391C05F &&
                   Le16(m_currentUser + 12) <= 255
               ? 1
               : 0;
}

std::int32_t CPowerPointAccess::ResolveAtomValue(const std::uint32_t scheme[8], std::uint32_t value)
{
    if (!(value & 0x08000000))
        return std::int32_t(value);
    const std::uint32_t index = value & 0xFFFFFF;
    return index < 8 ? std::int32_t(scheme[index]) : -1;
}

int CPowerPointAccess::ReadPresentation()
{
    if (!m_pPictures) {
        // The pictures hold no text: a missing "Pictures" stream loses none.
        plat::CfbStream* pictures = nullptr;
        if (OpenStream(u"Pictures", kH2sStreamMode, &pictures) && pictures)
            m_pPictures = pictures;
        else if (pictures)
            pictures->Release();
    }
    m_blipStore.SetPicturesStream(m_pPictures);

    if (BuildPersistDirectory() == -1)
        return 0;  // encrypted
    if (!m_hasUserEdit)
        return 0;  // no edit chain: nothing tells where the document is

    if (SeekTo(m_persist.Lookup(m_userEdit[4])) && m_pos < m_doc.size()) {
        m_nPhase = 0;
        ReadDocument(std::int64_t(m_pos));
    } else {
        plat::NoteDamage("참조된 개체 없음");  // the document container is not there
    }

    // The slide walks cover every container once in a sound file; a budget of
    // a few times the stream keeps overlapping or shared offsets from making
    // the walk quadratic.
    m_walkBudget = 4 * std::uint64_t(m_doc.size()) + (1u << 20);
    m_nSlideNumber = 0;
    m_nPhase = 1;
    std::int64_t offset = 0;
    for (std::size_t n = 1; GetSlideOffset(offset, n); ++n) {
        if (m_walkBudget == 0) {
            ConvertLog().Write(u"ReadPresentation() : slide walks cut at entry %d", int(n));
            plat::NoteDamage("한도에 이르러 건너뜀");
            break;
        }
        ReadSlide(offset);
    }
    return WriteSlidesText();
}

bool CPowerPointAccess::ReadUserEditAtom(std::uint32_t offset, std::uint32_t atom[8])
{
    std::memset(atom, 0, 32);
    if (!LoadDocument() || !SeekTo(offset))
        return false;
    PptRecordHeader h;
    if (!ReadHeader(h))
        return false;
    if (h.length == 28 || h.length == 32) {
        std::uint8_t b[32] = {};
        if (!ReadBytes(b, h.length))
            return false;
        for (int i = 0; i < 8; ++i)
            atom[i] = Le32(b + 4 * i);
    }
    return true;
}

bool CPowerPointAccess::AddDirectory(const std::uint32_t atom[8])
{
    constexpr std::uint16_t kPersistDirectoryAtom = 0x1772;
    PptRecordHeader h;
    const std::size_t start = std::size_t(atom[3]);
    if (!SeekTo(atom[3]) || !ReadHeader(h)) {
        plat::NoteDamage("영속 목록 손상");  // the directory lies past the stream
        return false;
    }
    if (h.type != kPersistDirectoryAtom) {
        // The edit's directory offset leads to another record: the objects
        // of that edit cannot be found.
        plat::NoteDamage("영속 목록 손상");
        return true;
    }
    const std::size_t body = start + 8;
    if (h.length > m_doc.size() - body) {
        plat::NoteDamage("길이가 데이터를 넘음");
        return true;
    }
    if (!m_persist.AddEntries(h.length / 4, reinterpret_cast<const std::uint8_t*>(m_doc.data() + body), m_doc.size()) ||
        h.length % 4 != 0)
        plat::NoteDamage("영속 목록 손상");
    return true;
}

void CPowerPointAccess::AddUnchainedEdits(const std::unordered_set<std::uint32_t>& seen)
{
    std::vector<std::uint32_t> others = FindUserEdits();
    for (auto it = others.rbegin(); it != others.rend(); ++it) {
        if (seen.count(*it))
            continue;
        std::uint32_t atom[8];
        ReadUserEditAtom(*it, atom);
        if (atom[7] == 0)
            AddDirectory(atom);
    }
}

int CPowerPointAccess::BuildPersistDirectory()
{
    if (m_hasUserEdit || !LoadDocument())
        return 0;
    std::uint32_t offset = Le32(m_currentUser + 8);
    if (!IsUserEditAt(offset)) {
        // The "Current User" stream does not lead to an edit (missing,
        // damaged or pointing elsewhere): the newest edit is the last one
        // among the top-level records of the stream.
        ConvertLog().Write(u"BuildPersistDirectory() : no user edit at %u", offset);
        plat::NoteDamage("편집 목록 손상");
        const std::vector<std::uint32_t> edits = FindUserEdits();
        offset = edits.empty() ? 0 : edits.back();
    }
    if (offset == 0)
        return 1;
    std::unordered_set<std::uint32_t> seen;
    while (offset != 0) {
        if (!seen.insert(offset).second || seen.size() > kMaxEdits || !IsUserEditAt(offset)) {
            // A chain that loops, or whose link leads to no edit, hides the
            // edits before that point: their directories are taken from the
            // other edits of the stream, newest (last in the stream) first,
            // behind those of the chain.
            ConvertLog().Write(u"BuildPersistDirectory() : edit chain broken at %u", offset);
            plat::NoteDamage(seen.size() > kMaxEdits ? "한도에 이르러 건너뜀" : "편집 목록 손상");
            AddUnchainedEdits(seen);
            break;
        }
        std::uint32_t atom[8];
        ReadUserEditAtom(offset, atom);
        if (atom[7] != 0)
            return -1;
        if (!m_hasUserEdit) {
            m_hasUserEdit = true;
            std::memcpy(m_userEdit, atom, 32);
        }
        if (!AddDirectory(atom))
            return 0;
        offset = atom[2];
    }
    return 1;
}

bool CPowerPointAccess::IsUserEditAt(std::uint32_t offset)
{
    PptRecordHeader h;
    return offset != 0 && SeekTo(offset) && ReadHeader(h) && h.type == pptrec::kUserEditAtom && (h.length == 28 || h.length == 32);
}

std::vector<std::uint32_t> CPowerPointAccess::FindUserEdits()
{
    std::vector<std::uint32_t> edits;
    officeart::ReaderPolicy topLevel;
    topLevel.maxDepth = 0;
    officeart::RecordReader walk(reinterpret_cast<const std::uint8_t*>(m_doc.data()), m_doc.size(), topLevel);
    officeart::Record r;
    while (walk.Read(r) == officeart::ReadResult::kRecord && r.offset <= 0xFFFFFFFFu) {
        m_pos = std::size_t(r.bodyOffset);
        if (r.header.type == pptrec::kUserEditAtom && (r.header.length == 28 || r.header.length == 32))
            edits.push_back(std::uint32_t(r.offset));
        walk.SkipBody(r);
    }
    return edits;
}

bool CPowerPointAccess::GetSlideOffset(std::int64_t& offset, std::size_t index)
{
    if (index == 0) {
        offset = m_persist.Lookup(m_userEdit[4]);
        return true;
    }
    if (index > m_slideList.size())
        return false;
    offset = m_persist.Lookup(m_slideListIds[index - 1]);
    m_pCurrentEntry = m_slideList[index - 1];
    return true;
}

// ---- Document walk ---------------------------------------------------------

namespace {

// The containers of the document that hold the atoms the document walk
// reads: the slide lists and their texts, the embedded controls and
// hyperlinks with their strings, and the picture store of the drawing group.
bool IsDocumentWalkContainer(std::uint16_t type)
{
    switch (type) {
    case pptrec::kDocument:
    case 0x0409:  // ExObjList
    case pptrec::kExternalOleControl:
    case pptrec::kExternalHyperlink:
    case 0x0FF0:  // SlideListWithText
    case pptrec::kDrawingGroup:
    case officeart::kDggContainer:
    case officeart::kBStoreContainer:
        return true;
    default:
        return false;
    }
}

}  // namespace

CSlideText* CPowerPointAccess::CurrentText()
{
    if (!m_pCurrentEntry || m_nCurrentText < 0)
        return nullptr;
    auto& texts = m_pCurrentEntry->texts;
    const std::size_t index = std::size_t(m_nCurrentText);
    if (index >= texts.size()) {
        if (index >= kMaxTexts)
            return nullptr;
        texts.resize(index + 1);
    }
    return &texts[index];
}

void CPowerPointAccess::ReadDocument(std::int64_t offset)
{
    // A container ends where its length says or where the walk of its
    // children stops (the stream ends inside it, or the document end atom
    // closes the document container); containers nested deeper than the cap
    // are passed over whole.
    officeart::ReaderPolicy policy;
    policy.containerEnd = officeart::ContainerEnd::kByPosition;
    policy.maxDepth = kMaxDepth;
    officeart::RecordReader walk(reinterpret_cast<const std::uint8_t*>(m_doc.data()), m_doc.size(), policy);
    walk.Seek(std::uint64_t(offset));
    officeart::Record r;
    // The document container ends with its end atom, at its end.
    bool first = true;
    do {
        if (walk.Depth() > 0) {
            if (walk.InnermostComplete()) {
                if (walk.Innermost().header.type == pptrec::kDocument) {
                    if (!m_bDocumentEnd)
                        plat::NoteDamage("구조가 끝나지 않음");  // its length ends it before its end atom
                    m_bDocumentEnd = false;
                }
                walk.Close();
                continue;
            }
            if (m_bDocumentEnd && walk.Innermost().header.type == pptrec::kDocument) {
                // Closed by its end atom; later writers keep round-trip
                // records after it, inside the container.
                m_bDocumentEnd = false;
                walk.Close();
                continue;
            }
        }
        if (walk.Read(r) != officeart::ReadResult::kRecord) {
            if (walk.Depth() > 0) {
                plat::NoteDamage("구조가 끝나지 않음");
                walk.Close();  // the stream ends inside the container
            }
            continue;
        }
        if (first && (r.header.type != pptrec::kDocument || !r.header.IsContainer()))
            plat::NoteDamage("참조된 개체 없음");  // the document's persist offset leads elsewhere
        first = false;
        if (r.pastParent)
            plat::NoteDamage("길이가 데이터를 넘음");
        m_pos = std::size_t(r.bodyOffset);
        if (r.header.IsContainer()) {
            // Only the containers that hold what this walk reads are entered;
            // others (round-trip data of later writers among them, whose
            // bodies need not be records) are passed over whole.
            if (IsDocumentWalkContainer(r.header.type) && walk.Open(r))
                continue;
        } else {
            HandleDocumentAtom(r.header, walk.Depth() > 0 ? &walk.Innermost().header : nullptr, std::size_t(r.end));
        }
        walk.SkipBody(r);
    } while (walk.Depth() > 0);
    m_pos = std::size_t(walk.Position());
}

void CPowerPointAccess::HandleDocumentAtom(const PptRecordHeader& h, const PptRecordHeader* parent,
                                           std::size_t end)
{
    const std::size_t available = m_pos <= m_doc.size() ? m_doc.size() - m_pos : 0;
    const std::uint8_t* body = reinterpret_cast<const std::uint8_t*>(m_doc.data()) + std::min(m_pos, m_doc.size());
    // An atom that runs past its container or the stream was noted by the
    // walk (Record::pastParent); what is there of it is read.
    const bool whole = h.length <= available;
    (void)end;
    switch (h.type) {
    case 0x03E9:  // DocumentAtom
        // Atoms of a fixed size: another length misplaces every record
        // after it in the container.
        if (h.length != 40)
            plat::NoteDamage("레코드 길이가 맞지 않음");
        break;
    case pptrec::kEndDocumentAtom:
        if (h.length != 0)
            plat::NoteDamage("레코드 길이가 맞지 않음");
        m_bDocumentEnd = true;
        break;
    case pptrec::kSlidePersistAtom: {
        if (h.length != 20)
            plat::NoteDamage("레코드 길이가 맞지 않음");
        if (h.length < 20 || available < 20) {
            m_pCurrentEntry = nullptr;  // the entry and its slide are lost
            break;
        }
        auto* entry = new CSlideEntry;
        std::memcpy(entry->persistAtom, body, 20);
        m_pCurrentEntry = entry;
        m_nCurrentText = -1;
        entry->slideNumber = (entry->SlideId() & 0x80000000u) ? 0 : ++m_nSlideNumber;
        // The outline texts are added as their header atoms come, so that
        // counts from the file allocate nothing by themselves.
        const int instance = parent ? parent->Instance() : -1;
        if (instance == 0) {
            entry->kind = kPptEntrySlide;
            m_slides.push_back(entry);
        } else if (instance == 1) {
            entry->kind = kPptEntryMaster;
            m_masters.push_back(entry);
        } else if (instance == 2) {
            entry->kind = kPptEntryNotes;
            m_notes.push_back(entry);
        } else {
            m_unlisted.push_back(entry);
            break;
        }
        m_slideListIds.push_back(entry->PersistIdRef());
        m_slideList.push_back(entry);
        break;
    }
    case pptrec::kOutlineTextRefAtom:  // only inside a drawing
        if (h.length != 4)
            plat::NoteDamage("레코드가 필드보다 짧음");
        if (h.length == 4 && available >= 4 && m_pCurrentEntry && m_pCurrentEntry->currentDrawing &&
            m_pCurrentEntry->currentDrawing->currentShape) {
            m_pCurrentEntry->currentDrawing->currentShape->outlineTextIndex = std::int32_t(Le32(body));
            ApplyOutlineText(m_pCurrentEntry->currentDrawing->currentShape);
        }
        break;
    case pptrec::kTextHeaderAtom:
        // Each header atom opens the next outline text of the entry (the
        // atom's instance is always 0 and cannot tell the texts apart).
        if (m_pCurrentEntry) {
            ++m_nCurrentText;
            CSlideText* text = CurrentText();
            if (!text)
                plat::NoteDamage("한도에 이르러 건너뜀");  // more outline texts than kMaxTexts
            if (h.length != 4)
                plat::NoteDamage("레코드가 필드보다 짧음");
            if (text && available >= 4 && h.length >= 4)
                text->type = std::int32_t(Le32(body));
        }
        break;
    case pptrec::kTextCharsAtom:
        if (whole && m_pCurrentEntry) {
            if (CSlideText* text = CurrentText()) {
                text->chars = Utf16Text(body, h.length);
                text->hasChars = true;
            }
        }
        break;
    case pptrec::kTextBytesAtom:
        if (whole && m_pCurrentEntry) {
            if (CSlideText* text = CurrentText()) {
                text->chars = BytesToText(body, h.length);
                text->hasChars = true;
            }
        }
        break;
    case pptrec::kCString: {
        if (!parent || !whole)
            break;
        if (parent->type == pptrec::kExternalOleControl && !m_controls.empty())
            m_controls.back().texts.push_back(Utf16Text(body, h.length));
        else if (parent->type == pptrec::kExternalHyperlink && !m_hyperlinks.empty()) {
            // A link's name and target are kept for the shapes that use it
            // and never written: a longer one loses no text.
            const std::size_t n = std::min<std::size_t>(h.length, 510);
            if (h.Instance() == 0)
                m_hyperlinks.back().friendlyName = Utf16Text(body, n);
            else if (h.Instance() == 1)
                m_hyperlinks.back().target = Utf16Text(body, n);
        }
        break;
    }
    case pptrec::kExternalOleObjectAtom:
        if (available >= 12 && parent && parent->type == pptrec::kExternalOleControl && !m_controls.empty())
            m_controls.back().oleObjectId = Le32(body + 8);
        break;
    case pptrec::kExternalHyperlinkAtom:
        m_hyperlinks.emplace_back();
        if (available >= 4 && h.length >= 4)
            m_hyperlinks.back().id = Le32(body);
        m_hyperlinkIndex.emplace(m_hyperlinks.back().id, m_hyperlinks.size() - 1);
        break;
    case pptrec::kExternalOleControlAtom:
        m_controls.emplace_back();
        if (available >= 4 && h.length >= 4)
            m_controls.back().controlId = Le32(body);
        break;
    case officeart::kBSE:  // picture store entry
        m_blipStore.AddEntry(body, available, h.length);
        break;
    default:
        // Style, sound, font, header-footer and other atoms feed nothing
        // of the text; their bodies are passed over.
        break;
    }
}

// ---- Slide walks -----------------------------------------------------------

void CPowerPointAccess::ReadSlide(std::int64_t offset)
{
    if (!m_pCurrentEntry)
        return;
    if (!SeekTo(offset) || m_pos >= m_doc.size()) {
        // The slide list names a persist object no directory has (or one
        // past the stream): that slide is lost.
        plat::NoteDamage("참조된 개체 없음");
        return;
    }
    if (!m_walkedSlides.insert(offset).second) {
        // Two entries of the slide list never share their container.
        plat::NoteDamage("영속 목록 손상");
        return;
    }
    // A container ends once the lengths of the records read in it add up to
    // its own: a child cut short by damage still counts whole. The slide's
    // own containers nest at most kMaxDepth deep, and so do those of each
    // drawing inside it.
    officeart::ReaderPolicy policy;
    policy.containerEnd = officeart::ContainerEnd::kByClaimedLengths;
    policy.maxDepth = 2 * kMaxDepth;
    officeart::RecordReader walk(reinterpret_cast<const std::uint8_t*>(m_doc.data()), m_doc.size(), policy);
    walk.Seek(std::uint64_t(offset));
    officeart::Record slide;
    constexpr std::uint16_t kSlide = 0x03EE, kNotes = 0x03F0, kMainMaster = 0x03F8;
    if (walk.Read(slide) != officeart::ReadResult::kRecord || !slide.header.IsContainer() ||
        (slide.header.type != kSlide && slide.header.type != kNotes && slide.header.type != kMainMaster)) {
        plat::NoteDamage("참조된 개체 없음");  // the persist offset leads to no slide
        return;
    }
    if (slide.pastParent)
        plat::NoteDamage("길이가 데이터를 넘음");
    walk.Open(slide);
    const std::size_t startPos = std::size_t(walk.Position());
    bool drawingMet = false;
    while (walk.Depth() > 0) {
        while (walk.Depth() > 0 && walk.InnermostComplete())
            walk.Close();
        if (walk.Depth() == 0)
            break;
        officeart::Record r;
        if (walk.Read(r) != officeart::ReadResult::kRecord) {
            plat::NoteDamage("구조가 끝나지 않음");  // the stream ends inside the slide
            break;
        }
        if (r.pastParent)
            plat::NoteDamage("길이가 데이터를 넘음");
        m_pos = std::size_t(r.bodyOffset);
        const PptRecordHeader& h = r.header;
        if (h.IsContainer()) {
            if (!walk.Open(r, kMaxDepth)) {
                walk.SkipBody(r);  // the walk noted the cap
            } else if (h.type == pptrec::kDrawingGroup || h.type == pptrec::kDrawing) {
                const std::size_t drawings = m_pCurrentEntry->drawings.size();
                ParseShapeObject(walk);
                drawingMet = drawingMet || (h.type == pptrec::kDrawing && walk.Depth() >= 2 &&
                                            m_pCurrentEntry->drawings.size() > drawings);
            }
            continue;
        }
        const std::size_t available = m_pos <= m_doc.size() ? m_doc.size() - m_pos : 0;
        const std::uint8_t* body = reinterpret_cast<const std::uint8_t*>(m_doc.data()) + std::min(m_pos, m_doc.size());
        switch (h.type) {
        case pptrec::kColorSchemeAtom:
            // Colours only: a short scheme changes no text.
            if (available >= 32 && m_pCurrentEntry) {
                std::vector<std::uint32_t> scheme(8);
                for (int i = 0; i < 8; ++i)
                    scheme[i] = Le32(body + 4 * i);
                if (h.Instance() == 6) {
                    if (m_pCurrentEntry->kind == kPptEntryMaster && m_mainMasterSchemes.size() < 12)
                        m_mainMasterSchemes.push_back(scheme);
                } else {
                    std::copy(scheme.begin(), scheme.end(), m_pCurrentEntry->colorScheme);
                }
            }
            break;
        case pptrec::kSlideAtom:
            if (h.length < 24 || available < 24)
                plat::NoteDamage("레코드가 필드보다 짧음");  // its master and notes are lost
            if (available >= 24 && m_pCurrentEntry)
                std::memcpy(m_pCurrentEntry->slideAtom, body, 24);
            break;
        default:
            break;
        }
        if (r.end > m_doc.size())
            break;  // the atom runs past the stream (noted above)
        walk.SkipBody(r);
    }
    // Every slide, notes page and master holds its drawing, and the drawing
    // its shapes: one whose length ends it before them lost its shapes.
    if (!drawingMet)
        plat::NoteDamage("구조가 끝나지 않음");
    m_pos = std::size_t(walk.Position());
    const std::size_t covered = m_pos > startPos ? m_pos - startPos : 0;
    m_walkBudget = covered >= m_walkBudget ? 0 : m_walkBudget - covered;
}

int CPowerPointAccess::ParseShapeObject(officeart::RecordReader& walk)
{
    ConvertLog().Write(u"ParseShapeObject() : begin");
    CSlideEntry* entry = m_pCurrentEntry;
    // The drawing container is the walk's innermost; the containers opened
    // here nest at most kMaxDepth - 1 deeper. Each keeps the drawing it was
    // opened in: a group's rectangle is restored there when the group ends.
    const int base = walk.Depth();
    std::vector<CPowerPointDrawAccess*> opened;
    auto groupEnds = [](std::uint16_t type, CPowerPointDrawAccess* drawing) {
        if (type == officeart::kSpgrContainer && drawing && !drawing->groupStack.empty()) {
            drawing->group = drawing->groupStack.back();
            drawing->groupStack.pop_back();
        }
    };
    for (;;) {
        // Whether the innermost container is given up: a malformed atom ends
        // it, and its parent goes on after that atom.
        bool givenUp = false;
        officeart::Record r;
        if (walk.InnermostComplete()) {
            // An empty container, just opened: closed below before a record
            // after it is taken for its child.
        } else if (walk.Read(r) != officeart::ReadResult::kRecord) {
            // The innermost container is not complete: the stream ends
            // inside it.
            plat::NoteDamage("구조가 끝나지 않음");
            givenUp = true;
        } else {
            if (r.pastParent)
                plat::NoteDamage("길이가 데이터를 넘음");
            m_pos = std::size_t(r.bodyOffset);
            const PptRecordHeader& h = r.header;
            if (h.IsContainer()) {
                CPowerPointDrawAccess* drawing = entry ? entry->currentDrawing : nullptr;
                if (h.type == officeart::kDgContainer && entry) {
                    drawing = new CPowerPointDrawAccess;
                    drawing->group = PptGroupData{};
                    entry->drawings.push_back(drawing);
                    entry->currentDrawing = drawing;
                } else if (h.type == officeart::kSpgrContainer && drawing) {
                    drawing->groupStack.push_back(drawing->group);
                } else if (h.type == officeart::kSpContainer && drawing) {
                    drawing->AddShape();
                }
                if (walk.Open(r, base + kMaxDepth - 1)) {
                    ConvertLog().Write(u"ParseShapeObject() : begin");
                    opened.push_back(drawing);
                    continue;
                }
                walk.SkipBody(r);  // the walk noted the cap
                groupEnds(h.type, drawing);
            } else {
                givenUp = !ReadShapeAtom(h, std::size_t(r.end));
                if (givenUp)
                    plat::NoteDamage("레코드가 필드보다 짧음");  // a malformed atom ends its container
                walk.SkipBody(r);
            }
        }
        // Close what is complete or given up, innermost first; the drawing
        // container itself stays open for the slide walk.
        for (;;) {
            if (!givenUp) {
                if (!walk.InnermostComplete())
                    break;
                if (entry && (entry->kind == kPptEntrySlide || entry->kind == kPptEntryMaster) &&
                    entry->currentDrawing && entry->currentDrawing->currentShape &&
                    !entry->currentDrawing->currentShape->properties.empty()) {
                    const CPowerPointShapeObj* shape = entry->currentDrawing->currentShape;
                    const int back = shape->GetProperty(officeart::kPropFillBackColor);
                    const int fill = shape->GetProperty(officeart::kPropFillColor);
                    entry->backColor = back ? back : -1;
                    entry->fillColor = fill ? fill : -1;
                }
                ConvertLog().Write(u"ParseShapeObject() : end");
                if (opened.empty())
                    return 1;
            } else if (opened.empty()) {
                return 0;
            }
            groupEnds(walk.Close().header.type, opened.back());
            opened.pop_back();
            givenUp = false;
        }
    }
}

int CPowerPointAccess::ReadShapeAtom(const PptRecordHeader& h, std::size_t end)
{
    CSlideEntry* entry = m_pCurrentEntry;
    CPowerPointDrawAccess* drawing = entry ? entry->currentDrawing : nullptr;
    CPowerPointShapeObj* shape = drawing ? drawing->currentShape : nullptr;
    const std::size_t available = m_pos <= m_doc.size() ? m_doc.size() - m_pos : 0;
    const std::uint8_t* body = reinterpret_cast<const std::uint8_t*>(m_doc.data()) + std::min(m_pos, m_doc.size());
    const bool whole = h.length <= available;

    auto fixed = [&](std::uint32_t size, const char16_t* what) {
        if (h.length != size || available < size) {
            ConvertLog().Write(u"Fail ReadByteFromStream() : %s", what);
            return false;
        }
        return true;
    };
    switch (h.type) {
    case pptrec::kSlidePersistAtom:
        if (!fixed(20, u"PPT_ID_SlidePersistAtom"))
            return 0;
        if (entry)
            std::memcpy(entry->persistAtom, body, 20);
        break;
    case pptrec::kExObjRefAtom:
        if (!fixed(4, u"PPT_ID_ExObjRefAtom"))
            return 0;
        if (shape) {
            shape->externalObjectId = std::int32_t(Le32(body));
            shape->hasExternalObject = 1;
        }
        break;
    case pptrec::kPlaceholderAtom:
        if (!fixed(8, u"PPT_ID_OEPlaceholderAtom"))
            return 0;
        if (shape)
            std::memcpy(shape->placeholder, body, 8);
        break;
    case pptrec::kOutlineTextRefAtom:
        if (!fixed(4, u"PPT_ID_OutlineTextRefAtom"))
            return 0;
        if (shape) {
            shape->outlineTextIndex = std::int32_t(Le32(body));
            ApplyOutlineText(shape);
        }
        break;
    case pptrec::kTextHeaderAtom:
        if (!fixed(4, u"PPT_ID_TextHeaderAtom"))
            return 0;
        if (shape)
            shape->textType = Le32(body);
        break;
    case pptrec::kTextCharsAtom:
        if (!whole) {
            ConvertLog().Write(u"Fail ReadByteFromStream() : PPT_ID_TextCharsAtom wstr");
            return 0;
        }
        if (shape)
            shape->text = Utf16Text(body, h.length & ~1u);
        break;
    case pptrec::kTextBytesAtom:
        if (!whole) {
            ConvertLog().Write(u"Fail ReadByteFromStream() : PPT_ID_TextBytesAtom pCurText");
            return 0;
        }
        if (shape)
            shape->text += BytesToText(body, h.length);
        break;
    case pptrec::kSlideNumberMCAtom:
    case pptrec::kGenericDateMCAtom:
    case pptrec::kHeaderMCAtom:
    case pptrec::kFooterMCAtom: {
        if (!fixed(4, u"PPT_ID_MCAtom"))
            return 0;
        const int slot = h.type == pptrec::kGenericDateMCAtom ? 0
                         : h.type == pptrec::kFooterMCAtom   ? 1
                         : h.type == pptrec::kSlideNumberMCAtom ? 2
                                                                : 3;
        if (shape)
            shape->metaPositions[slot] = std::int32_t(Le32(body));
        break;
    }
    case pptrec::kInteractiveInfoAtom:
        if (!fixed(16, u"PPT_ID_InteractiveInfoAtom"))
            return 0;
        if (shape) {
            shape->hasInteraction = 1;
            std::memcpy(shape->interaction, body, 16);
            auto it = m_hyperlinkIndex.find(Le32(body + 4));
            if (it != m_hyperlinkIndex.end()) {
                shape->hyperlinkName = m_hyperlinks[it->second].friendlyName;
                shape->hyperlinkTarget = m_hyperlinks[it->second].target;
            }
        }
        break;
    case officeart::kDg:
        if (!fixed(8, u"PPT_ID_ObjectDg"))
            return 0;
        if (drawing) {
            drawing->shapeCount = std::int32_t(Le32(body));
            drawing->lastShapeId = std::int32_t(Le32(body + 4));
        }
        break;
    case officeart::kSpgr:
        if (!fixed(16, u"PPT_ID_ObjectSpgr"))
            return 0;
        if (drawing)
            for (int i = 0; i < 4; ++i)
                drawing->group.rect[i] = std::int32_t(Le32(body + 4 * i));
        break;
    case officeart::kSp:
        if (!fixed(8, u"PPT_ID_ObjectSp"))
            return 0;
        if (shape) {
            shape->shapeType = std::uint32_t(h.Instance());
            shape->shapeId = Le32(body);
            shape->shapeFlags = Le32(body + 4);
            shape->flags = shape->shapeFlags & 0xBFF;
        }
        break;
    case officeart::kOpt:
        if (drawing && shape)
            return ReadProperties(h, end);
        break;
    case officeart::kChildAnchor:
        if (!fixed(16, u"PPT_ID_ObjectChildAnchor rect"))
            return 0;
        break;
    case officeart::kClientAnchor:
        if (!fixed(8, u"PPT_ID_ObjectClientAnchor rect"))
            return 0;
        break;
    default:
        // Style atoms, tags and other records: nothing of them reaches the
        // text; the walk resumes at their end.
        if (end > m_doc.size())
            return 0;
        break;
    }
    SkipTo(end);
    return 1;
}

int CPowerPointAccess::ReadProperties(const PptRecordHeader& h, std::size_t end)
{
    // The property table: count entries of 6 bytes, then the complex data
    // of the complex entries, in table order, each as long as its entry's
    // value says. A table or complex data that runs past the record gives
    // the record up (0); what was read of it is kept.
    CPowerPointShapeObj* shape = m_pCurrentEntry->currentDrawing->currentShape;
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(m_doc.data());
    const std::size_t limit = std::min(end, m_doc.size());
    std::size_t p = m_pos;
    const int count = h.Instance();
    ConvertLog().Write(u"ReadByteFromStream() : PPT_ID_ObjectOPT recInstance=%d", count);
    shape->properties.clear();
    shape->properties.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        if (p > limit || limit - p < officeart::kPropertyEntrySize) {
            ConvertLog().Write(u"Fail ReadByteFromStream() : PPT_ID_ObjectOPT recInstance");
            return 0;
        }
        shape->properties.push_back(officeart::DecodePropertyEntry(data + p));
        p += officeart::kPropertyEntrySize;
    }
    for (const PptPropertyEntry& e : shape->properties) {
        switch (e.Id()) {
        case officeart::kPropBlip:
            shape->pictureId = e.IsBlipId() && !e.IsComplex() ? std::int32_t(e.value) : 0;
            break;
        case officeart::kPropFillBlip:
            shape->fillPictureId = e.IsBlipId() && !e.IsComplex() ? std::int32_t(e.value) : 0;
            break;
        default:
            break;
        }
        if (!e.IsComplex())
            continue;
        if (e.value > limit - p) {
            ConvertLog().Write(u"Fail ReadByteFromStream() : PPT_ID_ObjectOPT complex data");
            return 0;
        }
        const std::uint8_t* at = data + p;
        const std::size_t size = e.value;
        p += size;
        switch (e.Id()) {
        case officeart::kPropShapeName:
            shape->formName = Utf16Text(at, std::min<std::size_t>(size, 520));
            break;
        case officeart::kPropBlipName:
        case officeart::kPropFillBlipName: {
            std::string& name = e.Id() == officeart::kPropBlipName ? shape->pictureName : shape->fillPictureName;
            name.clear();
            for (std::size_t k = 0; k + 1 < size; k += 2)
                name.push_back(char(at[k]));
            break;
        }
        case officeart::kPropVertices: {
            // An array: count, count allocated, element size (0xFFF0: 4
            // bytes, two 16-bit values), then the points; only as many
            // points as its data holds.
            if (size < 6)
                break;
            const std::uint16_t points = Le16(at);
            const std::uint16_t cb = Le16(at + 4);
            const std::size_t element = cb == 0xFFF0 ? 4 : cb;
            if (element < 4)
                break;
            for (std::size_t k = 0; k < points && 6 + (k + 1) * element <= size; ++k) {
                const std::uint8_t* v = at + 6 + k * element;
                const std::size_t half = element / 2;
                shape->vertices.push_back({std::int16_t(Le16(v)), std::int16_t(Le16(v + half))});
            }
            break;
        }
        case officeart::kPropSegmentInfo: {
            if (size < 12)
                break;
            const std::uint32_t kind = Le32(at + 8);
            shape->segmentKind = kind == 0x0001AC00 ? 0 : kind == 0x2001AD00 ? 1 : kind == 0x2001AF00 ? 2 : shape->segmentKind;
            break;
        }
        default:
            break;
        }
    }
    for (int id = officeart::kPropAdjustFirst; id <= officeart::kPropAdjustLast && shape->HasProperty(id); ++id)
        shape->adjustValues.push_back(shape->GetProperty(id));
    if (end > m_doc.size())
        return 0;
    SkipTo(end);
    return 1;
}

void CPowerPointAccess::ApplyOutlineText(CPowerPointShapeObj* shape)
{
    if (!m_pCurrentEntry || shape->outlineTextIndex < 0)
        return;
    const std::size_t index = std::size_t(shape->outlineTextIndex);
    if (index >= m_pCurrentEntry->texts.size()) {
        // The shape names an outline text its slide list entry lacks; the
        // shape keeps its own text.
        plat::NoteDamage("참조된 개체 없음");
        return;
    }
    const CSlideText& text = m_pCurrentEntry->texts[index];
    shape->textType = std::uint32_t(text.type);
    if (text.hasChars)
        shape->text = text.chars;
    shape->paragraphRuns.insert(shape->paragraphRuns.end(), text.paragraphRuns.begin(), text.paragraphRuns.end());
    shape->characterRuns.insert(shape->characterRuns.end(), text.characterRuns.begin(), text.characterRuns.end());
}

// ---- Text output -----------------------------------------------------------

int CPowerPointAccess::WriteSlidesText()
{
    // The first master and notes entry of each slide id.
    std::unordered_map<std::uint32_t, CSlideEntry*> masters, notes;
    for (CSlideEntry* m : m_masters)
        masters.emplace(m->SlideId(), m);
    for (CSlideEntry* n : m_notes)
        notes.emplace(n->SlideId(), n);
    for (CSlideEntry*& slide : m_slides) {
        // A stopped search ends the writing here; the scan reports the stop.
        if (plat::ReadCancelled())
            break;
        // A master or notes page a slide names and the slide lists lack is
        // lost.
        if (slide->MasterIdRef() != 0) {
            auto it = masters.find(slide->MasterIdRef());
            if (it != masters.end()) {
                ResolveAtomValue(it->second->colorScheme, std::uint32_t(it->second->fillColor));
                WriteEntryText(it->second);
            } else {
                plat::NoteDamage("참조된 개체 없음");
            }
        }
        if (slide->NotesIdRef() != 0) {
            auto it = notes.find(slide->NotesIdRef());
            if (it != notes.end())
                WriteEntryText(it->second);
            else
                plat::NoteDamage("참조된 개체 없음");
        }
        WriteEntryText(slide);
        delete slide;
        slide = nullptr;
    }
    m_slides.clear();
    m_slideList.clear();
    m_slideListIds.clear();
    return 1;
}

int CPowerPointAccess::WriteEntryText(CSlideEntry* entry)
{
    // An entry without a drawing has nothing to write.
    if (entry->drawings.empty())
        return 1;
    CPowerPointDrawAccess* drawing = entry->drawings.front();
    for (CPowerPointShapeObj* shape : drawing->shapes) {
        if (!(shape->flags & 1))
            WriteShapeText(shape, entry);
    }
    drawing->ClearShapes();
    return 1;
}

int CPowerPointAccess::WriteShapeText(CPowerPointShapeObj* shape, CSlideEntry* entry)
{
    if (shape->text.empty())
        return 1;
    if (entry->kind == kPptEntryMaster) {
        bool meta = false;
        for (std::int32_t p : shape->metaPositions)
            meta = meta || p > 0;
        if (!meta && !(shape->textType == 4 && shape->text == u"*"))
            return 1;
    }
    if (shape->shapeType == 75)
        return 1;
    if (shape->shapeType == 201) {
        const int id = shape->GetProperty(officeart::kPropPictureId);
        if (id <= 0 || !IsFormControl(std::uint32_t(id)))
            return 1;
    }
    BuildShapeText(shape);
    return 1;
}

void CPowerPointAccess::BuildShapeText(const CPowerPointShapeObj* shape)
{
    AppendTextToCollector(m_pCollector, shape->text.c_str(), -1, u"\n");
}

int CPowerPointAccess::IsFormControl(std::uint32_t oleObjectId) const
{
    if (m_controlsIndexed != m_controls.size()) {
        m_controlFirst.clear();
        for (std::size_t i = 0; i < m_controls.size(); ++i)
            m_controlFirst.emplace(m_controls[i].oleObjectId, i);
        m_controlsIndexed = m_controls.size();
    }
    auto it = m_controlFirst.find(oleObjectId);
    if (it == m_controlFirst.end())
        return 0;
    const PptEmbeddedControl& c = m_controls[it->second];
    if (c.texts.size() < 2)
        return 0;
    for (const char16_t* name : kFormControls)
        if (c.texts[1] == name)
            return 1;
    return 0;
}
