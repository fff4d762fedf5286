#include "office/msmanagers.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Failed(plat::CfbOpenStorage(path, kH2sRootMode, root.put())) || !root)
        return false;
    plat::CfbPtr<plat::CfbStream> stream;
    if (plat::Failed(root->OpenStream(u"WordDocument", kH2sStreamMode, stream.put())) || !stream)
        return false;
    if (plat::Failed(stream->Seek(0, 0, nullptr)))
        return false;
    unsigned char b[2] = {0, 0};
    uint32_t got = 0;
    if (plat::Failed(stream->Read(b, 2, &got)) || got != 2)
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
int ConvertPackage(CMSTextConvertItem* manager, const char16_t* path, Reader read)
{
    if (!path || !manager->IsFormat(path))
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
    if (!ReadWordIdent(path, &id))
        return 0;
    return id == 0x8098 || id == 0x8099 || id == 0xA5DC || id == 0xA697 || id == 0xA698 || id == 0xA699;
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
    if (!path || plat::CfbIsStorageFile(path) != plat::stg::kOk)
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

// Binary Word ----------------------------------------------------------------

int CMSOldWordDManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSOldWordDManager::IsFormat(const char16_t* path)
{
    return IsFlatWordFile(path) || IsWord6File(path) || IsWord97File(path);
}

int CMSOldWordDManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_nStatus = 0;
    if (!path) {
        m_nStatus = 2;
    } else if (IsWord6FamilyFile(path)) {
        if (IsFlatWordFile(path)) {
            CMSWordFlatFileText reader;
            reader.Init(collector);
            m_nStatus = reader.Convert(path) ? 0 : 1;
        } else {
            CMSWord2Text reader(collector);
            m_nStatus = reader.Convert(path) ? 0 : 1;
        }
    } else if (IsWord97File(path)) {
        CMSWord802Text reader(collector);
        m_nStatus = reader.Convert(path) ? 0 : 1;
    } else if (IsRtfFile(path)) {
        CRtfTextConvert reader(collector, 0);
        reader.Convert(path);
        m_nStatus = reader.LastLoadSucceeded() ? 0 : 1;
    } else {
        m_nStatus = 2;
    }
    return m_nStatus;
}

// OOXML Word -------------------------------------------------------------------

CMSWordOOXMLManager::CMSWordOOXMLManager() : CMSTextConvertItem(0)
{
    AcquireXmlParser();
}

CMSWordOOXMLManager::~CMSWordOOXMLManager()
{
    ReleaseXmlParser();
}

int CMSWordOOXMLManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSWordOOXMLManager::IsFormat(const char16_t* path)
{
    return IsZipPackageFile(path);
}

int CMSWordOOXMLManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_nStatus = ConvertPackage(this, path, [collector](OpcPackage* p) { return ReadDocxParts(p, collector); });
    return m_nStatus;
}

// Binary PowerPoint --------------------------------------------------------------

int CMSOldPowerPointManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSOldPowerPointManager::IsFormat(const char16_t* path)
{
    return IsPowerPointFile(path);
}

int CMSOldPowerPointManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_nStatus = 0;
    if (!path || !IsPowerPointFile(path)) {
        m_nStatus = 2;
        return m_nStatus;
    }
    ConvertLog().Write(u"Convert Begin. >>> \"%s\"", path);
    {
        CPowerPointAccess reader(collector);
        m_nStatus = reader.Convert(path) ? 0 : 1;
    }
    ConvertLog().Write(u"Convert End.");
    return m_nStatus;
}

// OOXML PowerPoint ---------------------------------------------------------------

CMSPowerPointOOXMLManager::CMSPowerPointOOXMLManager() : CMSTextConvertItem(0)
{
    AcquireXmlParser();
}

CMSPowerPointOOXMLManager::~CMSPowerPointOOXMLManager()
{
    ReleaseXmlParser();
}

int CMSPowerPointOOXMLManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSPowerPointOOXMLManager::IsFormat(const char16_t* path)
{
    return IsZipPackageFile(path);
}

int CMSPowerPointOOXMLManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_nStatus = ConvertPackage(this, path, [collector](OpcPackage* p) { return ReadPptxParts(p, collector); });
    return m_nStatus;
}

// Binary Excel -------------------------------------------------------------------

int CMSOldExcelManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSOldExcelManager::IsFormat(const char16_t* path)
{
    return IsExcelFile(path);
}

int CMSOldExcelManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_nStatus = 0;
    if (!path || !IsExcelFile(path)) {
        m_nStatus = 2;
        return m_nStatus;
    }
    {
        CIExcelParser reader(collector, 0);
        m_nStatus = reader.Convert(path) ? 0 : 1;
    }
    return m_nStatus;
}

// OOXML Excel --------------------------------------------------------------------

CMSExcelOOXMLManager::CMSExcelOOXMLManager() : CMSTextConvertItem(0)
{
    AcquireXmlParser();
}

CMSExcelOOXMLManager::~CMSExcelOOXMLManager()
{
    ReleaseXmlParser();
}

int CMSExcelOOXMLManager::Convert(const char16_t* path)
{
    if (ConvertFile(path) == 0 && m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CMSExcelOOXMLManager::IsFormat(const char16_t* path)
{
    return IsZipPackageFile(path);
}

int CMSExcelOOXMLManager::ConvertFile(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    m_sharedStrings.clear();
    m_nStatus = ConvertPackage(this, path,
                               [this, collector](OpcPackage* p) { return ReadXlsxParts(p, collector, m_sharedStrings); });
    return m_nStatus;
}
