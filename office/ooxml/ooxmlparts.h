// Text of the parts of .docx, .pptx and .xlsx packages.
//
// Each reader picks parts by fixed name or by content type, opens each with
// PackageOpenPart and walks its XML through the markup-compatibility filter
// (so AlternateContent yields its Fallback). Text is matched by local
// element names. The readers return 1 when done, 0 when they failed (no
// parts, a missing main part, or a wanted part that cannot be opened).
// Damage they meet is noted with plat::NoteDamage and the reading goes on:
// no content types, a part of a kind they read that the package names and
// does not hold, XML of a part that fails after it began, a shared string
// the table does not hold, text cut at the workbook's bound.
#pragma once

#include <string>
#include <vector>

#include "extract/opc/package.h"
#include "extract/textcollector.h"

int ReadDocxParts(OpcPackage* package, CTextCollector* collector);
int ReadPptxParts(OpcPackage* package, CTextCollector* collector);
// sharedStrings receives the workbook's shared-string table.
int ReadXlsxParts(OpcPackage* package, CTextCollector* collector, std::vector<std::u16string>& sharedStrings);

// Walkers, called with the reader on an element; they return with the reader
// on that element's end tag (or on the element itself when it is empty).
// Result: 1, or the failed advance (0 or -1) that ended the part, or 2 when
// the workbook's bound on its text stopped the walk (noted as damage).
int WalkTextElements(McReaderState* state, CTextCollector* collector);
int WalkDrawingTextElements(McReaderState* state, CTextCollector* collector);
int WalkSharedStrings(McReaderState* state, std::vector<std::u16string>& table);

// Number formats of a workbook's cell styles.
struct XlsxStyles {
    std::vector<int> cellFormats;                       // numFmtId per cellXfs entry
    std::vector<std::pair<int, std::u16string>> codes;  // custom numFmt id -> format text
};

// The text of one numeric cell value (UTF-8 text of a <v>) for the cell's
// style index (-1 none): dates and times through their format, digit masks
// through the mask, anything else as it stands.
std::u16string FormatXlsxNumber(const std::string& value, int styleIndex, const XlsxStyles& styles);

// Emits the current text node's value.
void EmitXmlText(McReaderState* state, CTextCollector* collector);
// Appends a line feed.
void AppendLineEnd(CTextCollector* collector);
