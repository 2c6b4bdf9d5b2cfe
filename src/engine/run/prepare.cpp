#include "engine/run/prepare.h"

#include "engine/fs/posix_file.h"
#include "engine/run/stream_match.h"

#include <cerrno>
#include <sys/stat.h>

namespace quillet::engine {

namespace {

// Passes a text operation's output on to `inner`, but holds back the
// stretches it keeps until the first change: a text that does not change at
// all (no match: most files of a run) is then never copied.
class CopyOnChange final : public core::TextSink {
public:
    explicit CopyOnChange(core::TextSink& inner) : m_inner(inner) {}
    void clear() override {
        m_inner.clear();
        m_held.clear();
        m_changed = false;
    }
    void reserve(std::size_t bytes) override { m_inner.reserve(bytes); }
    void append(std::string_view bytes) override {
        if (!m_changed) {
            m_changed = true;
            for (std::string_view piece : m_held)
                m_inner.keep(piece);
            m_held.clear();
        }
        m_inner.append(bytes);
    }
    void keep(std::string_view piece) override {
        if (m_changed)
            m_inner.keep(piece);
        else
            m_held.push_back(piece);
    }
    // Whether anything but kept stretches came (the text may still be equal).
    bool changed() const { return m_changed; }

private:
    core::TextSink& m_inner;
    std::vector<std::string_view> m_held;
    bool m_changed = false;
};

} // namespace

PreparedFile PrepareFileAt(const FileLocation& location, const FileOperation& op) {
    PreparedFile prepared;
    const bool recipe = core::IsRecipe(op.Operation);
    // The recipes ignore the pattern, so an empty one must not stop them.
    if (op.SearchPattern.empty() && !recipe) {
        // Decided without reading, but a path names a file or fails as with
        // any other pattern. A walk's entries were just listed as files.
        if (!location.Directory) {
            struct stat info {};
            if (::stat(location.Path.c_str(), &info) != 0)
                detail::failErrno(detail::kCannotOpen, location.Path, errno);
            if (!S_ISREG(info.st_mode))
                detail::fail(detail::kCannotOpen, location.Path, "Not a regular file");
        }
        prepared.Matched = op.Operation == core::OpOnlySearch;
        return prepared;
    }

    FileReader reader(location);
    prepared.Opened = true;
    prepared.Identity = reader.identity();
    if (op.Operation == core::OpOnlySearch) {
        prepared.Matched = FileMatches(reader, op.SearchPattern, op.CaseSensitive);
        return prepared;
    }
    reader.readAll(prepared.Original);
    const std::string_view text = prepared.Original.view();
    prepared.Result = core::SplicedText(text);
    CopyOnChange result(prepared.Result);
    core::KeptStretchRecorder recorder(result, text);
    core::TextSink& sink = op.RecordKept ? static_cast<core::TextSink&>(recorder) : result;
    prepared.Matched = core::ProcessText(sink, text, op.Operation, op.SearchPattern, op.CaseSensitive, op.NewText,
                                         op.ResultIsPattern, op.TagOpen, op.TagClose, op.MaxCount, &prepared.Matches);
    prepared.Changed = prepared.Matched && result.changed() && !prepared.Result.equals(text);
    prepared.NeedsWrite = prepared.Changed && !op.DryRun;
    if (op.RecordKept && prepared.Changed)
        prepared.Kept = recorder.takeStretches();
    prepared.Torn = prepared.Original.torn();
    if (!prepared.Changed) {
        prepared.Result = core::SplicedText();
        prepared.Original = FileBytes();
    }
    return prepared;
}

} // namespace quillet::engine
