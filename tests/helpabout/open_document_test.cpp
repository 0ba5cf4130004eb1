// OpenDocument: every result code, the desktop lookup against stand-ins for
// the xdg tools, and the detached start, without ever starting a real viewer.
#include "platform/OpenDocument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

// A private folder below the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "opendoc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                   | fs::perms::others_read | fs::perms::others_exec);
    }
    ~TempDir()
    {
        std::error_code ec;
        // Folders made unsearchable by a test must be opened up to be removed.
        for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

void writeFile(const fs::path &file, const std::string &content, fs::perms mode = fs::perms::owner_read | fs::perms::owner_write)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    fs::permissions(file, mode);
}

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                | fs::perms::others_read | fs::perms::others_exec;

std::string readFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Hooks that fail the test when the file checks should have ended the call.
OpenDocumentHooks unreachableHooks()
{
    OpenDocumentHooks hooks;
    hooks.findHandler = [](const std::string &) {
        ADD_FAILURE() << "handler looked up for a file that cannot be opened";
        return DocumentHandler{kOpenStarted, {"/bin/false"}};
    };
    hooks.launch = [](const std::vector<std::string> &) {
        ADD_FAILURE() << "viewer started for a file that cannot be opened";
        return kOpenStarted;
    };
    return hooks;
}

// Runs `body` in a child process and returns its exit code, or -1 when the
// child did not exit normally.
template <typename Body>
int inChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CurrentDir {
public:
    explicit CurrentDir(const fs::path &dir) : saved_(fs::current_path()) { fs::current_path(dir); }
    ~CurrentDir() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

} // namespace

// --- The file checks --------------------------------------------------------

TEST(OpenDocumentFile, MissingFileGives2)
{
    TempDir dir;
    EXPECT_EQ(OpenDocument((dir.path() / "main.chm").string(), unreachableHooks()), kOpenFileNotFound);
    CurrentDir here(dir.path());
    EXPECT_EQ(OpenDocument("main.chm", unreachableHooks()), 2);
    EXPECT_EQ(OpenDocument("", unreachableHooks()), 2);
}

TEST(OpenDocumentFile, DanglingLinkGives2)
{
    TempDir dir;
    fs::create_symlink(dir.path() / "gone.chm", dir.path() / "main.chm");
    EXPECT_EQ(OpenDocument((dir.path() / "main.chm").string(), unreachableHooks()), 2);
}

TEST(OpenDocumentFile, MissingFolderGives3)
{
    TempDir dir;
    EXPECT_EQ(OpenDocument((dir.path() / "help" / "main.chm").string(), unreachableHooks()), kOpenPathNotFound);
    EXPECT_EQ(OpenDocument((dir.path() / "a" / "b" / "main.chm").string(), unreachableHooks()), 3);
    CurrentDir here(dir.path());
    EXPECT_EQ(OpenDocument("help/main.chm", unreachableHooks()), 3);
}

TEST(OpenDocumentFile, FileWhereAFolderShouldBeGives3)
{
    TempDir dir;
    writeFile(dir.path() / "help", "not a folder");
    EXPECT_EQ(OpenDocument((dir.path() / "help" / "main.chm").string(), unreachableHooks()), 3);
}

TEST(OpenDocumentFile, RemovedWorkingFolderGives3)
{
    TempDir dir;
    const fs::path gone = dir.path() / "gone";
    fs::create_directory(gone);
    const int code = inChild([&] {
        if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0)
            return 200;
        return OpenDocument("main.chm", unreachableHooks());
    });
    EXPECT_EQ(code, 3);
}

// Reading is denied by mode bits; root passes them, so as root the check runs
// in a child that has given up root for the unprivileged user "nobody".
TEST(OpenDocumentFile, UnreadableFileGives5)
{
    TempDir dir;
    const fs::path file = dir.path() / "main.chm";
    writeFile(file, "ITSF", fs::perms::none);
    const fs::path locked = dir.path() / "locked";
    writeFile(locked / "main.chm", "ITSF");
    fs::permissions(locked, fs::perms::owner_all);  // no search right for others

    const bool root = ::geteuid() == 0;
    const int code = inChild([&] {
        if (root) {
            const uid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                return 200;
        } else if (::chmod(locked.c_str(), 0) != 0) {
            return 201;
        }
        if (std::ifstream(file).good())
            return 202;  // still readable: mode bits do not bind this user
        const int unreadable = OpenDocument(file.string(), unreachableHooks());
        const int unsearchable = OpenDocument((locked / "main.chm").string(), unreachableHooks());
        return unreadable == unsearchable ? unreadable : 203;
    });
    if (code == 200)
        GTEST_SKIP() << "running as root and cannot switch to the user nobody to lose the read right";
    if (code == 202)
        GTEST_SKIP() << "this user reads files whatever their mode (a capability such as CAP_DAC_OVERRIDE)";
    EXPECT_EQ(code, kOpenAccessDenied);
}

