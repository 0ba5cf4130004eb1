// POSIX replacement of a whole file: temporary file beside it, fsync, rename,
// fsync of the folder; links in the last component are looked at, never
// followed.
#include "ReplaceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {
namespace {

std::string reason(const char *step, const std::string &file, int err)
{
    return std::string(step) + " " + file + ": " + std::strerror(err);
}

// The new file keeps the permissions and owner of the one it replaces.
void takePermissions(int fd, const std::filesystem::path &target)
{
    struct stat old {};
    if (::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
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

bool isLink(const std::filesystem::path &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

FileTarget inspectFileTarget(const std::filesystem::path &path)
{
    FileTarget found;
    found.real = path;
    found.link = isLink(path);
    std::error_code ec;
    // A chain of links, each relative to the folder of the one naming it; the
    // kernel gives up after 40, and so does this.
    for (int depth = 0; depth < 40 && isLink(found.real); ++depth) {
        const auto next = std::filesystem::read_symlink(found.real, ec);
        if (ec)
            break;
        found.real = next.is_absolute() ? next : found.real.parent_path() / next;
    }
    if (found.link) {
        // The name the operator is asked about: no ".." or linked folders.
        if (auto plain = std::filesystem::weakly_canonical(found.real, ec); !ec)
            found.real = std::move(plain);
    }
    struct stat st {};
    found.foreign = ::stat(path.c_str(), &st) == 0 && st.st_uid != ::geteuid();
    return found;
}

bool replaceFileContents(const std::filesystem::path &path, const std::string &contents,
                         std::string *error)
{
    const auto fail = [error](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    // Neither followed nor replaced: rename() would turn the link into a
    // plain file, silently cutting what someone set up on purpose.
    if (isLink(path))
        return fail("cannot replace " + path.string() + ": it is a symbolic link");
    const std::filesystem::path &target = path;
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
