#include "diff_view.h"

#include "core/line_marks.h"
#include "list_keys.h"

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <charconv>

namespace quillet::gui {

namespace {

// "@@ -12,3 +12,4 @@": the first line numbers of both sides; false when the
// line is not such a heading.
bool parseHunkHeading(std::string_view line, std::int64_t& oldStart, std::int64_t& newStart) {
    const auto number = [&](char sign, std::int64_t& value) {
        const std::size_t at = line.find(sign, 2);
        if (at == std::string_view::npos)
            return false;
        const char* first = line.data() + at + 1;
        return std::from_chars(first, line.data() + line.size(), value).ec == std::errc();
    };
    return line.substr(0, 3) == "@@ " && number('-', oldStart) && number('+', newStart);
}

QString lineText(std::string_view line) {
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

// The removed lines of one change and the added lines after them, as bytes,
// with the rows that show them.
struct Change {
    std::vector<std::size_t> RemovedRows;
    std::vector<std::string_view> Removed;
    std::vector<std::size_t> AddedRows;
    std::vector<std::string_view> Added;
};

// Byte spans of `line` as ranges of its text: the spans never cut a
// character, so each stretch converts on its own to what it is in the whole.
std::vector<std::pair<qsizetype, qsizetype>> textRanges(std::string_view line,
                                                        const std::vector<core::ByteSpan>& spans) {
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    std::size_t byte = 0;
    qsizetype position = 0;
    for (const core::ByteSpan& span : spans) {
        position += lineText(line.substr(byte, span.From - byte)).size();
        const qsizetype from = position;
        position += lineText(line.substr(span.From, span.To - span.From)).size();
        ranges.emplace_back(from, position);
        byte = span.To;
    }
    return ranges;
}

void markChange(Change& change, std::vector<DiffRow>& rows) {
    for (const auto& [removed, added] : core::PairChangedLines(change.Removed, change.Added)) {
        const core::ChangedSpans spans = core::FindChangedSpans(change.Removed[removed], change.Added[added]);
        rows[change.RemovedRows[removed]].Marks = textRanges(change.Removed[removed], spans.Old);
        rows[change.AddedRows[added]].Marks = textRanges(change.Added[added], spans.New);
    }
    change = Change();
}

} // namespace

std::vector<DiffRow> parseUnifiedDiff(std::string_view diff) {
    std::vector<DiffRow> rows;
    std::int64_t oldLine = 0;
    std::int64_t newLine = 0;
    bool inHunks = false;
    Change change;
    for (std::size_t start = 0; start < diff.size();) {
        std::size_t end = diff.find('\n', start);
        if (end == std::string_view::npos)
            end = diff.size();
        const std::string_view line = diff.substr(start, end - start);
        start = end + 1;

        std::int64_t oldStart = 0;
        std::int64_t newStart = 0;
        if (parseHunkHeading(line, oldStart, newStart)) {
            inHunks = true;
            // A side with no lines ("-3,0") names the line before them, but
            // then no row of the hunk takes a number from it.
            oldLine = oldStart;
            newLine = newStart;
            markChange(change, rows);
            rows.push_back({DiffRow::Kind::Hunk, 0, 0, lineText(line), {}});
            continue;
        }
        const char first = line.empty() ? ' ' : line.front();
        if (!inHunks) {
            if (line.substr(0, 4) != "--- " && line.substr(0, 4) != "+++ ")
                rows.push_back({DiffRow::Kind::Note, 0, 0, lineText(line), {}});
            continue;
        }
        const std::string_view rest = line.empty() ? line : line.substr(1);
        switch (first) {
        case '-':
            // Removed lines after added ones begin another change.
            if (!change.Added.empty())
                markChange(change, rows);
            change.RemovedRows.push_back(rows.size());
            change.Removed.push_back(rest);
            rows.push_back({DiffRow::Kind::Removed, oldLine++, 0, lineText(rest), {}});
            break;
        case '+':
            change.AddedRows.push_back(rows.size());
            change.Added.push_back(rest);
            rows.push_back({DiffRow::Kind::Added, 0, newLine++, lineText(rest), {}});
            break;
        case '\\':
            rows.push_back({DiffRow::Kind::Note, 0, 0, lineText(line), {}});
            break;
        default:
            markChange(change, rows);
            rows.push_back({DiffRow::Kind::Context, oldLine++, newLine++, lineText(rest), {}});
            break;
        }
    }
    markChange(change, rows);
    return rows;
}

std::vector<std::int64_t> diskLines(const std::vector<DiffRow>& rows, DiskSide side) {
    std::vector<std::int64_t> lines(rows.size(), 0);
    std::vector<std::size_t> waiting; // rows that take the next line of the side
    std::int64_t last = 0;            // the side's last line seen in this hunk
    const auto settle = [&](std::int64_t line) {
        for (const std::size_t row : waiting)
            lines[row] = line;
        waiting.clear();
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DiffRow& row = rows[i];
        const std::int64_t own = side == DiskSide::Old ? row.OldLine : row.NewLine;
        if (row.RowKind == DiffRow::Kind::Note)
            continue;
        if (row.RowKind == DiffRow::Kind::Hunk) {
            settle(last + 1);
            last = 0;
        }
        if (own > 0) {
            lines[i] = own;
            last = own;
            settle(own);
        } else {
            waiting.push_back(i);
        }
    }
    settle(last + 1);
    return lines;
}

DiffView::DiffView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Read-only, the view has no caret of its own: one the keyboard moves
    // lets Return open the file at a line, as a double-click does.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void DiffView::showMessage(const QString& text) {
    m_fileLines.clear();
    setPlainText(text);
}

std::int64_t DiffView::fileLineAt(int block) const {
    return block >= 0 && static_cast<std::size_t>(block) < m_fileLines.size()
               ? m_fileLines[static_cast<std::size_t>(block)]
               : 0;
}

void DiffView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QTextCursor cursor = cursorForPosition(event->position().toPoint());
        // cursorForPosition gives the nearest line: a point below the last
        // one is on none.
        const std::int64_t line =
            event->position().y() <= cursorRect(cursor).bottom() ? fileLineAt(cursor.block().blockNumber()) : 0;
        if (line > 0) {
            emit openLineRequested(line);
            event->accept();
            return;
        }
    }
    QPlainTextEdit::mouseDoubleClickEvent(event);
}

