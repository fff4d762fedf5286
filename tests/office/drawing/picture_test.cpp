#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "office/drawing/embeddedpicture.h"
#include "platform/cfb.h"
#include "support/cfb_writer.h"

#include "drawing_records.h"

namespace {

using namespace drawing_test;

// A picture block: header, shape container, blip store entry, blip.
std::string Block(int blipInstance, const std::string& blipBody, std::uint16_t mfWidth = 0)
{
    std::string data = Rec(0xF004, 0xF, Rec(0xF00A, 75, U32(1025) + U32(0xA00)));
    data += Rec(0xF007, 0, std::string(36, '\0'));
    data += Rec(0xF01E, blipInstance, blipBody);
    std::string header(68, '\0');
    std::string block = header;
    const std::uint32_t total = static_cast<std::uint32_t>(68 + data.size());
    block.replace(0, 4, U32(total));
    block.replace(4, 2, U16(68));
    block.replace(8, 2, U16(mfWidth));
    block.replace(10, 2, U16(mfWidth));
    return block + data;
}

size_t FilesIn(const std::string& folder)
{
    size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         ++it)
        ++n;
    return n;
}



}  // namespace
namespace {

const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(EmbeddedPicture, SavesKnownBlipsInAPrivateFolderAndRemovesThem)
{
    const std::string folder = PictureTempFolder();
    ASSERT_FALSE(folder.empty());
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    PictureCounters counters;
    // PNG with its signature right at offset 8 of the record.
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, 'p');
    std::string block = Block(0x6E0, png);
    PictureResult r = ProcessPicture(Bytes(block), block.size(), 0, nullptr, counters);
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(r.savedExtension, "png");
    EXPECT_EQ(counters.pictures, 1);
    EXPECT_EQ(FilesIn(folder), 0u);

    // JPEG of the second kind: no file, the counter still advances.
    block = Block(0x46B, std::string(64, 'j'));
    r = ProcessPicture(Bytes(block), block.size(), 0, nullptr, counters);
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(counters.pictures, 2);

    // A bitmap whose sizes agree is written behind a file header.
    std::string dib(40, '\0');
    dib.replace(0, 4, U32(40));
    dib.replace(14, 2, U16(24));
    dib.replace(20, 4, U32(12));
    dib += std::string(12, 'x');
    block = Block(0x7A8, std::string(17, '\0') + dib);
    r = ProcessPicture(Bytes(block), block.size(), 0, nullptr, counters);
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(FilesIn(folder), 0u);

    // A blip that claims more bytes than the block holds is cut at the block.
    block = Block(0x46A, std::string(100, 'j'));
    std::string cut = block.substr(0, block.size() - 30);
    cut.replace(0, 4, U32(static_cast<std::uint32_t>(cut.size())));
    r = ProcessPicture(Bytes(cut), cut.size(), 0, nullptr, counters);
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(FilesIn(folder), 0u);
}

TEST(EmbeddedPicture, ObjectsAndLinkedPictures)
{
    PictureCounters counters;
    std::string png = std::string("\x89PNG", 4) + std::string(20, 'p');
    std::string block = Block(0x6E0, std::string(8, '\0') + png);

    // An object whose storage is missing is handled as a plain picture.
    ps_test::CfbWriter w(3);
    w.AddStream(u"ObjectPool/_7/\x01Ole", "ole");
    plat::CfbPtr<plat::CfbStorage> root;
    ASSERT_FALSE(plat::Failed(plat::CfbOpenStorageOnMemory(w.Build(), root.put())));
    PictureResult r = ProcessPicture(Bytes(block), block.size(), 99, root.get(), counters);
    EXPECT_TRUE(r.saved);
    EXPECT_FALSE(r.object);
    EXPECT_EQ(counters.objects, 0);
    r = ProcessPicture(Bytes(block), block.size(), 7, root.get(), counters);
    EXPECT_TRUE(r.object);
    EXPECT_EQ(counters.objects, 1);
    EXPECT_EQ(FilesIn(PictureTempFolder()), 0u);

    // A picture that names its file: name bytes, then a shape container whose
    // picture name (property 0x105) is the same name.
    std::string nameUtf16 = U16('a') + U16('.') + U16('p') + U16('n') + U16('g') + U16(0);
    std::string props = U16(0xC105) + U32(static_cast<std::uint32_t>(nameUtf16.size())) + nameUtf16;
    std::string shape = Rec(0xF004, 0xF, Rec(0xF00A, 75, U32(1) + U32(0xA00)) + Rec(0xF00B, 1, props));
    std::string data = std::string("\x05") + "a.png" + shape;
    std::string linked(68, '\0');
    linked.replace(0, 4, U32(static_cast<std::uint32_t>(68 + data.size())));
    linked.replace(4, 2, U16(68));
    linked.replace(8, 2, U16(10));
    linked.replace(10, 2, U16(10));
    linked += data;
    const int before = counters.pictures;
    r = ProcessPicture(Bytes(linked), linked.size(), 0, nullptr, counters);
    EXPECT_TRUE(r.linked);
    EXPECT_EQ(r.linkName, u"a.png");
    EXPECT_EQ(counters.pictures, before);

    // Short and inconsistent blocks.
    for (size_t n : {size_t(0), size_t(5), size_t(70), block.size() / 2}) {
        std::string s = block.substr(0, n);
        ProcessPicture(Bytes(s), s.size(), 0, nullptr, counters);
    }
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(EmbeddedPicture, TemporaryFolderIsRemovedWithItsFiles)
{
    // A direct call removes the folder and what was left in it; the next use
    // makes a new private folder.
    const std::string first = PictureTempFolder();
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(Exists(first));
    {
        FILE* f = std::fopen((first + "/$EM0000.png").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    // A link planted in the folder is removed as a link, its target stays.
    const std::string target = first + "-target";
    {
        FILE* f = std::fopen(target.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    ASSERT_EQ(::symlink(target.c_str(), (first + "/link").c_str()), 0);
    RemovePictureTempFolder();
    EXPECT_FALSE(Exists(first));
    EXPECT_TRUE(Exists(target));
    ::unlink(target.c_str());
    const std::string second = PictureTempFolder();
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second, first);
    struct stat st {};
    ASSERT_EQ(::lstat(second.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A child process makes its own folder, which is gone once the child has
    // exited normally; the parent's folder stays.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        const std::string mine = PictureTempFolder();
        PictureCounters counters;
        std::string png = std::string("\x89PNG", 4) + std::string(20, 'p');
        std::string block = Block(0x6E0, std::string(8, '\0') + png);
        ProcessPicture(Bytes(block), block.size(), 0, nullptr, counters);
        FILE* f = std::fopen((mine + "/left-over").c_str(), "wb");
        if (f)
            std::fclose(f);
        const ssize_t w = ::write(fds[1], mine.data(), mine.size());
        ::close(fds[1]);
        std::exit(w == static_cast<ssize_t>(mine.size()) && mine != second && f ? 0 : 1);
    }
    ::close(fds[1]);
    std::string childFolder;
    char buf[256];
    ssize_t r;
    while ((r = ::read(fds[0], buf, sizeof buf)) > 0)
        childFolder.append(buf, static_cast<size_t>(r));
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_FALSE(childFolder.empty());
    EXPECT_FALSE(Exists(childFolder));
    EXPECT_TRUE(Exists(second));
    EXPECT_EQ(PictureTempFolder(), second);
}

}  // namespace
