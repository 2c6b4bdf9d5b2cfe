// Splitting a list of paths (a list file, standard input, the window's path
// list box and the list files loaded into it) into entries: one rule for the
// command line and the window alike.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::engine {

enum class ListSeparator {
    Lines, // LF, CRLF and a lone CR each end an entry
    Nul,   // only NUL ends an entry, so names may hold line breaks (`find -print0`)
};

// The entries of `text`, in order, each exactly as written between two
// separators. Empty entries are dropped (a blank line names no file), so a
// final separator adds nothing, and neither does "\r\n" count as two. With
// ListSeparator::Lines a NUL byte is part of an entry (it then names no file
// that can be opened); with ListSeparator::Nul CR and LF are.
std::vector<std::string> SplitPathList(std::string_view text, ListSeparator separator);

} // namespace quillet::engine
