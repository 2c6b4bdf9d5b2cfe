#include "diff_view.h"

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QTextBlockFormat>
#include <QTextCharFormat>
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

} // namespace

std::vector<DiffRow> parseUnifiedDiff(std::string_view diff) {
    std::vector<DiffRow> rows;
    std::int64_t oldLine = 0;
    std::int64_t newLine = 0;
    bool inHunks = false;
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
            rows.push_back({DiffRow::Kind::Hunk, 0, 0, lineText(line)});
            continue;
        }
        const char first = line.empty() ? ' ' : line.front();
        if (!inHunks) {
            if (line.substr(0, 4) != "--- " && line.substr(0, 4) != "+++ ")
                rows.push_back({DiffRow::Kind::Note, 0, 0, lineText(line)});
            continue;
        }
        const std::string_view rest = line.empty() ? line : line.substr(1);
        switch (first) {
        case '-':
            rows.push_back({DiffRow::Kind::Removed, oldLine++, 0, lineText(rest)});
            break;
        case '+':
            rows.push_back({DiffRow::Kind::Added, 0, newLine++, lineText(rest)});
            break;
        case '\\':
            rows.push_back({DiffRow::Kind::Note, 0, 0, lineText(line)});
            break;
        default:
            rows.push_back({DiffRow::Kind::Context, oldLine++, newLine++, lineText(rest)});
            break;
        }
    }
    return rows;
}

DiffView::DiffView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void DiffView::showMessage(const QString& text) {
    setPlainText(text);
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
        cursor.insertText(note, grey);
    }
    cursor.endEditBlock();
    moveCursor(QTextCursor::Start);
}

void DiffView::showDiff(std::string_view diff) {
    const std::vector<DiffRow> rows = parseUnifiedDiff(diff);
    std::int64_t widest = 1;
    for (const DiffRow& row : rows)
        widest = std::max({widest, row.OldLine, row.NewLine});
    const int width = static_cast<int>(QString::number(widest).size());
    const auto number = [width](std::int64_t line) {
        return line > 0 ? QStringLiteral("%1").arg(line, width) : QString(width, QLatin1Char(' '));
    };

    clear();
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    bool firstBlock = true;
    for (const DiffRow& row : rows) {
        QTextBlockFormat block;
        QString text;
        switch (row.RowKind) {
        case DiffRow::Kind::Hunk:
            block.setBackground(QColor(0xe8, 0xe8, 0xf0));
            text = row.Text;
            break;
        case DiffRow::Kind::Note:
            text = row.Text;
            break;
        case DiffRow::Kind::Context:
            text = number(row.OldLine) + QLatin1Char(' ') + number(row.NewLine) + QStringLiteral("   ") + row.Text;
            break;
        case DiffRow::Kind::Removed:
            block.setBackground(QColor(0xff, 0xdd, 0xdd));
            text = number(row.OldLine) + QLatin1Char(' ') + number(0) + QStringLiteral(" - ") + row.Text;
            break;
        case DiffRow::Kind::Added:
            block.setBackground(QColor(0xdd, 0xff, 0xdd));
            text = number(0) + QLatin1Char(' ') + number(row.NewLine) + QStringLiteral(" + ") + row.Text;
            break;
        }
        if (firstBlock)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        firstBlock = false;
        cursor.insertText(text);
    }
    cursor.endEditBlock();
    moveCursor(QTextCursor::Start);
}

} // namespace quillet::gui
