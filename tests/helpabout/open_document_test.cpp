// OpenDocument: every result code the file checks and the desktop lookup
// give, against stand-ins for the xdg tools on PATH, and the detached start,
// without ever starting a real viewer.
#include "platform/OpenDocument.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                | fs::perms::others_read | fs::perms::others_exec;

void writeFile(const fs::path &file, const std::string &content,
               fs::perms mode = fs::perms::owner_read | fs::perms::owner_write)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    fs::permissions(file, mode);
}

std::string readFile(const fs::path &file)
{
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// A desktop in a private temporary folder: bin/ is the whole PATH (empty
// until a test puts stand-ins for xdg-mime and xdg-open there), data/ the
// user's XDG data folder, and main.chm a help file.
class FakeDesktop {
public:
    FakeDesktop()
    {
        std::string pattern = (fs::temp_directory_path() / "opendoc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        dir = pattern;
        fs::permissions(dir, kExecutable);  // "nobody" must get in
        fs::create_directories(dir / "bin");
        document = dir / "main.chm";
        writeFile(document, "ITSF");
        save("PATH", (dir / "bin").string());
        save("XDG_DATA_HOME", (dir / "data").string());
    }
    ~FakeDesktop()
    {
        for (const auto &[name, value] : saved_)
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        std::error_code ec;
        // Folders locked by a test must be opened up to be removed.
        for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }

    // xdg-mime naming `entry` as the default for the type `type` only.
    void mimeTool(const std::string &type, const std::string &entry)
    {
        writeFile(dir / "bin" / "xdg-mime",
                  "#!/bin/sh\n[ \"$1 $2 $3\" = 'query default " + type + "' ] && echo '" + entry + "'\nexit 0\n",
                  kExecutable);
    }
    // xdg-open that records its arguments and then stays, like a viewer.
    void opener(const std::string &script = {})
    {
        writeFile(dir / "bin" / "xdg-open",
                  script.empty() ? "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + marker().string() + ".tmp'\n"
                                   "/bin/mv '" + marker().string() + ".tmp' '" + marker().string() + "'\n"
                                   "exec /bin/sleep 3 2>/dev/null\n"
                                 : script,
                  kExecutable);
    }
    void entry(const std::string &relative, const std::string &content)
    {
        writeFile(dir / "data" / "applications" / relative, content);
    }
    fs::path marker() const { return dir / "opened.txt"; }
    int open(const fs::path &file, int timeoutMs = 3000) const { return OpenDocument(file.string(), timeoutMs); }

    fs::path dir;
    fs::path document;

private:
    void save(const char *name, const std::string &value)
    {
        const char *old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name, value.c_str(), 1);
    }
    std::vector<std::pair<const char *, std::optional<std::string>>> saved_;
};

const char kChmType[] = "application/vnd.ms-htmlhelp";
const char kViewerEntry[] = "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n";

// Runs `body` in a child process and returns its exit code, -1 when it did
// not exit normally.
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

// --- The file checks (nothing opens a file there: a file that passes gives 31)

TEST(OpenDocumentFile, MissingFileOrFolder)
{
    FakeDesktop desktop;
    const fs::path &dir = desktop.dir;
    EXPECT_EQ(desktop.open(dir / "gone.chm"), kOpenFileNotFound);
    EXPECT_EQ(OpenDocument("", 3000), kOpenFileNotFound);
    fs::create_symlink(dir / "gone.chm", dir / "dangling.chm");
    EXPECT_EQ(desktop.open(dir / "dangling.chm"), kOpenFileNotFound);

    EXPECT_EQ(desktop.open(dir / "help" / "main.chm"), kOpenPathNotFound);
    EXPECT_EQ(desktop.open(dir / "a" / "b" / "main.chm"), kOpenPathNotFound);
    EXPECT_EQ(desktop.open(dir / "main.chm" / "main.chm"), kOpenPathNotFound) << "a file where a folder should be";

    CurrentDir here(dir);
    EXPECT_EQ(OpenDocument("gone.chm", 3000), kOpenFileNotFound);
    EXPECT_EQ(OpenDocument("help/main.chm", 3000), kOpenPathNotFound);
    EXPECT_EQ(OpenDocument("main.chm", 3000), kOpenNoAssociation) << "there, and relative to the working folder";
}

TEST(OpenDocumentFile, RemovedWorkingFolderGives3)
{
    FakeDesktop desktop;
    const fs::path gone = desktop.dir / "gone";
    fs::create_directory(gone);
    EXPECT_EQ(inChild([&] {
                  if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0)
                      return 200;
                  return OpenDocument("main.chm", 3000);
              }),
              kOpenPathNotFound);
}

// Reading is denied by mode bits; root passes them, so as root the check runs
// in a child that has given up root for the unprivileged user "nobody".
TEST(OpenDocumentFile, UnreadableFileOrFolderGives5)
{
    FakeDesktop desktop;
    fs::permissions(desktop.document, fs::perms::none);
    const fs::path locked = desktop.dir / "locked";
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
        if (std::ifstream(desktop.document).good())
            return 202;  // still readable: mode bits do not bind this user
        const int unreadable = OpenDocument(desktop.document.string(), 3000);
        const int unsearchable = OpenDocument((locked / "main.chm").string(), 3000);
        return unreadable == unsearchable ? unreadable : 203;
    });
    if (code == 200)
        GTEST_SKIP() << "running as root and cannot switch to the user nobody to lose the read right";
    if (code == 202)
        GTEST_SKIP() << "this user reads files whatever their mode (a capability such as CAP_DAC_OVERRIDE)";
    EXPECT_EQ(code, kOpenAccessDenied);
}

