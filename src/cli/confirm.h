// quillet-cli --confirm: each change a run would make is shown on the
// terminal and asked about there, whatever standard input and output are
// (they may carry a list of paths and the result list).
//
// For each change: "PATH:LINE", the lines that hold the match as they are
// ("-" first) and as the change leaves them ("+" first), a long line cut
// around the change and a change of many lines shown by its first and last
// lines, as the match listing cuts them (engine/run/match_lines.h); then
//   Apply this change? [y]es [n]o [a]ll in this file [d]one with this file [A]ll [q]uit
// y and n decide the change; a applies it and the rest of the file, d
// leaves it and the rest of the file; A applies every change from here on
// without asking; q leaves it and everything after it: the file in hand
// gets what was accepted so far, no later file is touched (quit()). Any
// other answer asks again; the end of the terminal's input counts as q, and
// so does a stop signal (Ctrl-C) while a question waits.
#pragma once

#include "engine/run/prepare.h"

#include <csignal>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli {

class ChangeQuestions {
public:
    // Opens /dev/tty; null when the process has no terminal. `interrupted`
    // is the flag the stop signals' handler sets.
    static std::unique_ptr<ChangeQuestions> open(bool color, const volatile std::sig_atomic_t& interrupted);
    ~ChangeQuestions();
    ChangeQuestions(const ChangeQuestions&) = delete;
    ChangeQuestions& operator=(const ChangeQuestions&) = delete;

    // Asks about each change of a file; returns which to make
    // (core::MatchOptions::Selection). `shownPath` is the path as shown.
    std::vector<bool> ask(std::string_view shownPath, std::string_view text,
                          const std::vector<engine::MatchLocation>& matches);
    // Whether q was answered: no later change is to be made.
    bool quit() const { return m_quit; }

private:
    ChangeQuestions(int fd, bool color, const volatile std::sig_atomic_t& interrupted)
        : m_fd(fd), m_color(color), m_interrupted(interrupted) {}
    void write(std::string_view bytes) const;
    char answer() const; // 'q' at the end of input

    int m_fd;
    bool m_color;
    const volatile std::sig_atomic_t& m_interrupted;
    bool m_all = false;
    bool m_quit = false;
};

} // namespace quillet::cli
