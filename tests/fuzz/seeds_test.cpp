// Every fuzz target of CMakeLists.txt reaches its reader: a healthy seed
// (made here, or the smallest documents of its corpus folders) is read to
// its end with text. A harness whose every input is refused before the
// reader (a container built wrong, a path with the wrong extension) fuzzes
// nothing and fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "extract/io/compress_stream.h"
#include "fuzz_target.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"
#include "support/zip_writer.h"

namespace {

struct Listed {
    std::string name;
    std::vector<std::string> folders;  // corpus folders (public/<folder>), "xml:..." left out
};

std::vector<Listed> ListedTargets()
{
    std::ifstream in(std::string(PS_SOURCE_DIR) + "/tests/fuzz/CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::vector<Listed> out;
    const std::regex row("\"([a-z0-9_]+)\\|[^|\"]+\\|([^|\"]*)\\|[0-9]+\"");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), row); it != std::sregex_iterator(); ++it) {
        Listed l{(*it)[1], {}};
        std::stringstream folders((*it)[2].str());
        for (std::string f; std::getline(folders, f, ',');) {
            if (!f.empty() && f.rfind("xml:", 0) != 0)
                l.folders.push_back(f);
        }
        out.push_back(l);
    }
    return out;
}

int Write(CompressStream*, void* user, const void* buf, int n)
{
    static_cast<std::string*>(user)->append(static_cast<const char*>(buf), static_cast<std::size_t>(n));
    return n;
}

const char* kWordNs = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
const char* kSheetNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";

std::string WordDocument(const std::string& text)
{
    return std::string("<w:document ") + kWordNs + "><w:body><w:p><w:r><w:t>" + text +
           "</w:t></w:r></w:p></w:body></w:document>";
}

// Seeds made here, by target.
const std::map<std::string, std::function<std::string()>>& MadeSeeds()
{
    static const std::map<std::string, std::function<std::string()>> seeds = {
        {"docx_fuzz", [] { return WordDocument("document"); }},
        {"pptx_fuzz",
         [] {
             return std::string("<p:sld xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" "
                                "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><p:cSld><p:spTree>"
                                "<p:sp><p:txBody><a:p><a:r><a:t>slide</a:t></a:r></a:p></p:txBody></p:sp>"
                                "</p:spTree></p:cSld></p:sld>");
         }},
        {"xlsx_fuzz",
         [] {
             return std::string("<worksheet ") + kSheetNs +
                    "><sheetData><row><c t=\"s\"><v>0</v></c><c t=\"inlineStr\"><is><t>inline</t></is></c></row>"
                    "</sheetData></worksheet>" + std::string(1, '\0') + "<sst " + kSheetNs +
                    "><si><t>shared</t></si></sst>" + std::string(1, '\0') + "<styleSheet " + kSheetNs +
                    "><cellXfs><xf numFmtId=\"0\"/></cellXfs></styleSheet>";
         }},
        {"opc_fuzz", [] { return ps_test::MakeOoxmlPackage({{"word/document.xml", WordDocument("package")}}, {}); }},
        {"rtf_fuzz", [] { return std::string("{\\rtf1\\ansi\\deff0 {\\fonttbl{\\f0 Arial;}}\\f0 rich text\\par}"); }},
        {"inflate_fuzz",
         [] {
             std::string packed;
             CompressStream* d = DeflateStreamOpen(&Write, &packed);
             const std::string plain = "inflated text, inflated text, inflated text";
             DeflateStreamWrite(d, plain.data(), static_cast<int>(plain.size()));
             DeflateStreamClose(d);
             return packed;
         }},
        {"cfb_fuzz",
         [] {
             ps_test::CfbWriter w(3);
             w.AddStream(u"Contents", std::string(100, 'x'));
             w.AddStream(u"Storage/Inner", std::string(5000, 'y'));
             return w.Build();
         }},
    };
    return seeds;
}

// The smallest files of the target's corpus folders, smallest first.
std::vector<std::filesystem::path> CorpusSeeds(const Listed& target, std::size_t count)
{
    std::vector<std::pair<std::uintmax_t, std::filesystem::path>> files;
    for (const std::string& folder : target.folders) {
        if (ps_test::CorpusDir().empty())
            break;
        const std::filesystem::path dir = std::filesystem::path(ps_test::CorpusDir()) / "public" / folder;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
            if (e.is_regular_file(ec) && e.file_size(ec) > 0)
                files.emplace_back(e.file_size(ec), e.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::filesystem::path> out;
    for (std::size_t i = 0; i < files.size() && i < count; ++i)
        out.push_back(files[i].second);
    return out;
}

void PrintTo(const Listed& l, std::ostream* os)
{
    *os << l.name;
}

class FuzzTarget : public testing::TestWithParam<Listed> {};

TEST_P(FuzzTarget, ReadsAHealthySeedToItsEndWithText)
{
    const Listed& listed = GetParam();
    const ps_fuzz::Target* target = ps_fuzz::FindTarget(listed.name);
    ASSERT_NE(target, nullptr) << listed.name << " is listed but registers no entry";
    auto made = MadeSeeds().find(listed.name);
    if (made != MadeSeeds().end()) {
        const std::string seed = made->second();
        const ps_fuzz::Outcome o = target->entry(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());
        EXPECT_TRUE(o.read) << listed.name;
        EXPECT_FALSE(o.text.empty()) << listed.name;
        return;
    }
    // From the corpus: one of the smallest documents must be read (some of
    // a folder's documents are damaged or encrypted on purpose).
    const auto seeds = CorpusSeeds(listed, 12);
    if (seeds.empty())
        GTEST_SKIP() << listed.name << ": no seed made here and no corpus";
    std::string tried;
    for (const auto& path : seeds) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const ps_fuzz::Outcome o = target->entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        if (o.read && !o.text.empty())
            return;
        tried += " " + path.filename().string();
    }
    ADD_FAILURE() << listed.name << " read none of its seeds to the end with text:" << tried;
}

TEST(FuzzTargets, EveryRegisteredTargetIsListed)
{
    const auto listed = ListedTargets();
    ASSERT_FALSE(listed.empty());
    for (const ps_fuzz::Target& t : ps_fuzz::Targets()) {
        EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const Listed& l) { return l.name == t.name; }))
            << t.name << " is not in CMakeLists.txt";
    }
}

std::string TargetName(const testing::TestParamInfo<Listed>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Listed, FuzzTarget, testing::ValuesIn(ListedTargets()), TargetName);

}  // namespace
