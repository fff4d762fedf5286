// The pieces of a search's analysis, each on its own: the plan (order,
// stored-result lookups, documents found twice), the outcome of one
// document, and the writer of rows, totals and sink calls. No session, no
// window, no reader and no event store: the lookup and the row writer are
// the test's.
#include "search/analysis.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/docfile.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace ps_test {
namespace {

using search::AnalysisPlan;
using search::AnalysisWriter;
using search::DocumentOutcome;
using search::PlannedDocument;
using Kind = DocumentOutcome::Kind;

std::unique_ptr<SearchFileInfo> Found(const std::u16string& path, uint64_t size = 10)
{
    auto r = std::make_unique<SearchFileInfo>();
    r->path = path;
    r->fileSize = size;
    r->lastWriteTime = 133000000000000000ULL;
    r->documentKey = DocumentKeyOf(*r, 0x7F);
    return r;
}

std::vector<SearchFileInfo*> Borrowed(const std::vector<std::unique_ptr<SearchFileInfo>>& records)
{
    std::vector<SearchFileInfo*> out;
    for (const auto& r : records) out.push_back(r.get());
    return out;
}

PersonalInfoCounts Residents(int n)
{
    PersonalInfoCounts c;
    c[kPersonalInfoResidentNumber] = n;
    return c;
}

// A store of results by key text, which notes every lookup.
struct FakeStore {
    struct Stored {
        PersonalInfoCounts counts;
        int64_t fileIndex;
    };
    std::map<std::u16string, Stored> results;
    std::vector<std::u16string> lookedUp;  // file names
    std::map<std::u16string, std::u16string> nameOfKey;

