#include "office/msmanagers.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "extract/io/h2s_storage.h"
#include "extract/liblog.h"
#include "extract/opc/package.h"
#include "office/excel/excelparser.h"
#include "office/ooxml/ooxmlparts.h"
#include "office/powerpoint/pptaccess.h"
#include "office/rtf/rtftextconvert.h"
#include "office/word/flatword.h"
#include "office/word/msword97.h"
#include "office/word/word6text.h"
#include "platform/cfb.h"
#include "platform/docfile.h"
#include "platform/text.h"

namespace {

FILE* OpenForReading(const char16_t* path)
{
    if (!path)
        return nullptr;
    return plat::OpenDocumentStream(path);
}

// The first 16-bit value of the "WordDocument" stream of a compound file;
// false when the file, its stream or the two bytes cannot be had.
bool ReadWordIdent(const char16_t* path, uint16_t* ident)
{
    if (!path)
        return false;
    const plat::CfbPtr<plat::CfbStorage> root = OpenRootStorage(path);
    if (!root)
        return false;
    plat::CfbPtr<plat::CfbStream> stream;
    if (!OpenChildStream(root.get(), u"WordDocument", stream.put()))
        return false;
    if (!SeekStreamTo(stream.get(), 0))
        return false;
    unsigned char b[2] = {0, 0};
    uint32_t got = 0;
    if (!ReadStreamBytes(stream.get(), b, 2, &got) || got != 2)
        return false;
    *ident = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

// The file's extension (with its dot) as _wsplitpath gives it: the text
// from the last "." of the last path component.
std::u16string Extension(const char16_t* path)
{
    std::u16string p(path);
    const size_t slash = p.find_last_of(u"/\\");
    const size_t dot = p.rfind(u'.');
    if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash))
        return std::u16string();
    return p.substr(dot);
}

// Runs an OOXML part reader over the package at path.
template <class Reader>
int ReadPackage(const char16_t* path, Reader read)
{
    if (!path || !IsZipPackageFile(path))
        return 2;
    OpcPackage* package = PackageOpen(path, 0, nullptr);
    if (!package)
        return 2;
    int result = read(package);
    // Parts whose types could not be learnt may hold text no reader took.
    if (!package->contentTypesRead)
        result = 0;
    PackageClose(package, 0);
    return result != 0 ? 0 : 1;
}

}  // namespace

// Format tests -------------------------------------------------------------

int IsFlatWordFile(const char16_t* path)
{
    FILE* f = OpenForReading(path);
    if (!f)
        return 0;
    unsigned char b[2];
    const bool ok = std::fread(b, 1, 2, f) == 2;
    std::fclose(f);
    if (!ok)
        return 0;
    const uint16_t id = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return id == 0x37FE || id == 0xA694 || id == 0xA695;
}

int IsWord6File(const char16_t* path)
{
    uint16_t id = 0;
    return ReadWordIdent(path, &id) && CMSWord2Text::IsWord6Ident(id);
}

int IsWord6FamilyFile(const char16_t* path)
{
    return IsFlatWordFile(path) || IsWord6File(path);
}

int IsWord97File(const char16_t* path)
{
    uint16_t id = 0;
    return ReadWordIdent(path, &id) && id == 0xA5EC;
}

int IsRtfFile(const char16_t* path)
{
    FILE* f = OpenForReading(path);
    if (!f)
        return 0;
    // Pass over up to 100 leading bytes not above 0x32; the byte that stops
    // the loop is consumed and not examined.
    for (int i = 0; i < 100; ++i) {
        const int c = std::fgetc(f);
        if (c == EOF || c > 0x32)
            break;
    }
    char next[4] = {0, 0, 0, 0};
    const size_t got = std::fread(next, 1, 4, f);
    (void)got;
    std::fclose(f);
    return std::memcmp(next, "\\rtf", 4) == 0;
}

int IsPowerPointFile(const char16_t* path)
{
    if (!path)
        return 0;
    CStorageAccess access;
    if (access.OpenStorage(path) != 1)
        return 0;
    if (access.OpenStream(u"Current User") != 1)
        return 0;
    unsigned char buffer[20] = {};
    uint32_t got = 0;
    const int read = access.ReadStream(20, buffer, &got);
    access.ReleaseStream();
    if (read != 1 || got == 0)
        return 0;
    return buffer[12] == 0x5F && buffer[13] == 0xC0 && buffer[14] == 0x91 && buffer[15] == 0xE3;
}

int IsExcelFile(const char16_t* path)
{
    if (!path || !IsCompoundFile(path))
        return 0;
    CStorageAccess access;
    if (access.OpenStorage(path) != 1)
        return 0;
    if (access.OpenStream(u"Workbook") != 1 && access.OpenStream(u"Book") != 1)
        return 0;
    unsigned char b[4] = {};
    uint32_t got = 0;
    const int read = access.ReadStream(4, b, &got);
    access.ReleaseStream();
    if (read != 1 || got != 4)
        return 0;
    const uint16_t type = static_cast<uint16_t>(b[0] | (b[1] << 8));
    const uint16_t length = static_cast<uint16_t>(b[2] | (b[3] << 8));
    if (type != 0x0809)
        return 0;
    if (length != 5 && length != 6 && length != 8 && length != 16 && length != 32 && length != 64 && length != 256)
        return 0;
    return plat::EqualsNoCase(Extension(path), u".xls") ? 1 : 0;
}

