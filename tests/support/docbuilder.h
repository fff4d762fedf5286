// Builds small Word 97-2003 documents for the reader's tests: the FIB, the
// text of every story behind one piece (8-bit or UTF-16), one character and
// one paragraph FKP, sections, header stories, notes, comments, text boxes, drawing
// anchors and drawing data, in a compound file made by the test writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ps_test {

struct WordRun {
    std::int32_t cpStart = 0;
    std::int32_t cpEnd = 0;
    std::string grpprl;  // property modifiers of the run
};

struct WordTextBoxSpec {
    std::int32_t cpStart = 0;  // relative to the text-box story
    std::int32_t cpEnd = 0;
    std::int32_t lid = 0;
};

struct WordAnchorSpec {
    std::int32_t cp = 0;
    std::int32_t spid = 0;
};

class WordDocBuilder {
public:
    // Stories in CP order.
    std::u16string mainText;
    std::u16string footnoteText;
    std::u16string headerText;
    std::u16string commentText;
    std::u16string endnoteText;
    std::u16string textBoxText;
    bool compressed = true;      // one 8-bit piece (else UTF-16)
    bool encrypted = false;
    bool whichTable = false;     // tables in "1Table"
    // Pieces as {cpStart, cpEnd}; empty: one piece over all stories (and
    // the final paragraph mark behind them when there is more than the
    // main text).
    std::vector<std::pair<std::int32_t, std::int32_t>> pieces;
    // Per piece: 8-bit (true) or UTF-16; empty or shorter: `compressed`.
    std::vector<bool> pieceCompressed;

    std::vector<WordRun> charRuns;  // empty: one run without properties
    std::vector<WordRun> paraRuns;  // empty: one paragraph run
    std::vector<std::int32_t> sectionEnds;  // empty: one section over the main text
    std::vector<std::int32_t> headerCps;    // the PlcfHdd CPs, relative to the header story
    std::vector<std::int32_t> footnoteRefs; // reference CPs
    std::vector<std::int32_t> footnoteCps;  // text PLC CPs (count + 1)
    std::vector<std::int32_t> endnoteRefs;
    std::vector<std::int32_t> endnoteCps;
    std::vector<std::int32_t> commentRefs;  // each with empty author data
    std::vector<std::int32_t> commentCps;
    std::vector<WordTextBoxSpec> textBoxes;
    std::vector<WordAnchorSpec> anchors;
    std::string dggInfo;        // OfficeArt drawing data
    std::string dataStream;     // "Data", added when not empty

    // The FIB fields to overwrite after layout: {offset, value}.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fibPatches;

    std::string WordDocument() const;  // after Build, the streams as made
    std::string Table() const;

    // The compound file.
    std::string Build();

private:
    std::string word_;
    std::string table_;
};

// OfficeArt records for drawing data.
std::string ArtRecord(std::uint16_t verInst, std::uint16_t type, const std::string& body);
std::string ArtContainer(std::uint16_t type, const std::string& children);
// A shape container: FSP with the type and flags, optional group rectangle,
// child anchor, text box.
std::string ArtShape(std::uint32_t spid, std::uint32_t shapeType, std::uint32_t flags, bool textBox,
                     const std::int32_t* groupRect = nullptr, const std::int32_t* childRect = nullptr,
                     const std::string& fopt = std::string());
// The drawing group container with an FDGG of spidMax, then the containers given.
std::string ArtDrawing(std::uint32_t spidMax, const std::string& shapes);

std::string Le16s(std::uint16_t v);
std::string Le32s(std::uint32_t v);

}  // namespace ps_test
