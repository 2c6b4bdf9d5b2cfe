// Reads and matches the next files of a run on worker threads while the run's
// own thread writes and reports them one by one, in run order.
//
// Only PrepareFile runs ahead (reading, never writing), so a run behaves as
// if it handled one file at a time: a file is written, counted and reported
// only when every file before it was, a stop after file k leaves the files
// after k untouched (their speculative results are dropped), and an error
// met ahead of time is raised only when its file's turn comes.
//
// Files go to the workers in batches of several files, so that handing work
// between threads costs little beside reading the files. What is read ahead
// is bounded by counts of files, batches and walk directories, not by bytes:
// a search streams each file through a small buffer, and a prepared rewrite
// holds in memory only a file below the size from which files are mapped, so
// that a bounded number of files in flight is a bounded amount of memory.
// The run's thread prepares batches too, whenever it would otherwise wait for
// one, so that it counts among the run's threads: a worker per core beside
// it would put more busy threads than cores on a run that rewrites many
// files, and leave it idle in a search.
#pragma once

#include "engine/run/prepare.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillet::engine {

class OrderedPipeline {
public:
    // Starts up to `workers` threads; where the system refuses more, runs
    // with those it started (see workers()). The files in flight hold at
    // most `maxDirectories` walk directories (and so descriptors) open.
    OrderedPipeline(FileOperation operation, int workers, std::size_t maxDirectories);
    // Drops what was not taken yet and waits for the workers.
    ~OrderedPipeline();
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    // The workers that could be started; with none, the caller must prepare
    // files itself.
    std::size_t workers() const { return m_workers.size(); }
    void submit(const FileLocation& location);
    bool empty() const { return m_inFlightFiles == 0; }
    // Enough is prepared or under way: take before submitting more.
    bool full() const;
    // Waits for the oldest file and hands it over, in submission order;
    // rethrows the error its preparation met. Meanwhile prepares, on the
    // calling thread, batches that no worker has begun. Precondition
    // (checked): !empty().
    PreparedFile takeOldest();
    // The same, handing over the error instead of raising it.
    PreparedFile takeOldest(std::exception_ptr& error);
    // Runs `task` on a worker before any batch of files not begun yet: work
    // the run's thread hands off for a file already taken. The task must not
    // throw; the caller learns of its end by its own means. A task may wait
    // long, or never run: the caller must be able to do the work itself.
    void assist(std::function<void()> task);

private:
    struct Outcome {
        PreparedFile file;
        std::exception_ptr error;
    };
    void flush();
    void work();

    FileOperation m_operation; // the worker threads' own copy
    std::size_t m_maxBatches;
    std::size_t m_maxDirectories;
    std::vector<FileLocation> m_open; // the batch not handed out yet
    std::deque<std::future<std::vector<Outcome>>> m_batches;
    std::vector<Outcome> m_ready;
    std::size_t m_readyNext = 0;
    std::size_t m_inFlightFiles = 0;
    // The files in flight as runs of files from one walk directory (null
    // for paths), in submission order: each run holds one directory open.
    std::deque<std::pair<const finder::OpenDirectory*, std::size_t>> m_directoryRuns;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<std::vector<Outcome>()>> m_tasks; // guarded by m_mutex
    std::deque<std::function<void()>> m_assists;                    // guarded by m_mutex
    std::size_t m_idleWorkers = 0;                                  // guarded by m_mutex
    bool m_closing = false;                                         // guarded by m_mutex
    std::vector<std::thread> m_workers;
};

} // namespace quillet::engine
