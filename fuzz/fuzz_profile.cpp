// The INI reader and writer against arbitrary files and names: reading
// never fails hard; a write that succeeds reads back and keeps every other
// line in order; a write that fails leaves the file byte for byte as it was.
#include "platform/ProfileFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// One folder per process, in memory where there is a tmpfs: every write
// flushes to disk.
const fs::path &file()
{
    // Never destroyed: the clean-up at exit still needs it.
    static const fs::path *const path = [] {
        std::string pattern = (fs::is_directory("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string())
                            + "/fuzz_profile.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        auto *made = new fs::path(fs::path(pattern) / "option.ini");
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(file().parent_path(), ec);
        });
        return made;
    }();
    return *path;
}

std::string contents(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Lines as the INI layer sees them: its text of the file (a byte-order mark
// dropped, UTF-16 decoded), split at LF, CRs at the end dropped (blanks to
// the layer; a last line "x\r" is written back as "x\r\n", which any reader
// takes for "x" with a CRLF).
std::vector<std::string> lines(std::string_view raw)
{
    const std::string decoded = platform::profileText(raw);
    std::string_view text = decoded;
    std::vector<std::string> out;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out.emplace_back(line);
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

bool inOrderWithin(const std::vector<std::string> &part, const std::vector<std::string> &whole, size_t skip)
{
    size_t j = 0;
    for (size_t i = 0; i < part.size(); ++i) {
        if (i == skip)
            continue;
        while (j < whole.size() && whole[j] != part[i])
            ++j;
        if (j == whole.size())
            return false;
        ++j;
    }
    return true;
}

// Every old line is still there, in order, but for at most one (the key's
// line that was replaced).
bool survives(const std::vector<std::string> &before, const std::vector<std::string> &after)
{
    if (inOrderWithin(before, after, before.size()))
        return true;
    for (size_t skip = 0; skip < before.size(); ++skip)
        if (inOrderWithin(before, after, skip))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(24);
    const std::string key = in.ConsumeRandomLengthString(24);
    const int32_t value = in.ConsumeIntegral<int32_t>();
    const bool readOnly = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const std::string old = in.ConsumeRemainingBytesAsString();

    const fs::path &path = file();
    std::error_code ec;
    fs::remove_all(path, ec);
    {
        std::ofstream out(path, std::ios::binary);
        out << old;
    }
    const auto writable = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(path, readOnly ? fs::perms::owner_read : writable, ec);

    const int before = platform::readProfileInt(path, section, key, -7);
    std::string error;
    const bool written = platform::writeProfileString(path, section, key, std::to_string(value), &error);
    const std::string now = contents(path);
    if (!written) {
        require(!error.empty(), "a failed write without a reason");
        require(now == old, "a failed write changed the file");
    } else {
        require(!readOnly, "a read-only file was replaced");
        require(platform::readProfileInt(path, section, key, value == 0 ? 1 : 0) == value,
                "the written key does not read back");
        const auto oldLines = lines(old);
        const auto newLines = lines(now);
        require(newLines.size() >= oldLines.size() && newLines.size() <= oldLines.size() + 2,
                "lines other than the key's were added or lost");
        require(survives(oldLines, newLines), "other lines did not survive");
        static_cast<void>(before);
    }
    fs::permissions(path, writable, ec);
    return 0;
}
