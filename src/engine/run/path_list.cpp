#include "engine/run/path_list.h"

namespace quillet::engine {

std::vector<std::string> SplitPathList(std::string_view text, ListSeparator separator) {
    const std::string_view ends = separator == ListSeparator::Nul ? std::string_view("\0", 1) : "\r\n";
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(ends, start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            entries.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

} // namespace quillet::engine
