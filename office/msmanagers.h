// The six Office format managers: one for the binary formats and one for the
// OOXML packages of each of Word, PowerPoint and Excel. The entry points
// (office/officeentry.h) construct one on their stack per call.
//
// Convert runs the manager's worker; it returns the status: 0 the reader
// succeeded, 1 the reader failed (or is not available for this kind of
// file), 2 no path, a file not of the manager's format, or a package that
// does not open.
#pragma once

#include "extract/converter.h"

// Format tests; non-zero for yes. None throws; a file that cannot be opened
// is a "no".
int IsFlatWordFile(const char16_t* path);
// A compound file whose "WordDocument" stream starts with a Word 6/95
// identifier (CMSWord2Text::IsWord6Ident): the files CMSWord2Text reads.
int IsWord6File(const char16_t* path);
int IsWord6FamilyFile(const char16_t* path);  // IsFlatWordFile, else IsWord6File
int IsWord97File(const char16_t* path);
int IsRtfFile(const char16_t* path);
int IsPowerPointFile(const char16_t* path);
int IsExcelFile(const char16_t* path);
int IsZipPackageFile(const char16_t* path);   // the first four bytes are 50 4B 03 04

// The formats the managers read, one row each of the table in
// office/msmanagers.cpp.
enum class OfficeFormat {
    BinaryWord,         // Word 6/95 (flat or compound), Word 97, RTF
    WordPackage,        // .docx
    BinaryPowerPoint,   // .ppt
    PowerPointPackage,  // .pptx
    BinaryExcel,        // .xls
    ExcelPackage,       // .xlsx
};

// A manager reads one format through its row: IsFormat is the row's
// recognition, ConvertFile empties the collector and runs the row's reader.
class CMSOfficeManager : public CMSTextConvertItem {
public:
    explicit CMSOfficeManager(OfficeFormat format);
    ~CMSOfficeManager() override;
    CMSOfficeManager(const CMSOfficeManager&) = delete;
    CMSOfficeManager& operator=(const CMSOfficeManager&) = delete;

    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);

private:
    OfficeFormat m_format;
};

template <OfficeFormat Format>
class CMSOfficeManagerOf : public CMSOfficeManager {
public:
    CMSOfficeManagerOf() : CMSOfficeManager(Format) {}
};

using CMSOldWordDManager = CMSOfficeManagerOf<OfficeFormat::BinaryWord>;
using CMSWordOOXMLManager = CMSOfficeManagerOf<OfficeFormat::WordPackage>;
using CMSOldPowerPointManager = CMSOfficeManagerOf<OfficeFormat::BinaryPowerPoint>;
using CMSPowerPointOOXMLManager = CMSOfficeManagerOf<OfficeFormat::PowerPointPackage>;
using CMSOldExcelManager = CMSOfficeManagerOf<OfficeFormat::BinaryExcel>;
using CMSExcelOOXMLManager = CMSOfficeManagerOf<OfficeFormat::ExcelPackage>;
