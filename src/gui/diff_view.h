// Shows one file's unified diff (core/text_diff.h) as a reader wants it:
// each line with its old and new line numbers, removed lines on red, added
// lines on green, hunk headings grey, in a monospace face, read-only. The
// "---"/"+++" heading lines are left out: the page names the file. Within a
// change, a removed line and the added line that replaced it (paired by
// core/line_marks.h) have the words that differ on a stronger red and green.
//
// After Only Search it shows a file's matches the same way: each line with
// its number, the matched text on yellow, context lines plain, "--" between
// groups of lines that do not touch.
//
// A diff line longer than kShownDiffLineWidth characters shows that many,
// from a little before its first changed word, with "[...]" for each side
// left out.
//
// A double-click on a line that stands for a line of the file (a match, a
// context line, a changed line, a hunk heading), or Return on the line the
// keyboard's caret is on, asks to open the file there (openLineRequested);
// what opens it is the page's business. The caret moves with the arrow keys
// once the view has the focus (Tab, or a click).
//
// Layer: gui.
#pragma once

#include "change_list.h"

#include <QPlainTextEdit>
#include <QString>

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::gui {

inline constexpr qsizetype kShownDiffLineWidth = 2000;

struct DiffRow {
    enum class Kind { Hunk, Context, Removed, Added, Note };
    Kind RowKind = Kind::Context;
    std::int64_t OldLine = 0; // 0 where the row has no old line (added, hunk, note)
    std::int64_t NewLine = 0; // 0 where the row has no new line (removed, hunk, note)
    QString Text;             // the line without its leading " ", "-" or "+"
    // Removed and added rows paired with a counterpart: the ranges of Text
    // (QString positions, in order) whose words differ from it.
    std::vector<std::pair<qsizetype, qsizetype>> Marks;

    bool operator==(const DiffRow&) const = default;
};

// The rows of a unified diff, numbered from its "@@ -l,n +l,n @@" headings.
// Lines before the first heading other than "---"/"+++" ("Binary files a/x
// and b/x differ") become notes, as does "\ No newline at end of file".
// Bytes are read in the locale's encoding. Each run of removed lines and
// the added lines after it is one change: its lines are paired
// (core::PairChangedLines) and each pair's differing words marked
// (core::FindChangedSpans).
std::vector<DiffRow> parseUnifiedDiff(std::string_view diff);

// Which side of a diff the file on disk holds now: the old one before a
// preview is applied, the new one after a run.
enum class DiskSide { Old, New };

// For each row, the line of the file on `side` that it stands for, 0 for
// none (a note). A row without a line on that side (an added row of the old
// side, a removed row of the new side, a hunk heading) stands for the line
// that follows it there: where the change is, or would be, in the file.
std::vector<std::int64_t> diskLines(const std::vector<DiffRow>& rows, DiskSide side);

class DiffView : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit DiffView(QWidget* parent = nullptr);

    // Replaces what the view shows with `diff`'s rows; `onDisk` says which
    // side's line numbers a double-click asks to open.
    void showDiff(std::string_view diff, DiskSide onDisk);
    // Replaces what the view shows with the rows of a file's matches, then
    // `note` on a line of its own when it is not empty.
    void showMatches(const std::vector<MatchRow>& rows, const QString& note);
    // Shows one line of plain text instead of a diff ("Select a file ...").
    void showMessage(const QString& text);

    // The line of the file that the view's block (line) `block` stands for;
    // 0 for none.
    std::int64_t fileLineAt(int block) const;

signals:
    // A double-click on a block that stands for line `line` (1-based) of the
    // file shown.
    void openLineRequested(std::int64_t line);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<std::int64_t> m_fileLines; // per block, see fileLineAt
};

} // namespace quillet::gui
