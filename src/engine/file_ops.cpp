#include "engine/file_ops.h"

#include "engine/file_io.h"
#include "engine/stream_match.h"

namespace quillet::engine {

PreparedFile PrepareFile(const std::string& inName, const TSRParam& op) {
    PreparedFile prepared;
    const bool recipe = op.Operation == core::OpRemoveScript || op.Operation == core::OpStripWordHtml;
    // The recipes ignore the pattern, so an empty one must not stop them.
    if (op.SearchPattern.empty() && !recipe) {
        prepared.Matched = op.Operation == core::OpOnlySearch;
        return prepared;
    }

    if (op.Operation == core::OpOnlySearch) {
        prepared.Matched = FileMatches(inName, op.SearchPattern, op.CaseSensitive);
        return prepared;
    }
    FileBytes bytes;
    LoadFileBytes(inName, bytes);
    const std::string_view text = bytes.view();
    prepared.Matched = core::ProcessText(prepared.Result, text, op.Operation, op.SearchPattern, op.CaseSensitive,
                                         op.NewText, op.ResultIsPattern, op.TagOpen, op.TagClose, op.MaxCount);
    prepared.NeedsWrite = prepared.Matched && !op.DryRun;
    if (!prepared.NeedsWrite)
        prepared.Result = FileBytes();
    return prepared;
}

void CommitFile(const PreparedFile& prepared, const std::string& outName) {
    if (prepared.NeedsWrite)
        SaveFileText(prepared.Result.view(), outName);
}

bool ProcessFile(const std::string& outName, const std::string& inName, std::uint8_t operation,
                 const std::string& pattern, bool caseSensitive, const std::string& newText, bool isPattern,
                 const std::string& tagOpen, const std::string& tagClose, std::int64_t maxCount, bool write) {
    TSRParam op;
    op.Operation = operation;
    op.SearchPattern = pattern;
    op.CaseSensitive = caseSensitive;
    op.NewText = newText;
    op.ResultIsPattern = isPattern;
    op.TagOpen = tagOpen;
    op.TagClose = tagClose;
    op.MaxCount = maxCount;
    op.DryRun = !write;
    const PreparedFile prepared = PrepareFile(inName, op);
    CommitFile(prepared, outName);
    return prepared.Matched;
}

std::int64_t ProcessFileList(const TSRParam& param, std::int64_t maxFiles, const TListProgressEvent& onProgress) {
    if (param.FileList == nullptr)
        return 0;
    const std::vector<std::string>& entries = *param.FileList;
    std::int64_t total = 0;
    for (const std::string& entry : entries)
        total += entry.empty() ? 0 : 1;

    std::int64_t count = 0;
    std::int64_t index = 0;
    bool stop = false;
    for (const std::string& entry : entries) {
        if (entry.empty())
            continue;
        const std::string path = param.RootDir + entry;
        if (ProcessFile(path, path, param.Operation, param.SearchPattern, param.CaseSensitive, param.NewText,
                        param.ResultIsPattern, param.TagOpen, param.TagClose, param.MaxCount, !param.DryRun)) {
            ++count;
            if (param.ResultList)
                param.ResultList(entry);
        }
        ++index;
        if (onProgress) {
            onProgress(index, total, path, stop);
            if (stop)
                break;
        }
        if (maxFiles > 0 && count >= maxFiles)
            break;
    }
    return count;
}

} // namespace quillet::engine
