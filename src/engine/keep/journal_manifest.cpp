#include "engine/keep/journal_manifest.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <unordered_map>

namespace quillet::engine {

namespace {

constexpr std::string_view kMagic = "quillet-journal 1";

// The words of a line, into `words` (reused from line to line: one
// allocation per manifest, not per line).
void wordsOf(std::string_view line, std::vector<std::string_view>& words) {
    words.clear();
    while (!line.empty()) {
        const auto space = line.find(' ');
        words.push_back(line.substr(0, space));
        if (space == std::string_view::npos)
            break;
        line.remove_prefix(space + 1);
    }
}

template <typename Number>
bool parseNumber(std::string_view word, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    return error == std::errc() && end == word.data() + word.size();
}

void appendEscaped(std::string& out, std::string_view text) {
    if (text.empty()) {
        out += "\\-";
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const auto plain = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > ' ' && byte < 0x7f && byte != '\\';
    };
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && plain(text[end]))
            ++end;
        out.append(text.substr(at, end - at)); // a run of plain bytes at once
        if (end == text.size())
            break;
        const auto byte = static_cast<unsigned char>(text[end]);
        const char escape[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
        out.append(escape, sizeof escape);
        at = end + 1;
    }
}

// A manifest line appended word by word to the text that collects the
// records (one is written for each file a run replaces).
class LineBuilder {
public:
    LineBuilder(std::string& out, std::string_view tag) : m_out(out) { m_out.append(tag); }
    LineBuilder& word(std::string_view word) {
        m_out.push_back(' ');
        m_out.append(word);
        return *this;
    }
    template <typename Number>
    LineBuilder& number(Number value, int base = 10) {
        char digits[24];
        const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, base);
        (void)error; // 24 digits hold any 64-bit number
        return word(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    LineBuilder& text(std::string_view text) {
        m_out.push_back(' ');
        appendEscaped(m_out, text);
        return *this;
    }
    LineBuilder& identity(const FileIdentity& identity) {
        return number(static_cast<std::uint64_t>(identity.Device))
            .number(static_cast<std::uint64_t>(identity.Inode))
            .number(identity.Size)
            .number(identity.ModifiedNs);
    }
    void end() { m_out.push_back('\n'); }

private:
    std::string& m_out;
};

// Four words from `at`: device, inode, size, mtime.
bool parseIdentity(const std::vector<std::string_view>& words, std::size_t at, FileIdentity& identity) {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    if (words.size() < at + 4 || !parseNumber(words[at], device) || !parseNumber(words[at + 1], inode) ||
        !parseNumber(words[at + 2], identity.Size) || !parseNumber(words[at + 3], identity.ModifiedNs))
        return false;
    identity.Device = static_cast<dev_t>(device);
    identity.Inode = static_cast<ino_t>(inode);
    return true;
}

const char* keptWord(KeptAs kept) {
    switch (kept) {
    case KeptAs::Link:
        return "link";
    case KeptAs::Copy:
        return "copy";
    case KeptAs::Packed:
        return "packed";
    case KeptAs::None:
        break;
    }
    return "none";
}

// A name the run could have written: one path component.
bool isSingleComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool isAbsoluteDirectory(std::string_view directory) {
    return directory.starts_with('/') && directory.find('\0') == std::string_view::npos;
}

bool parseFlag(std::string_view word, bool& value) {
    if (word != "0" && word != "1")
        return false;
    value = word == "1";
    return true;
}

enum class OldLine { Read, Damaged, Unnumbered };

OldLine parseOld(const std::vector<std::string_view>& words, JournalEntry& entry) {
    if (words.size() < 2 || !parseNumber(words[1], entry.Number) || entry.Number == 0)
        return OldLine::Unnumbered;
    // What a listing shows for a damaged entry, where it can be read.
    if (words.size() > 15)
        entry.ListedPath = UnescapeJournalText(words[15]).value_or(std::string());
    const auto damaged = [&entry] {
        const std::size_t number = entry.Number;
        std::string listed = std::move(entry.ListedPath);
        entry = JournalEntry();
        entry.Number = number;
        entry.ListedPath = std::move(listed);
        entry.Damaged = true;
        return OldLine::Damaged;
    };
    if (words.size() < 17)
        return damaged();
    if (words[2] == "link")
        entry.Kept = KeptAs::Link;
    else if (words[2] == "copy")
        entry.Kept = KeptAs::Copy;
    else if (words[2] == "packed")
        entry.Kept = KeptAs::Packed;
    else if (words[2] == "none")
        entry.Kept = KeptAs::None;
    else
        return damaged();
    unsigned mode = 0;
    if (!parseFlag(words[3], entry.KeptMetadata) || !parseFlag(words[4], entry.InPlace) ||
        !parseNumber(words[5], entry.Bytes) || entry.Bytes < 0 || !parseIdentity(words, 6, entry.Old) ||
        entry.Old.Size < 0 || !parseNumber(words[10], mode, 8) || mode > 07777 ||
        !parseNumber(words[11], entry.Owner) || !parseNumber(words[12], entry.Group))
        return damaged();
    // Only a packed entry has an 18th word: where its bytes start in the pack.
    if (words.size() != (entry.Kept == KeptAs::Packed ? 18u : 17u) ||
        (entry.Kept == KeptAs::Packed && (!parseNumber(words[17], entry.PackOffset) || entry.PackOffset < 0 ||
                                          entry.PackOffset > INT64_MAX - entry.Old.Size)))
        return damaged();
    entry.Mode = static_cast<mode_t>(mode & 0777);
    auto directory = UnescapeJournalText(words[13]);
    auto name = UnescapeJournalText(words[14]);
    auto listed = UnescapeJournalText(words[15]);
    auto reason = UnescapeJournalText(words[16]);
    // A file not kept may have no directory: the run could not tell it.
    if (!directory || !name || !listed || !reason || !isSingleComponent(*name) ||
        !(isAbsoluteDirectory(*directory) || (directory->empty() && entry.Kept == KeptAs::None)))
        return damaged();
    entry.Directory = std::move(*directory);
    entry.Name = std::move(*name);
    entry.ListedPath = std::move(*listed);
    entry.NotKeptReason = std::move(*reason);
    return OldLine::Read;
}

} // namespace

bool SameAsLeft(const FileIdentity& recorded, const FileIdentity& now) {
    return recorded.Device == now.Device && recorded.Inode == now.Inode && recorded.Size == now.Size &&
           recorded.ModifiedNs == now.ModifiedNs;
}

std::int64_t RunManifest::keptBytes() const {
    if (KeptTotal)
        return *KeptTotal;
    std::int64_t total = 0;
    for (const JournalEntry& entry : Entries)
        total += entry.Bytes;
    return total;
}

const KeepFolderRecord* RunManifest::keepFolder(std::size_t number) const {
    for (const KeepFolderRecord& folder : KeepFolders)
        if (folder.Number == number)
            return &folder;
    return nullptr;
}

std::string EscapeJournalText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    appendEscaped(escaped, text);
    return escaped;
}

