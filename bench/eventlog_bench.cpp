// The event-log viewer on a year of use: 100,000 events of mixed kinds over
// the current year, the ends of actions with 1,000 documents each (millions
// of FileEventLog rows). Reports the time to the first shown page of the year
// in the event-log window, the time of a text search over the whole year,
// and the time to export the whole log, each against its target.
//
//   bench-eventlog [--dir=FOLDER] [--events=N] [--rounds=N]
// The database is built in a private folder under FOLDER (default: the
// temporary folder) and removed afterwards.
#include <QApplication>
#include <QDateTime>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/eventlogdlg.h"
#include "app/logexport.h"
#include "core/eventstore/eventlogqueries.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::u16string W(const std::string& s)
{
    return plat::PathFromNative(s);
}

// Fills the database in one transaction with statements that generate the
// rows themselves.
bool Fill(int events, int year)
{
    const std::string n = std::to_string(events - 1);
    const std::string y = std::to_string(year);
    const std::vector<std::string> statements = {
        // Per 100 events: 20 search starts, 20 search ends, 4 action starts,
        // 4 action ends, 52 settings changes, spread evenly over the year.
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " + n +
            ") INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) SELECT "
            "CAST(strftime('%Y', d) AS INTEGER), CAST(strftime('%m', d) AS INTEGER), "
            "CAST(strftime('%d', d) AS INTEGER), printf('%02d%02d%02d', (i / 7) % 24, i % 60, (i * 7) % 60), "
            "CASE WHEN i % 100 < 20 THEN 1 + 3 * (i % 2) WHEN i % 100 < 40 THEN 3 + 3 * (i % 2) "
            "WHEN i % 100 < 44 THEN (CASE i % 3 WHEN 0 THEN 4096 WHEN 1 THEN 256 ELSE 65536 END) "
            "WHEN i % 100 < 48 THEN (CASE i % 3 WHEN 0 THEN 12288 WHEN 1 THEN 1280 ELSE 196608 END) "
            "ELSE 16777216 * (1 + i % 10) END, '사용자' || (i % 5) "
            "FROM (SELECT i, date('" + y + "-01-01', '+' || (i * 365 / " + std::to_string(events) +
            ") || ' days') AS d FROM n)",
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999) "
            "INSERT INTO FileInfo (Hash, Path, Name, ID, Account, CreditCard, PhoneNumber, Address, EMail, IPAddress) "
            "SELECT printf('%064d', i), '/home/사용자/문서/보고서 ' || (i / 100), '문서 ' || i || '.hwp', "
            "i % 7, i % 3, 0, i % 5, 1, i % 2, 0 FROM n",
        "INSERT INTO SearchEventLog (EventID, ID, Account, CreditCard, PhoneNumber, Address, EMail, IPAddress, "
            "HWP, DOC, XLS, PPT, PDF) SELECT EventID, 120, 30, 4, 55, 9, 21, 3, 40, 12, 5, 2, 9 "
            "FROM EventInfo WHERE Type IN (3, 6)",
        "INSERT INTO FileEventLog (EventID, FileIndex) SELECT E.EventID, F.FileIndex FROM EventInfo AS E, "
            "FileInfo AS F WHERE E.Type IN (12288, 1280, 196608) ORDER BY E.EventID, F.FileIndex",
    };
    return ExecuteWithRetry([&](CppSQLite3DB& db) {
        for (const auto& s : statements) {
            const int rc = db.ExecuteDml(plat::Utf8ToWide(s));
            if (rc != 0)
                return rc;
        }
        return 0;
    });
}

