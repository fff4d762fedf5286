// The analysis of a search in three pieces, each usable alone: the plan
// (the order of the documents, their stored results, the documents found
// twice in one run), the outcome of one document at its turn, and the one
// writer of what the analysis leaves (result rows, totals, sink calls).
// SearchSession's analysis thread runs them around its pool of readers
// (search/session.cpp), which reads ahead of it in the plan's order.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include "core/records.h"
#include "search/analysispool.h"
#include "search/matcher.h"
#include "search/session.h"

namespace search {

// Looks up the stored result of a document key under a mask: true with its
// counts and row index when there is one.
using StoredResultLookup =
    std::function<bool(const DocumentKey& key, PersonalInfoMask mask, PersonalInfoCounts& counts, int64_t& fileIndex)>;
// The event store's lookup (FindFileInfoByHash). A store that cannot be read
// makes the document read again instead of ending the search.
bool FindStoredResult(const DocumentKey& key, PersonalInfoMask mask, PersonalInfoCounts& counts, int64_t& fileIndex);

// What the plan learnt of a document when it planned it.
struct PlannedDocument {
    SearchFileInfo* record = nullptr;  // the session's record, borrowed
    bool stored = false;               // a stored result: not read
    bool recheck = false;              // shares its key with a document read in this run
    PersonalInfoCounts counts;         // of the stored result
    int64_t fileIndex = 0;             // of the stored result
};

// The order of an analysis and what it knows of each document before its
// turn. Documents are planned in order, each once; the analysis plans ahead
// of its turn as far as its readers want work, so that only documents
// without a stored result go to them.
class AnalysisPlan {
public:
    // Orders found records for an analysis: by folder, case-blind (ASCII
    // letters) and then exact, so that folders differing only in case stay
    // apart and each keeps its documents together; within a folder, the
    // walk's order.
    static void Order(std::vector<std::unique_ptr<SearchFileInfo>>& records);

    // records: in the analysis's order (see Order); they stay the caller's.
    AnalysisPlan(std::vector<SearchFileInfo*> records, PersonalInfoMask mask, StoredResultLookup lookup);

    int Count() const { return static_cast<int>(m_documents.size()); }
    // The documents planned so far: the next one planned has this index.
    int Planned() const { return m_next; }
    bool AllPlanned() const { return m_next >= Count(); }
    // Plans the next document: a document whose key an earlier one of this
    // run goes to be read under is marked for a re-check at its turn (by
    // then the earlier one's result is stored); any other is looked up. True
    // when it goes to be read now.
    bool PlanNext();
    // The turn of a planned document: one marked for a re-check is looked
    // up again. True when it goes to be read now (its stored result is not
    // there).
    bool ReadAtTurn(int index);
    const PlannedDocument& operator[](int index) const { return m_documents[static_cast<size_t>(index)]; }

private:
    struct DigestHash {
        size_t operator()(const DocumentKey::Digest& d) const noexcept;
    };

    std::vector<PlannedDocument> m_documents;
    PersonalInfoMask m_mask;
    StoredResultLookup m_lookup;
    int m_next = 0;
    // The keys that went to be read in this run, by their whole digest: a
    // document is never taken for another one read in this run.
    std::unordered_set<DocumentKey::Digest, DigestHash> m_readKeys;
};

// What one document gave at its turn.
struct DocumentOutcome {
    enum class Kind {
        Stored,     // its stored result: counts and row index, not read
        Read,       // read to its end: counts and hits, to be stored
        Unread,     // not read, no text (status NoText or Failed)
        Partial,    // read in part: counts and hits of the part read
        Cancelled,  // the stop came first or cut its read short
    };
    Kind kind = Kind::Cancelled;
    ScanStatus status = ScanStatus::Cancelled;  // of its read (Unread, Partial)
    PersonalInfoCounts counts;
    PersonalInfoHitList hits;
    int64_t fileIndex = 0;        // of the stored result
    plat::FileIdentity identity;  // of the file read; for a stored result, the file at its path now
};

// The outcome of a planned document at its turn: its stored result, or what
// its read gave. read: the reader's result (its hits are moved out), null
// when the stop came before it; cancelled: the search was stopped when the
// read came back. A read to the end is a result even then.
DocumentOutcome OutcomeOf(const PlannedDocument& planned, DocumentResult* read, bool cancelled);

// Stores a document's result with its hits: the new row index, 0 when
// nothing was written.
using ResultRowWriter =
    std::function<int64_t(const PersonalInfoCounts& counts, const SearchFileInfo& record, const PersonalInfoHitList& hits)>;

// The one writer of an analysis: the result rows, the search's totals and
// the sink's calls for its documents, in the order it is given them.
class AnalysisWriter {
public:
    using Totals = std::array<std::atomic<int>, kTotalCount>;
    using KindCounts = std::array<std::atomic<int>, kKindCount>;

    AnalysisWriter(SessionSink& sink, Totals& totals, KindCounts& kindCounts, std::atomic<int>& unreadDocuments,
                   ResultRowWriter addRow);

    // What the outcome leaves before the analysis's cancellation point. The
    // record takes the identity of the file (every kind) and its row index:
    // a stored result's, or the row written for a read to the end. A
    // document not read to its end is never stored as a result: it is
    // counted unread, what was read of it stored under a blank key (which no
    // later search takes as its result) when it has hits, and the sink told
    // (Unread). Nothing else for a cancelled one.
    void Record(SearchFileInfo& record, const DocumentOutcome& outcome);
    // A document with hits (index: its place in the analysis): counted in
    // the totals and in its kind, shown (Document) and the totals' move
    // told (TotalsChanged). Nothing for a document without hits.
    void Count(int index, SearchFileInfo* record, const PersonalInfoCounts& counts);

private:
    SessionSink& m_sink;
    Totals& m_totals;
    KindCounts& m_kindCounts;
    std::atomic<int>& m_unreadDocuments;
    ResultRowWriter m_addRow;
};

}  // namespace search
