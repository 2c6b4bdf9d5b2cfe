#include "cli/confirm.h"

#include "engine/run/match_lines.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace quillet::cli {

namespace {

constexpr std::string_view kQuestion =
    "Apply this change? [y]es [n]o [a]ll in this file [d]one with this file [A]ll [q]uit ";

// How many lines of a change that spans more are shown: the first and the
// last half of them, with a line that says how many were left out.
constexpr std::size_t kShownLines = 20;

// Each line of `lines` after `mark`, each ending in a line break ("\r\n"
// as "\n"). A line longer than engine::kShownLineWidth is cut around
// `anchor` (an offset in `lines` where the change begins) or after its start,
// with "[...]" for each part left out, so that a change in a 500 MB line
// shows a few hundred bytes.
void appendMarked(std::string& out, std::string_view lines, std::size_t anchor, char mark, const char* color) {
    std::size_t count = 1;
    for (const char c : lines)
        count += c == '\n' ? 1 : 0;
    std::size_t number = 0;
    for (std::size_t start = 0;; ++number) {
        const std::size_t cut = lines.find('\n', start);
        const std::size_t next = cut == std::string_view::npos ? lines.size() : cut;
        std::size_t end = next;
        if (end > start && lines[end - 1] == '\r')
            --end;
        const bool shown = count <= kShownLines || number < kShownLines / 2 || number >= count - kShownLines / 2;
        if (shown) {
            const engine::TextSpan part = engine::ShownPartOfLine(lines, start, end, anchor);
            if (color != nullptr)
                out += color;
            out += mark;
            if (part.Start > start)
                out += "[...]";
            out += lines.substr(part.Start, part.End - part.Start);
            if (part.End < end)
                out += "[...]";
            if (color != nullptr)
                out += "\x1b[m";
            out += '\n';
        } else if (number == kShownLines / 2) {
            ((out += mark) += "[... ") += std::to_string(count - kShownLines) += " lines]\n";
        }
        if (cut == std::string_view::npos)
            return;
        start = cut + 1;
    }
}

} // namespace

std::unique_ptr<ChangeQuestions> ChangeQuestions::open(bool color, const volatile std::sig_atomic_t& interrupted) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<ChangeQuestions>(new ChangeQuestions(fd, color, interrupted));
}

ChangeQuestions::~ChangeQuestions() {
    ::close(m_fd);
}

void ChangeQuestions::write(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t done = ::write(m_fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return; // a terminal gone away: the answer reads end of input
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
}

char ChangeQuestions::answer() const {
    std::string line;
    for (;;) {
        // A signal's handler restarts a read, never a poll: Ctrl-C ends
        // the wait rather than going unseen until the next answer. One that
        // lands just before the poll begins is seen at its next wake.
        if (m_interrupted != 0)
            return 'q';
        pollfd ready{m_fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, 200);
        if (polled < 0 && errno != EINTR)
            return 'q';
        if (polled <= 0)
            continue;
        char byte = 0;
        const ssize_t got = ::read(m_fd, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 'q';
        if (byte == '\n')
            break;
        line += byte;
    }
    return line.size() == 1 ? line[0] : '?';
}

std::vector<bool> ChangeQuestions::ask(std::string_view shownPath, std::string_view text,
                                       const std::vector<engine::MatchLocation>& matches) {
    std::vector<bool> selection(matches.size(), m_all);
    bool fileDecided = m_all || m_quit;
    for (std::size_t i = 0; i < matches.size() && !fileDecided; ++i) {
        const engine::MatchLocation& match = matches[i];
        // The lines from the match's first to the one it ends before, which
        // it joins to the first when it takes a line end away.
        const std::size_t from = match.Start == 0 ? 0 : text.rfind('\n', match.Start - 1) + 1; // npos + 1: 0
        const std::size_t to = std::min(text.find('\n', match.End), text.size());
        std::string changed(text.substr(from, match.Start - from));
        (changed += match.Replacement) += text.substr(match.End, to - match.End);
        std::string shown(shownPath);
        (shown += ':') += std::to_string(match.FirstLine);
        shown += '\n';
        appendMarked(shown, text.substr(from, to - from), match.Start - from, '-', m_color ? "\x1b[31m" : nullptr);
        appendMarked(shown, changed, match.Start - from, '+', m_color ? "\x1b[32m" : nullptr);
        write(shown);
        for (;;) {
            write(kQuestion);
            const char reply = answer();
            if (reply == 'y' || reply == 'a' || reply == 'A')
                selection[i] = true;
            if (reply == 'a' || reply == 'A' || reply == 'd' || reply == 'q') {
                m_all = reply == 'A';
                m_quit = reply == 'q';
                fileDecided = true;
                for (std::size_t rest = i + 1; rest < matches.size(); ++rest)
                    selection[rest] = reply == 'a' || reply == 'A';
            }
            if (std::string_view("ynadAq").find(reply) != std::string_view::npos)
                break;
        }
    }
    return selection;
}

} // namespace quillet::cli
