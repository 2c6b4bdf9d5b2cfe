// The path list box's names as the file system spells them. The box shows
// text, but a listed name need not be valid text in the locale (a name with
// bytes that are not UTF-8): shown, it comes back altered, and a run would
// look for a file that does not exist. ListedPaths remembers the bytes of
// each name loaded from a list file, so that a run of the box's lines uses
// the names exactly as listed, also after other lines were edited. Entries
// are split by the engine's SplitPathList, as the command line splits them.
#pragma once

#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillet::gui {

class ListedPaths {
public:
    // Takes a list file's bytes; returns the text the box shows: one entry
    // a line, blank lines left out (they name no file).
    QString load(const std::string& listBytes);

    // The entries of the box's text, each as the list file had it where the
    // line shows a loaded name unchanged, otherwise as the line spells it.
    // Two loaded names that show as the same line (two different invalid
    // bytes both show as U+FFFD) keep their bytes only while the box shows
    // the loaded text unchanged.
    std::vector<std::string> entries(const QString& shown) const;

private:
    QString m_shown;
    std::vector<std::string> m_loaded;
    // A shown line's bytes -> the listed name's bytes, for names that do not
    // come back from their shown text; nullopt where two names share a line.
    std::map<std::string, std::optional<std::string>> m_bytesOf;
};

} // namespace quillet::gui