    search::StoredResultLookup Lookup()
    {
        return [this](const DocumentKey& key, PersonalInfoMask mask, PersonalInfoCounts& counts, int64_t& fileIndex) {
            EXPECT_EQ(mask, 0x7Fu);
            lookedUp.push_back(nameOfKey[key.Text()]);
            const auto it = results.find(key.Text());
            if (it == results.end()) return false;
            counts = it->second.counts;
            fileIndex = it->second.fileIndex;
            return true;
        };
    }
    void Know(const SearchFileInfo& r) { nameOfKey[r.documentKey.Text()] = std::u16string(r.FileName()); }
};

// Folders in case-blind order, then exact (folders differing only in case
// stay apart, each with its documents together); within a folder, the
// walk's order.
TEST(AnalysisPlan, OrdersByFolderCaseBlindThenExactKeepingTheWalksOrder)
{
    std::vector<std::unique_ptr<SearchFileInfo>> records;
    for (const char16_t* p : {u"/d/b/1.hwp", u"/d/A/2.hwp", u"/d/a/3.hwp", u"/d/B/4.hwp", u"/d/a/5.hwp",
                              u"/d/A/6.hwp", u"/d/A/x/7.hwp", u"/d/ab/8.hwp", u"/d/_/9.hwp"})
        records.push_back(Found(p));
    AnalysisPlan::Order(records);
    std::vector<std::u16string> order;
    for (const auto& r : records) order.push_back(r->path);
    // "_" sorts before the letters only when case is folded ('A' < '_' < 'a').
    EXPECT_EQ(order, (std::vector<std::u16string>{u"/d/_/9.hwp", u"/d/A/2.hwp", u"/d/A/6.hwp", u"/d/a/3.hwp",
                                                  u"/d/a/5.hwp", u"/d/A/x/7.hwp", u"/d/ab/8.hwp", u"/d/B/4.hwp",
                                                  u"/d/b/1.hwp"}));
}

// Each document is looked up once when it is planned; a second finding of a
// document going to be read in this run is not looked up then but at its
// turn, when the first one's result is stored (or, failing that, read).
TEST(AnalysisPlan, ADocumentFoundAgainInTheRunIsRecheckedAtItsTurn)
{
    for (bool storedByThen : {true, false}) {
        SCOPED_TRACE(storedByThen);
        std::vector<std::unique_ptr<SearchFileInfo>> records;
        records.push_back(Found(u"/d/one.hwp"));
        records.push_back(Found(u"/d/stored.hwp"));
        records.push_back(Found(u"/d/one.hwp"));  // the same document, found again
        records.push_back(Found(u"/d/other.hwp"));
        FakeStore store;
        for (const auto& r : records) store.Know(*r);
        store.results[records[1]->documentKey.Text()] = {Residents(2), 41};
        AnalysisPlan plan(Borrowed(records), 0x7F, store.Lookup());
        ASSERT_EQ(plan.Count(), 4);

        std::vector<bool> toRead;
        while (!plan.AllPlanned()) toRead.push_back(plan.PlanNext());
        EXPECT_EQ(toRead, (std::vector<bool>{true, false, false, true}));
        EXPECT_EQ(store.lookedUp, (std::vector<std::u16string>{u"one.hwp", u"stored.hwp", u"other.hwp"}));
        EXPECT_TRUE(plan[1].stored);
        EXPECT_EQ(plan[1].counts, Residents(2));
        EXPECT_EQ(plan[1].fileIndex, 41);
        EXPECT_FALSE(plan[2].stored);
        EXPECT_TRUE(plan[2].recheck);
        EXPECT_FALSE(plan[0].recheck || plan[1].recheck || plan[3].recheck);

        // The turns: only the document found again is looked up again.
        EXPECT_FALSE(plan.ReadAtTurn(0));
        EXPECT_FALSE(plan.ReadAtTurn(1));
        if (storedByThen) store.results[records[0]->documentKey.Text()] = {Residents(1), 42};
        EXPECT_EQ(plan.ReadAtTurn(2), !storedByThen);
        EXPECT_FALSE(plan.ReadAtTurn(3));
        EXPECT_EQ(store.lookedUp.size(), 4u);
        EXPECT_EQ(store.lookedUp.back(), u"one.hwp");
        EXPECT_EQ(plan[2].stored, storedByThen);
        EXPECT_EQ(plan[2].fileIndex, storedByThen ? 42 : 0);
    }
}

// A key that is no digest (blank) is never taken for another document's:
// each such document is looked up and read.
TEST(AnalysisPlan, DocumentsWithoutADigestKeyAreEachLookedUpAndRead)
{
    std::vector<std::unique_ptr<SearchFileInfo>> records;
    for (int i = 0; i < 2; ++i) {
        records.push_back(Found(u"/d/same.hwp"));
        records.back()->documentKey.clear();
    }
    FakeStore store;
    AnalysisPlan plan(Borrowed(records), 0x7F, store.Lookup());
    EXPECT_TRUE(plan.PlanNext());
    EXPECT_TRUE(plan.PlanNext());
    EXPECT_FALSE(plan.PlanNext());  // nothing left
    EXPECT_EQ(store.lookedUp.size(), 2u);
    EXPECT_FALSE(plan[1].recheck);
}

// What one document gives at its turn, by what the plan knew and what its
// read gave.
TEST(AnalysisOutcome, OfEachWayADocumentEnds)
{
    TempDir dir;
    const std::string file = dir.file("here.hwp");
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    struct stat st{};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    const plat::FileIdentity here = plat::IdentityOf(st);
    plat::FileIdentity read;
    read.device = 1;
    read.inode = 2;
    const PersonalInfoHitList hits = {{kPersonalInfoResidentNumber, u"800101-1******"}};

    struct Case {
        const char* name;
        bool stored;            // the plan found a stored result
        std::u16string path;    // of the record
        bool taken;             // a read came back
        ScanStatus status;      // of the read
        bool cancelled;         // the stop came meanwhile
        Kind kind;
        int residents;          // counts of the outcome
        bool withHits;
        plat::FileIdentity identity;
    } cases[] = {
        {"stored result", true, plat::PathFromNative(file), false, ScanStatus::Done, false, Kind::Stored, 3, false, here},
        {"stored result, nothing at its path", true, u"/nowhere/gone.hwp", false, ScanStatus::Done, false, Kind::Stored, 3, false, {}},
        {"stored result during a stop", true, u"/nowhere/gone.hwp", false, ScanStatus::Done, true, Kind::Stored, 3, false, {}},
        {"read to its end", false, u"/d/a.hwp", true, ScanStatus::Done, false, Kind::Read, 1, true, read},
        {"read to its end as the stop came", false, u"/d/a.hwp", true, ScanStatus::Done, true, Kind::Read, 1, true, read},
        {"no text", false, u"/d/a.hwp", true, ScanStatus::NoText, false, Kind::Unread, 0, false, read},
        {"reader failed", false, u"/d/a.hwp", true, ScanStatus::Failed, false, Kind::Unread, 0, false, read},
        {"read in part", false, u"/d/a.hwp", true, ScanStatus::Partial, false, Kind::Partial, 1, true, read},
        {"read in part as the stop came", false, u"/d/a.hwp", true, ScanStatus::Partial, true, Kind::Cancelled, 0, false, read},
        {"no text as the stop came", false, u"/d/a.hwp", true, ScanStatus::NoText, true, Kind::Cancelled, 0, false, read},
        {"read cut short", false, u"/d/a.hwp", true, ScanStatus::Cancelled, false, Kind::Cancelled, 0, false, read},
        {"stopped before its read came back", false, u"/d/a.hwp", false, ScanStatus::Done, true, Kind::Cancelled, 0, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto record = Found(c.path);
        PlannedDocument planned;
        planned.record = record.get();
        planned.stored = c.stored;
        if (c.stored) {
            planned.counts = Residents(3);
            planned.fileIndex = 17;
        }
        search::DocumentResult result;
        result.status = c.status;
        result.counts = Residents(c.status == ScanStatus::NoText || c.status == ScanStatus::Failed ? 0 : 1);
        result.hits = hits;
        result.identity = read;
        const DocumentOutcome out = search::OutcomeOf(planned, c.taken ? &result : nullptr, c.cancelled);
        EXPECT_EQ(out.kind, c.kind);
        EXPECT_EQ(out.counts, Residents(c.residents));
        EXPECT_EQ(out.hits, c.withHits ? hits : PersonalInfoHitList{});
        EXPECT_EQ(out.identity, c.identity);
        EXPECT_EQ(out.fileIndex, c.stored ? 17 : 0);
        if (c.kind == Kind::Unread || c.kind == Kind::Partial) {
            EXPECT_EQ(out.status, c.status);
        }
    }
}

// The sink's calls as one list.
struct Recorder : search::SessionSink {
    std::vector<std::string> log;
    void Begin(int documents) override { log.push_back("begin " + std::to_string(documents)); }
    void Progress(Step step, int index, const std::u16string&) override
    {
        if (step == Step::TotalsChanged) log.push_back("totals " + std::to_string(index));
    }
    void Document(SearchFileInfo* record, const PersonalInfoCounts& counts, int kind) override
    {
        log.push_back("document " + plat::WideToUtf8(std::u16string(record->FileName())) + " " +
                      std::to_string(counts.Total()) + " kind " + std::to_string(kind));
    }
    void Unread(const SearchFileInfo& record, ScanStatus status) override
    {
        log.push_back("unread " + plat::WideToUtf8(std::u16string(record.FileName())) + " " +
                      std::to_string(static_cast<int>(status)));
    }
    void Finished() override { log.push_back("finished"); }
    void Cancelled() override { log.push_back("cancelled"); }
};

// The writer stores rows (keyed for a document read to its end, blank-keyed
// for what was read of one read in part), counts unread documents, adds the
// totals per kind of information and per kind of document, and calls the
// sink in the order it is given the documents.
TEST(AnalysisWriter, StoresRowsCountsTotalsAndCallsTheSinkInOrder)
{
    Recorder sink;
    AnalysisWriter::Totals totals{};
    AnalysisWriter::KindCounts kinds{};
    std::atomic<int> unread{0};
    struct Row {
        std::u16string name;
        bool keyed;
        int64_t total;
        size_t hits;
    };
    std::vector<Row> rows;
    bool refuse = false;
    int64_t nextRow = 100;
    AnalysisWriter writer(sink, totals, kinds, unread,
                          [&](const PersonalInfoCounts& counts, const SearchFileInfo& r, const PersonalInfoHitList& h) {
                              rows.push_back({std::u16string(r.FileName()), !r.documentKey.empty(), counts.Total(), h.size()});
                              return refuse ? int64_t{0} : nextRow++;
                          });
    const PersonalInfoHitList two = {{kPersonalInfoResidentNumber, u"a"}, {kPersonalInfoPhoneNumber, u"b"}};
    auto outcome = [](Kind kind, ScanStatus status, PersonalInfoCounts counts, PersonalInfoHitList hits) {
        DocumentOutcome o;
        o.kind = kind;
        o.status = status;
        o.counts = counts;
        o.hits = std::move(hits);
        o.identity.device = 5;
        o.identity.inode = 6;
        return o;
    };
    PersonalInfoCounts residentAndPhone = Residents(1);
    residentAndPhone[kPersonalInfoPhoneNumber] = 1;

    std::vector<std::unique_ptr<SearchFileInfo>> docs;
    auto run = [&](const std::u16string& path, const DocumentOutcome& o) {
        docs.push_back(Found(path));
        SearchFileInfo& r = *docs.back();
        writer.Record(r, o);
        if (o.kind != Kind::Cancelled) writer.Count(static_cast<int>(docs.size()) - 1, &r, o.counts);
        return &r;
    };
    SearchFileInfo* read = run(u"/d/read.hwp", outcome(Kind::Read, ScanStatus::Done, residentAndPhone, two));
    SearchFileInfo* part = run(u"/d/part.pdf", outcome(Kind::Partial, ScanStatus::Partial, Residents(1), {two[0]}));
    SearchFileInfo* empty = run(u"/d/empty.pdf", outcome(Kind::Partial, ScanStatus::Partial, {}, {}));
    run(u"/d/none.doc", outcome(Kind::Unread, ScanStatus::NoText, {}, {}));
    DocumentOutcome storedOutcome = outcome(Kind::Stored, ScanStatus::Done, Residents(2), {});
    storedOutcome.fileIndex = 7;
    SearchFileInfo* stored = run(u"/d/stored.xls", storedOutcome);
    SearchFileInfo* clean = run(u"/d/clean.hwp", outcome(Kind::Read, ScanStatus::Done, {}, {}));
    run(u"/d/notes.txt", outcome(Kind::Read, ScanStatus::Done, Residents(1), {two[0]}));
    refuse = true;
    SearchFileInfo* refused = run(u"/d/refused.ppt", outcome(Kind::Read, ScanStatus::Done, Residents(1), {two[0]}));
    SearchFileInfo* cut = run(u"/d/cut.hwp", outcome(Kind::Cancelled, ScanStatus::Cancelled, {}, {}));

    EXPECT_EQ(sink.log, (std::vector<std::string>{
                            "document read.hwp 2 kind 1", "totals 0",
                            "unread part.pdf 4", "document part.pdf 1 kind 5", "totals 1",
                            "unread empty.pdf 4",
                            "unread none.doc 1",
                            "document stored.xls 2 kind 3", "totals 4",
                            "document notes.txt 1 kind -1", "totals 6",
                            "document refused.ppt 1 kind 4", "totals 7",
                        }));
    // Rows: every document read to its end under its key, clean or not; the
    // part read of a document only when it has hits, under a blank key.
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].name, u"read.hwp");
    EXPECT_TRUE(rows[0].keyed);
    EXPECT_EQ(rows[0].hits, 2u);
    EXPECT_EQ(rows[1].name, u"part.pdf");
    EXPECT_FALSE(rows[1].keyed);
    EXPECT_EQ(rows[1].total, 1);
    EXPECT_EQ(rows[2].name, u"clean.hwp");
    EXPECT_TRUE(rows[2].keyed);
    EXPECT_EQ(rows[3].name, u"notes.txt");
    EXPECT_EQ(rows[4].name, u"refused.ppt");
    // The records: their row (none for a row not written), the stored
    // result's, and their key kept whatever the row's.
    EXPECT_EQ(read->fileIndex, 100);
    EXPECT_EQ(part->fileIndex, 101);
    EXPECT_FALSE(part->documentKey.empty());
    EXPECT_EQ(empty->fileIndex, 0);
    EXPECT_EQ(stored->fileIndex, 7);
    EXPECT_EQ(stored->fromEventStore, 1u);
    EXPECT_EQ(read->fromEventStore, 0u);
    EXPECT_EQ(clean->fileIndex, 102);
    EXPECT_EQ(refused->fileIndex, 0);
    for (const auto& d : docs) EXPECT_EQ(d->identity.inode, 6u) << plat::WideToUtf8(d->path);
    (void)cut;

    EXPECT_EQ(unread.load(), 3);
    EXPECT_EQ(totals[kPersonalInfoResidentNumber].load(), 1 + 1 + 2 + 1 + 1);
    EXPECT_EQ(totals[kPersonalInfoPhoneNumber].load(), 1);
    EXPECT_EQ(totals[search::kFirstKindTotal + search::kKindHwp - 1].load(), 1);
    EXPECT_EQ(totals[search::kFirstKindTotal + search::kKindPdf - 1].load(), 1);
    EXPECT_EQ(totals[search::kFirstKindTotal + search::kKindXls - 1].load(), 1);
    EXPECT_EQ(totals[search::kFirstKindTotal + search::kKindPpt - 1].load(), 1);
    EXPECT_EQ(totals[search::kFirstKindTotal + search::kKindDoc - 1].load(), 0);
    EXPECT_EQ(kinds[search::kKindAll].load(), 5);  // the text file counts among all only
    EXPECT_EQ(kinds[search::kKindHwp].load(), 1);
    EXPECT_EQ(kinds[search::kKindPdf].load(), 1);
    EXPECT_EQ(kinds[search::kKindDoc].load(), 0);
}

}  // namespace
}  // namespace ps_test
