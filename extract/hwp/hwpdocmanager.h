// The HWP manager: recognises the generation of an HWP document, hands the
// HWP 2.x/3.x documents to the old-format readers and reads HWP 5 documents
// (a compound file of record streams) itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "extract/converter.h"

class CH2sStream;
class CH2sMainStorage;
class CH2sStorage;
class CH2sDataBlock;

class CHwpDocumentManager : public CHwpTextConvertItem {
public:
    CHwpDocumentManager();
    ~CHwpDocumentManager() override;

    // 0 read, 1 not read or read in part (no known generation, an
    // old-format reader failed, an HWP 5 document with a password or saved
    // for distribution, without DocInfo, with a section that does not open
    // or a paragraph longer than the buffer; the text read stays),
    // 2 a library error ended the document. Damage met on the way is noted
    // with plat::NoteDamage and the reading goes on: the entry then reports
    // the document read in part.
    int Convert(const char16_t* path) override;
    void Finish() override;
    // 5 HWP 5, 4 HWP 3.0, 3 HWP 2.1, 2 HWP 2.0, else 0.
    int IsFormat(const char16_t* path) override;

    static int IsHwp5File(const char16_t* path);

    // Nested lists and shape containers deeper than this end the document
    // as damaged.
    static constexpr int kMaxNesting = 48;
    // Longest paragraph read, in code units (32 MB of text); the rest of a
    // longer one is not read and the document is read in part.
    static constexpr std::uint32_t kMaxParagraphChars = 0x1000000;

private:
    int ConvertHwp5(const char16_t* path);

    CH2sStream& Device();
    CH2sMainStorage& Storage();
    CH2sDataBlock& Block();

    int OpenRecordStream(const std::u16string& name, CH2sStorage& storage, CH2sDataBlock& ar);
    void CloseRecordStream(CH2sDataBlock& ar);

    // Reads the section count; false when "DocInfo" does not open.
    bool ReadDocInfo();
    void ReadRootText();
    // The numbers of the sections to read, in order: every section BodyText
    // holds, whatever DocInfo counts; a count that disagrees with them marks
    // the document damaged.
    std::vector<unsigned> SectionsToRead(CH2sStorage& body);
    // Checks that a section's stream ends where its body did: no records
    // left over, and compressed data ended with its final block.
    void EndSection(CH2sDataBlock& ar);
    // Reads the next paragraph of a list whose paragraphs sit at paraLevel;
    // sets *last at its last paragraph, or where the list ends without one
    // (which marks the document damaged unless marked says that a paragraph
    // of the list was marked last before).
    void ReadParaFromArchive(CH2sDataBlock& ar, bool* last, unsigned paraLevel, bool marked);
    // Passes over records before the next paragraph at paraLevel; false when
    // a record of a lower level (the list's owner) or an error comes first.
    bool SkipToParagraph(CH2sDataBlock& ar, unsigned paraLevel);
    // True when a paragraph at paraLevel comes next: the list goes on even
    // after a paragraph marked last.
    bool ListGoesOn(CH2sDataBlock& ar, unsigned paraLevel);
    // Reads a list whose header hangs directly off the paragraph at
    // paraLevel with no control record (as other writers put tables);
    // false when the next record is no such list header.
    bool ReadFreeList(CH2sDataBlock& ar, unsigned paraLevel);
    // Passes over the next record with the records nested below it; a
    // paragraph's header or text passed over so marks the document damaged.
    void PassOver(CH2sDataBlock& ar);
    // Passes over the paragraph's records not read (deeper than paraLevel);
    // lists hanging off the paragraph without a control are read.
    void SkipParagraphRest(CH2sDataBlock& ar, unsigned paraLevel);
    void ListSerialize(CH2sDataBlock& ar);
    // Reads up to nChars units of the open text record into text (with two
    // zeros after them); returns the units read. A record that ends in the
    // data before nChars marks the document read in part.
    std::uint32_t SerializeTextBuf(CH2sDataBlock& ar, std::uint32_t nChars, std::vector<char16_t>& text);
    void SerializeCtrlBuf(CH2sDataBlock& ar, std::uint32_t nChars, const char16_t* buffer, unsigned paraLevel);
    void SerializeNoteLike(CH2sDataBlock& ar, const char16_t* name);
    void SerializeObjectCommon(CH2sDataBlock& ar, bool header, bool* caption);
    void SerializeSecDef(CH2sDataBlock& ar, std::uint32_t attributes);
    void SerializeTable(CH2sDataBlock& ar, bool header, bool* caption);
    void SerializeDutmal(CH2sDataBlock& ar);
    void SerializeGenShapeObject(CH2sDataBlock& ar);
    void SerializeDrawingObject(CH2sDataBlock& ar);
    void SerializeShapeCompContainer(CH2sDataBlock& ar);
    void SerializeShapeCompContainer_Chile(CH2sDataBlock& ar, std::uint32_t childId);
    // Reads a shape component's common fields (from its control id on);
    // returns its attributes.
    std::uint32_t SerializeShapeComponent(CH2sDataBlock& ar, std::uint16_t* localVersion);
    void SerializeRenderInfo(CH2sDataBlock& ar, std::uint16_t localVersion);
    void SerializeMemoListBody(CH2sDataBlock& ar);
    void SkipControlData(CH2sDataBlock& ar);
    void CommitPiece(const char16_t* text, std::uint32_t length);

    // Raises the library error when the nesting grows too deep.
    void EnterNesting();

    std::unique_ptr<CH2sStream> m_pDevice;
    std::unique_ptr<CH2sMainStorage> m_pStorage;
    std::unique_ptr<CH2sDataBlock> m_pBlock;
    std::uint16_t m_nSectionCount = 0;
    std::uint32_t m_nFlags = 0;
    std::u16string* m_pPassword = nullptr;  // never set in this program
    std::int32_t m_nMemoCount = 0;
    int m_nDepth = 0;
    // A part of the body could not be read (the conversion's status is 1).
    bool m_bPartial = false;
};
