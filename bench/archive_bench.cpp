// Encryption throughput of the archive engine (AES-256, one archive per
// document, read back before the document is removed) against 7z writing
// the same files as AES-256 ZIP archives, in the same run. Prints MB/s of
// both and the ratio last.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/docarchiver.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

const char kPassword[] = "bench-password-1";

std::string Generated(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        s += "성명 홍길동 주민번호 800101-1234560 연락처 010-2345-6789 서울특별시 중구 세종대로 110 ";
        for (int i = 0; i < 24; ++i) s.push_back(static_cast<char>('0' + random() % 75));
        s += '\n';
    }
    s.resize(size);
    return s;
}

void Copy(const std::vector<fs::path>& inputs, const fs::path& to)
{
    fs::remove_all(to);
    fs::create_directories(to);
    for (const fs::path& p : inputs) fs::copy_file(p, to / p.filename());
}

}  // namespace

int main()
{
    char tmpl[] = "/tmp/bench-archive-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const fs::path work(tmpl);
    // The engine's client lists its temporary archives in the key store: keep
    // that in the run's own folder.
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) setenv(v, tmpl, 1);
    const fs::path source = work / "source";
    fs::create_directories(source);
    std::vector<fs::path> inputs;
    const fs::path corpus = fs::path(PS_SHARED_DIR) / "corpus" / "pii";
    if (fs::exists(corpus))
        for (const auto& e : fs::directory_iterator(corpus))
            if (e.is_regular_file() && e.path().extension() != ".tsv") {
                fs::copy_file(e.path(), source / e.path().filename());
                inputs.push_back(source / e.path().filename());
            }
    for (int i = 0; i < 3; ++i) {
        const fs::path p = source / ("generated" + std::to_string(i) + ".hwp");
        FILE* f = fopen(p.c_str(), "wb");
        const std::string s = Generated(16u << 20, i);
        fwrite(s.data(), 1, s.size(), f);
        fclose(f);
        inputs.push_back(p);
    }
    uint64_t bytes = 0;
    for (const fs::path& p : inputs) bytes += fs::file_size(p);
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);

    if (!bench::Run({"7z", "i"})) {
        std::fprintf(stderr, "7z is not installed\n");
        return 1;
    }
    DocumentArchiver archiver;
    if (!archiver.Start()) {
        std::fprintf(stderr, "the engine module is missing\n");
        return 1;
    }
    archiver.SetPassword(plat::PathFromNative(kPassword));
    archiver.SetAlgorithm(3);

    const int rounds = 3;
    double ours = 1e30, theirs = 1e30;
    int failures = 0;
    for (int r = 0; r < rounds; ++r) {
        const fs::path ourDir = work / "ours";
        Copy(inputs, ourDir);
        std::vector<std::string> docs;
        for (const fs::path& p : inputs) docs.push_back((ourDir / p.filename()).string());
        ours = std::min(ours, bench::Best(1, docs, [&](const std::string& d) {
                            if (archiver.EncryptDocument(plat::PathFromNative(d)) != ArchiveOutcome::Done) ++failures;
                        }));
        const fs::path theirDir = work / "7z";
        fs::remove_all(theirDir);
        fs::create_directories(theirDir);
        std::vector<std::string> originals;
        for (const fs::path& p : inputs) originals.push_back(p.string());
        theirs = std::min(theirs, bench::Best(1, originals, [&](const std::string& d) {
                              const std::string out = (theirDir / (fs::path(d).filename().string() + ".zip")).string();
                              bench::Run({"7z", "a", "-tzip", "-mem=AES256", std::string("-p") + kPassword, out, d});
                          }));
    }
    fs::remove_all(work);
    std::printf("files: %zu, %.1f MB\n", inputs.size(), mb);
    std::printf("engine (AES-256, written, closed, read back): %.1f MB/s%s\n", mb / ours,
                failures ? " (with failures!)" : "");
    std::printf("7z a -tzip -mem=AES256: %.1f MB/s\n", mb / theirs);
    std::printf("ratio engine/7z: %.2f\n", theirs / ours);
    return failures ? 1 : 0;
}
