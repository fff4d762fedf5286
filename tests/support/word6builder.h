// Builds small Word 6/95 documents for the reader's tests: the FIB, the
// text of every story (one or two bytes per character), one page of
// character runs with the special flag on chosen characters, paragraph runs
// of tables, header, note and text-box tables, drawing objects, a style
// sheet, a font table and, for a "complex" document, a piece table, all in
// the "WordDocument" stream of a compound file made by the test writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ps_test {

// Little-endian values written at off (the string grows to hold them), and
// zero bytes up to a size.
void Put16(std::string& s, size_t off, std::uint16_t v);
void Put32(std::string& s, size_t off, std::uint32_t v);
void Pad(std::string& s, size_t to);

struct Word6Builder {
    std::uint16_t ident = 0xA5DC;
    std::uint16_t lid = 0x0412;
    std::string main, footnotes, headers, annotations, endnotes, textboxes;  // bytes as stored (1 or 2 per character)
    std::vector<std::uint32_t> headerPlc;
    std::vector<std::uint32_t> specialCps;  // characters of the whole sequence with the special flag
    // Reference marks: characters in the footnote (0), endnote (1) or
    // annotation (2) reference style, with the special flag.
    std::vector<std::pair<std::uint32_t, int>> refCps;
    // Story-relative note positions; empty: no table.
    std::vector<std::uint32_t> footnotePlc, endnotePlc, annotationPlc;
    bool styles = false;  // a style sheet naming the three reference styles
    std::vector<std::uint32_t> rowEndCps;  // one-character table-row-end paragraphs
    // Cells: paragraphs (ending at 13 or 7) inside these [first, last) ranges
    // are in a table; a row end's property list may add codes after its
    // in-table and row-end codes (cell definitions and edits).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> tables;
    std::map<std::uint32_t, std::string> rowEndLists;
    // Drawing objects of the main text: the anchor character (made special)
    // and the object's primitives; the text-box positions.
    struct Drawing {
        std::uint32_t cp;
        std::string primitives;
    };
    std::vector<Drawing> drawings;
    std::vector<std::uint32_t> textBoxPlc;
    bool complex = false;                   // store the text as two pieces in reverse order
    bool encrypted = false;
    bool savedOnMac = false;  // the FIB's "last saved on a Macintosh" flag
    std::uint8_t envr = 0;    // the FIB's creation environment (1: Macintosh)
    std::uint16_t chse = 0;   // the FIB's character set of the text (256: Macintosh)
    int fontCharset = -1;  // >= 0: one font of this character set, used by every plain run

    int CharBytes() const { return ident == 0xA5DC ? 1 : 2; }

    // The "WordDocument" stream, and the compound file holding it.
    std::string Stream() const;
    std::string File() const;
};

}  // namespace ps_test