struct Result {
    const char* what;
    double ms;
    double target;  // 0: none
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string dir = std::filesystem::temp_directory_path().string();
    int events = 100000, rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--dir=", 6) == 0)
            dir = argv[i] + 6;
        else if (std::strncmp(argv[i], "--events=", 9) == 0)
            events = std::max(100, std::atoi(argv[i] + 9));
        else if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
    }
    QApplication app(argc, argv);
    const std::string work = dir + "/bench-eventlog-" + std::to_string(::getpid());
    std::filesystem::create_directories(work);
    const std::string db = work + "/events.db";
    int status = 0;
    try {
        OpenEventDatabase(W(db));
        const int year = QDate::currentDate().year();
        const auto f0 = Clock::now();
        if (!Fill(events, year)) {
            std::fprintf(stderr, "cannot fill the database\n");
            return 1;
        }
        const auto f1 = Clock::now();
        std::vector<int64_t> all;
        GetAllEventIds(all);
        int64_t fileRows = 0;
        ReadEventRows(u"SELECT COUNT(*) FROM FileEventLog", {},
                      [&](const CppSQLite3Query& q) { fileRows = RowIdFromText(q.FieldText(0)); });
        std::printf("database: %zu events, %lld FileEventLog rows, built in %.0f ms\n", all.size(),
                    static_cast<long long>(fileRows), Ms(f0, f1));

        double firstPage = 1e300, search = 1e300, exportMs = 1e300, readAll = 1e300;
        size_t shown = 0, found = 0;
        for (int r = 0; r < rounds; ++r) {
            CEventLogDlg dlg;
            dlg.setAttribute(Qt::WA_DontShowOnScreen);
            dlg.EnsureInitialized();
            dlg.show();
            QApplication::processEvents();
            // The year chosen: the ids of the year, then the first page drawn.
            const auto a = Clock::now();
            dlg.OnPeriodChosen(kPeriodYear);
            dlg.KillTimer(CEventLogDlg::IDT_REFILL_EVENTS);
            dlg.FillEventList();
            dlg.List()->grab();
            const auto b = Clock::now();
            firstPage = std::min(firstPage, Ms(a, b));
            shown = static_cast<size_t>(dlg.List()->Model()->rowCount());
            // A text search over every row of the year.
            dlg.SetSearchText(QString::fromUtf16(u"문서삭제 완료"));
            const auto c = Clock::now();
            dlg.OnSearch();
            dlg.List()->grab();
            const auto d = Clock::now();
            search = std::min(search, Ms(c, d));
            found = static_cast<size_t>(dlg.List()->Model()->rowCount());
            dlg.hide();

            const auto r0 = Clock::now();
            const std::vector<EventLogRow> rows = LoadEventLogRows(all);
            const auto r1 = Clock::now();
            readAll = std::min(readAll, Ms(r0, r1));

            const auto e = Clock::now();
            if (!WriteEventLogExport(W(work + "/export.csv"), all, true)) {
                std::fprintf(stderr, "cannot write the export\n");
                status = 1;
            }
            const auto g = Clock::now();
            exportMs = std::min(exportMs, Ms(e, g));
        }
        std::printf("year rows: %zu, rows found by the text: %zu, export: %llu bytes\n", shown, found,
                    static_cast<unsigned long long>(std::filesystem::file_size(work + "/export.csv")));
        const Result results[] = {
            {"first page of a one-year period", firstPage, 300},
            {"text search over the year", search, 0},
            {"rows of every event read", readAll, 0},
            {"export of the whole log", exportMs, 3000},
        };
        for (const Result& r : results) {
            if (r.target > 0)
                std::printf("%-34s %8.1f ms  (target < %.0f ms: %s)\n", r.what, r.ms, r.target,
                            r.ms < r.target ? "met" : "MISSED");
            else
                std::printf("%-34s %8.1f ms\n", r.what, r.ms);
            if (r.target > 0 && r.ms >= r.target)
                status = 1;
        }
        CloseEventDatabase();
    } catch (const CppSQLite3Exception& e) {
        std::fprintf(stderr, "event store: %s\n", plat::WideToUtf8(e.ErrorMessage()).c_str());
        status = 1;
    }
    std::filesystem::remove_all(work);
    return status;
}