void DiffView::keyPressEvent(QKeyEvent* event) {
    if (IsOpenKey(*event)) {
        const std::int64_t line = fileLineAt(textCursor().blockNumber());
        if (line > 0)
            emit openLineRequested(line);
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void DiffView::showMatches(const std::vector<MatchRow>& rows, const QString& note) {
    std::int64_t widest = 1;
    for (const MatchRow& row : rows)
        widest = std::max(widest, row.Line);
    const int width = static_cast<int>(QString::number(widest).size());
    QTextCharFormat plain;
    QTextCharFormat marked;
    marked.setBackground(QColor(0xff, 0xe0, 0x40));
    marked.setFontWeight(QFont::Bold);
    QTextCharFormat grey;
    grey.setForeground(QColor(0x80, 0x80, 0x80));

    clear();
    m_fileLines.clear();
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    bool firstBlock = true;
    const auto newLine = [&] {
        if (!firstBlock)
            cursor.insertBlock();
        firstBlock = false;
    };
    for (const MatchRow& row : rows) {
        newLine();
        m_fileLines.push_back(row.Line);
        if (row.Line == 0) {
            cursor.insertText(QStringLiteral("--"), grey);
            continue;
        }
        // A matching line's number is followed by ":", a context line's by
        // "-", as grep -n writes them.
        const QString separator = row.Marks.empty() ? QStringLiteral("-  ") : QStringLiteral(":  ");
        cursor.insertText(QStringLiteral("%1").arg(row.Line, width) + separator, grey);
        const std::string_view text = row.Text;
        std::size_t at = 0;
        for (const auto& [from, to] : row.Marks) {
            cursor.insertText(lineText(text.substr(at, from - at)), plain);
            cursor.insertText(lineText(text.substr(from, to - from)), marked);
            at = to;
        }
        cursor.insertText(lineText(text.substr(at)), plain);
    }
    if (!note.isEmpty()) {
        newLine();
        m_fileLines.push_back(0);
        cursor.insertText(note, grey);
    }
    cursor.endEditBlock();
    moveCursor(QTextCursor::Start);
}

namespace {

constexpr const char* kCut = "[...]";

// The part of a row's text to show: all of it, or, for a line longer than
// kShownDiffLineWidth characters (a minified file's, of megabytes), that
// many from a little before its first changed word, never splitting a
// character: laying out the whole line would hold the window for seconds.
std::pair<qsizetype, qsizetype> shownPartOfRow(const DiffRow& row) {
    const qsizetype size = row.Text.size();
    if (size <= kShownDiffLineWidth)
        return {0, size};
    const qsizetype anchor = row.Marks.empty() ? 0 : row.Marks.front().first;
    qsizetype first = std::clamp<qsizetype>(anchor - kShownDiffLineWidth / 10, 0, size);
    qsizetype last = std::min(size, first + kShownDiffLineWidth);
    if (first > 0 && row.Text[first].isLowSurrogate())
        --first;
    if (last < size && row.Text[last].isLowSurrogate())
        ++last;
    return {first, last};
}

} // namespace

void DiffView::showDiff(std::string_view diff, DiskSide onDisk) {
    const std::vector<DiffRow> rows = parseUnifiedDiff(diff);
    std::int64_t widest = 1;
    for (const DiffRow& row : rows)
        widest = std::max({widest, row.OldLine, row.NewLine});
    const int width = static_cast<int>(QString::number(widest).size());
    const auto number = [width](std::int64_t line) {
        return line > 0 ? QStringLiteral("%1").arg(line, width) : QString(width, QLatin1Char(' '));
    };
    QTextCharFormat plain;
    QTextCharFormat removedWords;
    removedWords.setBackground(QColor(0xff, 0xa8, 0xa8));
    QTextCharFormat addedWords;
    addedWords.setBackground(QColor(0x9c, 0xe8, 0x9c));

    clear();
    m_fileLines = diskLines(rows, onDisk);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    bool firstBlock = true;
    for (const DiffRow& row : rows) {
        QTextBlockFormat block;
        QString lead;
        switch (row.RowKind) {
        case DiffRow::Kind::Hunk:
            block.setBackground(QColor(0xe8, 0xe8, 0xf0));
            break;
        case DiffRow::Kind::Note:
            break;
        case DiffRow::Kind::Context:
            lead = number(row.OldLine) + QLatin1Char(' ') + number(row.NewLine) + QStringLiteral("   ");
            break;
        case DiffRow::Kind::Removed:
            block.setBackground(QColor(0xff, 0xdd, 0xdd));
            lead = number(row.OldLine) + QLatin1Char(' ') + number(0) + QStringLiteral(" - ");
            break;
        case DiffRow::Kind::Added:
            block.setBackground(QColor(0xdd, 0xff, 0xdd));
            lead = number(0) + QLatin1Char(' ') + number(row.NewLine) + QStringLiteral(" + ");
            break;
        }
        if (firstBlock)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        firstBlock = false;
        cursor.insertText(lead, plain);
        const QTextCharFormat& marked = row.RowKind == DiffRow::Kind::Removed ? removedWords : addedWords;
        const auto [first, last] = shownPartOfRow(row);
        if (first > 0)
            cursor.insertText(QString::fromLatin1(kCut), plain);
        qsizetype at = first;
        for (const auto& [from, to] : row.Marks) {
            const qsizetype markFrom = std::clamp(from, first, last);
            const qsizetype markTo = std::clamp(to, first, last);
            if (markFrom >= markTo)
                continue;
            cursor.insertText(row.Text.mid(at, markFrom - at), plain);
            cursor.insertText(row.Text.mid(markFrom, markTo - markFrom), marked);
            at = markTo;
        }
        cursor.insertText(row.Text.mid(at, last - at), plain);
        if (last < row.Text.size())
            cursor.insertText(QString::fromLatin1(kCut), plain);
    }
    cursor.endEditBlock();
    moveCursor(QTextCursor::Start);
}

} // namespace quillet::gui
