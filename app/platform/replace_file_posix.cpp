// POSIX replacement of a whole file: temporary file beside it, fsync, rename,
// fsync of the folder.
#include "ReplaceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::string reason(const char *step, const std::string &file, int err)
{
    return std::string(step) + " " + file + ": " + std::strerror(err);
}

// The file that a write to `path` must replace: a symbolic link stays a link
// and its target gets the new contents.
std::filesystem::path resolveTarget(const std::filesystem::path &path)
{
    std::error_code ec;
    std::filesystem::path target = path;
    for (int depth = 0; depth < 16 && std::filesystem::is_symlink(target, ec); ++depth) {
        const auto next = std::filesystem::read_symlink(target, ec);
        if (ec)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

// The new file keeps the permissions and owner of the one it replaces.
void takePermissions(int fd, const std::filesystem::path &target)
{
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only the owner may keep another owner; the file stays usable.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
}

// 0 when every byte was written, else the error.
int writeAll(int fd, const std::string &contents)
{
    const char *data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

bool replaceFileContents(const std::filesystem::path &path, const std::string &contents,
                         std::string *error)
{
    const auto fail = [error](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    const std::filesystem::path target = resolveTarget(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";

    const std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> tempName(pattern.begin(), pattern.end());
    tempName.push_back('\0');
    const int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(reason("cannot create a file in", folder.string(), errno));
    const std::string temp(tempName.data());
    const auto abandon = [&](const char *step, int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(reason(step, temp, err));
    };

    takePermissions(fd, target);
    if (const int err = writeAll(fd, contents); err != 0)
        return abandon("cannot write", err);
    if (::fsync(fd) != 0)
        return abandon("cannot flush", errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail(reason("cannot close", temp, err));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail(reason("cannot replace", target.string(), err));
    }
    // Makes the rename itself durable; the data is already safe if this fails.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace platform
