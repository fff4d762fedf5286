// Item lists over the computer model, the drive list, and the check-box
// folder tree over a temporary folder tree.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>

#include "core/controls/shellpidl.h"
#include "core/controls/shelltree.h"
#include "core/controls/wnd.h"

using namespace ps::ui;

namespace {

CShellPidl Folder(const char16_t* name)
{
    return CShellPidl(CShellPidl::Make(CShellPidl::kFolder, name));
}

}  // namespace

TEST(ShellPidlTest, ConcatCopyAndPaths)
{
    CShellPidl computer(CShellPidl::Make(CShellPidl::kComputer, u""));
    CShellPidl drive(CShellPidl::Make(CShellPidl::kDrive, u"/media/user/USB"));
    CShellPidl docs = Folder(u"문서");

    CShellPidl a(CShellPidl::Concat(computer.Get(), drive.Get()));
    CShellPidl full(CShellPidl::Concat(a.Get(), docs.Get()));
    EXPECT_EQ(CShellPidl::Count(full.Get()), 3);
    EXPECT_EQ(CShellPidl::Size(full.Get()), CShellPidl::Size(a.Get()) + CShellPidl::Size(docs.Get()));
    EXPECT_EQ(CShellPidl::GetPath(full), u"/media/user/USB/문서");
    EXPECT_EQ(CShellPidl::GetPath(a), u"/media/user/USB");
    EXPECT_EQ(CShellPidl::GetPath(computer), u"");  // virtual: no path
    EXPECT_EQ(CShellPidl::ItemText(CShellPidl::LastItem(full.Get())), u"문서");

    // With one side null the result is a copy of the other.
    CShellPidl left(CShellPidl::Concat(nullptr, docs.Get()));
    CShellPidl right(CShellPidl::Concat(docs.Get(), nullptr));
    ASSERT_NE(left.Get(), docs.Get());
    EXPECT_EQ(0, std::memcmp(left.Get(), docs.Get(), CShellPidl::Size(docs.Get()) + 2));
    EXPECT_EQ(0, std::memcmp(right.Get(), docs.Get(), CShellPidl::Size(docs.Get()) + 2));
    EXPECT_EQ(CShellPidl::Concat(nullptr, nullptr), nullptr);

    PIDL copy = nullptr;
    CShellPidl::Copy(&copy, full.Get());
    EXPECT_EQ(CShellPidl::PathOf(copy), u"/media/user/USB/문서");
    CShellPidl::Free(&copy);
    EXPECT_EQ(copy, nullptr);
    CShellPidl::Free(&copy);  // twice: nothing
    CShellPidl::Copy(&copy, nullptr);
    EXPECT_EQ(copy, nullptr);

    // A folder without a drive above it has no path.
    EXPECT_EQ(CShellPidl::GetPath(docs), u"");
}

TEST(ShellStringTest, NamesOfEveryKindOutliveTheCallersList)
{
    CShellString name;
    {
        CShellPidl drive(CShellPidl::Make(CShellPidl::kDrive, u"/data"));
        CShellPidl folder = Folder(u"보고서");
        CShellPidl full(CShellPidl::Concat(drive.Get(), folder.Get()));
        GetDisplayNameOf(full.Get(), name.Prepare(full.Get()));
    }
    EXPECT_EQ(name.GetText(), u"보고서");

    // An offset into the kept copy of the list: the narrow name stays valid
    // after the caller's list is freed.
    CShellString offset;
    {
        // An item whose text bytes hold a narrow (code page 949) name.
        const std::string narrow("\xB9\xAE\xBC\xAD", 4);  // "문서" in code page 949
        std::u16string raw((narrow.size() + 2) / 2, u'\0');
        std::memcpy(raw.data(), narrow.data(), narrow.size());
        CShellPidl item(CShellPidl::Make(CShellPidl::kFolder, raw));
        STRRET* s = offset.Prepare(item.Get());
        s->uType = STRRET::kOffset;
        s->uOffset = 3;
    }
    EXPECT_EQ(offset.GetText(), u"문서");

    CShellString inline_;
    STRRET* s = inline_.Prepare(nullptr);
    s->uType = STRRET::kNarrow;
    std::strcpy(s->cStr, "Data");
    EXPECT_EQ(inline_.GetText(), u"Data");
    s->uType = 9;
    EXPECT_EQ(inline_.GetText(), u"");
}

