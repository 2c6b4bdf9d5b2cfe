#include "change_list.h"

#include "core/text_diff.h"
#include "engine/run/match_lines.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <utility>

namespace quillet::gui {

std::int64_t countChangedPlaces(std::string_view diff) {
    // The "---" and "+++" heading lines come before the first hunk.
    std::int64_t places = 0;
    bool inChange = false;
    bool inHunks = false;
    std::size_t start = 0;
    while (start < diff.size()) {
        std::size_t end = diff.find('\n', start);
        if (end == std::string_view::npos)
            end = diff.size();
        const char first = diff[start];
        inHunks = inHunks || first == '@';
        const bool changed = inHunks && (first == '-' || first == '+');
        if (changed && !inChange)
            ++places;
        inChange = changed;
        start = end + 1;
    }
    return places;
}

std::string fileDiff(const std::string& path, std::string_view oldText, std::string_view newText) {
    std::string diff;
    core::WriteUnifiedDiff(diff, "a/" + path, "b/" + path, oldText, newText, nullptr, core::DiffColor::None);
    return diff;
}

std::string diffOfFileNow(const engine::FileOperation& param, const std::string& path) {
    engine::FileOperation dry = param;
    dry.DryRun = true;
    const engine::PreparedFile prepared = engine::PrepareFile(path, dry);
    if (!prepared.Changed)
        return {};
    return fileDiff(path, prepared.oldText(), prepared.Result.joined());
}

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

std::uint64_t read64(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word; // the machine's byte order: the hash only has to be stable within one process
}

std::uint32_t read32(const char* at) {
    std::uint32_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

std::uint64_t round64(std::uint64_t lane, std::uint64_t word) {
    return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

std::uint64_t mergeLane(std::uint64_t hash, std::uint64_t lane) {
    return (hash ^ round64(0, lane)) * kPrime1 + kPrime4;
}

// The process's key: a text made to collide with another would have to be
// made for it.
std::uint64_t processKey() {
    static const std::uint64_t key = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return key;
}

} // namespace

std::uint64_t detail::xxh64(std::string_view text, std::uint64_t seed) {
    const char* at = text.data();
    const char* const end = at + text.size();
    std::uint64_t hash = 0;
    if (text.size() >= 32) {
        // Four lanes that do not wait for one another, each a variable of its
        // own: kept in an array, they went through memory at half the speed.
        std::uint64_t lane1 = seed + kPrime1 + kPrime2;
        std::uint64_t lane2 = seed + kPrime2;
        std::uint64_t lane3 = seed;
        std::uint64_t lane4 = seed - kPrime1;
        for (; end - at >= 32; at += 32) {
            lane1 = round64(lane1, read64(at));
            lane2 = round64(lane2, read64(at + 8));
            lane3 = round64(lane3, read64(at + 16));
            lane4 = round64(lane4, read64(at + 24));
        }
        hash = std::rotl(lane1, 1) + std::rotl(lane2, 7) + std::rotl(lane3, 12) + std::rotl(lane4, 18);
        for (const std::uint64_t lane : {lane1, lane2, lane3, lane4})
            hash = mergeLane(hash, lane);
    } else {
        hash = seed + kPrime5;
    }
    hash += text.size();
    for (; end - at >= 8; at += 8)
        hash = std::rotl(hash ^ round64(0, read64(at)), 27) * kPrime1 + kPrime4;
    if (end - at >= 4) {
        hash = std::rotl(hash ^ (std::uint64_t{read32(at)} * kPrime1), 23) * kPrime2 + kPrime3;
        at += 4;
    }
    for (; at < end; ++at)
        hash = std::rotl(hash ^ (std::uint64_t{static_cast<unsigned char>(*at)} * kPrime5), 11) * kPrime1;
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

std::uint64_t textHash(std::string_view text) {
    return detail::xxh64(text, processKey());
}

namespace {

// At most kShownChangeBytes of `text`, never ending inside a character, line
// ends shown as a return sign.
std::string shownChangeText(std::string_view text) {
    std::string_view kept = text;
    bool cut = false;
    if (kept.size() > kShownChangeBytes) {
        std::size_t end = kShownChangeBytes;
        while (end > 0 && (static_cast<unsigned char>(kept[end]) & 0xC0U) == 0x80U)
            --end;
        kept = kept.substr(0, end);
        cut = true;
    }
    std::string shown;
    shown.reserve(kept.size() + 8);
    for (const char c : kept) {
        if (c == '\n')
            shown += "\u23CE";
        else if (c != '\r')
            shown += c;
    }
    if (cut)
        shown += "[...]";
    return shown;
}

} // namespace

std::vector<ChangeRow> changeRows(std::string_view text, const std::vector<engine::MatchLocation>& matches) {
    std::vector<ChangeRow> rows;
    rows.reserve(matches.size());
    for (const engine::MatchLocation& match : matches)
        rows.push_back({match.FirstLine, shownChangeText(text.substr(match.Start, match.End - match.Start)),
                        shownChangeText(match.Replacement)});
    return rows;
}

FileReview reviewFileNow(const engine::FileOperation& param, const std::string& path) {
    engine::FileOperation dry = param;
    dry.DryRun = true;
    dry.ListMatches = !core::IsRecipe(param.Operation);
    dry.Match.Selection.reset();
    const engine::PreparedFile prepared = engine::PrepareFile(path, dry);
    FileReview review;
    review.Changed = prepared.Changed;
    if (!prepared.Changed)
        return review;
    review.TextHash = textHash(prepared.oldText());
    review.Changes = changeRows(prepared.oldText(), prepared.MatchList);
    return review;
}

namespace {

constexpr std::string_view kCut = "[...]";

// The rows of the lines ShowMatchLines picks.
class Rows : public engine::MatchLineSink {
public:
    explicit Rows(std::string_view text) : m_text(text) {}

    void gap() override { m_rows.push_back(MatchRow{}); }

    void line(const engine::ShownLine& line) override {
        const std::vector<engine::TextSpan>& marks = *line.Marks;
        const engine::TextSpan part =
            engine::ShownPartOfLine(m_text, line.Start, line.End, marks.empty() ? line.Start : marks.front().Start);
        MatchRow row;
        row.Line = line.Number;
        if (part.Start > line.Start)
            row.Text = kCut;
        const std::size_t offset = row.Text.size();
        row.Text.append(m_text.substr(part.Start, part.End - part.Start));
        for (const engine::TextSpan& mark : marks) {
            const std::size_t markFrom = std::clamp(mark.Start, part.Start, part.End);
            const std::size_t markTo = std::clamp(mark.End, part.Start, part.End);
            if (markFrom < markTo)
                row.Marks.emplace_back(markFrom - part.Start + offset, markTo - part.Start + offset);
        }
        if (part.End < line.End)
            row.Text += kCut;
        m_rows.push_back(std::move(row));
    }

    std::vector<MatchRow> take() { return std::move(m_rows); }

private:
    std::string_view m_text;
    std::vector<MatchRow> m_rows;
};

} // namespace

std::vector<MatchRow> matchRows(std::string_view text, const std::vector<engine::MatchLocation>& matches,
                                std::int64_t context) {
    Rows rows(text);
    engine::ShowMatchLines(text, matches, context, context, rows);
    return rows.take();
}

ChangeCollector::ChangeCollector(ChangeLimits limits) : m_limits(limits) {}

void ChangeCollector::record(const std::string& path, std::string_view oldText, std::string_view newText,
                             std::int64_t matches) {
    FileChange change;
    change.Path = path;
    change.Matches = matches;
    change.TextHash = textHash(oldText);
    const bool madeOnDemand = m_limits.DiffsOnDemand && matches >= 0;
    if (madeOnDemand || oldText.size() > m_limits.MaxTextBytes || newText.size() > m_limits.MaxTextBytes) {
        change.DiffKept = false;
    } else {
        change.Diff = fileDiff(path, oldText, newText);
        if (matches < 0)
            change.Matches = countChangedPlaces(change.Diff);
    }
    const std::lock_guard lock(m_mutex);
    if (!change.DiffKept || change.Diff.size() > m_limits.MaxDiffBytes ||
        m_keptBytes + change.Diff.size() > m_limits.MaxTotalBytes) {
        change.Diff = std::string();
        change.DiffKept = false;
    } else {
        m_keptBytes += change.Diff.size();
    }
    m_changes.push_back(std::move(change));
}

void ChangeCollector::recordMatches(const std::string& path, std::string_view text,
                                    const std::vector<engine::MatchLocation>& matches) {
    FileChange change;
    change.Path = path;
    change.IsSearch = true;
    change.Matches = static_cast<std::int64_t>(matches.size());
    change.MatchesBinary = core::LooksBinary(text);
    std::size_t shown = 0;
    {
        const std::lock_guard lock(m_mutex);
        shown = std::min({matches.size(), m_limits.MaxFileMatches, m_limits.MaxTotalMatches - m_keptMatches});
        if (change.MatchesBinary)
            shown = 0;
        m_keptMatches += shown;
    }
    change.MatchesCut = !change.MatchesBinary && shown < matches.size();
    if (shown > 0) {
        const std::vector<engine::MatchLocation> kept(matches.begin(),
                                                      matches.begin() + static_cast<std::ptrdiff_t>(shown));
        change.MatchRows = matchRows(text, kept, m_limits.ContextLines);
    }
    const std::lock_guard lock(m_mutex);
    m_changes.push_back(std::move(change));
}

std::vector<FileChange> ChangeCollector::take() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_changes, {});
}

} // namespace quillet::gui
