// The matches a run lists (FileOperation::ListMatches): where each stands,
// in run order, as many as the run counts and replaces.
#include "engine/run/match_lines.h"
#include "engine/run/run.h"

#include "testutil/encoding_reference.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <span>

using namespace quillet;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

struct Listed {
    std::vector<std::string> order;                            // entries, as OnMatches came
    std::map<std::string, std::vector<MatchLocation>> matches; // by entry
    std::map<std::string, std::string> texts;
    std::map<std::string, std::int64_t> counted; // OnChanged's count, by path
};

Listed run(const std::vector<std::string>& paths, FileOperation op, int threads = 1) {
    RunRequest request;
    request.Entries = paths;
    request.Param = op;
    request.Threads = threads;
    Listed listed;
    RunEvents events;
    events.OnMatches = [&](const std::string& entry, std::string_view text, const std::vector<MatchLocation>& m,
                           std::int64_t) {
        listed.order.push_back(entry);
        listed.matches[entry] = m;
        listed.texts[entry] = text;
    };
    events.OnChanged = [&](const std::string& path, std::string_view, std::string_view, const auto*,
                           std::int64_t matches, std::uint64_t) { listed.counted[path] = matches; };
    ExecuteRun(request, events);
    return listed;
}

FileOperation operation(std::uint8_t code, const std::string& pattern, const std::string& newText = "",
                        std::int64_t maxCount = -1) {
    FileOperation op;
    op.Operation = code;
    op.SearchPattern = pattern;
    op.NewText = newText;
    op.ResultIsPattern = newText.find("{$") != std::string::npos;
    op.MaxCount = maxCount;
    op.ListMatches = true;
    return op;
}

std::string where(const MatchLocation& m) {
    return std::to_string(m.FirstLine) + ":" + std::to_string(m.FirstColumn) + "-" + std::to_string(m.LastLine) + ":" +
           std::to_string(m.LastColumn);
}

} // namespace

TEST(MatchList, LinesAndColumnsOfEachMatch) {
    TempDir dir;
    const std::string text = "one foo\nfoo\n\nbar foo\r\nfoo";
    const std::string path = dir.write("a.txt", text);
    const struct {
        std::string pattern;
        std::vector<std::string> expected;
    } cases[] = {
        {"foo", {"1:5-1:7", "2:1-2:3", "4:5-4:7", "5:1-5:3"}},
        {"foo*bar", {"2:1-4:3"}}, // across lines, counted as one, from the last "foo" before "bar"
        {"\n", {"1:8-1:8", "2:4-2:4", "3:1-3:1", "4:9-4:9"}},
        {"oo\r\nf", {"4:6-5:1"}},
    };
    for (const auto& c : cases) {
        Listed listed = run({path}, operation(core::OpOnlySearch, c.pattern));
        std::vector<std::string> got;
        for (const MatchLocation& m : listed.matches[path])
            got.push_back(where(m));
        EXPECT_EQ(got, c.expected) << c.pattern;
        EXPECT_EQ(listed.texts[path], text) << c.pattern;
    }
}

// Only Search, which stops at the first match otherwise, lists every one,
// also far past the first piece it reads, and the files come in run order
// whatever the threads.
TEST(MatchList, SearchListsEveryMatchInRunOrder) {
    TempDir dir;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < 12; ++i)
        paths.push_back(dir.write("f" + std::to_string(i), "x\n" + std::string(i * 20000, 'y') + "\nx x"));
    paths.push_back(dir.write("none", "nothing"));
    for (int threads : {1, 3}) {
        const Listed listed = run(paths, operation(core::OpOnlySearch, "x"), threads);
        ASSERT_EQ(listed.order, std::vector<std::string>(paths.begin(), paths.end() - 1)) << threads;
        for (const std::string& path : listed.order) {
            const std::vector<MatchLocation>& m = listed.matches.at(path);
            ASSERT_EQ(m.size(), 3U) << path;
            EXPECT_EQ(where(m[2]), "3:3-3:3") << path;
        }
    }
    EXPECT_EQ(run(paths, operation(core::OpOnlySearch, "x", "", 2)).matches.at(paths[5]).size(), 2U);
}

