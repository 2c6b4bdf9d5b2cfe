#include "engine/file_ops.h"

#include "engine/file_io.h"

namespace quillet::engine {

bool ProcessFile(const std::string& outName, const std::string& inName, std::uint8_t operation,
                 const std::string& pattern, bool caseSensitive, const std::string& newText, bool isPattern,
                 const std::string& tagOpen, const std::string& tagClose, std::int64_t maxCount, bool write) {
    const bool recipe = operation == core::OpRemoveScript || operation == core::OpStripWordHtml;
    // The recipes ignore the pattern, so an empty one must not stop them.
    if (pattern.empty() && !recipe)
        return operation == core::OpOnlySearch;

    FileBytes bytes;
    LoadFileBytes(inName, bytes);
    const std::string_view text = bytes.view();
    if (operation == core::OpOnlySearch)
        return core::TextMatches(text, pattern, caseSensitive);

    std::string result;
    const bool matched = core::ProcessText(result, text, operation, pattern, caseSensitive, newText, isPattern,
                                           tagOpen, tagClose, maxCount);
    if (matched && write)
        SaveFileText(result, outName);
    return matched;
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
