#include "search/extractors.h"
#include "search/scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "extract/readerror.h"
#include "platform/docfile.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/matcher.h"
#include "support/isolation.h"
#include "support/errorlist.h"

namespace {

// Records the last call of any entry.
std::string g_called;
std::u16string g_options;
std::u16string g_text;  // what the entries extract
int g_status = 0;

template <char Id>
EntryResult Recording(const char16_t*, const char16_t* options, std::u16string* text, ReadError*)
{
    g_called = std::string(1, Id);
    g_options = options ? options : u"(null)";
    *text += g_text;
    return static_cast<EntryResult>(g_status);
}
// Entries whose failure escapes them (the dispatch must still hold).
EntryResult Throwing(const char16_t*, const char16_t*, std::u16string* text, ReadError*)
{
    *text += u"partial 02-123-4567";
    throw std::runtime_error("reader failed");
}
EntryResult ThrowingInt(const char16_t*, const char16_t*, std::u16string*, ReadError*) { throw 42; }
EntryResult ThrowingWord(const char16_t*, const char16_t*, std::u16string*, ReadError*)
{
    throw ReadError(ReadFailure::LibraryError, 6);
}
EntryResult ThrowingBadAlloc(const char16_t*, const char16_t*, std::u16string*, ReadError*) { throw std::bad_alloc(); }

// The same failures caught at the entry's boundary, as the real entries do.
template <EntryResult (*Escaping)(const char16_t*, const char16_t*, std::u16string*, ReadError*)>
EntryResult Caught(const char16_t* path, const char16_t* options, std::u16string* text, ReadError* failure)
{
    return RunReaderEntry(failure, [&] { return Escaping(path, options, text, nullptr); });
}

ExtractorTable RecordingTable()
{
    ExtractorTable t;
    t.hwp = Recording<'H'>;
    t.word = Recording<'W'>;
    t.powerPoint = Recording<'P'>;
    t.excel = Recording<'X'>;
    t.pdf = Recording<'F'>;
    return t;
}

std::string ErrorList(const plat::LocalTime& t) { return ps_test::ErrorListPath(t); }

TEST(ExtractorDispatch, EntryAndOptionsByExtension)
{
    const ExtractorTable readers = RecordingTable();
    struct {
        const char16_t* ext;
        const char* entry;
        const char16_t* options;
    } cases[] = {
        {u"HWP", "H", u"(null)"},    {u"DOC", "W", u"xml:false"}, {u"PPT", "P", u"xml:false"},
        {u"XLS", "X", u"xml:false"}, {u"DOCX", "W", u"xml:true"}, {u"PPTX", "P", u"xml:true"},
        {u"XLSX", "X", u"xml:true"}, {u"PDF", "F", u"xml:false"},
        // Upper case only; other extensions have no text and no error.
        {u"docx", "", u""},          {u"TXT", "", u""},           {u"", "", u""},
    };
    for (auto& c : cases) {
        g_called.clear();
        g_options.clear();
        std::u16string text;
        EXPECT_EQ(ExtractDocumentText(readers, u"/x/doc", c.ext, text, nullptr), EntryResult::Read)
            << plat::WideToUtf8(c.ext);
        EXPECT_EQ(g_called, c.entry) << plat::WideToUtf8(c.ext);
        EXPECT_EQ(g_options, c.options) << plat::WideToUtf8(c.ext);
    }
}

TEST(ExtractorDispatch, TheExtensionDecidesTheFormat)
{
    struct {
        const char16_t* ext;
        DocumentFormat format;
    } cases[] = {
        {u"HWP", DocumentFormat::Hwp},        {u"DOC", DocumentFormat::OfficeBinary},
        {u"PPT", DocumentFormat::OfficeBinary}, {u"XLS", DocumentFormat::OfficeBinary},
        {u"DOCX", DocumentFormat::OfficeXml},  {u"PPTX", DocumentFormat::OfficeXml},
        {u"XLSX", DocumentFormat::OfficeXml},  {u"PDF", DocumentFormat::Pdf},
        {u"docx", DocumentFormat::None},       {u"TXT", DocumentFormat::None},
        {u"", DocumentFormat::None},
    };
    for (auto& c : cases)
        EXPECT_EQ(FormatOfExtension(c.ext), c.format) << plat::WideToUtf8(c.ext);
}

TEST(ExtractorDispatch, MissingReaderAndExceptions)
{
    ExtractorTable t;
    t.word = Throwing;
    t.excel = ThrowingInt;
    std::u16string text;
    EXPECT_EQ(ExtractDocumentText(t, u"/x/a.pdf", u"PDF", text, nullptr), EntryResult::NotRead);  // no reader
    EXPECT_EQ(ExtractDocumentText(t, u"/x/a.doc", u"DOC", text, nullptr), EntryResult::Failed);
    EXPECT_EQ(ExtractDocumentText(t, u"/x/a.xls", u"XLS", text, nullptr), EntryResult::Failed);
    // The library error word and a refused allocation end the same way.
    t.hwp = ThrowingWord;
    t.powerPoint = ThrowingBadAlloc;
    EXPECT_EQ(ExtractDocumentText(t, u"/x/a.hwp", u"HWP", text, nullptr), EntryResult::Failed);
    EXPECT_EQ(ExtractDocumentText(t, u"/x/a.ppt", u"PPT", text, nullptr), EntryResult::Failed);
    EXPECT_FALSE(HasExtractorFor(t, u"PDF"));
    EXPECT_TRUE(HasExtractorFor(t, u"DOCX"));
    EXPECT_FALSE(HasExtractorFor(t, u"TXT"));
    // The program's readers are another table, untouched by this one.
    EXPECT_TRUE(HasExtractorFor(u"PDF"));
    EXPECT_FALSE(HasExtractorFor(u"TXT"));
}

// An entry catches every failure at its boundary and describes it: the
// result and the error-file list's reason are those of a failure that
// escaped the entry, and an entry that only reports Failed says no more.
TEST(ExtractorDispatch, FailuresCaughtAtTheEntryKeepTheirReason)
{
    struct {
        ExtractEntry escaping;
        ExtractEntry caught;
        std::u16string reason;
    } cases[] = {
        {ThrowingWord, Caught<ThrowingWord>, u"읽는 중 오류 (오류 코드 6)"},
        {ThrowingBadAlloc, Caught<ThrowingBadAlloc>, u"읽는 중 오류 (메모리 부족 또는 너무 긴 텍스트)"},
        {Throwing, Caught<Throwing>, u"읽는 중 오류 (reader failed)"},
        {ThrowingInt, Caught<ThrowingInt>, u"읽는 중 오류"},
    };
    ExtractorTable t;
    for (const auto& c : cases) {
        for (ExtractEntry entry : {c.escaping, c.caught}) {
            t.word = entry;
            std::u16string text, reason;
            EXPECT_EQ(ExtractDocumentText(t, u"/x/a.doc", u"DOC", text, &reason), EntryResult::Failed);
            EXPECT_EQ(reason, c.reason) << plat::WideToUtf8(c.reason);
        }
    }
    // Failed without an exception (no output string, an HWP library error
    // the manager caught): the plain reason.
    t.word = Recording<'W'>;
    g_status = static_cast<int>(EntryResult::Failed);
    std::u16string text, reason;
    EXPECT_EQ(ExtractDocumentText(t, u"/x/a.doc", u"DOC", text, &reason), EntryResult::Failed);
    EXPECT_EQ(reason, u"문서를 읽지 못함 (읽기 오류)");
    g_status = 0;
}

// A reader that notes damage and reads on: the text it gathered is matched,
// the document is read in part with the first reason, whether the entry
// turned the result itself (RunReaderEntry) or not; damage in an embedded
// part (an entry inside an entry) marks the document.
EntryResult DamagedRead(const char16_t*, const char16_t*, std::u16string* text, ReadError*)
{
    *text += u"tel 02-123-4567";
    plat::NoteDamage("압축 스트림 손상");
    plat::NoteDamage("두 번째 이유");
    return EntryResult::Read;
}
EntryResult EmbeddedDamage(const char16_t* path, const char16_t* options, std::u16string* text, ReadError* failure)
{
    return RunReaderEntry(failure, [&] {
        std::u16string inner;
        (void)Caught<DamagedRead>(path, options, &inner, nullptr);
        *text += inner;
        return EntryResult::Read;
    });
}

TEST(ExtractorDispatch, ADamagedReadIsReadInPartWithItsFirstReason)
{
    ExtractorTable t;
    for (ExtractEntry entry : {ExtractEntry(DamagedRead), ExtractEntry(Caught<DamagedRead>), ExtractEntry(EmbeddedDamage)}) {
        t.pdf = entry;
        std::u16string text, reason;
        EXPECT_EQ(ExtractDocumentText(t, u"/x/a.pdf", u"PDF", text, &reason), EntryResult::NotRead);
        EXPECT_EQ(text, u"tel 02-123-4567");
        EXPECT_EQ(reason, u"손상된 문서 (압축 스트림 손상)");
        PersonalInfoCounts counts{};
        ScanContext context(t);
        EXPECT_EQ(FindPersonalInfoInFile(context, u"/x/damaged.pdf", counts, 0xFFFF, nullptr, nullptr),
                  ScanStatus::Partial);
        EXPECT_EQ(counts, (PersonalInfoCounts{0, 0, 0, 1, 0, 0, 0}));
    }
    EXPECT_NE(ps_test::ReadFileBytes(ErrorList(plat::LocalTimeNow()))
                  .find("/x/damaged.pdf\t손상된 문서 (압축 스트림 손상) - 일부만 읽음\r\n"),
              std::string::npos);
    // Damage noted outside any entry's scope (before the read) is not the
    // document's.
    plat::NoteDamage("밖에서");
    t.pdf = Recording<'F'>;
    g_text = u"x";
    g_status = 0;
    std::u16string text;
    EXPECT_EQ(ExtractDocumentText(t, u"/x/b.pdf", u"PDF", text, nullptr), EntryResult::Read);
}

TEST(ErrorFileList, DailyFilesWholeLines)
{
    plat::LocalTime day1{2024, 3, 9, 8, 5, 7, 0, 0};
    plat::LocalTime day1later{2024, 3, 9, 23, 59, 59, 0, 0};
    plat::LocalTime day2{2024, 3, 10, 0, 0, 1, 0, 0};
    std::u16string longPath = u"/data/" + std::u16string(600, u'가') + u".doc";
    ScanContext context;
    WriteErrorFileListAt(context, u"/data/first.doc", day1);
    WriteErrorFileListAt(context, longPath, day1later);
    WriteErrorFileListAt(context, u"/data/second.hwp", day2);
    // A reason follows the path after a tab, on the same line whatever it holds.
    WriteErrorFileListAt(context, u"/data/third.pdf", day2, u"접근 권한 없음");
    WriteErrorFileListAt(context, u"/data/fourth.pdf", day2, u"two\r\nlines\tand tab");
    EXPECT_EQ(context.LinesLost(), 0);
    EXPECT_EQ(ps_test::ReadFileBytes(ErrorList(day1)),
              "[08:05:07] /data/first.doc\r\n[23:59:59] " + plat::WideToUtf8(longPath) + "\r\n");
    EXPECT_EQ(ps_test::ReadFileBytes(ErrorList(day2)),
              "[00:00:01] /data/second.hwp\r\n[00:00:01] /data/third.pdf\t접근 권한 없음\r\n"
              "[00:00:01] /data/fourth.pdf\ttwo  lines and tab\r\n");
}

// A name cannot write a line of its own into the list, nor a reason: its
// line ends, tabs and other control characters are written escaped.
TEST(ErrorFileList, ANameCannotForgeALine)
{
    plat::LocalTime day{2024, 5, 2, 12, 0, 0, 0, 0};
    ScanContext context;
    WriteErrorFileListAt(context, u"/data/a.hwp\r\n[12:00:00] forged-entry.hwp\tforged reason", day, u"손상된 문서");
    const std::string list = ps_test::ReadFileBytes(ErrorList(day));
    EXPECT_EQ(list, "[12:00:00] /data/a.hwp\\x0D\\x0A[12:00:00] forged-entry.hwp\\x09forged reason\t손상된 문서\r\n");
}

// A list that cannot take a line (a full disk, a folder in the list's
// place): the write says so and the line is counted as lost, never
// silently dropped, and no part of a line stays behind.
TEST(ErrorFileList, LinesNotWrittenAreReportedAndCounted)
{
    plat::LocalTime full{2024, 4, 1, 10, 0, 0, 0, 0};
    plat::LocalTime blocked{2024, 4, 2, 10, 0, 0, 0, 0};
    plat::LocalTime fine{2024, 4, 3, 10, 0, 0, 0, 0};
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(ErrorList(full)).parent_path());
    fs::create_symlink("/dev/full", ErrorList(full));  // every write: no space left
    fs::create_directories(ErrorList(blocked));        // cannot be opened for writing
    ScanContext context, other;
    struct {
        const plat::LocalTime* day;
        bool written;
    } cases[] = {{&full, false}, {&blocked, false}, {&fine, true}, {&full, false}};
    int lost = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(c.written, WriteErrorFileListAt(context, u"/data/a.pdf", *c.day, u"읽을 수 없음"));
        lost += c.written ? 0 : 1;
        EXPECT_EQ(lost, context.LinesLost());
    }
    // Each context counts its own lines, and a reset starts again from zero.
    EXPECT_FALSE(WriteErrorFileListAt(other, u"/data/b.pdf", full, u"읽을 수 없음"));
    EXPECT_EQ(other.LinesLost(), 1);
    EXPECT_EQ(context.LinesLost(), lost);
    context.ResetLinesLost();
    EXPECT_EQ(context.LinesLost(), 0);
    EXPECT_EQ(ps_test::ReadFileBytes(ErrorList(fine)), "[10:00:00] /data/a.pdf\t읽을 수 없음\r\n");
}

