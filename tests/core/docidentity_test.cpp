// Deleting and encrypting act only on the file the search read: a folder of
// the document's path swapped for a link to another folder holding a file
// of the same name, the document replaced or rewritten, leave every file
// alone and say why; a folder reached through a link that stays put is
// acted on as usual.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "core/docarchiver.h"
#include "core/docfiles.h"
#include "core/harrow.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }

// The identity a search keeps: that of the file its reader opened.
plat::FileIdentity IdentityOfRead(const std::string& path)
{
    plat::ReadCancelScope scope(nullptr, plat::CurrentDocumentBudget());
    plat::ReadCancelScope inner(nullptr);  // a reader's own scope inside the document's
    const int fd = plat::OpenDocumentFile(path);
    if (fd >= 0) close(fd);
    plat::FileIdentity id;
    {
        plat::ReadCancelScope nested(nullptr);
        id = nested.FirstFileOpened();  // opened before: not this scope's
    }
    EXPECT_FALSE(id.Known());
    return inner.FirstFileOpened();
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class DocumentIdentityTest : public ::testing::Test {
public:  // the cases' lambdas change the fixture's files
    void SetUp() override
    {
        harrow::Harrow::ModulePathOverride() = U(std::string(PS_BINARY_DIR) + "/bin/harrow32.so");
        fs::create_directories(docs_);
        fs::create_directories(other_);
        ASSERT_TRUE(WriteFileBytes(doc_, "searched: 800101-1234560"));
        ASSERT_TRUE(WriteFileBytes(other_ + "/a.pptx", "unrelated"));
        read_ = IdentityOfRead(doc_);
        ASSERT_TRUE(read_.Known());
    }
    void TearDown() override { harrow::Harrow::ModulePathOverride().clear(); }

    // The searched folder moves away and a link to the other folder takes
    // its name.
    void SwapFolderForLink()
    {
        fs::rename(docs_, moved_);
        fs::create_directory_symlink(other_, docs_);
    }

    TempDir dir_;
    const std::string docs_ = dir_.file("docs");
    const std::string moved_ = dir_.file("docs.moved");
    const std::string other_ = dir_.file("other");
    const std::string doc_ = docs_ + "/a.pptx";
    plat::FileIdentity read_;
};

TEST_F(DocumentIdentityTest, TheReadKeepsTheIdentityOfTheFileOpened)
{
    struct stat st{};
    ASSERT_EQ(lstat(doc_.c_str(), &st), 0);
    EXPECT_EQ(read_, plat::IdentityOf(st));
    EXPECT_EQ(read_.size, 24);
    // Nothing opened: not known.
    plat::ReadCancelScope scope(nullptr, plat::CurrentDocumentBudget());
    EXPECT_FALSE(scope.FirstFileOpened().Known());
}

// Each way the name can stop holding the file read: nothing is deleted, the
// outcome says so, and the other folder's file is untouched.
TEST_F(DocumentIdentityTest, DeleteLeavesAnyOtherFileAlone)
{
    const struct {
        const char* name;
        std::function<void(DocumentIdentityTest&)> change;
        RemoveOutcome outcome;
    } cases[] = {
        {"folder swapped for a link", [](DocumentIdentityTest& t) { t.SwapFolderForLink(); }, RemoveOutcome::Replaced},
        {"document replaced",
         [](DocumentIdentityTest& t) {
             fs::remove(t.doc_);
             WriteFileBytes(t.doc_, "searched: 800101-1234560");
         },
         RemoveOutcome::Replaced},
        {"document rewritten", [](DocumentIdentityTest& t) { WriteFileBytes(t.doc_, "new text"); },
         RemoveOutcome::Replaced},
        {"document a link now",
         [](DocumentIdentityTest& t) {
             fs::rename(t.doc_, t.docs_ + "/kept.pptx");
             fs::create_symlink(t.other_ + "/a.pptx", t.doc_);
         },
         RemoveOutcome::Replaced},
        {"document gone", [](DocumentIdentityTest& t) { fs::remove(t.doc_); }, RemoveOutcome::Missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path());
        SetUp();
        c.change(*this);
        EXPECT_EQ(RemoveDocument(U(doc_), read_), c.outcome);
        EXPECT_EQ(ReadFileBytes(other_ + "/a.pptx"), "unrelated");
        EXPECT_FALSE(IsGone(RemoveOutcome::Replaced));
    }
    // The folder swapped: the searched document is still where it went.
    fs::remove_all(dir_.path());
    SetUp();
    SwapFolderForLink();
    EXPECT_EQ(RemoveDocument(U(doc_), read_), RemoveOutcome::Replaced);
    EXPECT_EQ(ReadFileBytes(moved_ + "/a.pptx"), "searched: 800101-1234560");
}

TEST_F(DocumentIdentityTest, DeleteActsOnTheFileReadAlsoThroughALinkThatStays)
{
    // The user searched through a link of their own: the document is the same file.
    const std::string link = dir_.file("link-to-docs");
    fs::create_directory_symlink(docs_, link);
    EXPECT_EQ(RemoveDocument(U(link + "/a.pptx"), read_), RemoveOutcome::Deleted);
    EXPECT_FALSE(fs::exists(doc_));
    EXPECT_EQ(ReadFileBytes(other_ + "/a.pptx"), "unrelated");
    // Without a kept identity the name is acted on as before.
    EXPECT_EQ(RemoveDocument(U(other_ + "/a.pptx"), plat::FileIdentity{}), RemoveOutcome::Deleted);
}

class DocumentIdentityArchiveTest : public DocumentIdentityTest {
protected:
    ArchiveOutcome Encrypt(const std::string& path, std::function<void()> beforeRemove = {})
    {
        DocumentArchiver archiver;
        EXPECT_TRUE(archiver.Start());
        archiver.SetPassword(u"password1");
        archiver.beforeRemove = std::move(beforeRemove);
        archiver.onItemBegin = [this](const std::u16string& p) { begun_.push_back(p); };
        const ArchiveOutcome outcome = archiver.EncryptDocument(U(path), read_);
        reason_ = archiver.LastFailureReason();
        archive_ = archiver.LastArchivePath();
        return outcome;
    }
    std::u16string reason_, archive_;
    std::vector<std::u16string> begun_;
};

TEST_F(DocumentIdentityArchiveTest, EncryptLeavesAnyOtherFileAlone)
{
    const struct {
        const char* name;
        std::function<void(DocumentIdentityTest&)> change;
    } cases[] = {
        {"folder swapped for a link", [](DocumentIdentityTest& t) { t.SwapFolderForLink(); }},
        {"document rewritten", [](DocumentIdentityTest& t) { WriteFileBytes(t.doc_, "new text"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path());
        SetUp();
        c.change(*this);
        EXPECT_EQ(Encrypt(doc_), ArchiveOutcome::Failed);
        EXPECT_EQ(reason_, kDocumentReplacedText);
        EXPECT_TRUE(archive_.empty());
        EXPECT_TRUE(begun_.empty());  // the engine never started on it
        EXPECT_EQ(FilesIn(other_), std::vector<std::string>{"a.pptx"});
        EXPECT_EQ(ReadFileBytes(other_ + "/a.pptx"), "unrelated");
    }
}

TEST_F(DocumentIdentityArchiveTest, AFolderSwappedWhileTheArchiveIsMadeChangesNothingItActsOn)
{
    // The folder is held from the start: the archive lies beside the
    // document read, that document is the one removed, and the folder the
    // link now leads to is not touched.
    EXPECT_EQ(Encrypt(doc_, [this] { SwapFolderForLink(); }), ArchiveOutcome::Done);
    EXPECT_EQ(FilesIn(moved_), std::vector<std::string>{"a.pptx.zip"});
    EXPECT_EQ(FilesIn(other_), std::vector<std::string>{"a.pptx"});
    EXPECT_EQ(ReadFileBytes(other_ + "/a.pptx"), "unrelated");
    EXPECT_EQ(archive_, U(doc_ + ".zip"));  // the name the user knows
    EXPECT_EQ(begun_, std::vector<std::u16string>{U(doc_)});
}

TEST_F(DocumentIdentityArchiveTest, EncryptWorksThroughALinkThatStays)
{
    const std::string link = dir_.file("link-to-docs");
    fs::create_directory_symlink(docs_, link);
    EXPECT_EQ(Encrypt(link + "/a.pptx"), ArchiveOutcome::Done) << plat::WideToUtf8(reason_);
    EXPECT_EQ(FilesIn(docs_), std::vector<std::string>{"a.pptx.zip"});
    EXPECT_EQ(archive_, U(link + "/a.pptx.zip"));
    EXPECT_EQ(begun_, std::vector<std::u16string>{U(link + "/a.pptx")});
    EXPECT_EQ(ReadFileBytes(other_ + "/a.pptx"), "unrelated");
}

}  // namespace
}  // namespace ps_test
