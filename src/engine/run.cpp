#include "engine/run.h"

#include "engine/ordered_pipeline.h"
#include "finder/dir_listing.h"
#include "finder/file_finder.h"

#include <deque>
#include <sys/stat.h>
#include <optional>

namespace quillet::engine {

namespace {

std::string withTrailingSlash(const std::string& directory) {
    if (!directory.empty() && directory.back() == '/')
        return directory;
    return directory + "/";
}

// Counting and reporting of handled files, the same whether files are
// handled one at a time or prepared ahead by workers.
class Reporter {
public:
    Reporter(const RunRequest& request, const RunEvents& events) : m_request(request), m_events(events) {}

    // Reports one handled file; returns whether the run must stop after it.
    bool handled(FileReport& report, const std::string& resultEntry) {
        report.Index = ++m_handled;
        if (report.Matched) {
            ++m_matched;
            if (m_events.OnResult)
                m_events.OnResult(resultEntry);
        }
        bool stop = false;
        if (m_events.OnFile)
            m_events.OnFile(report, stop);
        if (m_request.MaxFiles > 0 && m_matched >= m_request.MaxFiles)
            stop = true;
        if (!stop && m_events.ProcessMessages)
            m_events.ProcessMessages();
        return stop;
    }

    std::int64_t handledCount() const { return m_handled; }
    std::int64_t matchedCount() const { return m_matched; }

private:
    const RunRequest& m_request;
    const RunEvents& m_events;
    std::int64_t m_handled = 0;
    std::int64_t m_matched = 0;
};

// Files waiting in a pipeline, with what their reports need.
struct Waiting {
    FileReport report;
    std::string resultEntry;
};

// Writes and reports the oldest prepared file; returns whether to stop.
bool commitOldest(OrderedPipeline& pipeline, std::deque<Waiting>& waiting, Reporter& reporter) {
    Waiting next = std::move(waiting.front());
    waiting.pop_front();
    const PreparedFile prepared = pipeline.takeOldest();
    CommitFile(prepared, next.report.FullPath);
    next.report.Matched = prepared.Matched;
    return reporter.handled(next.report, next.resultEntry);
}

std::int64_t runList(const RunRequest& request, const RunEvents& events) {
    TSRParam param = request.Param;
    param.FileList = &request.Entries;
    param.SubFolders = false;
    param.RootDir = request.Shape == RunShape::DirectoryListing ? withTrailingSlash(request.Directory) : std::string();

    std::int64_t total = 0;
    for (const std::string& entry : request.Entries)
        total += entry.empty() ? 0 : 1;
    Reporter reporter(request, events);

    if (request.Threads > 1) {
        OrderedPipeline pipeline(param, request.Threads);
        std::deque<Waiting> waiting;
        bool stop = false;
        for (const std::string& entry : request.Entries) {
            if (entry.empty())
                continue;
            Waiting item;
            item.report.FullPath = param.RootDir + entry;
            item.report.Name = entry;
            item.report.Total = total;
            item.resultEntry = entry;
            struct stat info {};
            pipeline.submit(item.report.FullPath, ::stat(item.report.FullPath.c_str(), &info) == 0 ? info.st_size : 0);
            waiting.push_back(std::move(item));
            while (!stop && pipeline.full())
                stop = commitOldest(pipeline, waiting, reporter);
            if (stop)
                break;
        }
        while (!stop && !pipeline.empty())
            stop = commitOldest(pipeline, waiting, reporter);
        return reporter.handledCount();
    }

    // One file at a time, through the list loop. It hands a matching entry to
    // the result list just before it reports progress for that entry.
    bool matched = false;
    param.ResultList = [&](const std::string&) { matched = true; };
    ProcessFileList(param, -1, [&](std::int64_t, std::int64_t totalEntries, const std::string& fileName, bool& stop) {
        FileReport report;
        report.Name = fileName.substr(param.RootDir.size());
        report.FullPath = fileName;
        report.Matched = matched;
        report.Total = totalEntries;
        matched = false;
        stop = reporter.handled(report, report.Name);
    });
    return reporter.handledCount();
}

std::int64_t runWalk(const RunRequest& request, const RunEvents& events) {
    finder::TFileFinder fileFinder;
    fileFinder.FileAttr = finder::faAnyFile;
    fileFinder.Root = withTrailingSlash(request.Directory);
    fileFinder.SubFolders = true;
    fileFinder.FuzzySearch = true;
    fileFinder.IgnoreCase = true;
    fileFinder.Filename = request.Mask;
    fileFinder.ProcessMessages = static_cast<bool>(events.ProcessMessages);
    fileFinder.MessagePump = events.ProcessMessages;
    fileFinder.OnDirectoryError = events.OnUnreadableDirectory;

    Reporter reporter(request, events);
    const TSRParam& operation = request.Param;
    const bool ahead = request.Threads > 1;
    std::optional<OrderedPipeline> pipeline;
    if (ahead)
        pipeline.emplace(operation, request.Threads);
    std::deque<Waiting> waiting;
    bool stopped = false;

    fileFinder.OnFileFound = [&](finder::TFileFinder&, const std::string& directory, finder::TSearchRec entry,
                                 bool& stop) {
        // Directories (also one whose name fits the mask), symlinks met in a
        // directory, FIFOs and devices are passed over: only regular files are
        // processed, each once.
        if (!entry.isRegularFile())
            return;
        Waiting item;
        item.report.Directory = directory;
        item.report.Name = entry.Name;
        item.report.FullPath = directory + entry.Name;
        item.report.Total = -1;
        item.resultEntry = item.report.FullPath;
        if (!ahead) {
            const PreparedFile prepared = PrepareFile(item.report.FullPath, operation);
            CommitFile(prepared, item.report.FullPath);
            item.report.Matched = prepared.Matched;
            stop = stopped = reporter.handled(item.report, item.resultEntry);
            return;
        }
        pipeline->submit(item.report.FullPath, entry.Size);
        waiting.push_back(std::move(item));
        while (!stopped && pipeline->full())
            stopped = commitOldest(*pipeline, waiting, reporter);
        stop = stopped;
    };
    fileFinder.Start();
    while (ahead && !stopped && !pipeline->empty())
        stopped = commitOldest(*pipeline, waiting, reporter);
    return reporter.matchedCount();
}

} // namespace

std::int64_t ExecuteRun(const RunRequest& request, const RunEvents& events) {
    if (request.Shape == RunShape::DirectoryWalk)
        return runWalk(request, events);
    return runList(request, events);
}

} // namespace quillet::engine
