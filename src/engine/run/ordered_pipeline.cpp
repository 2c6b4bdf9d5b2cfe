#include "engine/run/ordered_pipeline.h"

#include "core/checks.h"

#include <chrono>
#include <system_error>

namespace quillet::engine {

namespace {

constexpr std::size_t kBatchFiles = 64;
// Files in flight at most. Far enough ahead that the workers still have
// files to read while the run's thread puts a batch of rewrites in place.
constexpr std::size_t kInFlightFiles = 1024;
// Tasks handed to workers between batches that wake an idle one.
constexpr std::size_t kAssistsPerWake = 8;

} // namespace

OrderedPipeline::OrderedPipeline(FileOperation operation, int workers, std::size_t maxDirectories)
    : m_operation(std::move(operation)), m_maxBatches(static_cast<std::size_t>(workers < 1 ? 2 : workers + 1) * 8),
      m_maxDirectories(maxDirectories < 1 ? 1 : maxDirectories) {
    for (int i = 0; i < (workers < 1 ? 1 : workers); ++i) {
        try {
            m_workers.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            break; // a process or user thread limit: go on with those started
        }
    }
}

OrderedPipeline::~OrderedPipeline() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        m_tasks.clear();
        m_assists.clear();
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void OrderedPipeline::submit(const FileLocation& location) {
    const finder::OpenDirectory* directory = location.Directory.get();
    if (!m_directoryRuns.empty() && m_directoryRuns.back().first == directory)
        ++m_directoryRuns.back().second;
    else
        m_directoryRuns.emplace_back(directory, 1);
    m_open.push_back(location);
    ++m_inFlightFiles;
    if (m_open.size() >= kBatchFiles)
        flush();
}

bool OrderedPipeline::full() const {
    // Directories are counted also in the batch not yet handed out: files in
    // a directory of their own each hold one (takeOldest hands it out).
    return m_batches.size() >= m_maxBatches || m_directoryRuns.size() >= m_maxDirectories ||
           (m_inFlightFiles >= kInFlightFiles && !m_batches.empty());
}

void OrderedPipeline::flush() {
    if (m_open.empty())
        return;
    std::packaged_task<std::vector<Outcome>()> task([this, paths = std::exchange(m_open, {})] {
        std::vector<Outcome> outcomes(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            try {
                outcomes[i].file = PrepareFileAt(paths[i], m_operation);
            } catch (...) {
                // The run settles this file at its turn (it may read it again,
                // or go on past it), so the rest of the batch is still wanted.
                outcomes[i].error = std::current_exception();
            }
        }
        return outcomes;
    });
    m_batches.push_back(task.get_future());
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

PreparedFile OrderedPipeline::takeOldest() {
    std::exception_ptr error;
    PreparedFile file = takeOldest(error);
    if (error)
        std::rethrow_exception(error);
    return file;
}

PreparedFile OrderedPipeline::takeOldest(std::exception_ptr& error) {
    QUILLET_ASSERT(m_inFlightFiles > 0, "takeOldest() with a file in flight");
    if (m_readyNext >= m_ready.size()) {
        if (m_batches.empty())
            flush();
        std::future<std::vector<Outcome>> future = std::move(m_batches.front());
        m_batches.pop_front();
        // Rather than wait for it, prepare here the batches no worker has
        // begun, oldest first: the one awaited, or later ones meanwhile.
        while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            std::packaged_task<std::vector<Outcome>()> own;
            {
                std::lock_guard lock(m_mutex);
                if (m_tasks.empty())
                    break;
                own = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            own();
        }
        m_ready = future.get();
        m_readyNext = 0;
    }
    Outcome& outcome = m_ready[m_readyNext++];
    --m_inFlightFiles;
    if (--m_directoryRuns.front().second == 0)
        m_directoryRuns.pop_front();
    error = outcome.error;
    return std::move(outcome.file);
}

void OrderedPipeline::assist(std::function<void()> task) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        m_assists.push_back(std::move(task));
        // A worker woken for every task would take the run's thread off its
        // core: idle workers are woken for several at once, and busy ones
        // take them between batches. One that is never taken, its caller
        // does itself.
        wake = m_idleWorkers > 0 && m_assists.size() >= kAssistsPerWake;
    }
    if (wake)
        m_wake.notify_one();
}

void OrderedPipeline::work() {
    for (;;) {
        std::packaged_task<std::vector<Outcome>()> task;
        std::function<void()> assisted;
        {
            std::unique_lock lock(m_mutex);
            ++m_idleWorkers;
            m_wake.wait(lock, [this] { return m_closing || !m_tasks.empty() || !m_assists.empty(); });
            --m_idleWorkers;
            if (m_closing)
                return;
            if (!m_assists.empty()) {
                assisted = std::move(m_assists.front());
                m_assists.pop_front();
            } else {
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
        }
        if (assisted)
            assisted();
        else
            task();
    }
}

} // namespace quillet::engine
