#include "engine/run.h"

#include "finder/dir_listing.h"
#include "finder/file_finder.h"

namespace quillet::engine {

namespace {

std::string withTrailingSlash(const std::string& directory) {
    if (!directory.empty() && directory.back() == '/')
        return directory;
    return directory + "/";
}

bool processOne(const TSRParam& p, const std::string& path) {
    return ProcessFile(path, path, p.Operation, p.SearchPattern, p.CaseSensitive, p.NewText, p.ResultIsPattern,
                       p.TagOpen, p.TagClose, p.MaxCount, !p.DryRun);
}

std::int64_t runList(const RunRequest& request, const RunEvents& events) {
    TSRParam param = request.Param;
    param.FileList = &request.Entries;
    param.SubFolders = false;
    param.RootDir = request.Shape == RunShape::DirectoryListing ? withTrailingSlash(request.Directory) : std::string();

    // The list loop hands a matching entry to the result list just before it
    // reports progress for that entry.
    bool matched = false;
    param.ResultList = [&](const std::string& entry) {
        matched = true;
        if (events.OnResult)
            events.OnResult(entry);
    };

    std::int64_t handled = 0;
    ProcessFileList(param, request.MaxFiles,
                    [&](std::int64_t index, std::int64_t total, const std::string& fileName, bool& stop) {
                        handled = index;
                        FileReport report;
                        report.Name = fileName.substr(param.RootDir.size());
                        report.FullPath = fileName;
                        report.Matched = matched;
                        report.Index = index;
                        report.Total = total;
                        matched = false;
                        if (events.OnFile)
                            events.OnFile(report, stop);
                        if (!stop && events.ProcessMessages)
                            events.ProcessMessages();
                    });
    return handled;
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

    std::int64_t filesDone = 0;
    std::int64_t handled = 0;
    fileFinder.OnFileFound = [&](finder::TFileFinder&, const std::string& directory, finder::TSearchRec entry,
                                 bool& stop) {
        // Directories (also one whose name fits the mask), symlinks met in a
        // directory, FIFOs and devices are passed over: only regular files are
        // processed, each once.
        if (!entry.isRegularFile())
            return;
        FileReport report;
        report.Directory = directory;
        report.Name = entry.Name;
        report.FullPath = directory + entry.Name;
        report.Matched = processOne(request.Param, report.FullPath);
        report.Index = ++handled;
        report.Total = -1;
        if (report.Matched) {
            ++filesDone;
            if (events.OnResult)
                events.OnResult(report.FullPath);
        }
        if (events.OnFile)
            events.OnFile(report, stop);
        if (request.MaxFiles > 0 && filesDone >= request.MaxFiles)
            stop = true;
        if (!stop && events.ProcessMessages)
            events.ProcessMessages();
    };
    fileFinder.Start();
    return filesDone;
}

} // namespace

std::int64_t ExecuteRun(const RunRequest& request, const RunEvents& events) {
    if (request.Shape == RunShape::DirectoryWalk)
        return runWalk(request, events);
    return runList(request, events);
}

} // namespace quillet::engine
