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
    packed.Directory = "/d";
    packed.Name = "f";
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
    for (const std::string& bad : malformed) {
        const auto entries = ParseManifest(header + bad)->Entries;
        EXPECT_TRUE(entries.size() == 1 && entries[0].Damaged) << bad;
    }
}

// Every field a hand can edit, each to what no run writes: undo must not
// act on such an entry, while it still lists it.
TEST(JournalManifest, EditedEntryIsDamagedAndNothingOfItIsBelieved) {
    const std::string header = ManifestHeaderLines("id-1", 5, "what");
    JournalEntry good;
    good.Number = 1;
    good.Kept = KeptAs::Copy;
    good.Directory = "/home/u";
    good.Name = "f.txt";
    good.ListedPath = "f.txt";
    good.Old.Size = 10;
    const struct {
        const char* what;
        void (*edit)(JournalEntry&);
    } edits[] = {
        {"name with a slash", [](JournalEntry& e) { e.Name = "../x"; }},
        {"name ..", [](JournalEntry& e) { e.Name = ".."; }},
        {"name .", [](JournalEntry& e) { e.Name = "."; }},
        {"empty name", [](JournalEntry& e) { e.Name = ""; }},
        {"name with a NUL", [](JournalEntry& e) { e.Name = std::string("f\0x", 3); }},
        {"relative directory", [](JournalEntry& e) { e.Directory = "home/u"; }},
        {"directory with a NUL", [](JournalEntry& e) { e.Directory = std::string("/a\0b", 4); }},
        {"kept file without a directory", [](JournalEntry& e) { e.Directory = ""; }},
        {"negative size", [](JournalEntry& e) { e.Old.Size = -1; }},
        {"negative bytes", [](JournalEntry& e) { e.Bytes = -5; }},
    };
    for (const auto& edit : edits) {
        JournalEntry entry = good;
        edit.edit(entry);
        const auto parsed = ParseManifest(header + oldLine(entry) + doneLine(1, {}));
        ASSERT_TRUE(parsed && parsed->Entries.size() == 1) << edit.what;
        const JournalEntry& read = parsed->Entries[0];
        EXPECT_TRUE(read.Damaged) << edit.what;
        EXPECT_TRUE(read.Directory.empty() && read.Name.empty() && !read.Left) << edit.what;
        EXPECT_EQ(read.ListedPath, "f.txt") << edit.what;
    }
    const std::string line = oldLine(good);
    // The mode (the 11th word) past 07777, and a flag (the 4th) that is not 0 or 1.
    auto replaceWord = [&line](std::size_t index, const std::string& word) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < index; ++i)
            start = line.find(' ', start) + 1;
        return line.substr(0, start) + word + line.substr(line.find(' ', start));
    };
    EXPECT_TRUE(ParseManifest(header + replaceWord(10, "17777"))->Entries[0].Damaged);
    EXPECT_TRUE(ParseManifest(header + replaceWord(3, "2"))->Entries[0].Damaged);
    // Set-id and sticky bits never come from the manifest.
    const auto setId = ParseManifest(header + replaceWord(10, "7777"));
    ASSERT_FALSE(setId->Entries[0].Damaged);
    EXPECT_EQ(setId->Entries[0].Mode, 0777u);
    // A number given twice, or none: the entries may not be all the run's.
    EXPECT_TRUE(ParseManifest(header + line + line)->Damaged);
    EXPECT_TRUE(ParseManifest(header + "old x\n")->Damaged);
    EXPECT_FALSE(ParseManifest(header + line)->Damaged);
}

TEST(JournalManifest, TextCutAnywhereReadsAsAPrefixOfItsEntries) {
    std::string text = ManifestHeaderLines("id-1", 5, "what");
    for (std::size_t n = 1; n <= 3; ++n) {
        JournalEntry entry;
        entry.Number = n;
        entry.Kept = KeptAs::Packed;
        entry.Directory = "/d";
        entry.Name = "f" + std::to_string(n);
        AppendManifestOldLine(text, entry);
        AppendManifestNewLine(text, n, {});
    }
    for (std::size_t n = 1; n <= 3; ++n)
        AppendManifestDoneLine(text, n, {});
    text += ManifestKeptLine(0) + ManifestFilesLine(3, 0) + ManifestEndLine(7);
    const auto whole = ParseManifest(text);
    ASSERT_TRUE(whole && whole->Entries.size() == 3 && whole->Totals && whole->Totals->Files == 3);
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        const auto part = ParseManifest(std::string_view(text).substr(0, cut));
        if (!part)
            continue;
        ASSERT_LE(part->Entries.size(), 3u) << cut;
        for (std::size_t i = 0; i < part->Entries.size(); ++i)
            EXPECT_EQ(part->Entries[i].Name, whole->Entries[i].Name) << cut;
        EXPECT_FALSE(part->FinishedNs) << cut;
    }
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

TEST(JournalManifest, KeepFoldersAreReadWholeFromTheSummaryAndAConflictIsDamage) {
    JournalEntry entry;
    entry.Number = 1;
    entry.Kept = KeptAs::Link;
    entry.Directory = "/dev/shm/tree";
    entry.Name = "f";
    std::string first;
    AppendManifestKeepFolderLine(first, {1, 40, 7, "/dev/shm/.quillet-keep-0/id-1"});
    std::string second;
    AppendManifestKeepFolderLine(second, {2, 41, 9, "/media/with space/.quillet-keep-0/id-1"});
    std::string keptIn;
    AppendManifestKeptInLine(keptIn, 1, 2);
    std::string other;
    AppendManifestKeepFolderLine(other, {1, 40, 8, "/dev/shm/.quillet-keep-0/id-1"});
    const std::string head = ManifestHeaderLines("id-1", 5, "d") + first + second + oldLine(entry) + keptIn;
    const struct {
        const char* name;
        std::string text;
        bool summary;
        bool damaged;
    } cases[] = {
        {"written once", head, false, false},
        {"again after the kept line", head + ManifestKeptLine(3) + second + first + ManifestEndLine(7), true, false},
        {"again as another folder", head + ManifestKeptLine(3) + other + ManifestEndLine(7), false, true},
    };
    for (const auto& c : cases) {
        const auto whole = ParseManifest(c.text);
        ASSERT_TRUE(whole) << c.name;
        EXPECT_EQ(whole->Damaged, c.damaged) << c.name;
        ASSERT_EQ(whole->KeepFolders.size(), 2u) << c.name;
        EXPECT_EQ(whole->keepFolder(2)->Path, "/media/with space/.quillet-keep-0/id-1") << c.name;
        EXPECT_EQ(whole->keepFolder(1)->Inode, 7u) << c.name;
        EXPECT_EQ(whole->Entries.at(0).KeptIn, 2u) << c.name;
        if (!c.summary)
            continue;
        const auto brief = ParseManifest(ManifestSummaryText(c.text, c.text, c.text.size()));
        ASSERT_TRUE(brief) << c.name;
        EXPECT_EQ(brief->KeepFolders.size(), 2u) << c.name << ": pruning finds every folder of the run";
    }
}
