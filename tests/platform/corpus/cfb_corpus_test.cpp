// Every compound file of the public corpus is opened and every stream read,
// and the names, sizes and contents are compared with an independent reader
// (the Debian package python3-olefile, through cfb_listing.py).
#include <gtest/gtest.h>

#include "platform/cfb.h"
#include "platform/text.h"
#include "support/isolation.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <zlib.h>

namespace fs = std::filesystem;
using plat::CfbPtr;
using plat::CfbStat;
using plat::CfbStorage;
using plat::CfbStream;
namespace stg = plat::stg;

namespace {

std::string Escape(const std::u16string& name)
{
    std::string out;
    for (char16_t c : name) {
        if (c < 0x20 || c == u'%' || c == u'/' || c == u'\t') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%%%02X", unsigned(c));
            out += buf;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += "\xEF\xBF\xBD";  // a lone surrogate: U+FFFD as the other reader shows it
        } else {
            out += plat::WideToUtf8(std::u16string(1, c));
        }
    }
    return out;
}

// path -> "size\tcrc" (or "!reason")
using Listing = std::map<std::string, std::string>;

void Walk(CfbStorage* st, const std::string& prefix, int depth, Listing* out)
{
    std::vector<CfbStat> kids;
    ASSERT_EQ(st->Elements(&kids), stg::kOk);
    for (const auto& k : kids) {
        std::string path = prefix + Escape(k.name);
        if (k.type == stg::kTypeStorage) {
            CfbPtr<CfbStorage> sub;
            if (depth < 64 && plat::Succeeded(st->OpenStorage(k.name, stg::kShareExclusive, sub.put())))
                Walk(sub.get(), path + "/", depth + 1, out);
            continue;
        }
        CfbPtr<CfbStream> s;
        plat::HResult hr = st->OpenStream(k.name, stg::kShareExclusive, s.put());
        if (plat::Failed(hr)) {
            (*out)[path] = "!read";
            continue;
        }
        uLong crc = crc32(0, nullptr, 0);
        std::uint64_t total = 0;
        std::vector<unsigned char> buf(65536);
        for (;;) {
            std::uint32_t got = 0;
            hr = s->Read(buf.data(), static_cast<std::uint32_t>(buf.size()), &got);
            if (plat::Failed(hr) || got == 0)
                break;
            crc = crc32(crc, buf.data(), got);
            total += got;
        }
        char line[64];
        std::snprintf(line, sizeof line, "%llu\t%08lx", static_cast<unsigned long long>(k.size), crc);
        (*out)[path] = plat::Failed(hr) || total != k.size ? std::string("!read") : std::string(line);
    }
}

}  // namespace

TEST(CfbCorpus, EveryStreamAgreesWithAnIndependentReader)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty() || !fs::is_directory(corpus + "/public"))
        GTEST_SKIP() << "corpus absent";
    if (std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-olefile absent";

    const std::string script = std::string(PS_SOURCE_DIR) + "/tests/platform/corpus/cfb_listing.py";
    const std::string cmd = "/usr/bin/python3 '" + script + "' '" + corpus + "/public' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::map<std::string, Listing> theirs;
    std::set<std::string> rejectedByThem;
    {
        std::string text;
        char buf[65536];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            text.append(buf, n);
        ASSERT_EQ(pclose(p), 0);
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            auto t1 = line.find('\t');
            ASSERT_NE(t1, std::string::npos) << line;
            std::string file = line.substr(0, t1), rest = line.substr(t1 + 1);
            if (rest.starts_with("!open")) {
                rejectedByThem.insert(file);
                continue;
            }
            auto t2 = rest.find('\t');
            std::string value = rest.substr(t2 + 1);
            theirs[file][rest.substr(0, t2)] = value.starts_with("!") ? "!read" : value;
        }
    }
    ASSERT_FALSE(theirs.empty());

    int files = 0, streams = 0;
    for (const auto& e : fs::recursive_directory_iterator(corpus + "/public")) {
        if (!e.is_regular_file())
            continue;
        const std::string file = e.path().string();
        const std::u16string wpath = plat::PathFromNative(file);
        if (plat::CfbIsStorageFile(wpath) != stg::kOk)
            continue;
        CfbPtr<CfbStorage> root;
        plat::HResult hr = plat::CfbOpenStorage(wpath, stg::kPriority | stg::kShareDenyNone, root.put());
        if (rejectedByThem.count(file)) {
            // Damaged beyond the other reader's tolerance: any clean answer will do.
            if (root) {
                Listing ignored;
                Walk(root.get(), "", 0, &ignored);
            }
            continue;
        }
        ++files;
        ASSERT_EQ(hr, stg::kOk) << file;
        Listing ours;
        Walk(root.get(), "", 0, &ours);
        const Listing& ref = theirs[file];
        EXPECT_EQ(ours.size(), ref.size()) << file;
        for (const auto& [path, value] : ref) {
            auto it = ours.find(path);
            if (it == ours.end()) {
                ADD_FAILURE() << file << ": missing stream " << path;
                continue;
            }
            if (value != "!read") {
                EXPECT_EQ(it->second, value) << file << ": " << path;
            }
            ++streams;
        }
    }
    EXPECT_GT(files, 300);
    std::printf("compound files: %d, streams compared: %d\n", files, streams);
}