TEST(OpenDocumentFile, RelativeNameIsTakenFromTheWorkingFolder)
{
    TempDir dir;
    writeFile(dir.path() / "main.chm", "ITSF");
    CurrentDir here(dir.path());
    std::vector<std::string> started;
    OpenDocumentHooks hooks;
    hooks.findHandler = [](const std::string &absolutePath) {
        EXPECT_EQ(absolutePath, (fs::current_path() / "main.chm").string());
        return DocumentHandler{kOpenStarted, {"/opt/viewer", "--flag"}};
    };
    hooks.launch = [&](const std::vector<std::string> &argv) {
        started = argv;
        return 42;
    };
    EXPECT_EQ(OpenDocument("main.chm", hooks), 42);
    const std::vector<std::string> expected{"/opt/viewer", "--flag", (dir.path() / "main.chm").string()};
    EXPECT_EQ(started, expected);
}

TEST(OpenDocumentFile, HandlerFailurePassesThrough)
{
    TempDir dir;
    writeFile(dir.path() / "main.chm", "ITSF");
    for (const int failure : {kOpenNoAssociation, kOpenAssociationIncomplete, kOpenTimeout}) {
        OpenDocumentHooks hooks;
        hooks.findHandler = [failure](const std::string &) { return DocumentHandler{failure, {}}; };
        hooks.launch = [](const std::vector<std::string> &) {
            ADD_FAILURE() << "started without a handler";
            return kOpenStarted;
        };
        EXPECT_EQ(OpenDocument((dir.path() / "main.chm").string(), hooks), failure);
    }
    OpenDocumentHooks empty;
    empty.findHandler = [](const std::string &) { return DocumentHandler{kOpenStarted, {}}; };
    EXPECT_EQ(OpenDocument((dir.path() / "main.chm").string(), empty), kOpenNoAssociation);
}

// --- The desktop lookup, against stand-ins for the xdg tools ----------------

namespace {

// A desktop in a folder: bin/ with stand-in xdg-mime and xdg-open, data/ and
// data2/ as the XDG data folders.
class FakeDesktop {
public:
    FakeDesktop()
    {
        paths.path = (dir.path() / "bin").string();
        paths.dataHome = (dir.path() / "data").string();
        paths.dataDirs = (dir.path() / "data2").string() + ":" + (dir.path() / "missing").string();
        paths.lookupTimeoutMs = 3000;
        fs::create_directories(dir.path() / "bin");
        document = dir.path() / "main.chm";
        writeFile(document, "ITSF");
    }

    // xdg-mime answering `type` for every file and `entry` for `defaultFor`.
    void mimeTool(const std::string &type, const std::string &defaultFor, const std::string &entry)
    {
        writeFile(dir.path() / "bin" / "xdg-mime",
                  "#!/bin/sh\n"
                  "if [ \"$1 $2\" = 'query filetype' ]; then\n"
                  "  printf '%s\\n' '" + type + "'\n"
                  "elif [ \"$1 $2\" = 'query default' ] && [ \"$3\" = '" + defaultFor + "' ]; then\n"
                  "  printf '%s\\n' '" + entry + "'\n"
                  "fi\n",
                  kExecutable);
    }
    void rawMimeTool(const std::string &script) { writeFile(dir.path() / "bin" / "xdg-mime", script, kExecutable); }

    // xdg-open that records its arguments and then stays, like a viewer.
    void opener()
    {
        marker = dir.path() / "opened.txt";
        writeFile(dir.path() / "bin" / "xdg-open",
                  "#!/bin/sh\n"
                  "printf '%s\\n' \"$@\" > '" + marker.string() + ".tmp'\n"
                  "/bin/mv '" + marker.string() + ".tmp' '" + marker.string() + "'\n"
                  "exec /bin/sleep 3 >/dev/null 2>&1\n",
                  kExecutable);
    }

    void entry(const std::string &relative, const std::string &content, bool inDataHome = false)
    {
        writeFile(dir.path() / (inDataHome ? "data" : "data2") / "applications" / relative, content);
    }

