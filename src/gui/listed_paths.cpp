#include "listed_paths.h"

#include "engine/run/path_list.h"
#include "text_bytes.h"

#include <QStringList>

namespace quillet::gui {

QString ListedPaths::load(const std::string& listBytes) {
    m_loaded = engine::SplitPathList(listBytes, engine::ListSeparator::Lines);
    m_bytesOf.clear();
    QStringList lines;
    for (const std::string& entry : m_loaded) {
        const QString line = pathFromBytes(entry);
        lines << line;
        const std::string spelt = pathToBytes(line);
        if (spelt == entry)
            continue;
        const auto [at, added] = m_bytesOf.try_emplace(spelt, entry);
        if (!added && at->second != entry)
            at->second.reset();
    }
    m_shown = lines.join(QLatin1Char('\n'));
    return m_shown;
}

std::vector<std::string> ListedPaths::entries(const QString& shown) const {
    if (!m_loaded.empty() && shown == m_shown)
        return m_loaded;
    std::vector<std::string> entries = engine::SplitPathList(pathToBytes(shown), engine::ListSeparator::Lines);
    for (std::string& entry : entries) {
        const auto found = m_bytesOf.find(entry);
        if (found != m_bytesOf.end() && found->second)
            entry = *found->second;
    }
    return entries;
}

} // namespace quillet::gui
