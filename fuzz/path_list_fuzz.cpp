// Fuzz target: the path-list splitter (a list file, standard input, the
// window's path list box) on arbitrary bytes, against a plain reference.
#include "engine/run/path_list.h"
#include "fuzz_input.h"

#include <string>
#include <string_view>
#include <vector>

using quillet::engine::ListSeparator;
using quillet::engine::SplitPathList;
using quillet::fuzz::require;

namespace {

// The non-empty pieces between separators, joined by `glue`: what the entries
// must make when joined the same way. Line ends are first made one byte each.
std::string referenceJoined(std::string_view text, ListSeparator separator, char glue) {
    std::string normal;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (separator == ListSeparator::Nul)
            normal.push_back(c == '\0' ? glue : c);
        else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // the '\n' that follows ends the entry
        else
            normal.push_back(c == '\n' || c == '\r' ? glue : c);
    }
    std::string joined;
    std::size_t start = 0;
    while (start <= normal.size()) {
        std::size_t end = normal.find(glue, start);
        if (end == std::string::npos)
            end = normal.size();
        if (end > start) {
            if (!joined.empty())
                joined.push_back(glue);
            joined.append(normal, start, end - start);
        }
        start = end + 1;
    }
    return joined;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const ListSeparator separator = (input.byte() & 1) != 0 ? ListSeparator::Nul : ListSeparator::Lines;
    const std::string text = input.rest(4096);
    const std::vector<std::string> entries = SplitPathList(text, separator);

    const std::string_view separators =
        separator == ListSeparator::Nul ? std::string_view("\0", 1) : std::string_view("\r\n");
    // A glue byte that no entry can hold: the separator itself.
    const char glue = separator == ListSeparator::Nul ? '\0' : '\n';
    std::string joined;
    for (const std::string& entry : entries) {
        require(!entry.empty(), "no entry is empty");
        require(entry.find_first_of(separators) == std::string::npos, "no entry holds a separator");
        if (&entry != &entries.front())
            joined.push_back(glue);
        joined += entry;
    }
    require(joined == referenceJoined(text, separator, glue),
            "the entries, joined again, are the text without its empty entries");
    return 0;
}
