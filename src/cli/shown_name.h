// How quillet-cli shows file names (and texts that hold them) so that a name
// can neither command the user's terminal nor forge a line of the output: a
// name may hold any byte but '/' and NUL, escape sequences and line breaks
// included.
//
// A byte is unsafe to show when it is a C0 control or DEL, begins a UTF-8
// encoded C1 control (U+0080 to U+009F, which some terminals obey as well),
// or is not part of valid UTF-8 (the shortest form, no surrogates). Unsafe
// bytes are written as git writes them in a quoted path: "\a", "\b", "\t",
// "\n", "\v", "\f", "\r", else three octal digits ("\033"); so a name reads
// back exactly from its quoted form. Every other byte, UTF-8 letters
// included, stays as it is.
//
// Where each output uses which (the result list written to a pipe or a file,
// and with -0 everywhere, stays byte for byte, for scripts):
//   QuotePath   the result list on a terminal, --matches names, --diff headers
//   EscapeText  lines for the user on standard error, and undo's lines
#pragma once

#include <string>
#include <string_view>

namespace quillet::cli {

// `path` as it is when it holds no unsafe byte, '"' or '\'; otherwise in
// double quotes with those escaped, as `git diff` writes a path in its
// headers (and `git apply` reads it back): "a/\033]0;x\a.txt".
std::string QuotePath(std::string_view path);

// `text` with its unsafe bytes escaped and nothing else changed.
std::string EscapeText(std::string_view text);

} // namespace quillet::cli
