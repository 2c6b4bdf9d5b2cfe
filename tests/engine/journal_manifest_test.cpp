#include "engine/keep/journal_manifest.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillet::engine;

namespace {

std::string oldLine(const JournalEntry& entry) {
    std::string line;
    AppendManifestOldLine(line, entry);
    return line;
}

std::string newLine(std::size_t number, const FileIdentity& identity) {
    std::string line;
    AppendManifestNewLine(line, number, identity);
    return line;
}

std::string doneLine(std::size_t number, const FileIdentity& identity) {
    std::string line;
    AppendManifestDoneLine(line, number, identity);
    return line;
}

} // namespace

TEST(JournalManifest, TextsRoundTripWithoutSpacesOrControlBytes) {
    const std::string cases[] = {"",
                                 "plain.txt",
                                 "with space",
                                 "new\nline",
                                 std::string("nul\0byte", 8),
                                 "\xff\xfe\xc3 invalid utf-8",
                                 "back\\slash\\x41",
                                 "\\-",
                                 std::string(255, 'n'),
                                 "\x7f\x01\t\r"};
    for (const std::string& text : cases) {
        const std::string escaped = EscapeJournalText(text);
        for (const char c : escaped)
            EXPECT_TRUE(c > ' ' && c < 0x7f) << "escaped form of \"" << text << "\" holds byte " << int(c);
        EXPECT_EQ(UnescapeJournalText(escaped), text) << escaped;
    }
    for (const char* malformed : {"", "\\x4", "\\q41", "a b", "\\x4g", "tab\there"})
        EXPECT_EQ(UnescapeJournalText(malformed), std::nullopt) << malformed;
}

TEST(JournalManifest, LineCutShortByACrashIsSkipped) {
    JournalEntry entry;
    entry.Number = 1;
    entry.Kept = KeptAs::Copy;
    entry.Directory = "/d";
    entry.Name = "f";
    std::string text = ManifestHeaderLines("id-1", 5, "what") + oldLine(entry) + newLine(1, {});
    const std::string done = doneLine(1, {});
    text += done.substr(0, done.size() - 1);
    const auto manifest = ParseManifest(text);
    ASSERT_TRUE(manifest);
    ASSERT_EQ(manifest->Entries.size(), 1u);
    EXPECT_TRUE(manifest->Entries[0].Expected.has_value());
    EXPECT_FALSE(manifest->Entries[0].Left.has_value());
    EXPECT_EQ(ParseManifest("quillet-journal 1\n"), std::nullopt);
}

TEST(JournalManifest, OnlyAPackedEntryCarriesAndNeedsItsOffset) {
    const std::string header = ManifestHeaderLines("id-1", 5, "what");
    JournalEntry packed;
    packed.Number = 1;
    packed.Kept = KeptAs::Packed;
    packed.PackOffset = 4096;
    const std::string line = oldLine(packed);
    const auto parsed = ParseManifest(header + line);
    ASSERT_TRUE(parsed && parsed->Entries.size() == 1);
    EXPECT_EQ(parsed->Entries[0].Kept, KeptAs::Packed);
    EXPECT_EQ(parsed->Entries[0].PackOffset, 4096);

    const std::string withoutOffset = line.substr(0, line.rfind(' ')) + "\n";
    JournalEntry copied = packed;
    copied.Kept = KeptAs::Copy;
    const std::string copyLine = oldLine(copied);
    const std::string malformed[] = {
        withoutOffset,                                       // packed, no offset
        line.substr(0, line.rfind(' ')) + " -1\n",           // negative offset
        copyLine.substr(0, copyLine.size() - 1) + " 4096\n", // an offset on a copy
    };
    for (const std::string& bad : malformed)
        EXPECT_TRUE(ParseManifest(header + bad)->Entries.empty()) << bad;
}

TEST(JournalManifest, SummaryOfARunAgreesWithTheWholeManifestOrIsEmpty) {
    const std::string header = ManifestHeaderLines("id-1", 5, std::string(300, 'd'));
    std::string entries;
    std::int64_t total = 0;
    for (std::size_t n = 1; n <= 200; ++n) {
        JournalEntry entry;
        entry.Number = n;
        entry.Kept = KeptAs::Link;
        entry.Bytes = static_cast<std::int64_t>(n);
        entry.Directory = "/some/directory";
        entry.Name = "file " + std::to_string(n);
        total += entry.Bytes;
        entries += oldLine(entry) + doneLine(n, {});
    }
    const std::string finished = header + entries + ManifestKeptLine(total) + ManifestEndLine(7);
    const std::string undone = finished + ManifestRestoredLine(3) + ManifestUndoneLine(9);
    const struct {
        const char* name;
        std::string text;
        std::size_t ends; // bytes given from each end
        bool summarized;
    } cases[] = {
        {"finished", finished, 4096, true},
        {"undone after", undone, 4096, true},
        {"whole text as both ends", finished, finished.size(), true},
        {"not finished", header + entries, 4096, false},
        {"header beyond the head", finished, 200, false},
    };
    for (const auto& c : cases) {
        const std::size_t ends = std::min(c.ends, c.text.size());
        const std::string summary =
            ManifestSummaryText(std::string_view(c.text).substr(0, ends),
                                std::string_view(c.text).substr(c.text.size() - ends), c.text.size());
        ASSERT_EQ(!summary.empty(), c.summarized) << c.name;
        if (summary.empty())
            continue;
        const auto whole = ParseManifest(c.text);
        const auto brief = ParseManifest(summary);
        ASSERT_TRUE(whole && brief) << c.name;
        EXPECT_EQ(brief->Id, whole->Id) << c.name;
        EXPECT_EQ(brief->StartedNs, whole->StartedNs) << c.name;
        EXPECT_EQ(brief->Description, whole->Description) << c.name;
        EXPECT_EQ(brief->keptBytes(), total) << c.name;
        EXPECT_EQ(brief->FinishedNs, whole->FinishedNs) << c.name;
        EXPECT_EQ(brief->UndoneNs, whole->UndoneNs) << c.name;
        EXPECT_LT(summary.size(), 1000u) << c.name;
    }
}