TEST(DriveListTest, OnlyMediaAUserWouldSearchWithStableLabels)
{
    const std::string mountinfo =
        "21 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
        "22 21 0:5 / /proc rw - proc proc rw\n"
        "23 21 0:21 / /sys rw - sysfs sysfs rw\n"
        "24 21 259:1 / /boot/efi rw - vfat /dev/nvme0n1p1 rw\n"
        "25 21 0:30 / /run rw - tmpfs tmpfs rw\n"
        "26 21 259:3 / /home rw - ext4 /dev/nvme0n1p3 rw\n"
        "27 21 8:17 / /media/kim/USB\\040DISK rw - vfat /dev/sdb1 rw\n"
        "28 21 11:0 / /media/kim/CDROM ro - iso9660 /dev/sr0 ro\n"
        "29 21 0:50 / /mnt/share rw - cifs //server/share rw\n"
        "30 21 0:51 / /mnt/nfs rw - nfs4 server:/export rw\n"
        "31 21 7:3 / /snap/core/1 ro - squashfs /dev/loop3 ro\n"
        "32 21 7:4 / /mnt/image ro - ext4 /dev/loop4 ro\n"
        "33 21 0:60 / /tmp rw - tmpfs tmpfs rw\n"
        "34 21 8:33 / /run/media/kim/Backup rw - exfat /dev/sdc1 rw\n"
        "35 21 8:49 / /mnt/a/data rw - ext4 /dev/sdd1 rw\n"
        "36 21 8:50 / /mnt/b/data rw - xfs /dev/sdd2 rw\n"
        "37 21 259:3 / /srv/home-again rw - ext4 /dev/nvme0n1p3 rw\n"  // the same /home again
        "38 21 8:65 / /media/kim/ntfs rw - fuseblk /dev/sde1 rw\n"
        "39 21 0:70 / /media/kim/phone rw - fuse.sshfs me@host: rw\n"
        "40 21 2:0 / /media/floppy rw - vfat /dev/fd0 rw\n";
    const auto drives = DrivesFromMountInfo(mountinfo);
    std::vector<std::u16string> paths, labels;
    for (const auto& d : drives) {
        paths.push_back(d.path);
        labels.push_back(d.label);
        EXPECT_EQ(d.label.find(u'/'), std::u16string::npos);  // labels are path components
    }
    const std::vector<std::u16string> wantPaths = {u"/", u"/home", u"/media/kim/USB DISK", u"/media/kim/ntfs",
                                                   u"/mnt/a/data", u"/mnt/b/data", u"/run/media/kim/Backup"};
    EXPECT_EQ(paths, wantPaths);
    const std::vector<std::u16string> wantLabels = {u"시스템",        u"home",          u"USB DISK", u"ntfs",
                                                    u"mnt › a › data", u"mnt › b › data", u"Backup"};
    EXPECT_EQ(labels, wantLabels);
    // The same table gives the same labels (stored folder lists refer to them).
    const auto again = DrivesFromMountInfo(mountinfo);
    ASSERT_EQ(again.size(), drives.size());
    for (size_t i = 0; i < again.size(); ++i) EXPECT_EQ(again[i].label, drives[i].label);
    // Broken lines are skipped.
    EXPECT_TRUE(DrivesFromMountInfo("garbage\n1 2 3\n- - -\n").empty());
}

TEST(DriveListTest, MountPointsDecodedAsTheEngineDecodesThem)
{
    // Only a backslash with three octal digits is an escape: \089 is
    // kept as it stands, \134 is one backslash.
    const auto drives = DrivesFromMountInfo(
        "21 1 8:1 / /media/kim/A\\089 rw - ext4 /dev/sda1 rw\n"
        "22 1 8:2 / /media/kim/B\\134C\\011D rw - ext4 /dev/sda2 rw\n");
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].path, u"/media/kim/A\\089");
    EXPECT_EQ(drives[1].path, u"/media/kim/B\\C\tD");
}

namespace {

// A temporary computer: two drives over temporary folders.
class TreeFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString data, usb;
    QList<int> notices;
    MessageSink sink{[this](int n, quintptr w, qintptr l) {
        if (n == UM_CONFIG_PAGE_CHANGED && w == 0 && l == 1) notices << n;
        return qintptr(0);
    }};

    void SetUp() override
    {
        data = dir.path() + "/data";
        usb = dir.path() + "/usb";
        for (const char* p : {"data/문서/2024", "data/문서/2025/보고서", "data/사진", "data/zipcodes", "data/.hidden",
                              "usb/백업"})
            ASSERT_TRUE(QDir().mkpath(dir.path() + "/" + QString::fromUtf8(p)));
        QFile f(data + "/archive.zip");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        SetDriveListForTesting({{u"Data (D)", data.toStdU16String()}, {u"USB", usb.toStdU16String()}});
    }
    void TearDown() override { SetDriveListForTesting({}); }

