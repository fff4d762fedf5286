#include "search/extractors.h"

#include <exception>
#include <new>
#include <optional>

#include "core/logmgr.h"
#include "extract/extractlib.h"
#include "extract/readerror.h"
#include "office/officeentry.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "platform/wformat.h"

namespace {

struct Choice {
    ExtractEntry ExtractorTable::*entry;
    DocumentFormat format;
};

// The one place that maps the kinds table's readers to their entries (the
// table sits in core, below the readers).
constexpr ExtractEntry ExtractorTable::*EntryOf(DocumentReader reader)
{
    switch (reader) {
    case DocumentReader::Hwp: return &ExtractorTable::hwp;
    case DocumentReader::Word: return &ExtractorTable::word;
    case DocumentReader::Excel: return &ExtractorTable::excel;
    case DocumentReader::PowerPoint: return &ExtractorTable::powerPoint;
    case DocumentReader::Pdf: return &ExtractorTable::pdf;
    }
    return nullptr;
}

// What the extension decides (exact, case-sensitive comparison).
std::optional<Choice> ChoiceFor(const std::u16string& ext)
{
    const DocumentExtensionMatch m = MatchDocumentExtension(ext);
    if (m.kind < 0) return std::nullopt;
    return Choice{EntryOf(kDocumentKinds[m.kind].reader), m.format};
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
    return MatchDocumentExtension(upperExtension).format;
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

bool HasExtractorFor(const ExtractorTable& readers, const std::u16string& upperExtension)
{
    const std::optional<Choice> c = ChoiceFor(upperExtension);
    return c && readers.*(c->entry) != nullptr;
}

bool HasExtractorFor(const std::u16string& upperExtension)
{
    return HasExtractorFor(DefaultExtractorTable(), upperExtension);
}

namespace {

// Traces a reader's failure: the library error word, an allocation refused
// (a text past its cap) or another exception. Gives the reason for the
// error-file list.
std::u16string TraceReadFailure(const ReadError& failure, const std::u16string& path) noexcept
{
    try {
        switch (failure.reason()) {
        case ReadFailure::LibraryError:
            SearchLog().Write(u"reader failed, error word %u: %s", static_cast<unsigned>(failure.code()),
                              path.c_str());
            return plat::FormatWide(u"읽는 중 오류 (오류 코드 %u)", static_cast<unsigned>(failure.code()));
        case ReadFailure::OutOfMemory:
            SearchLog().Write(u"reader failed, out of memory or text too long: %s", path.c_str());
            return u"읽는 중 오류 (메모리 부족 또는 너무 긴 텍스트)";
        case ReadFailure::Exception: {
            const std::u16string what = plat::Utf8ToWide(failure.what());
            SearchLog().Write(u"reader failed, %s: %s", what.c_str(), path.c_str());
            return u"읽는 중 오류 (" + what + u")";
        }
        case ReadFailure::None:
        case ReadFailure::Unknown:
            SearchLog().Write(u"reader failed, unknown exception: %s", path.c_str());
            break;
        }
    } catch (...) {
        // The trace itself failed: the result still says it.
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

EntryResult ExtractDocumentText(const std::u16string& path, const std::u16string& upperExtension,
                                std::u16string& text) noexcept
{
    return ExtractDocumentText(DefaultExtractorTable(), path, upperExtension, text, nullptr);
}

EntryResult ExtractDocumentText(const std::u16string& path, const std::u16string& upperExtension,
                                std::u16string& text, std::u16string* reason) noexcept
{
    return ExtractDocumentText(DefaultExtractorTable(), path, upperExtension, text, reason);
}

EntryResult ExtractDocumentText(const ExtractorTable& readers, const std::u16string& path,
                                const std::u16string& upperExtension, std::u16string& text,
                                std::u16string* reason) noexcept
{
    EntryResult result = EntryResult::Read;
    std::u16string why;
    // Filled in by an entry that failed on an exception.
    ReadError failure;
    // Damage the reader noted while it read (its reason, when the result is
    // not Read, is the document's).
    plat::DamageScope damage;
    try {
        const std::optional<Choice> c = ChoiceFor(upperExtension);
        if (!c)
            return EntryResult::Read;
        ExtractEntry entry = readers.*(c->entry);
        if (!entry) {
            result = EntryResult::NotRead;
            why = u"이 형식을 읽는 기능이 없음";
        } else {
            plat::ClearDocumentOpenError();
            result = entry(path.c_str(), ReaderOptions(c->format), &text, &failure);
            // An entry that read to the end but noted damage read in part
            // (RunReaderEntry does so; an entry given by a test may not).
            if (result == EntryResult::Read && damage.Damaged())
                result = EntryResult::NotRead;
        }
    } catch (...) {
        // An entry must not throw; one that does failed all the same.
        result = EntryResult::Failed;
        failure = CurrentReadError();
    }
    if (result == EntryResult::Failed && failure.reason() != ReadFailure::None)
        why = TraceReadFailure(failure, path);
    try {
        // A read asked to stop did not reach the end, whatever the reader says.
        if (plat::ReadCancelled()) {
            result = EntryResult::NotRead;
            why = u"검색을 멈춤";
        }
        if (result != EntryResult::Read && damage.Damaged()) {
            const std::u16string what = plat::Utf8ToWide(damage.Reason());
            SearchLog().Write(u"damaged document (%s, %u notes): %s", what.c_str(), damage.Count(), path.c_str());
            if (why.empty())
                why = u"손상된 문서 (" + what + u")";
        }
        if (result != EntryResult::Read && reason) {
            const plat::DocOpenError open = plat::LastDocumentOpenError();
            if (open != kDocOpenOk && why.empty())
                why = DocumentOpenFailureText(open);
            else if (why.empty())
                why = result == EntryResult::Failed ? u"문서를 읽지 못함 (읽기 오류)"
                                                    : u"문서를 읽지 못함 (손상되었거나 지원하지 않는 문서)";
            *reason = std::move(why);
        }
    } catch (...) {
        // No memory for the reason: the result still says it.
    }
    return result;
}
