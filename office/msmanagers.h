// The six Office format managers: one for the binary formats and one for the
// OOXML packages of each of Word, PowerPoint and Excel. The entry points
// (office/officeentry.h) construct one on their stack per call.
//
// Convert runs the manager's worker; it returns the status: 0 the reader
// succeeded, 1 the reader failed (or is not available for this kind of
// file), 2 no path, a file not of the manager's format, or a package that
// does not open.
#pragma once

#include <string>
#include <vector>

#include "extract/converter.h"

// Format tests; non-zero for yes. None throws; a file that cannot be opened
// is a "no".
int IsFlatWordFile(const char16_t* path);
int IsWord6File(const char16_t* path);        // the Word 6/95 test of the compound-file reader
int IsWord6FamilyFile(const char16_t* path);  // IsFlatWordFile, else IsWord6File
int IsWord97File(const char16_t* path);
int IsRtfFile(const char16_t* path);
int IsPowerPointFile(const char16_t* path);
int IsExcelFile(const char16_t* path);
int IsZipPackageFile(const char16_t* path);   // the first four bytes are 50 4B 03 04

class CMSOldWordDManager : public CMSTextConvertItem {
public:
    CMSOldWordDManager() : CMSTextConvertItem(0) {}
    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);
};

class CMSWordOOXMLManager : public CMSTextConvertItem {
public:
    CMSWordOOXMLManager();
    ~CMSWordOOXMLManager() override;
    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);
};

class CMSOldPowerPointManager : public CMSTextConvertItem {
public:
    CMSOldPowerPointManager() : CMSTextConvertItem(0) {}
    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);
};

class CMSPowerPointOOXMLManager : public CMSTextConvertItem {
public:
    CMSPowerPointOOXMLManager();
    ~CMSPowerPointOOXMLManager() override;
    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);
};

class CMSOldExcelManager : public CMSTextConvertItem {
public:
    CMSOldExcelManager() : CMSTextConvertItem(0) {}
    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);
};

class CMSExcelOOXMLManager : public CMSTextConvertItem {
public:
    CMSExcelOOXMLManager();
    ~CMSExcelOOXMLManager() override;
    int Convert(const char16_t* path) override;
    int IsFormat(const char16_t* path) override;
    int ConvertFile(const char16_t* path);

    std::vector<std::u16string>& SharedStrings() { return m_sharedStrings; }

private:
    std::vector<std::u16string> m_sharedStrings;
};
