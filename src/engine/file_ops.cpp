#include "engine/file_ops.h"

#include "engine/fs/posix_file.h"
#include "engine/fs/rewrite.h"
#include "engine/run/run.h"

namespace quillet::engine {

void CommitFile(const PreparedFile& prepared, const std::string& outName) {
    if (prepared.NeedsWrite) {
        const std::vector<std::string_view> pieces = prepared.newBytes();
        RewriteFile(FileLocation::atPath(outName), pieces, RewriteRequest{});
    }
}

bool ProcessFile(const std::string& outName, const std::string& inName, std::uint8_t operation,
                 const std::string& pattern, bool caseSensitive, const std::string& newText, bool isPattern,
                 const std::string& tagOpen, const std::string& tagClose, std::int64_t maxCount, bool write) {
    FileOperation op;
    op.Operation = operation;
    op.SearchPattern = pattern;
    op.CaseSensitive = caseSensitive;
    op.NewText = newText;
    op.ResultIsPattern = isPattern;
    op.TagOpen = tagOpen;
    op.TagClose = tagClose;
    op.MaxCount = maxCount;
    op.DryRun = !write;
    if (outName != inName) {
        const PreparedFile prepared = PrepareFile(inName, op);
        CommitFile(prepared, outName);
        return prepared.Matched;
    }
    RunRequest request;
    request.Entries.push_back(inName);
    request.Param = std::move(op);
    RunTotals totals;
    ExecuteRun(request, RunEvents{}, &totals);
    return totals.Matched > 0;
}

std::int64_t ProcessFileList(const TSRParam& param, std::int64_t maxFiles, const TListProgressEvent& onProgress) {
    if (param.FileList == nullptr)
        return 0;
    RunRequest request;
    request.Param = param;
    request.MaxFiles = maxFiles;
    for (const std::string& entry : *param.FileList) {
        if (!entry.empty())
            request.Entries.push_back(param.RootDir + entry);
    }
    RunEvents events;
    if (param.ResultList)
        events.OnResult = [&](const std::string& path) { param.ResultList(path.substr(param.RootDir.size())); };
    if (onProgress)
        events.OnFile = [&](const FileReport& report, bool& stop) {
            onProgress(report.Index, report.Total, report.FullPath, stop);
        };
    RunTotals totals;
    ExecuteRun(request, events, &totals);
    return totals.Matched;
}

} // namespace quillet::engine