    TempDir dir;
    DesktopSearchPaths paths;
    fs::path document;
    fs::path marker;
};

const char kViewerEntry[] = "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n";

} // namespace

TEST(DesktopHandler, NoOpenerGives31)
{
    FakeDesktop desktop;
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, kOpenNoAssociation);

    // The same through OpenDocument: the file is there, nothing opens it.
    OpenDocumentHooks hooks;
    hooks.findHandler = [&](const std::string &file) { return findDesktopHandler(file, desktop.paths); };
    hooks.launch = [](const std::vector<std::string> &) {
        ADD_FAILURE() << "started without an opener";
        return kOpenStarted;
    };
    EXPECT_EQ(OpenDocument(desktop.document.string(), hooks), 31);
}

TEST(DesktopHandler, NoViewerForTheTypeGives31)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "text/html", "browser.desktop");
    desktop.entry("browser.desktop", kViewerEntry);
    const DocumentHandler handler = findDesktopHandler(desktop.document.string(), desktop.paths);
    EXPECT_EQ(handler.code, kOpenNoAssociation);
    EXPECT_TRUE(handler.command.empty());
}

TEST(DesktopHandler, UnknownTypeGives31)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("", "application/octet-stream", "hexeditor.desktop");
    desktop.entry("hexeditor.desktop", kViewerEntry);
    writeFile(desktop.dir.path() / "data.unknownext", "x");
    EXPECT_EQ(findDesktopHandler((desktop.dir.path() / "data.unknownext").string(), desktop.paths).code, 31);
}

TEST(DesktopHandler, NamedViewerWithoutEntryGives27)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "uninstalled.desktop");
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, kOpenAssociationIncomplete);
}

TEST(DesktopHandler, EntryWithoutCommandGives27)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "viewer.desktop");
    desktop.entry("viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\n[Desktop Action x]\nExec=x\n");
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, 27);
}

TEST(DesktopHandler, HungLookupGives28)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.rawMimeTool("#!/bin/sh\nexec /bin/sleep 20\n");
    desktop.paths.lookupTimeoutMs = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, kOpenTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(DesktopHandler, ViewerFoundGivesTheOpener)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    const DocumentHandler handler = findDesktopHandler(desktop.document.string(), desktop.paths);
    EXPECT_EQ(handler.code, kOpenStarted);
    const std::vector<std::string> expected{(desktop.dir.path() / "bin" / "xdg-open").string()};
    EXPECT_EQ(handler.command, expected);
}

TEST(DesktopHandler, EntriesInSubfoldersAndInTheUsersFolderAreFound)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "vendor-viewer.desktop");
    desktop.entry("vendor/viewer.desktop", kViewerEntry);
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, kOpenStarted);

    FakeDesktop mine;
    mine.opener();
    mine.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "mine.desktop");
    mine.entry("mine.desktop", "[Desktop Entry]\nName=Mine\nDBusActivatable=true\n", true);
    EXPECT_EQ(findDesktopHandler(mine.document.string(), mine.paths).code, kOpenStarted);
}

// Viewers often register the older name of the help file type.
TEST(DesktopHandler, ViewerRegisteredUnderTheTypesOtherNameIsFound)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/x-chm", "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, kOpenStarted);
}

// Without a type sniffer xdg-mime names no type; the extension still tells.
TEST(DesktopHandler, TypeFromTheExtensionWhenTheSnifferSaysNothing)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("", "application/vnd.ms-htmlhelp", "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    EXPECT_EQ(findDesktopHandler(desktop.document.string(), desktop.paths).code, kOpenStarted);
}

TEST(DesktopHandler, OpenerIsStartedWithTheDocumentAndNotWaitedFor)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool("application/vnd.ms-htmlhelp", "application/vnd.ms-htmlhelp", "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    OpenDocumentHooks hooks;
    hooks.findHandler = [&](const std::string &file) { return findDesktopHandler(file, desktop.paths); };

    CurrentDir here(desktop.dir.path());
    const auto start = std::chrono::steady_clock::now();
    const int code = OpenDocument("main.chm", hooks);  // launch: the real detached start
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(code, 32);
    EXPECT_LT(took, std::chrono::milliseconds(2500)) << "waited for the viewer, which stays 3 s";

    for (int i = 0; i < 100 && !fs::exists(desktop.marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(readFile(desktop.marker), desktop.document.string() + "\n");
}

namespace {

// Sets or unsets environment variables for one scope.
class EnvironmentOverride {
public:
    void set(const char *name, const char *value)
    {
        const char *old = std::getenv(name);
        saved_.push_back({name, old != nullptr, old ? old : ""});
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvironmentOverride()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->wasSet)
                ::setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                ::unsetenv(it->name.c_str());
        }
    }

private:
    struct Saved {
        std::string name;
        bool wasSet;
        std::string value;
    };
    std::vector<Saved> saved_;
};

} // namespace

