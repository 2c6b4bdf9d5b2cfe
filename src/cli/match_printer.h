// The matches of `--matches`, `-A`, `-B`, `-C` and `--column`, printed as
// `grep -n` prints matching lines: "NAME:LINE:TEXT" for each line that holds
// (a part of) a match, "NAME-LINE-TEXT" for a context line, "--" between two
// groups of lines that do not touch (only with context, also between
// files), "NAME:LINE:COLUMN:TEXT" with --column (the first match's column in
// the line, as `git grep --column` gives it). A match that spans lines
// prints each of its lines, each with its own number. With colour, the
// escapes are grep's own (name magenta, numbers green, separators cyan,
// matched text bold red, each closed by "\033[m\033[K").
//
// For the writing operations (with `replacement`), each block of lines that
// holds matches is followed by the same lines as the operation leaves them,
// as "NAME>LINE>TEXT", numbered from the block's first line, the new text
// coloured green.
//
// A line longer than engine::kShownLineWidth bytes is cut around its first
// match (or, for a context line, after its start), and "[...]" stands for
// each part left out: a 500 MB line prints about that many bytes. A cut never splits a
// UTF-8 character. A binary text (core::LooksBinary) prints only
// "quillet-cli: NAME: binary file matches", as grep says it.
#pragma once

#include "engine/run/match_lines.h"
#include "engine/run/prepare.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli {

struct MatchStyle {
    std::int64_t Before = 0; // context lines before each group (-B)
    std::int64_t After = 0;  // and after (-A)
    bool Column = false;
    bool Color = false;
    bool Replacement = false; // show what the writing operation makes of the lines
};

class MatchPrinter {
public:
    // `write` receives the output in pieces of a few KiB or less, at least
    // once per file printed.
    MatchPrinter(MatchStyle style, std::function<void(std::string_view)> write);
    ~MatchPrinter();
    MatchPrinter(const MatchPrinter&) = delete;
    MatchPrinter& operator=(const MatchPrinter&) = delete;

    // The matches of one file, given as they are found: its lines go out as
    // soon as they are known, and only the matches of the group of lines
    // being printed are kept (for a writing operation, which prints the
    // group as it becomes, the group's new text and those of its marks that
    // can show, whatever the number of matches). `name` is printed as given; `text`
    // is borrowed until end(). Precondition: matches in order, not
    // overlapping, within `text`.
    void begin(std::string_view name, std::string_view text);
    void add(const engine::MatchLocation& match);
    void end();
    // The three at once.
    void print(std::string_view name, std::string_view text, const std::vector<engine::MatchLocation>& matches);

private:
    class Lines;
    void line(std::string_view text, std::size_t start, std::size_t end, std::int64_t number, char separator,
              const std::vector<engine::TextSpan>& marked, std::int64_t column);
    void separator();
    void flushIfLarge();

    MatchStyle m_style;
    std::function<void(std::string_view)> m_write;
    std::string m_out;
    std::string m_name;
    std::string_view m_text;
    bool m_started = false;    // the file's first match came
    bool m_binary = false;     // the file is binary: named, not printed
    bool m_printedAny = false; // a group was printed, in this file or one before
    std::unique_ptr<Lines> m_lines;
};

} // namespace quillet::cli
