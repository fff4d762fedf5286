// A user search of the shared corpus's folder of documents with known
// personal information, through the search window: every document appears
// in the All tab and in its kind's tab with the expected counts, and the
// second search takes the stored results.
#include <fstream>
#include <map>
#include <sstream>

#include "../app_fixture.h"
#include "app/filereport.h"
#include "search/extractors.h"

namespace ps_test {
namespace {

using Expected = std::map<std::u16string, std::array<int, 7>>;

Expected ReadExpected(const std::string& path)
{
    Expected out;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        std::getline(fields, name, '\t');
        std::array<int, 7> v{};
        // resident, account, card, phone, address, email, ip: the kind order.
        for (int& x : v) fields >> x;
        out[plat::PathFromNative(name)] = v;
    }
    return out;
}

class PiiCorpusSearch : public AppTest {};

TEST_F(PiiCorpusSearch, UserSearchShowsExpectedCountsInTheirTabs)
{
    if (CorpusDir().empty()) GTEST_SKIP() << "no shared corpus";
    const std::string folder = CorpusDir() + "/pii";
    const Expected expected = ReadExpected(folder + "/expected.tsv");
    if (expected.empty()) GTEST_SKIP() << "no expected counts";

    CAllSearchDlg dlg;
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {plat::PathFromNative(folder)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(dlg, 300000));

    // Each document of a searched kind with hits is a row of the All tab and
    // of its kind's tab, with its seven counts.
    std::map<std::u16string, std::array<std::u16string, 7>> shown;
    CFileReportControl* all = dlg.Report(CAllSearchDlg::kAll);
    for (int f = 0; f < all->FolderRowCount(); ++f)
        for (int d = 0; all->DocumentRow(f, d); ++d) {
            CFileInfoRecord* row = all->DocumentRow(f, d);
            for (int k = 0; k < 7; ++k) shown[std::u16string(row->FileInfo()->FileName())][k] = row->ItemText(k + 2);
        }
    std::array<int, CAllSearchDlg::kTabCount> perTab{};
    int documents = 0;
    for (const auto& [name, counts] : expected) {
        const int kind = DocumentKindOfName(name);
        if (kind < 0) continue;  // not a searched kind (RTF)
        // Kinds whose reader is not in this build find no text.
        if (!HasExtractorFor(IconKeyOfName(name))) continue;
        int sum = 0;
        for (int c : counts) sum += c;
        if (sum == 0) continue;
        ++documents;
        ++perTab[kind];
        SCOPED_TRACE(plat::PathToNative(name));
        ASSERT_TRUE(shown.count(name));
        for (int k = 0; k < 7; ++k) EXPECT_EQ(shown[name][k], CountCellText(counts[k])) << "kind " << k;
    }
    if (HasExtractorFor(u"PDF")) {
        EXPECT_GT(documents, 0);
    }
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), documents);
    EXPECT_EQ(all->DocumentRowCount(), documents);
    for (int t = CAllSearchDlg::kHwp; t < CAllSearchDlg::kTabCount; ++t) {
        EXPECT_EQ(dlg.TabCount(t), perTab[t]) << "tab " << t;
        EXPECT_EQ(dlg.Report(t)->DocumentRowCount(), perTab[t]) << "tab " << t;
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 1);
    const long long stored = Count("SELECT COUNT(*) FROM FileInfo");

    // The second search takes the stored results and shows the same.
    dlg.OnBnClickedButtonSearch();
    ASSERT_TRUE(WaitIdle(dlg, 300000));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), stored);
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), documents);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 2);
    EXPECT_EQ(Count("SELECT ID FROM SearchEventLog ORDER BY EventID DESC LIMIT 1"),
              Count("SELECT ID FROM SearchEventLog ORDER BY EventID ASC LIMIT 1"));
}

}  // namespace
}  // namespace ps_test