// The matches listed are the ones the run counts and replaces: their
// replacements, put in place of their ranges, give what a real run writes,
// with a match limit too. The recipes list none.
TEST(MatchList, CountAndReplacementsAreTheRunsOwn) {
    TempDir dir;
    const std::string text = "<a href=1>x</a>\n<a id=2>y</a> <a>z</a>\n";
    const struct {
        std::uint8_t code;
        std::string pattern, newText;
        std::int64_t maxCount;
    } cases[] = {
        {core::OpReplaceText, "<a*>", "<b{$1}>", -1}, {core::OpReplaceText, "<a*>", "<b>", 2},
        {core::OpInsertBefore, "</a>", "!", -1},      {core::OpInsertAfter, "a", "_", 3},
        {core::OpRemoveScript, "", "", -1},
    };
    for (const auto& c : cases) {
        const std::string path = dir.write("a.html", text);
        FileOperation op = operation(c.code, c.pattern, c.newText, c.maxCount);
        op.DryRun = true;
        const Listed listed = run({path}, op);
        op.DryRun = false;
        op.ListMatches = false;
        const Listed written = run({path}, op);
        const std::string what = c.pattern + " -> " + c.newText;
        if (core::IsRecipe(c.code)) {
            EXPECT_TRUE(listed.order.empty()) << what;
            continue;
        }
        const std::vector<MatchLocation>& matches = listed.matches.at(path);
        EXPECT_EQ(static_cast<std::int64_t>(matches.size()), listed.counted.at(path)) << what;
        EXPECT_EQ(listed.counted.at(path), written.counted.at(path)) << what;
        std::string rebuilt;
        std::size_t at = 0;
        for (const MatchLocation& m : matches) {
            rebuilt += text.substr(at, m.Start - at) + m.Replacement;
            at = m.End;
        }
        EXPECT_EQ(rebuilt + text.substr(at), readFile(path)) << what;
    }
}

// In a file decoded from UTF-16 or UTF-32, columns count characters.
TEST(MatchList, ColumnsOfADecodedFileCountCharacters) {
    TempDir dir;
    const std::string text = "\xC3\xA9t\xC3\xA9 foo\n\xE2\x82\xAC foo";
    const std::string path = dir.write("u16.txt", std::string("\xFF\xFE") + testutil::Iconv("UTF-16LE", "UTF-8", text));
    const std::string plain = dir.write("u8.txt", text);
    EXPECT_EQ(where(run({path}, operation(core::OpOnlySearch, "foo")).matches[path].at(1)), "2:3-2:5");
    EXPECT_EQ(where(run({path}, operation(core::OpOnlySearch, "foo")).matches[path].at(0)), "1:5-1:7");
    EXPECT_EQ(where(run({plain}, operation(core::OpOnlySearch, "foo")).matches[plain].at(0)), "1:7-1:9");
}

