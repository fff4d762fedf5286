// The compressed streams of the corpus's HWP 5 documents, read the way the
// HWP reader reads them (storage wrappers, stream device, archive in
// compressed mode), agree with an independent raw-deflate decoder.
#include <gtest/gtest.h>

#include "extract/io/h2s_archive.h"
#include "extract/libstring.h"
#include "extract/io/h2s_storage.h"
#include "platform/text.h"
#include "support/isolation.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>
#include <zlib.h>

namespace {

// "size\tcrc", or "!" when the stream does not decode to its end.
std::string Inflate(CH2sMainStorage& root, const std::string& name)
{
    CH2sStorage body;
    CH2sStorage* st = &root;
    std::string leaf = name;
    if (name.starts_with("BodyText/")) {
        if (!root.OpenSubStorage(u"BodyText", body))
            return "!";
        st = &body;
        leaf = name.substr(9);
    }
    CH2sStream dev;
    if (!st->OpenStream(plat::Utf8ToWide(leaf), dev))
        return "!";
    CH2sArchive ar(&dev);
    if (!ar.BeginCompression())
        return "!";
    std::vector<char> buf(50000);
    uLong crc = crc32(0, nullptr, 0);
    unsigned long long total = 0;
    int n;
    while ((n = ar.Read(buf.data(), static_cast<int>(buf.size()))) > 0) {
        crc = crc32(crc, reinterpret_cast<Bytef*>(buf.data()), static_cast<uInt>(n));
        total += static_cast<unsigned long long>(n);
    }
    ar.EndCompression();
    if (n < 0)
        return "!";
    char line[64];
    std::snprintf(line, sizeof line, "%llu\t%08lx", total, crc);
    return line;
}

}  // namespace

TEST(HwpInflateCorpus, CompressedStreamsAgreeWithAnIndependentDecoder)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty() || !std::filesystem::is_directory(corpus + "/public"))
        GTEST_SKIP() << "corpus absent";
    if (std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-olefile absent";
    const std::string script = std::string(PS_SOURCE_DIR) + "/tests/extract/io/corpus/hwp_inflate_listing.py";
    FILE* p = popen(("/usr/bin/python3 '" + script + "' '" + corpus + "/public' 2>/dev/null").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    char buf[65536];
    std::size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, got);
    ASSERT_EQ(pclose(p), 0);

    SetThrowOnError(0);
    std::istringstream in(text);
    std::string line;
    int compared = 0;
    while (std::getline(in, line)) {
        auto t1 = line.find('\t');
        auto t2 = line.find('\t', t1 + 1);
        ASSERT_NE(t2, std::string::npos) << line;
        const std::string file = line.substr(0, t1), stream = line.substr(t1 + 1, t2 - t1 - 1);
        const std::string expected = line.substr(t2 + 1);
        CH2sMainStorage root;
        ASSERT_EQ(root.Open(plat::PathFromNative(file)), 1) << file;
        const std::string ours = Inflate(root, stream);
        if (expected == "!")
            continue;  // damaged or encrypted: any clean answer will do
        EXPECT_EQ(ours, expected) << file << ": " << stream;
        ++compared;
    }
    EXPECT_GT(compared, 150);
    std::printf("compressed HWP streams compared: %d\n", compared);
}