    QTreeWidgetItem* Child(CDriveSelectTree& t, QTreeWidgetItem* parent, const QString& text)
    {
        return t.FindChildByText(text, parent, false);
    }
    static QStringList Texts(QTreeWidgetItem* item)
    {
        QStringList out;
        for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
        return out;
    }
};

}  // namespace

TEST_F(TreeFixture, RootListsDrivesAndFoldersFillLazily)
{
    CDriveSelectTree tree;
    tree.Initialize();
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree.topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("컴퓨터"));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(Texts(root), (QStringList{QStringLiteral("Data (D)"), QStringLiteral("USB")}));
    QTreeWidgetItem* d = root->child(0);
    // Not filled before it is opened, but marked as having children.
    EXPECT_EQ(d->childCount(), 0);
    EXPECT_EQ(d->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    // A folder made now shows up, since the drive is read when opened.
    ASSERT_TRUE(QDir().mkpath(data + "/나중"));
    tree.expandItem(d);
    // Folders only, sorted; no dot folders; a real folder named zipcodes
    // stays, the archive file does not appear.
    EXPECT_EQ(Texts(d), (QStringList{QStringLiteral("zipcodes"), QStringLiteral("나중"), QStringLiteral("문서"),
                                     QStringLiteral("사진")}));
    QTreeWidgetItem* photos = Child(tree, d, QStringLiteral("사진"));
    ASSERT_NE(photos, nullptr);
    EXPECT_EQ(photos->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    // Filled once: a folder made after opening is not added again.
    ASSERT_TRUE(QDir().mkpath(data + "/더 나중"));
    tree.collapseItem(d);
    tree.expandItem(d);
    EXPECT_EQ(d->childCount(), 4);
    EXPECT_EQ(CShellTreeCtrl::ItemFsPath(Child(tree, d, QStringLiteral("문서"))), data + "/문서");
    EXPECT_EQ(CShellTreeCtrl::ItemFsPath(root), QString());
}

TEST_F(TreeFixture, PathsFindTheSameItemAndFillOnTheWay)
{
    CDriveSelectTree tree;
    tree.Initialize();
    QTreeWidgetItem* a = tree.FindItemByPath(QStringLiteral("컴퓨터/Data (D)/문서/2025"));
    QTreeWidgetItem* b = tree.FindItemByPath(QStringLiteral("/컴퓨터/Data (D)/문서/2025/"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(tree.GetItemPath(a), QStringLiteral("/컴퓨터/Data (D)/문서/2025/"));
    EXPECT_EQ(tree.FindItemByPath(QStringLiteral("/컴퓨터/Data (D)/없는 폴더/")), nullptr);
    EXPECT_EQ(tree.FindItemByPath(QString()), nullptr);
    EXPECT_EQ(tree.FindItemByPath(QStringLiteral("/컴퓨터/data (d)/")), nullptr);  // exact text only
    EXPECT_NE(tree.FindChildByText(QStringLiteral("보고서"), tree.topLevelItem(0), true), nullptr);
}

TEST_F(TreeFixture, CheckRulesDownAndUp)
{
    CDriveSelectTree tree;
    tree.SetNotifyWindow(&sink);
    tree.Initialize();
    QTreeWidgetItem* root = tree.topLevelItem(0);
    QTreeWidgetItem* d = Child(tree, root, QStringLiteral("Data (D)"));
    QTreeWidgetItem* docs = Child(tree, d, QStringLiteral("문서"));  // fills Data
    ASSERT_NE(docs, nullptr);
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 1);
    EXPECT_EQ(CDriveSelectTree::StateImage(docs), 1);

    // Checking a drive checks every folder filled below it.
    tree.SetItemCheckByClick(d);
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 2);
    for (int i = 0; i < d->childCount(); ++i) EXPECT_EQ(CDriveSelectTree::StateImage(d->child(i)), 2);
    EXPECT_EQ(CDriveSelectTree::StateImage(root), 3);  // USB is not checked
    QCoreApplication::processEvents();
    EXPECT_EQ(notices.size(), 1);

    // A folder opened later shows its children checked.
    tree.expandItem(docs);
    ASSERT_EQ(docs->childCount(), 2);
    EXPECT_EQ(CDriveSelectTree::StateImage(docs->child(0)), 2);
    EXPECT_EQ(CDriveSelectTree::StateImage(docs->child(1)), 2);

    // Unchecking one child makes the parents partly checked.
    QTreeWidgetItem* y2024 = Child(tree, docs, QStringLiteral("2024"));
    tree.SetItemCheckByClick(y2024);
    EXPECT_EQ(CDriveSelectTree::StateImage(y2024), 1);
    EXPECT_EQ(CDriveSelectTree::StateImage(docs), 3);
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 3);
    EXPECT_EQ(tree.CountChildren(docs), std::make_pair(2, 1));

    // Clicking a partly checked item unchecks it and everything below.
    tree.SetItemCheckByClick(docs);
    EXPECT_EQ(CDriveSelectTree::StateImage(docs), 1);
    EXPECT_EQ(CDriveSelectTree::StateImage(Child(tree, docs, QStringLiteral("2025"))), 1);

    // Unchecking the only checked child leaves its folder partly checked.
    QTreeWidgetItem* usb = Child(tree, root, QStringLiteral("USB"));
    QTreeWidgetItem* backup = Child(tree, usb, QStringLiteral("백업"));
    ASSERT_NE(backup, nullptr);
    tree.SetItemCheckByClick(backup);
    EXPECT_EQ(CDriveSelectTree::StateImage(usb), 2);  // its only child checked
    tree.SetItemCheckByClick(backup);
    EXPECT_EQ(CDriveSelectTree::StateImage(usb), 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(notices.size(), 5);
    EXPECT_EQ(tree.CountChildren(nullptr), std::make_pair(0, 0));
}

TEST_F(TreeFixture, ClickOnTheCheckBoxToggles)
{
    CDriveSelectTree tree;
    tree.resize(300, 300);
    tree.Initialize();
    tree.show();
    QTreeWidgetItem* d = Child(tree, tree.topLevelItem(0), QStringLiteral("Data (D)"));
    const QRect box = tree.StateImageRect(d);
    ASSERT_FALSE(box.isEmpty());
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 2);
    EXPECT_EQ(tree.currentItem(), d);
    // A click on the text selects without toggling.
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, box.center() + QPoint(40, 0));
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 2);
    // Space toggles the current item, as the click on its box does.
    QTest::keyClick(tree.viewport(), Qt::Key_Space);
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 1);
    QTest::keyClick(tree.viewport(), Qt::Key_Space);
    EXPECT_EQ(CDriveSelectTree::StateImage(d), 2);
}