// --- The desktop's viewer ------------------------------------------------------

TEST(DesktopViewer, NoOpenerOrNoViewerForTheTypeGives31)
{
    FakeDesktop desktop;
    desktop.mimeTool(kChmType, "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    EXPECT_EQ(desktop.open(desktop.document), kOpenNoAssociation) << "no xdg-open";

    desktop.opener();
    desktop.mimeTool("text/html", "browser.desktop");
    desktop.entry("browser.desktop", kViewerEntry);
    EXPECT_EQ(desktop.open(desktop.document), kOpenNoAssociation) << "a viewer for another type";
    desktop.mimeTool("application/octet-stream", "hexeditor.desktop");
    desktop.entry("hexeditor.desktop", kViewerEntry);
    writeFile(desktop.dir / "data.unknownext", std::string("\x01\x02\x03", 3));
    EXPECT_EQ(desktop.open(desktop.dir / "data.unknownext"), kOpenNoAssociation) << "a type nobody knows";
    EXPECT_FALSE(fs::exists(desktop.marker())) << "xdg-open was started";
}

TEST(DesktopViewer, NamedViewerThatCannotRunGives27)
{
    FakeDesktop desktop;
    desktop.opener();
    desktop.mimeTool(kChmType, "uninstalled.desktop");
    EXPECT_EQ(desktop.open(desktop.document), kOpenAssociationIncomplete);
    desktop.mimeTool(kChmType, "viewer.desktop");
    desktop.entry("viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\n[Desktop Action x]\nExec=x\n");
    EXPECT_EQ(desktop.open(desktop.document), kOpenAssociationIncomplete) << "an entry without a command";
    desktop.mimeTool(kChmType, "../viewer.desktop");
    EXPECT_EQ(desktop.open(desktop.document), kOpenAssociationIncomplete) << "an id that is a path";
    EXPECT_FALSE(fs::exists(desktop.marker())) << "xdg-open was started";
}

TEST(DesktopViewer, HungLookupGives28)
{
    FakeDesktop desktop;
    desktop.opener();
    writeFile(desktop.dir / "bin" / "xdg-mime", "#!/bin/sh\nexec /bin/sleep 20\n", kExecutable);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(desktop.open(desktop.document, 300), kOpenTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// Viewers often register the older name of the help file's type, and entries
// in sub-folders have ids with '-'.
TEST(DesktopViewer, ViewerFoundByTheTypesOtherNameOrInASubfolder)
{
    FakeDesktop desktop;
    desktop.opener("#!/bin/sh\nexit 0\n");
    desktop.mimeTool("application/x-chm", "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    EXPECT_EQ(desktop.open(desktop.document), kOpenStarted);
    desktop.mimeTool(kChmType, "vendor-dbus-viewer.desktop");
    desktop.entry("vendor/dbus-viewer.desktop", "[Desktop Entry]\nName=Mine\nDBusActivatable=true\n");
    EXPECT_EQ(desktop.open(desktop.document), kOpenStarted);
}

TEST(DesktopViewer, OpenerGetsTheAbsoluteNameAndIsNotWaitedFor)
{
    FakeDesktop desktop;
    desktop.opener();  // stays 3 s
    desktop.mimeTool(kChmType, "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    CurrentDir here(desktop.dir);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(OpenDocument("main.chm"), kOpenStarted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    // The opener is nobody's child here, so it never becomes a zombie of ours.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    for (int i = 0; i < 100 && !fs::exists(desktop.marker()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(readFile(desktop.marker()), desktop.document.string() + "\n");
}

TEST(DesktopViewer, OpenerThatIsNoProgramGives11)
{
    FakeDesktop desktop;
    desktop.opener(std::string("\x01\x02garbage", 9));
    desktop.mimeTool(kChmType, "viewer.desktop");
    desktop.entry("viewer.desktop", kViewerEntry);
    EXPECT_EQ(desktop.open(desktop.document), kOpenBadFormat);
}

// --- Which file, and the messages ------------------------------------------------

TEST(FirstExistingDocument, FirstThatExistsElseTheFirst)
{
    FakeDesktop desktop;
    const std::string missing = (desktop.dir / "gone.chm").string();
    const std::string there = desktop.document.string();
    EXPECT_EQ(firstExistingDocument({missing, there, there + "2"}), there);
    EXPECT_EQ(firstExistingDocument({missing, missing + "2"}), missing);
    EXPECT_EQ(firstExistingDocument({}), "");
}

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
    EXPECT_TRUE(openDocumentStarted(kOpenStarted));
    EXPECT_FALSE(openDocumentStarted(32));
}

TEST(OpenDocumentErrorText, ViewerAdviceOnlyWhereNoViewerWasFound)
{
    const std::string advice = "To read the help, install the package xchm (a CHM viewer).";
    EXPECT_EQ(openDocumentViewerAdvice(kOpenNoAssociation), advice);
    EXPECT_EQ(openDocumentViewerAdvice(kOpenAssociationIncomplete), advice);
    for (const int other : {kOpenFileNotFound, kOpenAccessDenied, kOpenBadFormat, kOpenTimeout, kOpenStarted})
        EXPECT_TRUE(openDocumentViewerAdvice(other).empty()) << other;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);  // as in the program, whose window thread runs the lookup
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