TEST(FileScan, StatusesAndErrorList)
{
    ScanContext context(RecordingTable());
    struct {
        const char16_t* path;
        int extractStatus;
        std::u16string text;
        ScanStatus status;
        PersonalInfoCounts counts;
        bool inErrorList;
    } cases[] = {
        {u"/d/a.docx", 0, u"tel 02-123-4567\nmail me@host.com", ScanStatus::Done, {0, 0, 0, 1, 0, 1, 0}, false},
        {u"/d/b.Doc", 0, u"tel 02-123-4567", ScanStatus::Done, {0, 0, 0, 1, 0, 0, 0}, false},
        // Not read to the end: listed, and the text given before is matched.
        {u"/d/c.pdf", 1, u"tel 02-123-4567", ScanStatus::Partial, {0, 0, 0, 1, 0, 0, 0}, true},
        {u"/d/d.xlsx", 2, u"tel 02-123-4567", ScanStatus::Partial, {0, 0, 0, 1, 0, 0, 0}, true},
        {u"/d/n.xlsx", 1, u"", ScanStatus::NoText, {}, true},
        {u"/d/m.xlsx", 2, u"", ScanStatus::Failed, {}, true},
        {u"/d/e.txt", 0, u"tel 02-123-4567", ScanStatus::Done, {}, false},
        {u"/d/f.hwp", 0, u"", ScanStatus::Done, {}, false},
    };
    for (auto& c : cases) {
        g_text = c.text;
        g_status = c.extractStatus;
        PersonalInfoCounts counts{};
        PersonalInfoHitList hits;
        EXPECT_EQ(FindPersonalInfoInFile(context, c.path, counts, 0xFFFF, nullptr, &hits), c.status)
            << plat::WideToUtf8(c.path);
        EXPECT_EQ(counts, c.counts) << plat::WideToUtf8(c.path);
        std::string list = ps_test::ReadFileBytes(ErrorList(plat::LocalTimeNow()));
        EXPECT_EQ(list.find(plat::WideToUtf8(c.path)) != std::string::npos, c.inErrorList)
            << plat::WideToUtf8(c.path);
    }
    g_status = 0;

    // A reader that throws after part of the text: that part is matched and
    // the document listed with the failure.
    ExtractorTable t;
    t.word = Throwing;
    context.SetReaders(t);
    PersonalInfoCounts counts{};
    EXPECT_EQ(FindPersonalInfoInFile(context, u"/d/thrown.doc", counts, 0xFFFF, nullptr, nullptr), ScanStatus::Partial);
    EXPECT_EQ(counts, (PersonalInfoCounts{0, 0, 0, 1, 0, 0, 0}));
    EXPECT_NE(ps_test::ReadFileBytes(ErrorList(plat::LocalTimeNow()))
                  .find("/d/thrown.doc\t읽는 중 오류 (reader failed) - 일부만 읽음\r\n"),
              std::string::npos);
    counts = PersonalInfoCounts{};

    // Cancelled while the text was being extracted.
    context.SetReaders(RecordingTable());
    g_text = u"tel 02-123-4567";
    CancelFlag cancel{1};
    EXPECT_EQ(FindPersonalInfoInFile(context, u"/d/g.docx", counts, 0xFFFF, &cancel, nullptr), ScanStatus::Cancelled);
    EXPECT_EQ(counts, PersonalInfoCounts{});
}

}  // namespace
