// bench-matcher [--text FILE] [benchmark options]
//
// Matcher throughput on a large text, next to ripgrep searching the same text
// for the same 80 patterns and to the plain std::wregex reference. Prints the
// ratios last. The text is FILE (UTF-8) when given, so that anyone can run
// ripgrep on the same bytes; otherwise about 30 million characters: the texts
// of the corpus documents this build reads (up to half), then generated
// lines, one in four with personal information and the others prose.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "search/extractors.h"
#include "search/matcher.h"
#include "tests/support/pi_reference.h"
#include "tests/support/pi_textgen.h"

#include "bench_support.h"

extern char** environ;

namespace {

constexpr size_t kTargetChars = 30u * 1000 * 1000;  // 60 MB as UTF-16

std::u16string ProseLine(ps_gen::TextGenerator& g)
{
    static const std::vector<std::u16string> w = {
        u"대한", u"서비스", u"전체", u"부분", u"인원", u"제출", u"충분히", u"경우", u"강조", u"세부",
        u"울타리", u"광고", u"제도", u"개인정보", u"보호", u"처리", u"방침", u"회사는", u"이용자의",
        u"동의를", u"받아", u"수집한다", u"the", u"data", u"is", u"stored", u"for", u"2년", u"간",
        u"보관하며", u"목적", u"달성", u"후", u"파기한다.", u"(", u")", u"-", u"1.", u"제3조"};
    std::u16string s;
    int n = g.Int(3, 18);
    for (int i = 0; i < n; ++i) {
        if (i)
            s += u' ';
        s += g.Pick(w);
    }
    return s;
}

std::string g_textFile;  // --text

const std::u16string& BenchText()
{
    static const std::u16string text = [] {
        std::u16string t;
        if (!g_textFile.empty()) {
            std::ifstream in(g_textFile, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof()) {
                std::fprintf(stderr, "bench-matcher: cannot read %s\n", g_textFile.c_str());
                std::exit(1);
            }
            return plat::Utf8ToWide(bytes);
        }
        t.reserve(kTargetChars + 4096);
        // Corpus texts first, as far as this build has readers for them.
        const char* corpus = std::getenv("PS_CORPUS_DIR");
        std::filesystem::path root = corpus ? corpus : PS_SHARED_DIR "/corpus";
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file())
                continue;
            std::u16string ext =
                plat::ToUpperAscii(plat::PathFromNative(it->path().extension().string()));
            if (!ext.empty())
                ext.erase(0, 1);
            if (!HasExtractorFor(ext))
                continue;
            std::u16string doc;
            // A document whose text would take more than the corpus half
            // (some hold tens of millions of characters) is left out.
            if (ExtractDocumentText(plat::PathFromNative(it->path().string()), ext, doc) == EntryResult::Read &&
                t.size() + doc.size() < kTargetChars / 2)
                t += doc + u"\n";
        }
        // Then generated documents: one line in four carries personal
        // information, the others are prose.
        ps_gen::TextGenerator g(12345);
        while (t.size() < kTargetChars) {
            t += g.Chance(25) ? g.Line() : ProseLine(g);
            t += u'\n';
        }
        return t;
    }();
    return text;
}

double g_matcherRate = 0, g_referenceRate = 0, g_rgRate = 0;

void BM_Matcher(benchmark::State& state)
{
    const std::u16string& text = BenchText();
    PreparePersonalInfoPatterns();
    uint64_t total = 0;
    double secs = 0;
    std::u16string copy;
    copy.reserve(text.size());
    for (auto _ : state) {
        // The matcher works on the text in place; the fresh copy it needs
        // each round is not part of its time (in the program the text comes
        // straight from the reader).
        copy.assign(text);
        PersonalInfoCounts counts{};
        PersonalInfoHitList hits;
        auto t0 = std::chrono::steady_clock::now();
        FindPersonalInfoInText(copy, counts, 0xFFFF, nullptr, &hits);
        auto d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        secs += d;
        state.SetIterationTime(d);
        total += hits.size();
        benchmark::DoNotOptimize(hits.data());
    }
    g_matcherRate = static_cast<double>(text.size()) * state.iterations() / secs;
    state.SetItemsProcessed(static_cast<int64_t>(text.size()) * state.iterations());
    state.counters["hits"] = static_cast<double>(total / state.iterations());
}

void BM_Reference(benchmark::State& state)
{
    // The reference is slow: it runs on the first 1/40 of the text.
    const std::u16string& full = BenchText();
    size_t cut = full.find(u'\n', full.size() / 40);
    std::u16string text = full.substr(0, cut == std::u16string::npos ? full.size() : cut + 1);
    ps_ref::ReferenceMatcher ref;
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        PersonalInfoCounts counts{};
        PersonalInfoHitList hits;
        ref.Scan(text, counts, 0xFFFF, &hits);
        benchmark::DoNotOptimize(hits.data());
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    g_referenceRate = static_cast<double>(text.size()) * state.iterations() / secs;
    state.SetItemsProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}

// ripgrep counts matching lines for the 80 patterns, in UTF-8, with ASCII word
// boundaries as the matcher has.
void BM_Ripgrep(benchmark::State& state)
{
    const std::u16string& text = BenchText();
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("bench-matcher-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string textFile = (dir / "text.txt").string();
    std::string patFile = (dir / "patterns.txt").string();
    {
        std::ofstream out(textFile, std::ios::binary);
        std::string utf8 = plat::WideToUtf8(text);
        // NUL bytes would make ripgrep treat the file as binary.
        for (char& c : utf8)
            if (c == '\0')
                c = '\n';
        out << utf8;
        std::ofstream pats(patFile, std::ios::binary);
        for (int i = 0; i < kPersonalInfoPatternCount; ++i) {
            pats << bench::RipgrepPattern(plat::WideToUtf8(kPersonalInfoPatterns[i])) << '\n';
        }
    }
    double secs = 0;
    bool ok = true;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        pid_t pid;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"rg", "--no-config", "-c", "-f", patFile.c_str(), textFile.c_str(), nullptr};
        int status = 0;
        if (posix_spawnp(&pid, "rg", &fa, nullptr, const_cast<char**>(argv), environ) != 0 ||
            waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
            ok = false;
        posix_spawn_file_actions_destroy(&fa);
        auto d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        secs += d;
        state.SetIterationTime(d);
    }
    std::filesystem::remove_all(dir);
    if (!ok) {
        state.SkipWithError("rg (ripgrep) did not run");
        return;
    }
    g_rgRate = static_cast<double>(text.size()) * state.iterations() / secs;
    state.SetItemsProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}

BENCHMARK(BM_Matcher)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_Ripgrep)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv)
{
    // Our own option first; the rest goes to the benchmark library.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--text") == 0 && i + 1 < argc)
            g_textFile = argv[++i];
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    std::printf("text: %zu characters (%.1f MB as UTF-16)\n", BenchText().size(),
                BenchText().size() * 2 / 1e6);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("matcher   %.1f M chars/s\n", g_matcherRate / 1e6);
    if (g_rgRate > 0)
        std::printf("ripgrep   %.1f M chars/s\n", g_rgRate / 1e6);
    if (g_referenceRate > 0)
        std::printf("reference %.3f M chars/s\n", g_referenceRate / 1e6);
    if (g_rgRate > 0)
        std::printf("matcher / ripgrep   = %.2f\n", g_matcherRate / g_rgRate);
    if (g_referenceRate > 0)
        std::printf("matcher / reference = %.1f\n", g_matcherRate / g_referenceRate);
    return 0;
}