// RunEvents::ChooseMatches: each file that would change is asked about on
// the run's thread, in run order whatever the threads, and exactly the
// chosen matches are written, in a UTF-16 file too; a file that changes
// between the question and the write is asked about again.
TEST(MatchList, ChosenMatchesAreTheOnesWritten) {
    TempDir dir;
    const std::string utf16 = quillet::testutil::Iconv("UTF-16", "UTF-8", "x1 x2 x3");
    const std::vector<std::string> paths = {dir.write("a", "x1 x2 x3"), dir.write("none", "y"), dir.write("b", utf16),
                                            dir.write("c", "x")};
    RunRequest request;
    request.Entries = paths;
    request.Param = operation(core::OpReplaceText, "x", "#");
    request.Param.ListMatches = false;
    request.Threads = 3;
    std::vector<std::string> asked;
    RunEvents events;
    events.ChooseMatches = [&](const std::string& path, std::string_view text, const std::vector<MatchLocation>& m,
                               std::int64_t count) {
        EXPECT_EQ(static_cast<std::int64_t>(m.size()), count) << path;
        asked.push_back(path + ":" + std::string(text) + ":" + std::to_string(m.size()));
        if (path == paths[3] && asked.size() == 3)
            dir.write("c", "xxx"); // changed after the question: asked again
        return path == paths[3] ? std::vector<bool>{false, true} : std::vector<bool>{true, false, true};
    };
    RunTotals totals;
    ExecuteRun(request, events, &totals);
    EXPECT_EQ(asked, (std::vector<std::string>{paths[0] + ":x1 x2 x3:3", paths[2] + ":x1 x2 x3:3", paths[3] + ":x:1",
                                               paths[3] + ":xxx:3"}));
    EXPECT_EQ(readFile(paths[0]), "#1 x2 #3");
    EXPECT_EQ(readFile(paths[2]), quillet::testutil::Iconv("UTF-16", "UTF-8", "#1 x2 #3"));
    EXPECT_EQ(readFile(paths[3]), "x#x");
    EXPECT_EQ(totals.Matched, 3);
}

namespace {

// A listener that notes what it was given and how: the most matches any
// batch held, and how many it had been given of a file when its last batch
// came (the first of them before the last was found).
struct Streamed final : MatchListener {
    std::vector<std::string> order;
    std::vector<std::vector<MatchLocation>> given; // by file, in run order
    std::string current;
    std::size_t largestBatch = 0;
    std::size_t givenBeforeLastBatch = 0;
    int open = 0; // begun, not ended

    void begin(const std::string& entry, std::string_view) override {
        EXPECT_EQ(open++, 0) << entry;
        current = entry;
        order.push_back(entry);
        given.emplace_back();
    }
    void matches(std::span<const MatchLocation> batch) override {
        std::vector<MatchLocation>& list = given.back();
        givenBeforeLastBatch = std::max(givenBeforeLastBatch, list.size());
        largestBatch = std::max(largestBatch, batch.size());
        list.insert(list.end(), batch.begin(), batch.end());
    }
    void end() override { EXPECT_EQ(--open, 0) << current; }
};

} // namespace

// The matches given as they are found are those the run lists, file by file
// in run order, whatever the threads: a file with many matches (more than a
// worker lists ahead) is given them in batches, never held whole.
TEST(MatchList, MatchesGivenAsFoundAreThoseListedInBatches) {
    TempDir dir;
    std::string many;
    for (int i = 0; i < 30000; ++i)
        many += "ab ab\n";
    dir.write("many.txt", many);
    dir.write("few.txt", "ab\nno\nab");
    dir.write("none.txt", "nothing");
    dir.write("wide.txt", testutil::Iconv("UTF-16", "UTF-8", std::string(9000, 'a') + "\nab ab"));
    const std::vector<std::string> paths{dir.file("few.txt"), dir.file("many.txt"), dir.file("none.txt"),
                                         dir.file("wide.txt"), dir.file("many.txt")};
    struct Case {
        FileOperation op;
        int threads;
    };
    FileOperation dry = operation(core::OpReplaceText, "ab", "xyz");
    dry.DryRun = true;
    const Case cases[] = {
        {operation(core::OpOnlySearch, "ab"), 1},
        {operation(core::OpOnlySearch, "ab"), 3},
        {operation(core::OpOnlySearch, "ab", "", 5000), 3},
        {operation(core::OpOnlySearch, "ab", "", 10), 3},
        {dry, 1},
        {dry, 3},
    };
    for (const Case& c : cases) {
        RunRequest request;
        request.Entries = paths;
        request.Param = c.op;
        request.Threads = c.threads;
        std::vector<std::string> order;
        std::vector<std::vector<MatchLocation>> listed;
        RunEvents listing;
        listing.OnMatches = [&](const std::string& entry, std::string_view, const std::vector<MatchLocation>& m,
                                std::int64_t) {
            order.push_back(entry);
            listed.push_back(m);
        };
        ExecuteRun(request, listing);
        Streamed streamed;
        RunEvents events;
        events.Matches = &streamed;
        ExecuteRun(request, events);
        const std::string label =
            std::to_string(c.op.Operation) + "/" + std::to_string(c.threads) + "/" + std::to_string(c.op.MaxCount);
        EXPECT_EQ(streamed.order, order) << label;
        EXPECT_TRUE(streamed.given == listed) << label;
        EXPECT_EQ(streamed.open, 0) << label;
        EXPECT_LE(streamed.largestBatch, kMatchFeedBatch) << label;
        if (c.op.MaxCount <= 0 || c.op.MaxCount > static_cast<std::int64_t>(kMatchFeedBatch)) {
            EXPECT_GT(streamed.givenBeforeLastBatch, 0U) << label;
        }
    }
}

