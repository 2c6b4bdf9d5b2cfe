#include "engine/run/prepare.h"

#include "core/checks.h"
#include "core/error.h"
#include "core/text_diff.h"
#include "core/text_lines.h"
#include "engine/fs/posix_file.h"
#include "engine/run/stream_match.h"
#include "engine/run/text_hash.h"

#include <algorithm>
#include <cerrno>
#include <functional>
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

// The new text compared with the old as it comes, none of it kept: whether
// the operation changes the text, for a run that writes nothing and shows
// only the matches.
class ChangeCheck final : public core::TextSink {
public:
    explicit ChangeCheck(std::string_view text) : m_text(text) {}
    void clear() override {
        m_at = 0;
        m_differs = false;
    }
    void reserve(std::size_t /*bytes*/) override {}
    void append(std::string_view bytes) override {
        // A stretch kept where it stood is its own old text.
        const bool inPlace = bytes.data() == m_text.data() + std::min(m_at, m_text.size());
        if (!m_differs && !inPlace)
            m_differs = m_text.substr(std::min(m_at, m_text.size()), bytes.size()) != bytes;
        m_at += bytes.size();
    }
    bool differs() const { return m_differs || m_at != m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
    bool m_differs = false;
};

constexpr std::size_t kSearchHeadBytes = std::size_t{64} * 1024;

// Only Search: a file with a UTF-16 or UTF-32 mark is decoded whole and
// matched as far as it decodes; any other is matched as it is read, after
// its UTF-8 mark if it has one.
bool searchFile(FileReader& reader, const FileOperation& op) {
    if (op.Match.WholeWord) {
        // A piece-by-piece search cannot pass over a match that cuts a word
        // and look again from inside it; whole texts keep one rule for all.
        FileBytes bytes;
        reader.readAll(bytes);
        std::string_view text = bytes.view();
        TextEncoding encoding = TextEncoding::Bytes;
        if (op.FileEncoding == FileOperation::Encoding::Sniff)
            encoding = SniffEncoding(text);
        text = text.substr(MarkSize(encoding));
        if (!NeedsDecoding(encoding))
            return core::TextMatches(text, op.SearchPattern, op.CaseSensitive, op.Match);
        FileBytes decoded;
        DecodeText(text, encoding, decoded);
        return core::TextMatches(decoded.view(), op.SearchPattern, op.CaseSensitive, op.Match);
    }
    if (op.FileEncoding == FileOperation::Encoding::Bytes)
        return FileMatches(reader, op.SearchPattern, op.CaseSensitive);
    // The mark is looked for in a first read of up to 64 KiB, which the
    // search goes on from: most files fit in it whole, and looking costs no
    // extra call.
    // Read where the search goes on, which then need not copy it.
    std::vector<char>& head = SearchBuffer();
    const std::size_t want = std::max(kLongestMark, std::min(reader.sizeHint() + 1, kSearchHeadBytes));
    if (head.size() < want)
        head.resize(want);
    std::size_t got = 0;
    for (std::size_t more = 1; got < kLongestMark && more != 0; got += more)
        more = reader.read(head.data() + got, want - got);
    const std::string_view start(head.data(), got);
    const TextEncoding encoding = SniffEncoding(start);
    const std::string_view afterMark = start.substr(MarkSize(encoding));
    if (!NeedsDecoding(encoding))
        return FileMatches(reader, op.SearchPattern, op.CaseSensitive, afterMark, SplitForThreads(op.SearchThreads));
    FileBytes bytes;
    reader.readAll(bytes);
    std::string encoded(afterMark);
    encoded.append(bytes.view());
    bytes = FileBytes();
    FileBytes text;
    DecodeText(encoded, encoding, text);
    return core::TextMatches(text.view(), op.SearchPattern, op.CaseSensitive);
}

// Notes each match with its lines and columns, counting lines once over the
// text as the matches come in order; with a feed, they go to it in batches.
class MatchLister {
public:
    MatchLister(std::string_view text, bool characters, std::vector<MatchLocation>& list, MatchFeed* feed,
                std::size_t upTo)
        : m_text(text), m_characters(characters), m_list(list), m_feed(feed), m_upTo(upTo), m_lines(text) {}
    void operator()(const core::TextMatch& match) {
        if (m_noted == m_upTo)
            return;
        ++m_noted;
        if (m_feed != nullptr && m_list.size() >= kMatchFeedBatch)
            flush();
        MatchLocation& location = m_list.emplace_back();
        location.Start = match.Start;
        location.End = match.End;
        location.Replacement = match.Replacement;
        location.FirstLine = m_lines.seek(match.Start);
        location.FirstColumn = columnAt(match.Start);
        const std::size_t last = std::max(match.Start, match.End - 1);
        location.LastLine = m_lines.seek(last);
        location.LastColumn = columnAt(last);
    }
    // After the last match: the feed's end.
    void finish() {
        flush();
        if (m_begun)
            m_feed->end();
    }

private:
    // Gives the feed the matches noted since the last batch.
    void flush() {
        if (m_feed == nullptr || m_list.empty())
            return;
        if (!m_begun)
            m_feed->begin(m_text);
        m_begun = true;
        m_feed->matches(m_list);
        m_list.clear();
    }

    // Counted on from the last offset of the same line, so that a long line
    // with many matches is still read once.
    std::int64_t columnAt(std::size_t offset) {
        if (m_columnLine != m_lines.line()) {
            m_columnLine = m_lines.line();
            m_columnOffset = m_lines.lineStart();
            m_column = 1;
        }
        m_column += core::ColumnAt(m_text, m_columnOffset, offset, m_characters) - 1;
        m_columnOffset = offset;
        return m_column;
    }