int IsZipPackageFile(const char16_t* path)
{
    FILE* f = OpenForReading(path);
    if (!f)
        return 0;
    unsigned char b[4] = {0, 0, 0, 0};
    const size_t got = std::fread(b, 1, 4, f);
    (void)got;
    std::fclose(f);
    return b[0] == 0x50 && b[1] == 0x4B && b[2] == 0x03 && b[3] == 0x04;
}

// The readers -------------------------------------------------------------------
// Each returns the manager's status: 0 read, 1 the reader failed, 2 no path
// or not its format.

namespace {

int IsBinaryWordFormat(const char16_t* path)
{
    return IsFlatWordFile(path) || IsWord6File(path) || IsWord97File(path);
}

// RTF saved under a Word name is read too, though IsFormat does not take it.
int ReadBinaryWord(const char16_t* path, CTextCollector* collector)
{
    if (!path)
        return 2;
    if (IsWord6FamilyFile(path)) {
        if (IsFlatWordFile(path)) {
            CMSWordFlatFileText reader;
            reader.Init(collector);
            return reader.Convert(path) ? 0 : 1;
        }
        CMSWord2Text reader(collector);
        return reader.Convert(path) ? 0 : 1;
    }
    if (IsWord97File(path)) {
        CMSWord802Text reader(collector);
        return reader.Convert(path) ? 0 : 1;
    }
    if (IsRtfFile(path)) {
        CRtfTextConvert reader(collector, 0);
        reader.Convert(path);
        return reader.LastLoadSucceeded() ? 0 : 1;
    }
    return 2;
}

int ReadWordPackage(const char16_t* path, CTextCollector* collector)
{
    return ReadPackage(path, [collector](OpcPackage* p) { return ReadDocxParts(p, collector); });
}

int ReadBinaryPowerPoint(const char16_t* path, CTextCollector* collector)
{
    if (!path || !IsPowerPointFile(path))
        return 2;
    ConvertLog().Write(u"Convert Begin. >>> \"%s\"", path);
    int status;
    {
        CPowerPointAccess reader(collector);
        status = reader.Convert(path) ? 0 : 1;
    }
    ConvertLog().Write(u"Convert End.");
    return status;
}

int ReadPowerPointPackage(const char16_t* path, CTextCollector* collector)
{
    return ReadPackage(path, [collector](OpcPackage* p) { return ReadPptxParts(p, collector); });
}

int ReadBinaryExcel(const char16_t* path, CTextCollector* collector)
{
    if (!path || !IsExcelFile(path))
        return 2;
    CIExcelParser reader(collector, 0);
    return reader.Convert(path) ? 0 : 1;
}

int ReadExcelPackage(const char16_t* path, CTextCollector* collector)
{
    std::vector<std::u16string> sharedStrings;
    return ReadPackage(path, [collector, &sharedStrings](OpcPackage* p) {
        return ReadXlsxParts(p, collector, sharedStrings);
    });
}

struct FormatRow {
    OfficeFormat format;
    int (*recognise)(const char16_t* path);
    int (*read)(const char16_t* path, CTextCollector* collector);
    bool xmlParser;  // the manager holds the XML parser while it lives
};

constexpr FormatRow kFormats[] = {
    {OfficeFormat::BinaryWord, IsBinaryWordFormat, ReadBinaryWord, false},
    {OfficeFormat::WordPackage, IsZipPackageFile, ReadWordPackage, true},
    {OfficeFormat::BinaryPowerPoint, IsPowerPointFile, ReadBinaryPowerPoint, false},
    {OfficeFormat::PowerPointPackage, IsZipPackageFile, ReadPowerPointPackage, true},
    {OfficeFormat::BinaryExcel, IsExcelFile, ReadBinaryExcel, false},
    {OfficeFormat::ExcelPackage, IsZipPackageFile, ReadExcelPackage, true},
};

// Row i is the format numbered i, and every format has its row.
constexpr bool RowsInOrder()
{
    int i = 0;
    for (const FormatRow& row : kFormats)
        if (static_cast<int>(row.format) != i++)
            return false;
    return i == static_cast<int>(OfficeFormat::ExcelPackage) + 1;
}
static_assert(RowsInOrder(), "one row per format, in the order of OfficeFormat");

const FormatRow& RowOf(OfficeFormat format)
{
    return kFormats[static_cast<int>(format)];
}

}  // namespace

// The managers --------------------------------------------------------------------

CMSOfficeManager::CMSOfficeManager(OfficeFormat format) : CMSTextConvertItem(0), m_format(format)
{
    if (RowOf(m_format).xmlParser)
        AcquireXmlParser();
}

CMSOfficeManager::~CMSOfficeManager()
{
    if (RowOf(m_format).xmlParser)
        ReleaseXmlParser();
}

int CMSOfficeManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSOfficeManager::IsFormat(const char16_t* path)
{
    return RowOf(m_format).recognise(path);
}

int CMSOfficeManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_nStatus = 0;
    m_nStatus = RowOf(m_format).read(path, collector);
    return m_nStatus;
}
