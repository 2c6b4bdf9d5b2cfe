// Texts and paths between the window and the engine. The engine works on
// bytes: texts in the locale's encoding, paths as the file system names them
// (QFile's encoding, which round-trips names that are not valid text).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

namespace quillet::gui {

inline std::string toBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

inline std::string pathToBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString pathFromBytes(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace quillet::gui
