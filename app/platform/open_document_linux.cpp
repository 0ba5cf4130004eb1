// Opening a document on a freedesktop.org desktop: the file is checked here,
// the viewer is looked up with xdg-mime, and xdg-open is started detached so
// that the program never waits for the viewer.
#include "OpenDocument.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <poll.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace platform {
namespace {

// What a helper program left on its standard output.
struct Captured {
    int code = kOpenStarted;  // kOpenStarted when it ran to its end, else a failure code
    int exitStatus = -1;
    std::string out;
};

// The helpers' answers are one short line; more is not a sensible answer.
constexpr std::size_t kMaxCaptured = 64 * 1024;

int codeOfSpawnErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return kOpenNoAssociation;
    case EACCES:
    case EPERM:
        return kOpenAccessDenied;
    case ENOEXEC:
    case ELIBBAD:
        return kOpenBadFormat;
    case ETXTBSY:
        return kOpenSharingViolation;
    case EAGAIN:
    case ENOMEM:
        return kOpenOutOfMemory;
    default:
        return kOpenFailed;
    }
}

std::vector<std::string> splitList(const std::string &list)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start)
            parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string findProgram(const std::string &name, const std::string &searchPath)
{
    for (const std::string &dir : splitList(searchPath)) {
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)
            && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// The environment of the helpers: the process's own, with the search paths
// the lookup was given, so that what they find agrees with what we find.
std::vector<std::string> helperEnvironment(const DesktopSearchPaths &paths)
{
    const std::pair<const char *, const std::string *> overrides[] = {
        {"PATH=", &paths.path},
        {"XDG_DATA_HOME=", &paths.dataHome},
        {"XDG_DATA_DIRS=", &paths.dataDirs},
    };
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        bool replaced = false;
        for (const auto &[prefix, value] : overrides)
            replaced = replaced || (entry.starts_with(prefix) && !value->empty());
        if (!replaced)
            env.emplace_back(entry);
    }
    for (const auto &[prefix, value] : overrides)
        if (!value->empty())
            env.push_back(std::string(prefix) + *value);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> result;
    result.reserve(strings.size() + 1);
    for (std::string &s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads the errno that a child writes to `fd` when its exec fails; 0 when the
// pipe closes without one (the exec succeeded).
int readExecErrno(int fd)
{
    int err = 0;
    ssize_t n;
    do {
        n = ::read(fd, &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

void waitForChild(pid_t pid)
{
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// In a child between fork and exec only async-signal-safe calls are allowed:
// everything is prepared before the fork.
[[noreturn]] void execOrReport(char *const argv[], char *const envp[], int stdoutFd, int errFd)
{
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        if (stdoutFd < 0)
            stdoutFd = devNull;
    }
    if (stdoutFd == STDOUT_FILENO)
        ::fcntl(STDOUT_FILENO, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
    else if (stdoutFd >= 0)
        ::dup2(stdoutFd, STDOUT_FILENO);
    if (envp)
        ::execve(argv[0], argv, envp);
    else
        ::execv(argv[0], argv);
    const int err = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(errFd, &err, sizeof err);
    ::_exit(127);
}

// Runs a helper program, collects its standard output and waits for it, at
// most `timeoutMs`; a helper that takes longer is killed with its children.
Captured runAndCapture(std::vector<std::string> argv, std::vector<std::string> env, int timeoutMs)
{
    Captured result;
    std::vector<char *> argvPtrs = pointers(argv);
    std::vector<char *> envPtrs = pointers(env);

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        const int err = errno;
        closeFd(outPipe[0]);
        closeFd(outPipe[1]);
        result.code = codeOfSpawnErrno(err == EMFILE || err == ENFILE ? EAGAIN : err);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);  // its own group, so a hung helper goes with its children
        execOrReport(argvPtrs.data(), envPtrs.data(), outPipe[1], errPipe[1]);
    }
    const int forkErr = errno;
    closeFd(outPipe[1]);
    closeFd(errPipe[1]);
    if (pid < 0) {
        closeFd(outPipe[0]);
        closeFd(errPipe[0]);
        result.code = codeOfSpawnErrno(forkErr);
        return result;
    }
    ::setpgid(pid, pid);  // also from here: whichever runs first
    const int execErr = readExecErrno(errPipe[0]);
    closeFd(errPipe[0]);
    if (execErr != 0) {
        closeFd(outPipe[0]);
        waitForChild(pid);
        result.code = codeOfSpawnErrno(execErr);
        return result;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remainingMs = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    };
    bool timedOut = false;
    char buffer[4096];
    while (outPipe[0] >= 0) {
        pollfd pfd{outPipe[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remainingMs());
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = ::read(outPipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (result.out.size() < kMaxCaptured)
            result.out.append(buffer, static_cast<std::size_t>(n));
    }
    closeFd(outPipe[0]);

    auto killGroup = [pid] {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    };
    if (timedOut)
        killGroup();
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, timedOut ? 0 : WNOHANG);
        if (done == pid)
            break;
        if (done < 0) {
            if (errno == EINTR)
                continue;
            status = -1;
            break;
        }
        // Still running after closing its output.
        if (remainingMs() > 0) {
            ::usleep(5000);
            continue;
        }
        timedOut = true;
        killGroup();
    }
    if (timedOut) {
        result.code = kOpenTimeout;
        return result;
    }
    result.exitStatus = (status >= 0 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

// The first word of a helper's answer: "text/html; charset=..." or a list of
// desktop entries separated by ';' give their first item.
std::string firstToken(const std::string &text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    const std::size_t end = text.find_first_of(" \t\r\n;", begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string lowerExtension(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext;
}

// Types by extension, for systems whose type sniffer is missing (xdg-mime then
// answers nothing): the documents this program opens.
std::string typeByExtension(const std::string &path)
{
    static const std::pair<std::string_view, std::string_view> known[] = {
        {"chm", "application/vnd.ms-htmlhelp"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"pdf", "application/pdf"},
        {"txt", "text/plain"},
    };
    const std::string ext = lowerExtension(path);
    for (const auto &[e, type] : known)
        if (ext == e)
            return std::string(type);
    return {};
}

// Viewers register a type under any of its names, and xdg-mime compares them
// literally.
std::vector<std::string> typeNames(const std::string &type)
{
    static const std::pair<std::string_view, std::string_view> aliases[] = {
        {"application/vnd.ms-htmlhelp", "application/x-chm"},
    };
    std::vector<std::string> names{type};
    for (const auto &[a, b] : aliases) {
        if (type == a)
            names.emplace_back(b);
        else if (type == b)
            names.emplace_back(a);
    }
    return names;
}

// A desktop entry's id names the file below applications/, with '/' of
// sub-folders written as '-' ("kde4-okular.desktop" may be kde4/okular.desktop).
std::vector<std::string> entryFileNames(const std::string &id)
{
    std::vector<std::string> names{id};
    for (std::size_t pos = id.find('-'); pos != std::string::npos; pos = id.find('-', pos + 1)) {
        std::string name = id;
        name[pos] = '/';
        names.push_back(name);
    }
    std::string allSlashes = id;
    for (char &c : allSlashes)
        c = c == '-' ? '/' : c;
    names.push_back(allSlashes);
    return names;
}

std::string findDesktopEntry(const std::string &id, const DesktopSearchPaths &paths)
{
    if (id.find('/') != std::string::npos || id.empty())
        return {};
    std::vector<std::string> dirs;
    if (!paths.dataHome.empty())
        dirs.push_back(paths.dataHome);
    for (const std::string &d : splitList(paths.dataDirs))
        dirs.push_back(d);
    for (const std::string &dir : dirs) {
        for (const std::string &name : entryFileNames(id)) {
            const std::string file = dir + "/applications/" + name;
            struct stat st {};
            if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                return file;
        }
    }
    return {};
}

// An entry is usable when its [Desktop Entry] group says how to start it.
bool entryCanRun(const std::string &file)
{
    std::ifstream in(file);
    if (!in)
        return false;
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        if (line.starts_with("Exec=") && line.find_first_not_of(" \t", 5) != std::string::npos)
            return true;
        if (line == "DBusActivatable=true")
            return true;
    }
    return false;
}

} // namespace

DesktopSearchPaths DesktopSearchPaths::fromEnvironment()
{
    auto env = [](const char *name) {
        const char *value = std::getenv(name);
        return std::string(value ? value : "");
    };
    DesktopSearchPaths paths;
    paths.path = env("PATH");
    if (paths.path.empty())
        paths.path = "/usr/local/bin:/usr/bin:/bin";
    paths.dataHome = env("XDG_DATA_HOME");
    if (paths.dataHome.empty() && !env("HOME").empty())
        paths.dataHome = env("HOME") + "/.local/share";
    paths.dataDirs = env("XDG_DATA_DIRS");
    if (paths.dataDirs.empty())
        paths.dataDirs = "/usr/local/share:/usr/share";
    return paths;
}

int checkDocumentFile(const std::string &file, std::string *absolutePath)
{
    if (file.empty())
        return kOpenFileNotFound;
    std::string path = file;
    if (path.front() != '/') {
        std::vector<char> cwd(4096);
        while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE)
                return errno == ENOENT ? kOpenPathNotFound
                     : errno == EACCES ? kOpenAccessDenied : kOpenFailed;
            cwd.resize(cwd.size() * 2);
        }
        path = std::string(cwd.data()) + (cwd[1] == '\0' ? "" : "/") + file;
    }

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        switch (errno) {
        case ENOENT: {
            // Missing file or missing folder: the folder the file would be in
            // tells which.
            const std::size_t slash = path.rfind('/');
            const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
            struct stat pst {};
            return ::stat(parent.c_str(), &pst) == 0 && S_ISDIR(pst.st_mode) ? kOpenFileNotFound
                                                                             : kOpenPathNotFound;
        }
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG:
            return kOpenPathNotFound;
        case EACCES:
        case EPERM:
            return kOpenAccessDenied;
        case ENOMEM:
            return kOpenOutOfMemory;
        default:
            return kOpenFailed;
        }
    }

    // The viewer runs as this user: if we cannot read the file, neither can it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
            return kOpenAccessDenied;
        case ETXTBSY:
        case EBUSY:
        case EWOULDBLOCK:
            return kOpenSharingViolation;
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return kOpenOutOfMemory;
        default:
            return kOpenFailed;
        }
    }
    ::close(fd);
    if (absolutePath)
        *absolutePath = path;
    return kOpenStarted;
}

DocumentHandler findDesktopHandler(const std::string &absolutePath, const DesktopSearchPaths &paths)
{
    DocumentHandler none;
    none.code = kOpenNoAssociation;
    const std::string opener = findProgram("xdg-open", paths.path);
    const std::string mimeTool = findProgram("xdg-mime", paths.path);
    if (opener.empty() || mimeTool.empty())
        return none;
    const std::vector<std::string> env = helperEnvironment(paths);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(paths.lookupTimeoutMs);
    auto query = [&](std::vector<std::string> argv) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Captured{kOpenTimeout, -1, {}};
        return runAndCapture(std::move(argv), env, static_cast<int>(left));
    };

    std::string type;
    {
        const Captured c = query({mimeTool, "query", "filetype", absolutePath});
        if (c.code == kOpenTimeout)
            return {kOpenTimeout, {}};
        if (c.code == kOpenStarted && c.exitStatus == 0)
            type = firstToken(c.out);
        // A sniffer that could not tell says so with a generic type.
        if (type.empty() || type == "application/octet-stream")
            type = typeByExtension(absolutePath);
    }
    if (type.empty())
        return none;

    std::string entry;
    for (const std::string &name : typeNames(type)) {
        const Captured c = query({mimeTool, "query", "default", name});
        if (c.code == kOpenTimeout)
            return {kOpenTimeout, {}};
        if (c.code == kOpenStarted && c.exitStatus == 0)
            entry = firstToken(c.out);
        if (!entry.empty())
            break;
    }
    if (entry.empty())
        return none;

    const std::string entryFile = findDesktopEntry(entry, paths);
    if (entryFile.empty() || !entryCanRun(entryFile))
        return {kOpenAssociationIncomplete, {}};
    return {kOpenStarted, {opener}};
}

