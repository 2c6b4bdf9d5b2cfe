// Where a run's entry lives, so that the file read and the file rewritten are
// the same one: a name in a directory the walk holds open, or a path as the
// user wrote it.
#pragma once

#include "finder/file_finder.h"

#include <memory>
#include <string>

namespace quillet::engine {

struct FileLocation {
    // The walk's directory holding the entry, opened without following
    // symlinks; the entry is opened relative to it, never following a symlink
    // either. Empty for a path as written, which is opened following symlinks
    // (a listed symlink's target is the file read and rewritten).
    std::shared_ptr<const finder::OpenDirectory> Directory;
    // With Directory: the entry's name in it. Without: unused.
    std::string Name;
    // The path for messages and reports (with Directory: its Path + Name);
    // without Directory, the path that is opened.
    std::string Path;

    static FileLocation atPath(std::string path) {
        FileLocation location;
        location.Path = std::move(path);
        return location;
    }
    static FileLocation inDirectory(std::shared_ptr<const finder::OpenDirectory> directory, std::string name) {
        FileLocation location;
        location.Path = directory->Path + name;
        location.Directory = std::move(directory);
        location.Name = std::move(name);
        return location;
    }
};

} // namespace quillet::engine
