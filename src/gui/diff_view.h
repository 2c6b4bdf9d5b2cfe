// Shows one file's unified diff (core/text_diff.h) as a reader wants it:
// each line with its old and new line numbers, removed lines on red, added
// lines on green, hunk headings grey, in a monospace face, read-only. The
// "---"/"+++" heading lines are left out: the page names the file.
//
// After Only Search it shows a file's matches the same way: each line with
// its number, the matched text on yellow, context lines plain, "--" between
// groups of lines that do not touch.
//
// Layer: gui.
#pragma once

#include "change_list.h"

#include <QPlainTextEdit>
#include <QString>

#include <cstdint>
#include <string_view>
#include <vector>

namespace quillet::gui {

struct DiffRow {
    enum class Kind { Hunk, Context, Removed, Added, Note };
    Kind RowKind = Kind::Context;
    std::int64_t OldLine = 0; // 0 where the row has no old line (added, hunk, note)
    std::int64_t NewLine = 0; // 0 where the row has no new line (removed, hunk, note)
    QString Text;             // the line without its leading " ", "-" or "+"

    bool operator==(const DiffRow&) const = default;
};

// The rows of a unified diff, numbered from its "@@ -l,n +l,n @@" headings.
// Lines before the first heading other than "---"/"+++" ("Binary files a/x
// and b/x differ") become notes, as does "\ No newline at end of file".
// Bytes are read in the locale's encoding.
std::vector<DiffRow> parseUnifiedDiff(std::string_view diff);

class DiffView : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit DiffView(QWidget* parent = nullptr);

    // Replaces what the view shows with `diff`'s rows.
    void showDiff(std::string_view diff);
    // Replaces what the view shows with the rows of a file's matches, then
    // `note` on a line of its own when it is not empty.
    void showMatches(const std::vector<MatchRow>& rows, const QString& note);
    // Shows one line of plain text instead of a diff ("Select a file ...").
    void showMessage(const QString& text);
};

} // namespace quillet::gui
