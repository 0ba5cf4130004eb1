// Atomic replacement of a whole file, one implementation per platform.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Writes `contents` to a new file in the folder of `path`, forces it to disk
// and renames it over `path` (creating it when missing). When any step fails
// the new file is removed, `path` keeps its old contents, and a reason is put
// into *error.
bool replaceFileContents(const std::filesystem::path &path, const std::string &contents,
                         std::string *error);

} // namespace platform
