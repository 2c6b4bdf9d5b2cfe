// Micro-benchmarks of the hot routines: literal scans, pattern matching with
// captures, whole-text operations, file-name masks and reading a run's
// journal record.
#include "core/byte_search.h"
#include "core/pattern.h"
#include "core/text_ops.h"
#include "engine/keep/journal_manifest.h"
#include "finder/wildcard.h"

#include <benchmark/benchmark.h>

#include <iterator>
#include <random>
#include <string>

using namespace quillet::core;

namespace {

// Lower-case words and blanks with a needle every `every` bytes (0: none).
std::string makeText(std::size_t size, std::size_t every, const std::string& needle) {
    std::mt19937 random(42);
    std::string text;
    text.reserve(size + needle.size());
    while (text.size() < size) {
        const auto length = 2 + random() % 8;
        for (unsigned i = 0; i < length; ++i)
            text.push_back(static_cast<char>('a' + random() % 26));
        text.push_back(random() % 12 == 0 ? '\n' : ' ');
        if (every > 0 && text.size() / every != (text.size() - length - 1) / every)
            text += needle;
    }
    return text;
}

void BM_FindFromAbsent(benchmark::State& state) {
    const std::string text = makeText(16 << 20, 0, "");
    const bool caseSensitive = state.range(0) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(findFrom(caseSensitive, text, "zq_absent_9", static_cast<Pos>(text.size()), 1));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindFromAbsent)->Arg(0)->Arg(1);

void BM_FindFromLettersOnly(benchmark::State& state) {
    // No rare byte to jump to: every byte of the needle is a common letter.
    const std::string text = makeText(16 << 20, 0, "");
    for (auto _ : state)
        benchmark::DoNotOptimize(FindFromNoCase(text, "tension", static_cast<Pos>(text.size()), 7, 1));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindFromLettersOnly);

void BM_FindFromNearMatches(benchmark::State& state) {
    // 10 MiB of 'e' x 39 + 'a', searched for 2,500 of those units and one
    // more 'a': a candidate every 40 bytes matches for up to 100,000 bytes.
    std::string unit(39, 'e');
    unit += 'a';
    std::string text;
    for (int i = 0; i < 262144; ++i)
        text += unit;
    std::string pattern;
    for (int i = 0; i < 2500; ++i)
        pattern += unit;
    pattern += 'a';
    const bool caseSensitive = state.range(0) != 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(findFrom(caseSensitive, text, pattern, static_cast<Pos>(text.size()), 1));
        benchmark::DoNotOptimize(findBack(caseSensitive, text, pattern, static_cast<Pos>(text.size()), 0));
    }
    state.SetBytesProcessed(state.iterations() * 2 * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindFromNearMatches)->Arg(0)->Arg(1);

void BM_FindFromManyCandidates(benchmark::State& state) {
    // C++ documentation: the pattern's rarest byte, ':', is everywhere.
    std::string text;
    while (text.size() < (16 << 20))
        text += "<code>std::vector</code> and boost::system::error_code, see http://www.boost.org/ ";
    for (auto _ : state)
        benchmark::DoNotOptimize(FindFromNoCase(text, "boost::asio", static_cast<Pos>(text.size()), 11, 1));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindFromManyCandidates);

// English, German, French, Russian and Greek words, as bench/fold_rows.sh
// writes them; a pattern that never occurs, so every byte is passed.
void BM_FindFromNoCaseMixedScripts(benchmark::State& state) {
    static const char* const words[] = {"the",   "of",   "and",   "question", "schön", "straße",  "müssen", "français",
                                        "élève", "déjà", "и",     "в",        "не",    "человек", "время",  "жизнь",
                                        "мир",   "και",  "είναι", "ψυχή",     "όταν",  "για"};
    static const char* const patterns[] = {"tenderly", "questions", "привет", "кафе", "café", "σοφος"};
    std::mt19937 random(42);
    std::string text;
    while (text.size() < (16 << 20)) {
        text += words[random() % std::size(words)];
        text += random() % 10 == 0 ? '\n' : ' ';
    }
    const std::string_view pattern = patterns[state.range(0)];
    state.SetLabel(std::string(pattern));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            FindFromNoCase(text, pattern, static_cast<Pos>(text.size()), static_cast<Pos>(pattern.size()), 1));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindFromNoCaseMixedScripts)->DenseRange(0, 5);

void BM_ReplaceLiteral(benchmark::State& state) {
    const std::string text = makeText(16 << 20, 1000, "xq_needle_7");
    std::string result;
    for (auto _ : state)
        ProcessText(result, text, OpReplaceText, "xq_needle_7", false, "yw_replaced_42", false, "{$", "}", -1);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReplaceLiteral);

void BM_ReplaceWithCaptures(benchmark::State& state) {
    const std::string text = makeText(16 << 20, 1000, "<a href=page.htm>");
    std::string result;
    for (auto _ : state)
        ProcessText(result, text, OpReplaceText, "href=*.htm", false, "href={$1}.html", true, "{$", "}", -1);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReplaceWithCaptures);

void BM_StripWordHtml(benchmark::State& state) {
    std::string page = "<html xmlns:o='urn'><head><meta http-equiv=Content-Type content='text/html'><title>T</title>"
                       "<style>p{}</style></head><body>";
    while (page.size() < (4 << 20))
        page += "<p class=MsoNormal style='margin:0'><span lang=EN-US>text<o:p></o:p></span></p>\n";
    std::string result;
    for (auto _ : state)
        StripWordHtml(result, page);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_StripWordHtml);

void BM_MatchesWildcard(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(quillet::finder::MatchesWildcard("report-2026-12.final.html", "*.htm*", true));
        benchmark::DoNotOptimize(quillet::finder::MatchesWildcard("index.htm", "i*x.h?m", true));
    }
}
BENCHMARK(BM_MatchesWildcard);

// The manifest of a run of 100,000 small files, as undo reads it (it was
// quadratic in the entries: 7 s for 100,000).
void BM_ParseManifest(benchmark::State& state) {
    using namespace quillet::engine;
    const auto entries = static_cast<std::size_t>(state.range(0));
    std::string text = ManifestHeaderLines("20261207-142501-4f3a", 1, "quillet-cli replace old new -d . -r");
    for (std::size_t n = 1; n <= entries; ++n) {
        JournalEntry entry;
        entry.Number = n;
        entry.Kept = KeptAs::Packed;
        entry.PackOffset = static_cast<std::int64_t>(n) * 40;
        entry.Old = {2049, 1000000 + n, 40, 1796653501000000000, 0};
        entry.Mode = 0644;
        entry.Directory = "/home/user/project/src";
        entry.Name = "file" + std::to_string(n) + ".txt";
        entry.ListedPath = "src/" + entry.Name;
        AppendManifestOldLine(text, entry);
        AppendManifestNewLine(text, n, entry.Old);
        AppendManifestDoneLine(text, n, entry.Old);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseManifest(text));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseManifest)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
