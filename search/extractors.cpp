#include "search/extractors.h"

#include <exception>
#include <mutex>
#include <new>

#include "core/logmgr.h"
#include "extract/extractlib.h"
#include "extract/libstring.h"
#include "office/officeentry.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "platform/wformat.h"

namespace {

// guards: g_table (tests replace it between searches). Taken alone.
std::mutex g_tableLock;
ExtractorTable g_table = DefaultExtractorTable();

struct Choice {
    const char16_t* extension;
    ExtractEntry ExtractorTable::*entry;
    DocumentFormat format;
};

// Tested in this order; exact, case-sensitive comparison.
const Choice kChoices[] = {
    {u"HWP", &ExtractorTable::hwp, DocumentFormat::Hwp},
    {u"DOC", &ExtractorTable::word, DocumentFormat::OfficeBinary},
    {u"PPT", &ExtractorTable::powerPoint, DocumentFormat::OfficeBinary},
    {u"XLS", &ExtractorTable::excel, DocumentFormat::OfficeBinary},
    {u"DOCX", &ExtractorTable::word, DocumentFormat::OfficeXml},
    {u"PPTX", &ExtractorTable::powerPoint, DocumentFormat::OfficeXml},
    {u"XLSX", &ExtractorTable::excel, DocumentFormat::OfficeXml},
    {u"PDF", &ExtractorTable::pdf, DocumentFormat::Pdf},
};

const Choice* ChoiceFor(const std::u16string& ext)
{
    for (const Choice& c : kChoices)
        if (ext == c.extension)
            return &c;
    return nullptr;
}

}  // namespace

const char16_t* ReaderOptions(DocumentFormat format)
{
    switch (format) {
    case DocumentFormat::None:
    case DocumentFormat::Hwp: return nullptr;
    case DocumentFormat::OfficeXml: return u"xml:true";
    case DocumentFormat::OfficeBinary:
    case DocumentFormat::Pdf: return u"xml:false";
    }
    return nullptr;
}

DocumentFormat FormatOfExtension(const std::u16string& upperExtension)
{
    const Choice* c = ChoiceFor(upperExtension);
    return c ? c->format : DocumentFormat::None;
}

ExtractorTable DefaultExtractorTable()
{
    ExtractorTable t;
    t.hwp = ConvertHwpToText;
    t.pdf = ConvertPdfToText;
    t.word = ConvertWordToText;
    t.powerPoint = ConvertPowerPointToText;
    t.excel = ConvertExcelToText;
    return t;
}

ExtractorTable SetExtractorTable(const ExtractorTable& table)
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    ExtractorTable old = g_table;
    g_table = table;
    return old;
}

ExtractorTable CurrentExtractorTable()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    return g_table;
}

bool HasExtractorFor(const std::u16string& upperExtension)
{
    const Choice* c = ChoiceFor(upperExtension);
    return c && CurrentExtractorTable().*(c->entry) != nullptr;
}

namespace {

// Traces the exception being handled by an entry's caller: the library
// error word, an allocation refused (a text past its cap) or another. Gives
// the reason for the error-file list.
std::u16string TraceReaderException(const std::u16string& path) noexcept
{
    try {
        try {
            throw;
        } catch (LibraryException word) {
            SearchLog().Write(u"reader failed, error word %u: %s", static_cast<unsigned>(word), path.c_str());
            return plat::FormatWide(u"읽는 중 오류 (오류 코드 %u)", static_cast<unsigned>(word));
        } catch (const std::bad_alloc&) {
            SearchLog().Write(u"reader failed, out of memory or text too long: %s", path.c_str());
            return u"읽는 중 오류 (메모리 부족 또는 너무 긴 텍스트)";
        } catch (const std::exception& e) {
            const std::u16string what = plat::Utf8ToWide(e.what());
            SearchLog().Write(u"reader failed, %s: %s", what.c_str(), path.c_str());
            return u"읽는 중 오류 (" + what + u")";
        } catch (...) {
            SearchLog().Write(u"reader failed, unknown exception: %s", path.c_str());
        }
    } catch (...) {
        // The trace itself failed: the status still says it.
    }
    return u"읽는 중 오류";
}

}  // namespace

std::u16string DocumentOpenFailureText(int docOpenError)
{
    switch (docOpenError) {
    case kDocOpenNotFound: return u"파일을 찾을 수 없음";
    case kDocOpenNoAccess: return u"접근 권한 없음";
    case kDocOpenNameTooLong: return u"경로가 너무 김";
    case kDocOpenNotRegular: return u"일반 파일이 아님";
    default: return u"파일을 열 수 없음";
    }
}

int ExtractDocumentText(const std::u16string& path, const std::u16string& upperExtension,
                        std::u16string& text) noexcept
{
    return ExtractDocumentText(path, upperExtension, text, nullptr);
}

int ExtractDocumentText(const std::u16string& path, const std::u16string& upperExtension,
                        std::u16string& text, std::u16string* reason) noexcept
{
    int status = 0;
    std::u16string why;
    try {
        const Choice* c = ChoiceFor(upperExtension);
        if (!c)
            return 0;
        ExtractEntry entry = CurrentExtractorTable().*(c->entry);
        if (!entry) {
            status = 1;
            why = u"이 형식을 읽는 기능이 없음";
        } else {
            plat::ClearDocumentOpenError();
            status = entry(path.c_str(), ReaderOptions(c->format), &text);
        }
    } catch (...) {
        // Status 2 as for any failing reader; the trace says which failure.
        status = 2;
        why = TraceReaderException(path);
    }
    try {
        // A read asked to stop did not reach the end, whatever the reader says.
        if (plat::ReadCancelled()) {
            status = 1;
            why = u"검색을 멈춤";
        }
        if (status != 0 && reason) {
            const plat::DocOpenError open = plat::LastDocumentOpenError();
            if (open != kDocOpenOk && why.empty())
                why = DocumentOpenFailureText(open);
            else if (why.empty())
                why = status == 2 ? u"문서를 읽지 못함 (읽기 오류)" : u"문서를 읽지 못함 (손상되었거나 지원하지 않는 문서)";
            *reason = std::move(why);
        }
    } catch (...) {
        // No memory for the reason: the status still says it.
    }
    return status;
}
