// CPowerPointAccess reads a PowerPoint 97-2003 presentation (a compound file
// with a "PowerPoint Document" stream) and hands the text of its slides,
// notes and masters to a text collector.
//
// The reading has three steps: the chain of user edits gives the persist
// directory (persist id -> stream offset); the walk of the document container
// collects the slide list and the outline texts; one walk per slide collects
// its drawings and shapes; finally the shape texts are written, slide by slide
// (master when first met, notes, slide).
//
//   CTextCollector collector;  collector.SetOutput(&text);
//   CPowerPointAccess reader(&collector);
//   int ok = reader.Convert(path);   // 1 walked, 0 not readable or encrypted
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "extract/io/h2s_storage.h"
#include "office/drawing/drawingrecords.h"
#include "office/drawing/recordreader.h"
#include "office/powerpoint/pptdrawing.h"

class CTextCollector;

// The 8-byte header of every record of the document stream: the same header
// as the drawing records it holds, read by the same walk
// (office/drawing/recordreader.h).
using PptRecordHeader = officeart::RecordHeader;

// Record types of the document stream the reader looks at.
namespace pptrec {
enum RecordType : std::uint16_t {
    kDocument = 0x03E8,
    kEndDocumentAtom = 0x03EA,
    kSlideAtom = 0x03EF,
    kSlidePersistAtom = 0x03F3,
    kDrawingGroup = 0x040B,      // holds the document's drawing group
    kDrawing = 0x040C,           // holds a slide's drawing
    kColorSchemeAtom = 0x07F0,
    kExObjRefAtom = 0x0BC1,
    kPlaceholderAtom = 0x0BC3,
    kOutlineTextRefAtom = 0x0F9E,
    kTextHeaderAtom = 0x0F9F,
    kTextCharsAtom = 0x0FA0,
    kTextBytesAtom = 0x0FA8,
    kCString = 0x0FBA,
    kExternalOleObjectAtom = 0x0FC3,
    kExternalHyperlinkAtom = 0x0FD3,
    kExternalHyperlink = 0x0FD7,
    kSlideNumberMCAtom = 0x0FD8,
    kExternalOleControl = 0x0FEE,
    kInteractiveInfoAtom = 0x0FF3,
    kUserEditAtom = 0x0FF5,
    kGenericDateMCAtom = 0x0FF8,
    kHeaderMCAtom = 0x0FF9,
    kFooterMCAtom = 0x0FFA,
    kExternalOleControlAtom = 0x0FFB,
    kNotADirectory = 0x00FF,     // a record of this type at a directory offset is passed over
};
}  // namespace pptrec

// One outline text of a slide list.
struct CSlideText {
    std::int32_t type = -1;
    bool hasChars = false;
    std::u16string chars;
    std::vector<PptTextRun> paragraphRuns;
    std::vector<PptTextRun> characterRuns;
};

constexpr std::int32_t kPptEntrySlide = 1006;
constexpr std::int32_t kPptEntryMaster = 1016;
constexpr std::int32_t kPptEntryNotes = 1008;

// One slide, master or notes page (one SlidePersistAtom of the document).
struct CSlideEntry {
    CSlideEntry() = default;
    ~CSlideEntry();
    CSlideEntry(const CSlideEntry&) = delete;
    CSlideEntry& operator=(const CSlideEntry&) = delete;

    std::uint32_t PersistIdRef() const;
    std::uint32_t SlideId() const;
    std::int32_t NumberTexts() const;
    std::uint32_t MasterIdRef() const;
    std::uint32_t NotesIdRef() const;

    std::int32_t kind = 0;
    std::int32_t slideNumber = 0;
    std::vector<CPowerPointDrawAccess*> drawings;  // owned
    std::vector<CSlideText> texts;
    CPowerPointDrawAccess* currentDrawing = nullptr;
    std::uint8_t slideAtom[24] = {};
    std::uint8_t persistAtom[20] = {};
    std::uint32_t colorScheme[8] = {};
    std::int32_t fillColor = -1;
    std::int32_t backColor = -1;
};

// One ExternalOleControl container.
struct PptEmbeddedControl {
    std::uint32_t controlId = 0;
    std::uint32_t oleObjectId = 0;
    std::vector<std::u16string> texts;
};

struct PptHyperlink {
    std::uint32_t id = 0xFFFFFFFF;
    std::u16string friendlyName;
    std::u16string target;
};

// The persist directories of every edit, newest first.
class CPersistDirectory {
public:
    // Appends one PersistDirectoryAtom body of wordCount 32-bit words. False
    // when the body contradicts itself: a run of ids claims more offsets than
    // the words that follow, or an offset lies at or past streamSize (the
    // entries that are there are added all the same).
    bool AddEntries(std::uint32_t wordCount, const std::uint8_t* body, std::uint64_t streamSize);
    // The stream offset of id, or -1: the newest edit listing it wins.
    std::int64_t Lookup(std::uint32_t persistId) const;
    bool Empty() const { return m_nodes == 0; }

private:
    std::unordered_map<std::uint32_t, std::uint32_t> m_offsets;
    int m_nodes = 0;
};

class CPowerPointAccess : public CStorageAccess {
public:
    explicit CPowerPointAccess(CTextCollector* collector, const char16_t* path = nullptr);
    ~CPowerPointAccess() override;

