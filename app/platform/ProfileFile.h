// Private-profile access to small INI files (section, key = value), without
// any toolkit dependency so that each platform can supply its own file
// replacement beside the portable parsing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Files are plain bytes (UTF-8 or ASCII, a UTF-8 byte-order mark allowed)
// or UTF-16 with its byte-order mark, as Windows editors save "Unicode";
// names and values are UTF-8 text either way.

// A file's bytes as the text the reader sees: a UTF-8 byte-order mark
// dropped, UTF-16 after its mark decoded to UTF-8 (a unit that makes no
// character gives U+FFFD).
std::string profileText(std::string_view raw);

// Reads one integer key: the leading decimal number of the value as
// readProfileString gives it, so "5 ; five" and "\"5\"" read 5. A missing or
// unreadable file, a missing section or key, or a value that does not start
// with a decimal integer in the signed 32-bit range gives `def`; so does any read error (a folder in the file's place, for
// one). Section and key names compare without regard to case; the first
// matching section and key win. Never creates or changes the file; never
// throws.
int readProfileInt(const std::filesystem::path &path, const std::string &section,
                   const std::string &key, int def);

// Reads one key's value as written after '=', trimmed, less one pair of
// matching quotes (' or ") around it (the same lookup as readProfileInt);
// none when the file, section or key is missing.
std::optional<std::string> readProfileString(const std::filesystem::path &path, const std::string &section,
                                             const std::string &key);

// Sets `values` (key, value) in `section`, creating the file, the section or
// a key when missing. Comments, blank lines, other sections and keys, the
// order of lines, the line-ending style and the encoding are kept. The file is replaced as
// a whole (written beside it, flushed to disk, renamed over it), so it is
// either the old or the new file, never a truncated one. A file marked
// read-only (no write permission for anyone) is not replaced, nor is a link
// written through (the last component of `path` a symbolic link, or on
// Windows any reparse point): both fail. On failure
// returns false with a reason in *error and leaves the old file as it was;
// never throws.
bool writeProfileStrings(const std::filesystem::path &path, const std::string &section,
                         const std::vector<std::pair<std::string, std::string>> &values,
                         std::string *error = nullptr);

// Every key and value (as written after '=') of the first section of that
// name, in file order; none when the file or the section is missing.
std::vector<std::pair<std::string, std::string>> readProfileSection(const std::filesystem::path &path,
                                                                    const std::string &section);

// Makes the first `section` hold `values`: its other keys are removed, the
// rest as writeProfileStrings does. A section left with nothing but blank
// lines goes with its header; with no values and no such section, the file
// is not touched (nor created). The same replacement, links and failures as
// writeProfileStrings.
bool writeProfileSection(const std::filesystem::path &path, const std::string &section,
                         const std::vector<std::pair<std::string, std::string>> &values,
                         std::string *error = nullptr);

inline bool writeProfileString(const std::filesystem::path &path, const std::string &section,
                               const std::string &key, const std::string &value,
                               std::string *error = nullptr)
{
    return writeProfileStrings(path, section, {{key, value}}, error);
}

} // namespace platform
