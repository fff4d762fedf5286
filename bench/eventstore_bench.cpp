// Storing analysed documents in the event database: one FileInfo row and ten
// masked hits per document, each its own transaction as the analysis thread
// writes them. Reports documents per second, how long a write takes to give
// up while another connection holds the database (the first write waits the
// store's bound, those after it only probe) and, last, the median cost of
// storing one document.
//
//   bench-eventstore [--dir=FOLDER] [benchmark options]
// The database is created in a private folder under FOLDER (default: the
// temporary folder), which should be on the disk the program's data lives on.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "platform/text.h"

namespace {

std::vector<PersonalInfoHit> TenHits()
{
    return {
        {kPersonalInfoResidentNumber, u"900101-1234567"}, {kPersonalInfoAccount, u"110-123-456789"},
        {kPersonalInfoCreditCard, u"1234-5678-9012-3456"}, {kPersonalInfoPhoneNumber, u"010-1234-5678"},
        {kPersonalInfoAddress, u"서울특별시 종로구 세종대로"}, {kPersonalInfoEMail, u"someone@example.kr"},
        {kPersonalInfoIpAddress, u"192.168.10.20"},      {kPersonalInfoPhoneNumber, u"02-123-4567"},
        {kPersonalInfoEMail, u"another.person@example.com"}, {kPersonalInfoResidentNumber, u"851231-2345678"},
    };
}

SearchFileInfo Document(int n)
{
    SearchFileInfo d;
    d.SetFolderAndName(u"/home/user/문서/보고서", u"분기 보고서 " + plat::AsciiToWide(std::to_string(n)) + u".hwp");
    std::string key = std::to_string(n);
    key.insert(0, 64 - key.size(), 'A');
    d.documentKey = plat::AsciiToWide(key);
    return d;
}

bool StoreDocument(int n, const std::vector<PersonalInfoHit>& hits)
{
    const int64_t id = AddFileInfoRow(PersonalInfoCounts{2, 1, 1, 2, 1, 2, 1}, Document(n));
    return id > 0 && AddPersonalInfo(id, hits);
}

int g_next = 0;

void BM_StoreAnalysedDocument(benchmark::State& state)
{
    const auto hits = TenHits();
    for (auto _ : state) {
        if (!StoreDocument(g_next++, hits))
            state.SkipWithError("write failed");
    }
    state.counters["docs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StoreAnalysedDocument)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    std::string base = std::filesystem::temp_directory_path().string();
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--dir=", 6) == 0)
            base = argv[i] + 6;
        else
            rest.push_back(argv[i]);
    }
    std::string dir = base + "/ps-bench-XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    OpenEventDatabase(plat::PathFromNative(dir + "/Privasweep.db"));

    int rc = 0;
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Writes against a database that another connection keeps locked: how
    // long each takes to give up, with the program's own busy timeout.
    {
        sqlite3* other = nullptr;
        if (sqlite3_open((dir + "/Privasweep.db").c_str(), &other) == SQLITE_OK &&
            sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
            EventStoreFailureWatch watch;
            const auto hits = TenHits();
            std::vector<double> ms;
            for (int i = 0; i < 6; ++i) {
                const auto t0 = std::chrono::steady_clock::now();
                if (AddFileInfoWithHits(PersonalInfoCounts{2, 1, 1, 2, 1, 2, 1}, Document(g_next++), hits) != 0)
                    rc = 1;  // a write through another's lock: something is wrong
                ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            }
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
            std::printf("locked database: first write gave up after %.0f ms (bound %lld ms), the next five after",
                        ms[0], static_cast<long long>(kEventStoreWaitLimit.count()));
            for (size_t i = 1; i < ms.size(); ++i)
                std::printf(" %.0f", ms[i]);
            std::printf(" ms; failed writes reported: %d\n", watch.FailedWrites());
            const auto t0 = std::chrono::steady_clock::now();
            if (!StoreDocument(g_next++, hits))
                rc = 1;
            std::printf("first write after the lock was released: %.1f ms\n",
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        sqlite3_close(other);
    }

    // Each document timed on its own.
    const auto hits = TenHits();
    std::vector<double> us;
    constexpr int kDocuments = 2000;
    const auto all = std::chrono::steady_clock::now();
    for (int i = 0; i < kDocuments; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!StoreDocument(g_next++, hits))
            rc = 1;
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - all).count();
    std::sort(us.begin(), us.end());
    std::printf("documents stored: %d in %.3f s, %.0f documents/s\n", kDocuments, total, kDocuments / total);
    std::printf("per document: p10 %.1f us, p90 %.1f us, max %.1f us\n", us[kDocuments / 10],
                us[kDocuments * 9 / 10], us.back());
    std::printf("median per document: %.1f us (limit 1000 us): %s\n", us[kDocuments / 2],
                us[kDocuments / 2] < 1000.0 ? "ok" : "TOO SLOW");

    ExitEventDatabase();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}
