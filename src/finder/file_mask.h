// The file-name mask of a run, parsed once: which entries a walk or a
// one-directory listing takes, and which folders a walk never enters. The
// walker (file_finder.h) and the listing (dir_listing.h) both decide through
// it, so the window's file list, the window's runs and quillet-cli's runs
// follow one rule. Names are compared with MatchesWildcard (wildcard.h).
//
// Syntax. Tokens are separated by ";". An empty token is ignored, and spaces
// belong to the token they stand in ("*.c; *.h" is "*.c" and " *.h").
//   *.js            including: a file is taken when its name fits.
//   !*.min.js       excluding (a leading "!"): files whose names fit are left
//                   out, at any depth.
//   !node_modules/  a trailing "/": folders whose names fit are left out, at
//                   any depth, and the walk never enters them.
//   !docs/old/      a "/" inside: compared with the path below the folder the
//                   run starts in, one "/"-separated segment against one
//                   segment, so "*" and "?" never stand for a "/" (a run of
//                   stars is one star: "**" is "*", one segment). With the
//                   trailing "/" it names a folder, which is not entered
//                   (docs/old, not src/docs/old or docs/old2) ...
//   !docs/*.html    ... without it, files: docs/a.html, neither a.html nor
//                   docs/sub/a.html.
//   !/build/        a leading "/" anchors a token to the start folder: the
//   !/notes.txt     start folder's own "build" folder and "notes.txt" file,
//                   not src/build or src/notes.txt.
// Order does not matter ("*.js;!*.min.js" is "!*.min.js;*.js"). A file is
// taken when it fits some including token, or there is none but there is an
// excluding one, and it fits no excluding token and lies in no left-out folder.
// So an empty mask (or ";") takes nothing, and a mask of excluding tokens
// only takes everything else: "!" alone, which excludes nothing, takes every
// file. An including token is compared with the name alone, as it always
// was. A folder token never leaves a file out by its name: "!build/" keeps a
// file named "build".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::finder {

class FileMask {
public:
    // Takes nothing.
    FileMask() = default;
    // Parses `masks`; with ignoreCase names are compared through UpperTable.
    explicit FileMask(std::string_view masks, bool ignoreCase = true);

    // True when no name can be taken (no token at all): a walk under this
    // mask reports nothing, whatever it finds.
    bool takesNothing() const { return m_includes.empty() && !m_hasExcludes; }

    // True when the entry `name` of the folder `below` is taken. `below` is
    // that folder's path relative to the start folder, each segment followed
    // by "/" ("" for the start folder itself, "docs/old/" for a folder two
    // levels down).
    bool takes(std::string_view below, std::string_view name) const;

    // True when the folder `name` of the folder `below` (as for takes) is
    // left out by a token ending in "/": the walk does not enter it, and
    // reports it as no entry.
    bool leavesOutFolder(std::string_view below, std::string_view name) const;

private:
    using Segments = std::vector<std::string>;

    bool fitsName(std::string_view name, const std::vector<std::string>& masks) const;
    bool fitsPath(std::string_view below, std::string_view name, const std::vector<Segments>& paths) const;

    bool m_ignoreCase = true;
    bool m_hasExcludes = false;
    std::vector<std::string> m_includes;
    std::vector<std::string> m_fileNames;   // "!*.min.js"
    std::vector<std::string> m_folderNames; // "!node_modules/"
    std::vector<Segments> m_filePaths;      // "!docs/*.html", "!/notes.txt"
    std::vector<Segments> m_folderPaths;    // "!docs/old/", "!/build/"
};

// Whether one name, in the start folder, is taken by `masks`:
// FileMask(masks, ignoreCase).takes("", name).
bool MatchesAnyMask(std::string_view name, std::string_view masks, bool ignoreCase);

} // namespace quillet::finder
