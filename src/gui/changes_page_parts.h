// What the parts of the Changes page (changes_page.cpp, the runs of
// changes_page_run.cpp, the ticks of changes_page_review.cpp) share: the
// list's columns, and the texts they write alike.
//
// Layer: gui; private to the page.
#pragma once

#include <QFile>
#include <QString>

#include <cstddef>
#include <string>

namespace quillet::gui::detail {

enum ChangesColumn { FileColumn, MatchesColumn, NoteColumn };

// The changes of one file listed at most, each a row under the file's; those
// past it follow the file's tick.
constexpr std::size_t kMaxChangeItems = 1000;

inline const QString kChangedSincePreview = QStringLiteral("changed since the preview: review its changes again");
inline const QString kNothingToChangeNow = QStringLiteral("changed since the preview: nothing to change now");

inline QString fromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

inline QString filesText(std::size_t count) {
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

inline QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace quillet::gui::detail