std::optional<std::string> UnescapeJournalText(std::string_view escaped) {
    if (escaped == "\\-")
        return std::string();
    if (escaped.empty())
        return std::nullopt;
    std::string text;
    text.reserve(escaped.size());
    std::size_t at = 0;
    for (;;) {
        // A run of plain bytes at once, up to the next escape.
        const std::size_t backslash = std::min(escaped.find('\\', at), escaped.size());
        for (std::size_t i = at; i < backslash; ++i) {
            const auto byte = static_cast<unsigned char>(escaped[i]);
            if (byte <= ' ' || byte >= 0x7f)
                return std::nullopt;
        }
        text.append(escaped.substr(at, backslash - at));
        if (backslash == escaped.size())
            return text;
        unsigned value = 0;
        if (backslash + 3 >= escaped.size() || escaped[backslash + 1] != 'x' ||
            !parseNumber(escaped.substr(backslash + 2, 2), value, 16))
            return std::nullopt;
        text.push_back(static_cast<char>(value));
        at = backslash + 4;
    }
}

std::string ManifestHeaderLines(std::string_view id, std::int64_t startedNs, std::string_view description) {
    return std::string(kMagic) + "\nrun " + EscapeJournalText(id) + ' ' + std::to_string(startedNs) + ' ' +
           EscapeJournalText(description) + '\n';
}