    // Opens "PowerPoint Document" once and makes it the current stream.
    plat::CfbStream* GetMainStream() override;

    // 1 when the presentation was walked to the end, 0 when it could not be
    // read (no storage, no document stream, encrypted, no edit chain).
    // Damage met on the way (the current edit not where "Current User" says,
    // a broken edit chain, persist directory offsets or counts past their
    // data, a persist object referenced and absent, records running past
    // their container or the stream, containers left open or nested past the
    // cap) is noted with plat::NoteDamage, and the reading goes on.
    int Convert(const char16_t* path);

    // Loads the CurrentUserAtom; 1 when it passes its checks.
    int IsCurrentUserValid();
    // Color scheme index values (bit 0x08000000) resolved against scheme.
    static std::int32_t ResolveAtomValue(const std::uint32_t scheme[8], std::uint32_t value);
    // Whether the embedded control with that OLE object id is a form control.
    int IsFormControl(std::uint32_t oleObjectId) const;

    // State visible to tests.
    const std::vector<CSlideEntry*>& Slides() const { return m_slides; }
    const std::vector<CSlideEntry*>& Masters() const { return m_masters; }
    const std::vector<CSlideEntry*>& Notes() const { return m_notes; }
    const CMsoBLIPStoreManager& PictureStore() const { return m_blipStore; }
    const std::vector<PptEmbeddedControl>& Controls() const { return m_controls; }

private:
    // Stream access over the loaded document stream.
    bool LoadDocument();
    bool ReadHeader(PptRecordHeader& h);
    bool ReadBytes(void* out, std::size_t n);
    bool SeekTo(std::int64_t offset);
    void SkipTo(std::size_t end) { m_pos = end; }

    int ReadPresentation();
    int BuildPersistDirectory();
    bool ReadUserEditAtom(std::uint32_t offset, std::uint32_t atom[8]);
    bool IsUserEditAt(std::uint32_t offset);
    // Offsets of the UserEditAtoms among the top-level records, in order.
    std::vector<std::uint32_t> FindUserEdits();
    // Adds the directories of the edits of the stream the chain did not
    // reach (seen), newest (last in the stream) first.
    void AddUnchainedEdits(const std::unordered_set<std::uint32_t>& seen);
    // Adds the persist directory an edit names; false when it is not there.
    bool AddDirectory(const std::uint32_t atom[8]);
    bool GetSlideOffset(std::int64_t& offset, std::size_t index);

    void ReadDocument(std::int64_t offset);
    void HandleDocumentAtom(const PptRecordHeader& h, const PptRecordHeader* parent, std::size_t end);
    CSlideText* CurrentText();

    void ReadSlide(std::int64_t offset);
    // Walks the drawing container the walk has just opened (its innermost).
    int ParseShapeObject(officeart::RecordReader& walk);
    int ReadShapeAtom(const PptRecordHeader& h, std::size_t end);
    int ReadProperties(const PptRecordHeader& h, std::size_t end);
    void ApplyOutlineText(CPowerPointShapeObj* shape);
    std::u16string BytesToText(const std::uint8_t* bytes, std::size_t n) const;

    int WriteSlidesText();
    int WriteEntryText(CSlideEntry* entry);
    int WriteShapeText(CPowerPointShapeObj* shape, CSlideEntry* entry);
    void BuildShapeText(const CPowerPointShapeObj* shape);

    CTextCollector* m_pCollector;
    plat::CfbStream* m_pPictures = nullptr;
    std::string m_doc;          // the document stream
    bool m_docLoaded = false;
    std::size_t m_pos = 0;

    std::uint8_t m_currentUser[20] = {};
    bool m_hasUserEdit = false;
    std::uint32_t m_userEdit[8] = {};
    CPersistDirectory m_persist;

    std::vector<std::uint32_t> m_slideListIds;
    std::vector<CSlideEntry*> m_slideList;  // not owning; the kind vectors own
    std::vector<CSlideEntry*> m_slides;
    std::vector<CSlideEntry*> m_masters;
    std::vector<CSlideEntry*> m_notes;
    std::vector<CSlideEntry*> m_unlisted;  // entries of other instances

    std::vector<PptEmbeddedControl> m_controls;
    std::vector<PptHyperlink> m_hyperlinks;
    std::unordered_map<std::uint32_t, std::size_t> m_hyperlinkIndex;  // first of each id
    // The first control of each OLE object id, built when first asked (the
    // controls are complete once the document walk is over).
    mutable std::size_t m_controlsIndexed = std::size_t(-1);
    mutable std::unordered_map<std::uint32_t, std::size_t> m_controlFirst;
    std::vector<std::vector<std::uint32_t>> m_mainMasterSchemes;

    CSlideEntry* m_pCurrentEntry = nullptr;
    std::int32_t m_nCurrentText = 0;
    int m_nPhase = 0;
    bool m_bDocumentEnd = false;
    std::int32_t m_nSlideNumber = 0;
    std::uint64_t m_walkBudget = 0;  // bytes the slide walks may still cover
    std::unordered_set<std::int64_t> m_walkedSlides;  // offsets of the slide containers walked

    CMsoBLIPStoreManager m_blipStore;
};