    std::string_view m_text;
    bool m_characters;
    std::vector<MatchLocation>& m_list;
    MatchFeed* m_feed;
    std::size_t m_upTo;
    std::size_t m_noted = 0;
    bool m_begun = false;
    core::LineCounter m_lines;
    std::int64_t m_columnLine = 0;
    std::size_t m_columnOffset = 0;
    std::int64_t m_column = 1;
};

// One buffer per thread for the bytes of files read whole: most files of a
// run do not change, and their buffer then serves the next file instead of
// going back to malloc (a tenth of a replace's own time on a source tree). A
// file that changes takes its buffer along.
FileBytes& spareBytes() {
    thread_local FileBytes spare;
    return spare;
}

void dropBytes(FileBytes& bytes) {
    if (bytes.heldOnHeap())
        spareBytes() = std::move(bytes);
    else
        bytes = FileBytes();
}

[[noreturn]] void cannotRewrite(const FileLocation& location, const std::string& reason) {
    throw Error("Cannot rewrite \"" + detail::fullPath(location.Path) + "\": " + reason);
}

} // namespace

std::string_view PreparedFile::oldText() const {
    if (NeedsDecoding(Encoding))
        return Decoded.view();
    const std::string_view bytes = Original.view();
    return bytes.substr(std::min(MarkSize(Encoding), bytes.size()));
}

std::vector<std::string_view> PreparedFile::newBytes() const {
    if (NeedsDecoding(Encoding))
        return {Encoded.view()};
    std::vector<std::string_view> pieces = Result.pieces();
    if (Encoding == TextEncoding::Utf8)
        pieces.insert(pieces.begin(), Original.view().substr(0, MarkSize(Encoding)));
    return pieces;
}

PreparedFile PrepareFileAt(const FileLocation& location, const FileOperation& op, MatchFeed* feed) {
    QUILLET_ASSERT(feed == nullptr || (op.ListMatches && (op.DryRun || op.Operation == core::OpOnlySearch)),
                   "a match feed serves a run that writes nothing");
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
    if (op.Operation == core::OpOnlySearch && !op.ListMatches) {
        prepared.Matched = searchFile(reader, op);
        return prepared;
    }
    prepared.Original = std::move(spareBytes());
    reader.readAll(prepared.Original);
    prepared.OriginalEndsFile = reader.metEnd();
    const std::string_view bytes = prepared.Original.view();
    if (op.FileEncoding == FileOperation::Encoding::Sniff)
        prepared.Encoding = SniffEncoding(bytes);
    const TextEncoding encoding = prepared.Encoding;
    bool decodedWhole = true;
    if (NeedsDecoding(encoding))
        decodedWhole = DecodeText(bytes.substr(MarkSize(encoding)), encoding, prepared.Decoded);
    const std::string_view text = prepared.oldText();

    if (op.Operation != core::OpOnlySearch && op.Binary == FileOperation::BinaryFiles::PassOver &&
        core::LooksBinary(text)) {
        prepared.PassedOver = recipe || core::TextMatches(text, op.SearchPattern, op.CaseSensitive, op.Match);
        prepared.Torn = prepared.Original.torn();
        dropBytes(prepared.Original);
        prepared.Decoded = FileBytes();
        return prepared;
    }

    if (feed != nullptr && prepared.Original.torn()) {
        prepared.Torn = true; // matched once read whole
        return prepared;
    }
    // A text that is not encoded back is only compared with the new one.
    const bool onlyCompared = feed != nullptr && !NeedsDecoding(encoding);
    ChangeCheck check(text);
    if (!onlyCompared)
        prepared.Result = core::SplicedText(text);
    CopyOnChange result(prepared.Result);
    core::KeptStretchRecorder recorder(result, text);
    core::TextSink& sink = onlyCompared    ? static_cast<core::TextSink&>(check)
                           : op.RecordKept ? static_cast<core::TextSink&>(recorder)
                                           : result;
    MatchLister lister(text, NeedsDecoding(encoding), prepared.MatchList, feed, op.ListMatchesUpTo);
    const core::MatchObserver observer = std::ref(lister);
    prepared.Matched = core::ProcessText(sink, text, op.Operation, op.SearchPattern, op.CaseSensitive, op.NewText,
                                         op.ResultIsPattern, op.TagOpen, op.TagClose, op.MaxCount, &prepared.Matches,
                                         op.Match, op.ListMatches ? &observer : nullptr);
    lister.finish();
    prepared.Changed = onlyCompared ? prepared.Matched && check.differs()
                                    : prepared.Matched && result.changed() && !prepared.Result.equals(text);
    prepared.NeedsWrite = prepared.Changed && !op.DryRun;
    if (op.RecordKept && prepared.Changed && !onlyCompared)
        prepared.Kept = recorder.takeStretches();
    prepared.Torn = prepared.Original.torn();
    if (!prepared.Changed) {
        prepared.Result = core::SplicedText();
        if (!prepared.MatchList.empty())
            return prepared; // the matches refer to the text
        dropBytes(prepared.Original);
        prepared.Decoded = FileBytes();
        return prepared;
    }
    if (op.HashText)
        prepared.TextHash = HashText(text);
    // Torn bytes are read again by the run; only whole ones are judged.
    if (NeedsDecoding(encoding) && !prepared.Torn) {
        if (!decodedWhole)
            cannotRewrite(location, "not valid " + std::string(EncodingName(encoding)));
        prepared.Encoded.append(bytes.substr(0, MarkSize(encoding)));
        if (!EncodeText(prepared.Result.joined(), encoding, prepared.Encoded))
            cannotRewrite(location, "the new text is not valid UTF-8");
    }
    return prepared;
}

} // namespace quillet::engine
