// bench-binoffice [CORPUS] [--rounds N]
//
// Reads the corpus Excel 97-2003 and PowerPoint 97-2003 documents
// (public/xls, public/ppt and the pii .xls and .ppt) through the library's
// Office entries and reports documents and megabytes per second per format
// (best of the rounds). In the same run the same documents go through
// extract-text, "xls2csv" and "catppt" (one process per document each); the
// ratios to the references are printed last. Documents the entry cannot
// read are left out of every method.
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
    const std::u16string wide = plat::PathFromNative(path);
    if (format == "ppt")
        return ConvertPowerPointToText(wide.c_str(), u"xml:false", &out);
    return ConvertExcelToText(wide.c_str(), u"xml:false", &out);
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
    const std::vector<std::string> formats = {"xls", "ppt"};
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
    for (auto& [f, list] : docs)
        std::erase_if(list, [&](const std::string& p) { return Entry(f, p) != EntryResult::Read; });
    const fs::path self = fs::canonical("/proc/self/exe").parent_path();
    const std::string tool = (self / "extract-text").string();
    const bool haveTool = fs::exists(tool);

    struct Row {
        std::string method;
        double docsPerSecond;
        double mbPerSecond;
    };
    std::map<std::string, std::vector<Row>> rows;
    std::printf("%-6s %-22s %6s %10s %10s\n", "format", "method", "docs", "docs/s", "MB/s");
    for (const std::string& f : formats) {
        const auto& list = docs[f];
        if (list.empty())
            continue;
        double bytes = 0;
        for (const std::string& p : list)
            bytes += double(fs::file_size(p, ec));
        const double mb = bytes / (1024.0 * 1024.0);
        const std::string reference = f == "xls" ? "xls2csv" : "catppt";
        std::vector<std::pair<std::string, std::function<void(const std::string&)>>> methods = {
            {"entry (in process)", [&](const std::string& p) { Entry(f, p); }},
        };
        if (haveTool)
            methods.push_back({"extract-text", [&](const std::string& p) { Run({tool, p}); }});
        if (Run({"sh", "-c", "command -v " + reference}))
            methods.push_back({reference, [&](const std::string& p) { Run({reference, p}); }});
        for (auto& [name, work] : methods) {
            const double s = Best(rounds, list, work);
            rows[f].push_back({name, list.size() / s, mb / s});
            std::printf("%-6s %-22s %6zu %10.1f %10.2f\n", f.c_str(), name.c_str(), list.size(), list.size() / s,
                        mb / s);
        }
    }
    FinalizeLibrary();

    std::printf("\n");
    for (const std::string& f : formats) {
        const auto& r = rows[f];
        if (r.size() < 2 || (r.back().method != "xls2csv" && r.back().method != "catppt")) {
            std::printf("%s: no reference installed\n", f.c_str());
            continue;
        }
        const Row& ref = r.back();
        std::printf("%s ratio to %s:", f.c_str(), ref.method.c_str());
        for (size_t i = 0; i + 1 < r.size(); ++i)
            std::printf(" %s %.1fx", r[i].method.c_str(), r[i].docsPerSecond / ref.docsPerSecond);
        std::printf("\n");
    }
    return 0;
}
