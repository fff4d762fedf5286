#include "search/analysis.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/eventstore/CppSQLite3.h"
#include "core/eventstore/eventqueries.h"
#include "core/logmgr.h"
#include "platform/docfile.h"
#include "platform/text.h"

namespace search {

namespace {

// Case-blind comparison of folder texts (ASCII letters), then exact, so that
// folders differing only in case stay apart and keep their documents together.
int CompareNoCase(std::u16string_view a, std::u16string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The identity of the file at a path (a link at its end not followed, as the
// walk does not follow one): for a document whose stored result is used,
// the file this run found there. Not known when nothing is there.
plat::FileIdentity IdentityAtPath(const std::u16string& path)
{
    struct stat st{};
    if (::lstat(plat::PathToNative(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return plat::IdentityOf(st);
}

}  // namespace

bool FindStoredResult(const DocumentKey& key, PersonalInfoMask mask, PersonalInfoCounts& counts, int64_t& fileIndex)
{
    try {
        return FindFileInfoByHash(key.Text(), mask, counts, fileIndex);
    } catch (const CppSQLite3Exception& e) {
        SearchLog().Write(u"A stored result could not be read: %s", e.ErrorMessage().c_str());
        counts = PersonalInfoCounts();
        fileIndex = 0;
        return false;
    }
}

// ---- The plan ------------------------------------------------------------------------------

void AnalysisPlan::Order(std::vector<std::unique_ptr<SearchFileInfo>>& records)
{
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        const std::u16string_view fa = a->Folder(), fb = b->Folder();
        const int c = CompareNoCase(fa, fb);
        return c != 0 ? c < 0 : fa < fb;
    });
}

size_t AnalysisPlan::DigestHash::operator()(const DocumentKey::Digest& d) const noexcept
{
    size_t h;
    std::memcpy(&h, d.data(), sizeof h);
    return h;
}

AnalysisPlan::AnalysisPlan(std::vector<SearchFileInfo*> records, PersonalInfoMask mask, StoredResultLookup lookup)
    : m_mask(mask), m_lookup(std::move(lookup))
{
    m_documents.resize(records.size());
    for (size_t i = 0; i < records.size(); ++i) m_documents[i].record = records[i];
}

bool AnalysisPlan::PlanNext()
{
    if (AllPlanned()) return false;
    PlannedDocument& d = m_documents[static_cast<size_t>(m_next++)];
    // Every key a session makes is a digest; a key of another form would
    // only be looked up again, never skipped.
    const DocumentKey::Digest* digest = d.record->documentKey.digest();
    if (digest && m_readKeys.count(*digest)) {
        d.recheck = true;
        return false;
    }
    if (m_lookup(d.record->documentKey, m_mask, d.counts, d.fileIndex)) {
        d.stored = true;
        return false;
    }
    if (digest) m_readKeys.insert(*digest);
    return true;
}

bool AnalysisPlan::ReadAtTurn(int index)
{
    PlannedDocument& d = m_documents[static_cast<size_t>(index)];
    if (!d.recheck) return false;
    d.stored = m_lookup(d.record->documentKey, m_mask, d.counts, d.fileIndex);
    return !d.stored;
}

// ---- One document ------------------------------------------------------------------------

DocumentOutcome OutcomeOf(const PlannedDocument& planned, DocumentResult* read, bool cancelled)
{
    using Kind = DocumentOutcome::Kind;
    DocumentOutcome out;
    if (planned.stored) {
        out.kind = Kind::Stored;
        out.status = ScanStatus::Done;
        out.counts = planned.counts;
        out.fileIndex = planned.fileIndex;
        out.identity = IdentityAtPath(planned.record->path);
        return out;
    }
    if (!read) return out;  // the stop came before the read: Cancelled, identity not known
    out.identity = read->identity;
    out.status = read->status;
    if (read->status == ScanStatus::Done) {
        out.kind = Kind::Read;
    } else if (read->status == ScanStatus::Cancelled || cancelled) {
        // A read the stop cut short is neither stored nor counted.
        out.kind = Kind::Cancelled;
        return out;
    } else if (read->status == ScanStatus::Partial) {
        out.kind = Kind::Partial;
    } else {
        // No text: nothing of it to show.
        out.kind = Kind::Unread;
        return out;
    }
    out.counts = read->counts;
    out.hits = std::move(read->hits);
    return out;
}

// ---- The writer --------------------------------------------------------------------------

AnalysisWriter::AnalysisWriter(SessionSink& sink, Totals& totals, KindCounts& kindCounts,
                               std::atomic<int>& unreadDocuments, ResultRowWriter addRow)
    : m_sink(sink),
      m_totals(totals),
      m_kindCounts(kindCounts),
      m_unreadDocuments(unreadDocuments),
      m_addRow(std::move(addRow))
{
}

void AnalysisWriter::Record(SearchFileInfo& record, const DocumentOutcome& outcome)
{
    using Kind = DocumentOutcome::Kind;
    if (outcome.kind == Kind::Stored) {
        record.fromEventStore = 1;
        record.fileIndex = outcome.fileIndex;
        record.identity = outcome.identity;
        return;
    }
    record.identity = outcome.identity;
    switch (outcome.kind) {
    case Kind::Read: {
        // The row and its hits in one transaction: a run that ends in
        // between leaves neither.
        const int64_t fileIndex = m_addRow(outcome.counts, record, outcome.hits);
        if (fileIndex > 0) record.fileIndex = fileIndex;
        break;
    }
    case Kind::Partial:
    case Kind::Unread:
        // Not read to its end: never stored as a result. What was read of
        // it is shown, and the document counted unread.
        ++m_unreadDocuments;
        if (outcome.kind == Kind::Partial && outcome.counts.Total() != 0) {
            // Stored under a blank key, which no later search takes as this
            // document's result.
            SearchFileInfo unkeyed = record;
            unkeyed.documentKey.clear();
            const int64_t fileIndex = m_addRow(outcome.counts, unkeyed, outcome.hits);
            if (fileIndex > 0) record.fileIndex = fileIndex;
        }
        m_sink.Unread(record, outcome.status);
        break;
    case Kind::Stored:
    case Kind::Cancelled:
        break;
    }
}

void AnalysisWriter::Count(int index, SearchFileInfo* record, const PersonalInfoCounts& counts)
{
    if (counts.Total() == 0) return;
    for (int k = 0; k < kPersonalInfoKindCount; ++k) m_totals[k] += counts[k];
    const int kind = DocumentKindOfName(record->FileName());
    if (kind > 0) ++m_totals[kFirstKindTotal + (kind - 1)];
    m_sink.Document(record, counts, kind);
    ++m_kindCounts[kKindAll];
    if (kind > 0) ++m_kindCounts[kind];
    m_sink.Progress(SessionSink::Step::TotalsChanged, index, {});
}

}  // namespace search