void AppendManifestOldLine(std::string& manifest, const JournalEntry& entry) {
    LineBuilder line(manifest, "old");
    line.number(entry.Number)
        .word(keptWord(entry.Kept))
        .word(entry.KeptMetadata ? "1" : "0")
        .word(entry.InPlace ? "1" : "0")
        .number(entry.Bytes)
        .identity(entry.Old)
        .number(static_cast<unsigned>(entry.Mode & 07777), 8)
        .number(entry.Owner)
        .number(entry.Group)
        .text(entry.Directory)
        .text(entry.Name)
        .text(entry.ListedPath)
        .text(entry.NotKeptReason);
    if (entry.Kept == KeptAs::Packed)
        line.number(entry.PackOffset);
    line.end();
}

void AppendManifestFolderLine(std::string& manifest, std::size_t number, dev_t device, ino_t inode) {
    LineBuilder(manifest, "folder")
        .number(number)
        .number(static_cast<std::uint64_t>(device))
        .number(static_cast<std::uint64_t>(inode))
        .end();
}

void AppendManifestKeepFolderLine(std::string& manifest, const KeepFolderRecord& folder) {
    LineBuilder(manifest, "keep-folder")
        .number(folder.Number)
        .number(static_cast<std::uint64_t>(folder.Device))
        .number(static_cast<std::uint64_t>(folder.Inode))
        .text(folder.Path)
        .end();
}

void AppendManifestKeptInLine(std::string& manifest, std::size_t number, std::size_t folder) {
    LineBuilder(manifest, "kept-in").number(number).number(folder).end();
}

void AppendManifestNewLine(std::string& manifest, std::size_t number, const FileIdentity& identity) {
    LineBuilder(manifest, "new").number(number).identity(identity).end();
}

void AppendManifestDoneLine(std::string& manifest, std::size_t number, const FileIdentity& identity) {
    LineBuilder(manifest, "done").number(number).identity(identity).end();
}

void AppendManifestAbandonedLine(std::string& manifest, std::size_t number) {
    manifest.append("abandoned ").append(std::to_string(number)).push_back('\n');
}

std::string ManifestRestoredLine(std::size_t number) {
    return "restored " + std::to_string(number) + '\n';
}

std::string ManifestKeptLine(std::int64_t bytes) {
    return "kept " + std::to_string(bytes) + '\n';
}

std::string ManifestFilesLine(std::size_t files, std::size_t notKept) {
    return "files " + std::to_string(files) + ' ' + std::to_string(notKept) + '\n';
}

std::string ManifestEndLine(std::int64_t ns) {
    return "end " + std::to_string(ns) + '\n';
}

std::string ManifestUndoneLine(std::int64_t ns) {
    return "undone " + std::to_string(ns) + '\n';
}

