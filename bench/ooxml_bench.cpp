// bench-ooxml [CORPUS] [--rounds N]
//
// Extracts the corpus OOXML documents (public/{docx,docm,xlsx,xlsm,pptx,pptm}
// and the pii docx, xlsx and pptx) through the library's Office entries and
// reports documents per second per format (best of the rounds). In the same
// run the docx files also go through "docx2txt" (one process per document)
// and through extract-text (one process per document, the same start-up cost
// as docx2txt); the ratio of the in-process entry and of extract-text to
// docx2txt is printed last. Documents the entry cannot read are left out of
// every method.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "office/officeentry.h"
#include "platform/text.h"

#include "bench_support.h"

namespace {

using bench::Best;
using bench::Run;

namespace fs = std::filesystem;

EntryResult Entry(const std::string& format, const std::string& path)
{
    std::u16string out;
    const std::u16string wide = plat::Utf8ToWide(path);
    if (format == "docx" || format == "docm")
        return ConvertWordToText(wide.c_str(), u"xml:true", &out);
    if (format == "pptx" || format == "pptm")
        return ConvertPowerPointToText(wide.c_str(), u"xml:true", &out);
    return ConvertExcelToText(wide.c_str(), u"xml:true", &out);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string corpus = PS_SHARED_CORPUS;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            corpus = argv[i];
    }
    const std::vector<std::string> formats = {"docx", "docm", "xlsx", "xlsm", "pptx", "pptm"};
    std::map<std::string, std::vector<std::string>> docs;
    std::error_code ec;
    for (const std::string& f : formats) {
        for (const std::string& folder : {corpus + "/public/" + f, corpus + "/pii"}) {
            for (const auto& e : fs::directory_iterator(folder, ec)) {
                if (e.is_regular_file() && e.path().extension() == "." + f)
                    docs[f].push_back(e.path().string());
            }
        }
        std::sort(docs[f].begin(), docs[f].end());
    }

    InitializeLibrary();
    // Only documents the entry reads take part.
    for (auto& [f, list] : docs) {
        std::erase_if(list, [&](const std::string& p) { return Entry(f, p) != EntryResult::Read; });
    }
    std::printf("%-6s %6s %12s %10s\n", "format", "docs", "docs/s", "ms/doc");
    double entryDocx = 0;
    for (const std::string& f : formats) {
        const auto& list = docs[f];
        if (list.empty())
            continue;
        const double s = Best(rounds, list, [&](const std::string& p) { Entry(f, p); });
        std::printf("%-6s %6zu %12.1f %10.3f\n", f.c_str(), list.size(), list.size() / s, 1000.0 * s / list.size());
        if (f == "docx")
            entryDocx = list.size() / s;
    }
    FinalizeLibrary();

    const auto& docx = docs["docx"];
    if (docx.empty())
        return 0;
    const fs::path self = fs::canonical("/proc/self/exe").parent_path();
    const std::string tool = (self / "extract-text").string();
    const double toolSeconds = Best(rounds, docx, [&](const std::string& p) { Run({tool, p}); });
    const bool haveDocx2txt = Run({"sh", "-c", "command -v docx2txt"});
    std::printf("\ndocx, one process per document:\n");
    std::printf("  extract-text %10.1f docs/s\n", docx.size() / toolSeconds);
    if (!haveDocx2txt) {
        std::printf("  docx2txt not installed: no reference\n");
        return 0;
    }
    // docx2txt FILE writes FILE.txt beside it: give it a copy in a private folder.
    char pattern[] = "/tmp/bench-ooxml-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir)
        return 1;
    std::vector<std::string> copies;
    for (size_t i = 0; i < docx.size(); ++i) {
        const std::string copy = std::string(dir) + "/" + std::to_string(i) + ".docx";
        fs::copy_file(docx[i], copy, ec);
        copies.push_back(copy);
    }
    const double refSeconds = Best(rounds, copies, [&](const std::string& p) { Run({"docx2txt", p}); });
    fs::remove_all(dir, ec);
    const double ref = docx.size() / refSeconds;
    std::printf("  docx2txt     %10.1f docs/s\n", ref);
    std::printf("\nratio to docx2txt: entry in process %.1fx, extract-text %.1fx\n", entryDocx / ref,
                (docx.size() / toolSeconds) / ref);
    return 0;
}