TEST_F(TreeFixture, CollectingPathsAndStates)
{
    CDriveSelectTree tree;
    tree.Initialize();
    QTreeWidgetItem* root = tree.topLevelItem(0);
    QTreeWidgetItem* d = Child(tree, root, QStringLiteral("Data (D)"));
    QTreeWidgetItem* docs = Child(tree, d, QStringLiteral("문서"));
    tree.SetItemCheckByClick(d);
    tree.expandItem(docs);
    tree.SetItemCheckByClick(Child(tree, docs, QStringLiteral("2024")));  // docs, d, root partly checked
    QTreeWidgetItem* y2025 = Child(tree, docs, QStringLiteral("2025"));
    ASSERT_NE(y2025, nullptr);  // collapsed: its children are not visited

    QStringList checked, unchecked;
    tree.CollectPaths(root, checked, unchecked);
    EXPECT_TRUE(checked.contains(QStringLiteral("/컴퓨터/Data (D)/문서/")));  // partly checked counts as checked
    EXPECT_TRUE(checked.contains(QStringLiteral("/컴퓨터/")));
    EXPECT_TRUE(checked.contains(QStringLiteral("/컴퓨터/Data (D)/문서/2025/")));
    EXPECT_TRUE(unchecked.contains(QStringLiteral("/컴퓨터/Data (D)/문서/2024/")));
    EXPECT_TRUE(unchecked.contains(QStringLiteral("/컴퓨터/USB/")));

    QStringList on, off;
    tree.CollectCheckStates(root, on, off);
    EXPECT_EQ(on, (QStringList{data + "/zipcodes", data + "/문서/2025", data + "/사진"}));
    EXPECT_EQ(off, (QStringList{data + "/문서/2024", usb}));
    // Partly checked items and the computer item go nowhere.
    EXPECT_FALSE(on.contains(data + "/문서"));
    EXPECT_FALSE(off.contains(data));
}

TEST_F(TreeFixture, ResetChecksRebuildsAndSetsEverything)
{
    CDriveSelectTree tree;
    tree.Initialize();
    QTreeWidgetItem* root = tree.topLevelItem(0);
    Child(tree, Child(tree, root, QStringLiteral("Data (D)")), QStringLiteral("문서"));
    tree.ResetChecks(true);
    EXPECT_EQ(CDriveSelectTree::StateImage(root), 2);
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->childCount(), 0);  // rebuilt: folders are filled again when opened
    tree.expandItem(root->child(0));
    for (int i = 0; i < root->child(0)->childCount(); ++i)
        EXPECT_EQ(CDriveSelectTree::StateImage(root->child(0)->child(i)), 2);
    tree.ResetChecks(false);
    EXPECT_EQ(CDriveSelectTree::StateImage(root), 1);
    EXPECT_EQ(CDriveSelectTree::StateImage(root->child(1)), 1);
}