std::optional<RunManifest> ParseManifest(std::string_view text) {
    RunManifest manifest;
    bool sawMagic = false;
    bool sawRun = false;
    // Where each number's entry is: a run numbers them 1, 2, 3..., so that
    // entry n is at n - 1; a manifest edited by hand may not, and is then
    // looked up in a map from its first number out of order on.
    bool inOrder = true;
    std::unordered_map<std::size_t, std::size_t> index;
    const auto entryNumbered = [&](std::size_t number) -> JournalEntry* {
        if (inOrder)
            return number >= 1 && number <= manifest.Entries.size() ? &manifest.Entries[number - 1] : nullptr;
        const auto found = index.find(number);
        return found == index.end() ? nullptr : &manifest.Entries[found->second];
    };
    const auto addEntry = [&](JournalEntry&& entry) {
        if (inOrder && entry.Number != manifest.Entries.size() + 1) {
            if (entryNumbered(entry.Number) != nullptr)
                return false;
            inOrder = false;
            for (std::size_t at = 0; at < manifest.Entries.size(); ++at)
                index.emplace(manifest.Entries[at].Number, at);
        }
        if (!inOrder && !index.emplace(entry.Number, manifest.Entries.size()).second)
            return false;
        manifest.Entries.push_back(std::move(entry));
        return true;
    };
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        if (newline == std::string_view::npos)
            break; // cut short by a crash
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline + 1);
        if (!sawMagic) {
            if (line != kMagic)
                return std::nullopt;
            sawMagic = true;
            continue;
        }
        wordsOf(line, words);
        if (words.empty())
            continue;
        const std::string_view kind = words[0];
        std::size_t number = 0;
        if (kind == "run" && words.size() == 4) {
            auto id = UnescapeJournalText(words[1]);
            auto description = UnescapeJournalText(words[3]);
            if (!id || !description || !parseNumber(words[2], manifest.StartedNs))
                return std::nullopt;
            manifest.Id = std::move(*id);
            manifest.Description = std::move(*description);
            sawRun = true;
        } else if (kind == "old") {
            JournalEntry entry;
            if (parseOld(words, entry) == OldLine::Unnumbered || !addEntry(std::move(entry)))
                manifest.Damaged = true;
        } else if ((kind == "new" || kind == "done") && words.size() == 6 && parseNumber(words[1], number)) {
            FileIdentity identity;
            JournalEntry* entry = entryNumbered(number);
            if (entry != nullptr && !entry->Damaged && parseIdentity(words, 2, identity))
                (kind == "new" ? entry->Expected : entry->Left) = identity;
        } else if (kind == "folder" && words.size() == 4 && parseNumber(words[1], number)) {
            std::uint64_t device = 0;
            std::uint64_t inode = 0;
            JournalEntry* entry = entryNumbered(number);
            if (entry != nullptr && parseNumber(words[2], device) && parseNumber(words[3], inode)) {
                entry->Folder.emplace();
                entry->Folder->Device = static_cast<dev_t>(device);
                entry->Folder->Inode = static_cast<ino_t>(inode);
            }
        } else if (kind == "keep-folder" && words.size() == 5) {
            KeepFolderRecord folder;
            std::uint64_t device = 0;
            std::uint64_t inode = 0;
            auto path = UnescapeJournalText(words[4]);
            if (!parseNumber(words[1], folder.Number) || folder.Number == 0 || !parseNumber(words[2], device) ||
                !parseNumber(words[3], inode) || !path || !isAbsoluteDirectory(*path)) {
                manifest.Damaged = true;
                continue;
            }
            folder.Device = static_cast<dev_t>(device);
            folder.Inode = static_cast<ino_t>(inode);
            folder.Path = std::move(*path);
            // Written twice by a run that finished: the same both times.
            if (const KeepFolderRecord* known = manifest.keepFolder(folder.Number))
                manifest.Damaged = manifest.Damaged || known->Device != folder.Device || known->Inode != folder.Inode ||
                                   known->Path != folder.Path;
            else
                manifest.KeepFolders.push_back(std::move(folder));
        } else if (kind == "kept-in" && words.size() == 3 && parseNumber(words[1], number)) {
            std::size_t folder = 0;
            JournalEntry* entry = entryNumbered(number);
            if (entry != nullptr && parseNumber(words[2], folder))
                entry->KeptIn = folder;
        } else if (kind == "restored" && words.size() == 2 && parseNumber(words[1], number)) {
            manifest.AnyRestored = true;
            if (JournalEntry* entry = entryNumbered(number))
                entry->Restored = true;
        } else if (kind == "abandoned" && words.size() == 2 && parseNumber(words[1], number)) {
            if (JournalEntry* entry = entryNumbered(number))
                entry->Abandoned = true;
        } else if (kind == "kept" && words.size() == 2) {
            std::int64_t bytes = 0;
            if (parseNumber(words[1], bytes) && bytes >= 0)
                manifest.KeptTotal = bytes;
        } else if (kind == "files" && words.size() == 3) {
            RunManifest::Counts counts;
            if (parseNumber(words[1], counts.Files) && parseNumber(words[2], counts.NotKept) &&
                counts.NotKept <= counts.Files)
                manifest.Totals = counts;
        } else if ((kind == "end" || kind == "undone") && words.size() == 2) {
            std::int64_t ns = 0;
            if (parseNumber(words[1], ns))
                (kind == "end" ? manifest.FinishedNs : manifest.UndoneNs) = ns;
        }
    }
    if (!sawRun)
        return std::nullopt;
    return manifest;
}

std::string ManifestSummaryText(std::string_view head, std::string_view tail, std::size_t size) {
    // Every line's words are escaped, so "\nkept " starts the kept line and
    // nothing else; the header is the first two lines.
    const std::size_t first = head.find('\n');
    const std::size_t second = first == std::string_view::npos ? first : head.find('\n', first + 1);
    const std::size_t kept = tail.rfind("\nkept ");
    const std::size_t tailStart = size - tail.size();
    if (second == std::string_view::npos || kept == std::string_view::npos || tailStart + kept < second)
        return {};
    return std::string(head.substr(0, second + 1)).append(tail.substr(kept + 1));
}

} // namespace quillet::engine
