#include "search/analysispool.h"

#include "platform/text.h"

#include <algorithm>

#include "platform/docfile.h"

namespace search {

unsigned AnalysisPool::DefaultWorkers()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
}

AnalysisPool::AnalysisPool(unsigned workers, ReadFn read, const CancelFlag* cancel, InFlightFn inFlight,
                           Limits limits)
    : m_read(std::move(read)), m_cancel(cancel), m_inFlight(std::move(inFlight)), m_limits(limits)
{
    if (workers == 0)
        workers = DefaultWorkers();
    workers = std::min(workers, kMaxWorkers);
    if (m_limits.queued == 0)
        m_limits.queued = 2 * static_cast<size_t>(workers);
    m_limits.ahead = std::max<size_t>(m_limits.ahead, 1);
    m_reading.resize(workers);
    m_workers.reserve(workers);
    for (unsigned t = 0; t < workers; ++t)
        m_workers.emplace_back([this, t] { Work(t); });
}

AnalysisPool::~AnalysisPool()
{
    Stop();
}

bool AnalysisPool::Cancelled() const
{
    return m_cancel && m_cancel->load() != 0;
}

bool AnalysisPool::WantsMoreLocked() const
{
    return !m_stopping && m_queue.size() < m_limits.queued && m_outstanding < m_limits.ahead &&
           m_readyHits < m_limits.bufferedHits;
}

bool AnalysisPool::WantsMore()
{
    std::lock_guard<plat::RankedMutex> g(m_lock);
    return WantsMoreLocked();
}

void AnalysisPool::Submit(size_t index, std::u16string path)
{
    {
        std::lock_guard<plat::RankedMutex> g(m_lock);
        m_queue.push_back(Job{index, std::move(path)});
        ++m_outstanding;
    }
    m_work.notify_one();
}

void AnalysisPool::SubmitFirst(size_t index, std::u16string path)
{
    {
        std::lock_guard<plat::RankedMutex> g(m_lock);
        m_queue.push_front(Job{index, std::move(path)});
        ++m_outstanding;
    }
    m_work.notify_one();
}

bool AnalysisPool::Take(size_t index, DocumentResult& out, std::chrono::milliseconds wait, bool moreToHandOut)
{
    std::unique_lock<plat::RankedMutex> lk(m_lock);
    auto ready = [&] { return m_ready.count(index) != 0 || (moreToHandOut && WantsMoreLocked()); };
    if (!ready())
        m_changed.wait_for(lk, wait, ready);
    auto it = m_ready.find(index);
    if (it == m_ready.end())
        return false;
    out = std::move(it->second);
    m_ready.erase(it);
    m_readyHits -= std::min(m_readyHits, out.hits.size());
    --m_outstanding;
    return true;
}

void AnalysisPool::Stop()
{
    {
        std::lock_guard<plat::RankedMutex> g(m_lock);
        m_stopping = true;
        m_outstanding -= std::min(m_outstanding, m_queue.size());
        m_queue.clear();
    }
    m_work.notify_all();
    // A worker waiting for memory of the search looks at the stop now.
    if (Cancelled())
        plat::SearchMemoryCeiling().WakeWaiters();
    for (std::thread& t : m_workers)
        if (t.joinable())
            t.join();
}

void AnalysisPool::SetReading(size_t me, const Job* job)
{
    std::lock_guard<plat::RankedMutex> g(m_inFlightLock);
    Reading& r = m_reading[me];
    r.busy = job != nullptr;
    if (job) {
        r.index = job->index;
        r.path = job->path;
    } else {
        r.path.clear();
    }
    if (!m_inFlight)
        return;
    std::vector<const Reading*> busy;
    for (const Reading& x : m_reading)
        if (x.busy)
            busy.push_back(&x);
    std::sort(busy.begin(), busy.end(), [](const Reading* a, const Reading* b) { return a->index < b->index; });
    std::u16string lines;
    for (const Reading* x : busy) {
        if (!lines.empty())
            lines += u'\n';
        lines += plat::EscapeLine(x->path);
    }
    // A worker that goes straight from one document to the next changes the
    // set once; nothing is written when it has not changed.
    if (lines == m_lastInFlight)
        return;
    m_lastInFlight = lines;
    m_inFlight(lines);
}

void AnalysisPool::Work(size_t me)
{
    bool reading = false;  // this worker's entry in the in-flight set
    for (;;) {
        Job job;
        {
            std::unique_lock<plat::RankedMutex> lk(m_lock);
            if (reading && m_queue.empty() && !m_stopping) {
                // Nothing to go on with: leave the in-flight set before
                // waiting, so that it names only documents being read.
                lk.unlock();
                SetReading(me, nullptr);
                reading = false;
                continue;
            }
            m_work.wait(lk, [&] { return m_stopping || !m_queue.empty(); });
            if (m_stopping || Cancelled())
                break;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_changed.notify_all();  // room in the queue
        SetReading(me, &job);
        reading = true;
        DocumentResult result;
        m_read(job.path, m_cancel, result);
        {
            std::lock_guard<plat::RankedMutex> g(m_lock);
            m_readyHits += result.hits.size();
            m_ready[job.index] = std::move(result);
        }
        m_changed.notify_all();
    }
    if (reading)
        SetReading(me, nullptr);
}

}  // namespace search