TEST(DesktopSearchPaths, DefaultsFollowTheXdgRules)
{
    EnvironmentOverride env;
    env.set("HOME", "/home/operator");
    env.set("XDG_DATA_HOME", nullptr);
    env.set("XDG_DATA_DIRS", nullptr);
    const DesktopSearchPaths paths = DesktopSearchPaths::fromEnvironment();
    EXPECT_EQ(paths.dataHome, "/home/operator/.local/share");
    EXPECT_EQ(paths.dataDirs, "/usr/local/share:/usr/share");
    EXPECT_FALSE(paths.path.empty());

    env.set("XDG_DATA_HOME", "/data/home");
    env.set("XDG_DATA_DIRS", "/a:/b");
    env.set("PATH", "/only/here");
    const DesktopSearchPaths given = DesktopSearchPaths::fromEnvironment();
    EXPECT_EQ(given.dataHome, "/data/home");
    EXPECT_EQ(given.dataDirs, "/a:/b");
    EXPECT_EQ(given.path, "/only/here");
}

// --- The detached start ------------------------------------------------------

TEST(LaunchDetached, Outcomes)
{
    TempDir dir;
    EXPECT_GT(launchDetached({"/bin/true"}), 32);
    EXPECT_EQ(launchDetached({(dir.path() / "no-such-program").string()}), kOpenNoAssociation);
    EXPECT_EQ(launchDetached({"true"}), kOpenNoAssociation) << "relative program names are refused";
    EXPECT_EQ(launchDetached({}), kOpenNoAssociation);

    writeFile(dir.path() / "not-executable", "#!/bin/sh\n", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(launchDetached({(dir.path() / "not-executable").string()}), kOpenAccessDenied);

    writeFile(dir.path() / "no-program", std::string("\x01\x02garbage", 9), kExecutable);
    EXPECT_EQ(launchDetached({(dir.path() / "no-program").string()}), kOpenBadFormat);
}

TEST(LaunchDetached, LeavesNoChildBehind)
{
    // Silent, so that it does not hold the test's output open after the test.
    EXPECT_GT(launchDetached({"/bin/sh", "-c", "exec /bin/sleep 1 >/dev/null 2>&1"}), 32);
    // The viewer belongs to init, the middle process has been reaped.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// --- The messages ------------------------------------------------------------

TEST(OpenDocumentErrorText, EveryCodeOfTheTable)
{
    EXPECT_EQ(openDocumentErrorText(2), "The specified file was not found.");
    EXPECT_EQ(openDocumentErrorText(3), "The specified path was not found.");
    EXPECT_EQ(openDocumentErrorText(11), "The .exe file is invalid (non-Win32R .exe or error in .exe image).");
    EXPECT_EQ(openDocumentErrorText(5), "The operating system denied access to the specified file.");
    EXPECT_EQ(openDocumentErrorText(26), "The operating system denied access to the specified file.");
    const std::string association =
        "The file name association is incomplete or invalid. "
        "There is no application associated with the given file name extension.";
    EXPECT_EQ(openDocumentErrorText(27), association);
    EXPECT_EQ(openDocumentErrorText(31), association);
    for (const int other : {-1, 0, 1, 4, 6, 8, 10, 12, 25, 28, 29, 30, 32})
        EXPECT_EQ(openDocumentErrorText(other), "Open Dalvora Help Error!") << other;
    for (const int started : {33, 42, 1000})
        EXPECT_TRUE(openDocumentErrorText(started).empty()) << started;
}

TEST(OpenDocumentErrorText, EveryFailureCodeHasAText)
{
    for (const int code : {kOpenFailed, kOpenFileNotFound, kOpenPathNotFound, kOpenAccessDenied, kOpenOutOfMemory,
                           kOpenBadFormat, kOpenSharingViolation, kOpenAssociationIncomplete, kOpenTimeout,
                           kOpenNoAssociation})
        EXPECT_FALSE(openDocumentErrorText(code).empty()) << code;
    EXPECT_TRUE(openDocumentStarted(kOpenStarted));
    EXPECT_FALSE(openDocumentStarted(32));
}
