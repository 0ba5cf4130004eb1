// Atomic replacement of a whole file, one implementation per platform, and
// the look at what a write to a name would really change.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// What a write to a name would change. A program run with privileges must
// not be steered by a link or a planted file into replacing a file the
// operator never named.
struct FileTarget {
    // The name's last component is a symbolic link (on Windows: any
    // reparse point).
    bool link = false;
    // The file exists and belongs to another user than the one running the
    // program (POSIX only; always false on Windows).
    bool foreign = false;
    // The file a write through the name would replace: the link's final
    // target (which need not exist), else the name itself.
    std::filesystem::path real;
};
FileTarget inspectFileTarget(const std::filesystem::path &path);

// Writes `contents` to a new file in the folder of `path`, forces it to disk
// and renames it over `path` (creating it when missing). A link as the last
// component of `path` is never written through, nor replaced: the write
// fails. When any step fails the new file is removed, `path` keeps its old
// contents, and a reason is put into *error.
bool replaceFileContents(const std::filesystem::path &path, const std::string &contents,
                         std::string *error);

} // namespace platform
