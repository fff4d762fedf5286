// A search that could not read every document it found says so in its
// completion lines; what was read of a document that failed part way is
// shown, and never taken as that document's stored result.
#include <cstdio>
#include <filesystem>

#include <QTextDocumentFragment>

#include "app/filereport.h"
#include "app_fixture.h"
#include "extract/extractlib.h"
#include "extract/pdf/pdf_builder.h"
#include "search/extractors.h"
#include "support/errorlist.h"

namespace ps_test {
namespace {

// What a label shows, without the markup of a link.
QString Shown(const QLabel* label)
{
    return QTextDocumentFragment::fromHtml(label->text()).toPlainText();
}

}  // namespace

namespace {

// The PDF reader, except that documents named "partial…" give their first
// line and then fail.
EntryResult PartlyFailingPdf(const char16_t* path, const char16_t* options, std::u16string* text, ReadError* failure)
{
    if (std::u16string_view(path).find(u"/partial") != std::u16string_view::npos) {
        *text += u"ID 800101-1234560\n";
        return EntryResult::Failed;
    }
    return ConvertPdfToText(path, options, text, failure);
}

class UnreadDocumentsTest : public AppTest {};

TEST_F(UnreadDocumentsTest, CompletionLinesCountThemAndPartsAreShownNotStored)
{
    ExtractorTable readers = DefaultExtractorTable();
    readers.pdf = &PartlyFailingPdf;
    const std::string root = dir_.file("docs");
    std::filesystem::create_directories(root);
    ASSERT_TRUE(WriteFileBytes(root + "/good.pdf",
                               pdf_test::MakePdf({pdf_test::ShowLines({"ID 800101-1234560"})})));
    ASSERT_TRUE(WriteFileBytes(root + "/partial.pdf", "%PDF-1.4\n"));
    ASSERT_TRUE(WriteFileBytes(root + "/broken.docx", "PK\3\4 no package"));

    for (int round = 0; round < 2; ++round) {
        CAllSearchDlg dlg;
        dlg.SetReaders(readers);
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {plat::PathFromNative(root)}, {});
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
        ASSERT_TRUE(WaitIdle(dlg));
        EXPECT_EQ(dlg.FoundCount(), 3u);
        EXPECT_EQ(dlg.UnreadDocuments(), 2) << "round " << round;
        EXPECT_EQ(Shown(dlg.DelayLine()), QString::fromUtf16(u"읽지 못한 문서: 2개 (오류 파일 목록에 기록됨)"));
        // A link to the day's list, whose place is its tooltip.
        EXPECT_TRUE(dlg.DelayLine()->text().contains(QStringLiteral("<a ")));
        EXPECT_EQ(dlg.DelayLine()->toolTip().toStdString(), ps_test::ErrorListPath(plat::LocalTimeNow()));
        // The part read of partial.pdf is shown beside good.pdf.
        EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), 2);
        EXPECT_EQ(dlg.SearchTotal(kPersonalInfoResidentNumber), 2);
        // Stored under a blank key: the second round reads it again.
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Hash = ''"), round + 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), round + 2);
    }
}

// The day's error-file list on a full disk: the completion line says how
// many of the unread documents the list could not name.
TEST_F(UnreadDocumentsTest, LinesTheListCouldNotTakeAreToldNotLost)
{
    ExtractorTable readers = DefaultExtractorTable();
    readers.pdf = &PartlyFailingPdf;
    const std::string root = dir_.file("docs");
    std::filesystem::create_directories(root);
    ASSERT_TRUE(WriteFileBytes(root + "/partial.pdf", "%PDF-1.4\n"));
    ASSERT_TRUE(WriteFileBytes(root + "/broken.docx", "PK\3\4 no package"));
    const std::filesystem::path list = ps_test::ErrorListPath(plat::LocalTimeNow());
    std::filesystem::create_directories(list.parent_path());
    std::filesystem::remove(list);
    std::filesystem::create_symlink("/dev/full", list);

    CAllSearchDlg dlg;
    dlg.SetReaders(readers);
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {plat::PathFromNative(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(dlg.UnreadDocuments(), 2);
    EXPECT_EQ(Shown(dlg.DelayLine()),
              QString::fromUtf16(u"읽지 못한 문서: 2개 (오류 파일 목록에 0개 기록됨, 2개는 디스크에 기록하지 못함)"));
    std::filesystem::remove(list);

    // The next search, with room for its lines, counts its own from zero.
    CAllSearchDlg next;
    next.SetReaders(readers);
    next.SetSearchMode(1);
    next.SetSearchOptions(0x7F, 0x1F, {plat::PathFromNative(root)}, {});
    next.show();
    ASSERT_TRUE(WaitFor([&] { return next.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(next));
    EXPECT_EQ(next.UnreadDocuments(), 2);
    EXPECT_EQ(Shown(next.DelayLine()), QString::fromUtf16(u"읽지 못한 문서: 2개 (오류 파일 목록에 기록됨)"));
}

}  // namespace
}  // namespace ps_test