// A line with a match every few bytes keeps the marks of what shows of it,
// not of every match in it.
TEST(MatchList, MarksOfALongLineStopPastWhatShows) {
    std::string text;
    std::vector<MatchLocation> matches;
    for (std::int64_t i = 0; i < 100000; ++i) {
        const std::size_t at = text.size();
        text += "ab ";
        matches.push_back({at, at + 2, 1, static_cast<std::int64_t>(at) + 1, 1, static_cast<std::int64_t>(at) + 2, ""});
    }
    struct Sink final : MatchLineSink {
        std::size_t lines = 0;
        std::size_t largest = 0;
        void gap() override {}
        void line(const ShownLine& line) override {
            ++lines;
            largest = std::max(largest, line.Marks->size());
        }
    } sink;
    ShowMatchLines(text, matches, 0, 0, sink);
    EXPECT_EQ(sink.lines, 1U);
    EXPECT_GT(sink.largest, kShownLineWidth / 3 - 2);
    EXPECT_LE(sink.largest, kShownLineWidth / 3 + 2);
}

// A view that shows a file's first matches asks for no more: the rest are
// made and counted, not noted.
TEST(MatchListTest, MatchesNotedUpToTheLimitAndAllCounted) {
    TempDir dir;
    const std::string path = dir.write("a.txt", "foo foo\nfoo\nfoo foo");
    const struct {
        std::size_t upTo;
        std::size_t noted;
    } cases[] = {{0, 0}, {2, 2}, {5, 5}, {6, 5}};
    for (const auto& c : cases) {
        FileOperation op;
        op.SearchPattern = "foo";
        op.NewText = "bar";
        op.DryRun = true;
        op.ListMatches = true;
        op.ListMatchesUpTo = c.upTo;
        const PreparedFile prepared = PrepareFile(path, op);
        EXPECT_EQ(prepared.Matches, 5) << c.upTo;
        EXPECT_EQ(prepared.MatchList.size(), c.noted) << c.upTo;
        EXPECT_EQ(prepared.Result.joined(), "bar bar\nbar\nbar bar") << c.upTo;
        if (c.noted >= 2) {
            EXPECT_EQ(prepared.MatchList[1].Start, 4u) << c.upTo;
        }
    }
}

// A choice that goes by number (the window's ticks) is given the count and
// no match noted: a line of millions of them was held match by match.
TEST(MatchListTest, AChoiceByNumberIsGivenTheCountAlone) {
    TempDir dir;
    const std::string path = dir.write("a", "foo foo\nfoo");
    RunRequest request;
    request.Entries = {path};
    request.Param.SearchPattern = "foo";
    request.Param.NewText = "bar";
    RunEvents events;
    events.ChoiceListsUpTo = 0;
    std::vector<std::pair<std::size_t, std::int64_t>> asked;
    events.ChooseMatches = [&](const std::string&, std::string_view, const std::vector<MatchLocation>& m,
                               std::int64_t count) {
        asked.emplace_back(m.size(), count);
        return std::vector<bool>{true, false, true};
    };
    ExecuteRun(request, events);
    EXPECT_EQ(asked, (std::vector<std::pair<std::size_t, std::int64_t>>{{0, 3}}));
    EXPECT_EQ(readFile(path), "bar foo\nbar");
}