int launchDetached(const std::vector<std::string> &argv)
{
    if (argv.empty() || argv.front().empty() || argv.front().front() != '/')
        return kOpenNoAssociation;
    std::vector<std::string> args = argv;
    std::vector<char *> argvPtrs = pointers(args);

    int errPipe[2] = {-1, -1};
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        return kOpenOutOfMemory;
    // Fork twice: the middle process ends at once and is reaped here, so the
    // viewer is adopted by init and never waited for nor left as a zombie.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const pid_t viewer = ::fork();
        if (viewer < 0) {
            const int err = errno;
            [[maybe_unused]] const ssize_t ignored = ::write(errPipe[1], &err, sizeof err);
            ::_exit(1);
        }
        if (viewer > 0)
            ::_exit(0);
        execOrReport(argvPtrs.data(), nullptr, -1, errPipe[1]);
    }
    const int forkErr = errno;
    closeFd(errPipe[1]);
    if (pid < 0) {
        closeFd(errPipe[0]);
        return codeOfSpawnErrno(forkErr);
    }
    waitForChild(pid);
    // The write end closes when the viewer's exec succeeds or both children
    // have ended, so this read returns at once after that.
    const int err = readExecErrno(errPipe[0]);
    closeFd(errPipe[0]);
    return err == 0 ? kOpenStarted : codeOfSpawnErrno(err);
}

int OpenDocument(const std::string &file, const OpenDocumentHooks &hooks)
{
    try {
        std::string absolutePath;
        const int checked = checkDocumentFile(file, &absolutePath);
        if (!openDocumentStarted(checked))
            return checked;
        const DocumentHandler handler =
            hooks.findHandler ? hooks.findHandler(absolutePath)
                              : findDesktopHandler(absolutePath, DesktopSearchPaths::fromEnvironment());
        if (!openDocumentStarted(handler.code))
            return handler.code;
        if (handler.command.empty())
            return kOpenNoAssociation;
        std::vector<std::string> argv = handler.command;
        argv.push_back(absolutePath);
        return hooks.launch ? hooks.launch(argv) : launchDetached(argv);
    } catch (const std::bad_alloc &) {
        return kOpenOutOfMemory;
    }
}

int OpenDocument(const std::string &file)
{
    return OpenDocument(file, OpenDocumentHooks{});
}

} // namespace platform
