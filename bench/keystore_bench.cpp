// The cost of the per-document mark (lastCheckFile) beside an ordinary
// settings write, with a settings file of a given size. Prints the median
// and the 99th percentile of each, in microseconds; the mark is written in
// place (with one document, and with eight in flight, one a line), an
// ordinary value by replacing the whole file.
//
//   bench-keystore [--values=N] [--rounds=N] [--dir=FOLDER]
// FOLDER (default: the temporary folder) should be on the disk the user's
// settings live on.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/keystore.h"
#include "platform/text.h"

namespace {

struct Stats {
    double median = 0, p99 = 0;
};

template <typename F>
Stats Time(int rounds, F&& write)
{
    std::vector<double> us;
    us.reserve(static_cast<size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        write(i);
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

}  // namespace

int main(int argc, char** argv)
{
    int values = 5000, rounds = 2000;
    std::string base = std::filesystem::temp_directory_path().string();
    for (int i = 1; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--values=", 9)) values = std::atoi(argv[i] + 9);
        else if (!std::strncmp(argv[i], "--rounds=", 9)) rounds = std::atoi(argv[i] + 9);
        else if (!std::strncmp(argv[i], "--dir=", 6)) base = argv[i] + 6;
    }
    std::string tmpl = base + "/bench-keystore.XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    {
        plat::KeyStore store(dir + "/registry.conf");
        store.KeepInPlace(u"Software\\Norvane\\Privasweep", u"lastCheckFile");
        // A large settings file: many folders of a search, for instance.
        for (int i = 0; i < values; ++i)
            store.SetString(u"Software\\Norvane\\Privasweep\\Config",
                            u"Include_" + plat::AsciiToWide(std::to_string(i)),
                            u"/home/user/문서/프로젝트/" + plat::AsciiToWide(std::to_string(i)));
        const auto size = std::filesystem::file_size(dir + "/registry.conf");
        const std::u16string doc = u"/home/user/문서/보고서/2024년 상반기 결산 보고서 최종본.hwp";
        const Stats mark = Time(rounds, [&](int i) {
            store.SetString(u"SOFTWARE\\Norvane\\Privasweep", u"lastCheckFile",
                            doc + plat::AsciiToWide(std::to_string(i)));
        });
        // The mark while the search reads several documents at once: every
        // document in flight, one a line.
        std::u16string eight;
        for (int k = 0; k < 8; ++k)
            eight += (k ? u"\n" : u"") + doc + plat::AsciiToWide(std::to_string(k));
        const Stats marks = Time(rounds, [&](int i) {
            store.SetString(u"SOFTWARE\\Norvane\\Privasweep", u"lastCheckFile",
                            eight + plat::AsciiToWide(std::to_string(i)));
        });
        const Stats ordinary = Time(std::max(1, rounds / 20), [&](int i) {
            store.SetString(u"Software\\Norvane\\Privasweep", u"other", doc + plat::AsciiToWide(std::to_string(i)));
        });
        std::printf("settings file: %d values, %llu bytes\n", values, static_cast<unsigned long long>(size));
        std::printf("ordinary value (atomic replace): median %.1f us, p99 %.1f us\n", ordinary.median, ordinary.p99);
        std::printf("document mark (in place):        median %.2f us, p99 %.2f us\n", mark.median, mark.p99);
        std::printf("eight documents' mark (in place): median %.2f us, p99 %.2f us\n", marks.median, marks.p99);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
