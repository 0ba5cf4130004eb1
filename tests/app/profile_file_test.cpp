// The INI layer: private-profile reading and writing of single keys, and the
// atomic replacement of the file.
#include <gtest/gtest.h>

#include "platform/ProfileFile.h"
#include "platform/ReplaceFile.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using platform::inspectFileTarget;
using platform::readProfileInt;
using platform::readProfileString;
using platform::readProfileSection;
using platform::replaceFileContents;
using platform::writeProfileString;
using platform::writeProfileSection;
using platform::writeProfileStrings;

namespace {

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override
    {
#if defined(_WIN32)
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = fs::temp_directory_path() / ("profile_test." + std::to_string(stamp));
        ASSERT_TRUE(fs::create_directory(dir));
#else
        char pattern[] = "/tmp/profile_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
#endif
        path = dir / "option.ini";
    }
    void TearDown() override { fs::remove_all(dir); }

    void put(const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string contents() const
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::size_t entries() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
    fs::path path;
};

TEST_F(ProfileFile, ReadsIntegersAndFallsBackToTheDefault)
{
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 7), 7) << "missing file";
    EXPECT_FALSE(fs::exists(path)) << "reading never creates the file";

    put("; saved options\n"
        "[other]\nSNumber=99\n"
        "[Option]\n"
        "  snumber =  12  \n"
        "STimeOut=-5\n"
        "Big=2147483648\n"
        "Min=-2147483648\n"
        "Word=12abc\n"
        "Empty=\n"
        "Hex=0x10\n"
        "Quoted=\"42\"\n"
        "; STimeOut=1\n"
        "[option]\nMore=1\n");
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 0), 12) << "names compare without case";
    EXPECT_EQ(readProfileInt(path, "option", "STimeOut", 2000), -5);
    EXPECT_EQ(readProfileInt(path, "option", "Big", 3), 3) << "beyond the signed 32-bit range";
    EXPECT_EQ(readProfileInt(path, "option", "Min", 3), -2147483647 - 1);
    EXPECT_EQ(readProfileInt(path, "option", "Word", 3), 12) << "the leading number";
    EXPECT_EQ(readProfileInt(path, "option", "Empty", 3), 3);
    EXPECT_EQ(readProfileInt(path, "option", "Hex", 3), 0) << "decimal only: the leading 0";
    EXPECT_EQ(readProfileInt(path, "option", "Quoted", 3), 42);
    EXPECT_EQ(readProfileInt(path, "option", "Missing", 3), 3);
    EXPECT_EQ(readProfileInt(path, "nosuch", "SNumber", 3), 3);
    EXPECT_EQ(readProfileInt(path, "option", "More", 3), 3) << "only the first section of a name counts";
}

TEST_F(ProfileFile, CreatesTheFileWithSectionAndKeysInOrder)
{
    ASSERT_TRUE(writeProfileStrings(path, "option", {{"SNumber", "0"}, {"STimeOut", "2000"}}));
#if defined(_WIN32)
    EXPECT_EQ(contents(), "[option]\r\nSNumber=0\r\nSTimeOut=2000\r\n");
#else
    EXPECT_EQ(contents(), "[option]\nSNumber=0\nSTimeOut=2000\n");
#endif
    EXPECT_EQ(readProfileInt(path, "option", "STimeOut", 1), 2000);
}

TEST_F(ProfileFile, RewriteKeepsCommentsOtherSectionsKeysAndOrder)
{
    const std::string before = "; Options of the search program\r\n"
                               "[window]\r\n"
                               "Left=10\r\n"
                               "\r\n"
                               "[OPTION]\r\n"
                               "# hand-written note\r\n"
                               "STimeOut = 1500\r\n"
                               "Colour=blue\r\n"
                               "SNumber=3\r\n"
                               "\r\n"
                               "[last]\r\n"
                               "Key=value\r\n";
    put(before);
    ASSERT_TRUE(writeProfileStrings(path, "option", {{"SNumber", "8"}, {"STimeOut", "700"}}));
    EXPECT_EQ(contents(), "; Options of the search program\r\n"
                          "[window]\r\n"
                          "Left=10\r\n"
                          "\r\n"
                          "[OPTION]\r\n"
                          "# hand-written note\r\n"
                          "STimeOut=700\r\n"
                          "Colour=blue\r\n"
                          "SNumber=8\r\n"
                          "\r\n"
                          "[last]\r\n"
                          "Key=value\r\n");

    // A new key joins the end of its section, before the blank line.
    ASSERT_TRUE(writeProfileString(path, "window", "Top", "20"));
    EXPECT_NE(contents().find("Left=10\r\nTop=20\r\n\r\n[OPTION]"), std::string::npos);
    // A new section goes to the end of the file.
    ASSERT_TRUE(writeProfileString(path, "extra", "A", "1"));
    EXPECT_NE(contents().find("Key=value\r\n[extra]\r\nA=1\r\n"), std::string::npos);
}

TEST_F(ProfileFile, ReplacesTheFileAtomically)
{
    put("[option]\nSNumber=1\n");
#if !defined(_WIN32)
    chmod(path.c_str(), 0640);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
#endif

    ASSERT_TRUE(writeProfileString(path, "option", "SNumber", "2"));
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 0), 2);
    EXPECT_EQ(entries(), 1u) << "no temporary file is left behind";
#if !defined(_WIN32)
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file was renamed over the old one";
    EXPECT_EQ(after.st_mode & 07777, 0640u) << "permissions are kept";

#endif
}

TEST_F(ProfileFile, AFailedWriteLeavesTheOldFileIntact)
{
    const std::string old = "; keep me\n[option]\nSNumber=5\nSTimeOut=1500\n";
    put(old);
    std::string error;
#if defined(_WIN32)
    // A file that another program holds open cannot be replaced.
    std::ifstream holder(path, std::ios::binary);
    ASSERT_TRUE(holder.is_open());
    const bool written = writeProfileStrings(path, "option", {{"SNumber", "6"}, {"STimeOut", "900"}}, &error);
    holder.close();
#else
    // A full disk, as the file-size limit produces it: the new file cannot
    // be written completely.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tiny = saved;
    tiny.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool written = writeProfileStrings(path, "option", {{"SNumber", "6"}, {"STimeOut", "900"}}, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
#endif

    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(contents(), old);
    EXPECT_EQ(entries(), 1u) << "the unfinished new file is removed";

    // A folder that does not exist cannot take the new file either.
    EXPECT_FALSE(writeProfileString(dir / "missing" / "option.ini", "option", "SNumber", "1", &error));
    EXPECT_FALSE(error.empty());
}

// A folder in the file's place reads as a missing file and is never
// replaced; a file marked read-only is not replaced either. Neither throws.
TEST_F(ProfileFile, AFolderOrAReadOnlyFileIsLeftAlone)
{
    fs::create_directories(path / "inside");
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 42), 42);
    std::string error;
    EXPECT_FALSE(writeProfileString(path, "option", "SNumber", "1", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(path / "inside"));
    fs::remove_all(path);

    put("[option]\nSNumber=1\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    error.clear();
    EXPECT_FALSE(writeProfileString(path, "option", "SNumber", "2", &error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(contents(), "[option]\nSNumber=1\n");
    EXPECT_EQ(entries(), 1u);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

// A symbolic link named `link` to `target` (relative to the link's folder).
// MinGW's standard library has none, so Windows asks the system directly.
bool makeLink(const fs::path &target, const fs::path &link, std::string &why)
{
#if defined(_WIN32)
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        why = "error " + std::to_string(GetLastError());
        return false;
    }
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    // Wine makes a host link that every file function follows unseen.
    why = "the link made is no reparse point";
    DeleteFileW(link.c_str());
    return false;
#else
    std::error_code ec;
    fs::create_symlink(target, link, ec);
    why = ec.message();
    return !ec;
#endif
}

// Run as root, a write through a link would replace whatever it names
// (/etc/passwd, for one). The link is seen and neither followed nor
// replaced; a dangling one does not create its target.
TEST_F(ProfileFile, ALinkIsNeverWrittenThrough)
{
    const fs::path real = dir / "real.ini";
    std::ofstream(real, std::ios::binary) << "[option]\nSNumber=1\n";
    std::string why;
    if (!makeLink("real.ini", path, why))
        GTEST_SKIP() << "no symbolic links here: " << why;

    const platform::FileTarget target = inspectFileTarget(path);
    EXPECT_TRUE(target.link);
    EXPECT_EQ(fs::weakly_canonical(target.real), fs::weakly_canonical(real));
    EXPECT_FALSE(inspectFileTarget(real).link);
    EXPECT_EQ(inspectFileTarget(real).real, real);

    std::string error;
    EXPECT_FALSE(writeProfileString(path, "option", "SNumber", "2", &error));
    EXPECT_NE(error.find("link"), std::string::npos) << error;
    EXPECT_FALSE(writeProfileSection(path, "given", {{"198.18.0.21", "00:0E:C6:F0:00:01"}}));
    error.clear();
    EXPECT_FALSE(replaceFileContents(path, "x", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(inspectFileTarget(path).link) << "the link itself stays";
    EXPECT_EQ(readProfileInt(real, "option", "SNumber", 0), 1);
    EXPECT_EQ(entries(), 2u) << "no temporary file is left behind";

    const fs::path dangling = dir / "dangling.csv";
    ASSERT_TRUE(makeLink("made.csv", dangling, why)) << why;
    EXPECT_TRUE(inspectFileTarget(dangling).link);
#if !defined(_WIN32)
    EXPECT_EQ(inspectFileTarget(dangling).real.filename(), "made.csv"); // Windows cannot open it to tell
#endif
    EXPECT_FALSE(replaceFileContents(dangling, "x", &error));
    EXPECT_FALSE(fs::exists(dir / "made.csv"));
#if !defined(_WIN32)
    // A file planted by another user is told apart from the user's own.
    EXPECT_FALSE(inspectFileTarget(real).foreign);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(real.c_str(), 65534, 65534), 0);
        EXPECT_TRUE(inspectFileTarget(real).foreign);
        EXPECT_TRUE(inspectFileTarget(path).foreign) << "the owner of what the link names";
    }
#endif
}

// A section of its own that comes and goes: keys beyond the new values are
// removed, and a file that gained it and lost it again is byte for byte
// the same.
TEST_F(ProfileFile, ASectionIsReplacedAndRemovedAsAWhole)
{
    EXPECT_TRUE(writeProfileSection(path, "given", {}));
    EXPECT_FALSE(fs::exists(path)) << "nothing to remove creates no file";

    const std::string before = "[option]\r\nSNumber=1\r\n\r\n[other]\r\nKey=value\r\n";
    put(before);
    ASSERT_TRUE(writeProfileSection(path, "given", {{"198.18.0.21", "00:0E:C6:F0:00:01"}, {"198.18.0.22", "00:0E:C6:F0:00:02"}}));
    EXPECT_EQ(contents(), before + "[given]\r\n198.18.0.21=00:0E:C6:F0:00:01\r\n198.18.0.22=00:0E:C6:F0:00:02\r\n");
    ASSERT_TRUE(writeProfileSection(path, "given", {{"198.18.0.22", "00:0E:C6:F0:00:09"}}));
    EXPECT_EQ(readProfileSection(path, "GIVEN"),
              (std::vector<std::pair<std::string, std::string>>{{"198.18.0.22", "00:0E:C6:F0:00:09"}}));
    ASSERT_TRUE(writeProfileSection(path, "given", {}));
    EXPECT_EQ(contents(), before);

    // A section in the middle keeps its neighbours, and a comment in it stays.
    put("[given]\n; by hand\n1.2.3.4=x\n[option]\nSNumber=1\n");
    ASSERT_TRUE(writeProfileSection(path, "given", {}));
    EXPECT_EQ(contents(), "[given]\n; by hand\n[option]\nSNumber=1\n");
    EXPECT_TRUE(readProfileSection(path, "given").empty());
}

// Dropping the mark would make a second one (or text that starts like one)
// part of the first line, and a section header would appear or vanish.
TEST_F(ProfileFile, AByteOrderMarkIsWrittenBack)
{
    put("\xEF\xBB\xBF\xEF\xBB\xBF[option]\nSNumber=1\n[other]\n");
    ASSERT_TRUE(writeProfileString(path, "option", "SNumber", "2"));
    EXPECT_EQ(contents(), "\xEF\xBB\xBF\xEF\xBB\xBF[option]\nSNumber=1\n[other]\n[option]\nSNumber=2\n");
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 0), 2);
}

// Values as a Windows tool writes them, read as the Windows API reads them.
TEST_F(ProfileFile, QuotesAndTrailingCommentsReadAsTheWindowsFunctionsDo)
{
    put("[option]\r\nSNumber=\"5\"\r\nSTimeOut=5 ; five\r\nAdapter= 'eth0' \r\nHalf=\"5\r\n"
        "Sign=-7x\r\nText=five\r\n");
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 0), 5);
    EXPECT_EQ(readProfileInt(path, "option", "STimeOut", 2000), 5);
    EXPECT_EQ(readProfileInt(path, "option", "Sign", 0), -7);
    EXPECT_EQ(readProfileInt(path, "option", "Text", 3), 3) << "no leading number: the default";
    EXPECT_EQ(readProfileString(path, "option", "Adapter"), "eth0");
    EXPECT_EQ(readProfileString(path, "option", "Half"), "\"5") << "only a matching pair goes";
    EXPECT_EQ(readProfileString(path, "option", "STimeOut"), "5 ; five") << "a comment is part of a string";
}

// Notepad's "Unicode": UTF-16 LE with its mark. Read, and written back in the
// same encoding, so the file never mixes encodings.
TEST_F(ProfileFile, AUtf16FileIsReadAndWrittenBackInUtf16)
{
    const auto utf16 = [](std::string_view ascii, bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : ascii)
            out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return out;
    };
    put(utf16("; saved by Notepad\r\n[option]\r\nSNumber=5\r\nSTimeOut=3000\r\n", false));
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 0), 5);
    EXPECT_EQ(readProfileInt(path, "option", "STimeOut", 2000), 3000);
    ASSERT_TRUE(writeProfileStrings(path, "option", {{"SNumber", "7"}, {"Adapter", "Ethernet \xC3\xA9"}}));
    // U+00E9 is the one unit E9 00.
    EXPECT_EQ(contents(), utf16("; saved by Notepad\r\n[option]\r\nSNumber=7\r\nSTimeOut=3000\r\n"
                                "Adapter=Ethernet \xE9\r\n", false));
    EXPECT_EQ(readProfileString(path, "option", "Adapter"), "Ethernet \xC3\xA9");

    put(utf16("[option]\nSNumber=5\n", true));
    ASSERT_TRUE(writeProfileString(path, "option", "SNumber", "6"));
    EXPECT_EQ(contents(), utf16("[option]\nSNumber=6\n", true));
    // A Latin-1 byte is no text the file can hold: refused, file untouched.
    std::string why;
    EXPECT_FALSE(writeProfileString(path, "option", "Adapter", "Ethernet \xE9", &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(contents(), utf16("[option]\nSNumber=6\n", true));
}

TEST_F(ProfileFile, RejectsNamesAndValuesThatWouldBreakTheFile)
{
    put("[option]\nSNumber=1\n");
    EXPECT_FALSE(writeProfileString(path, "option", "S=Number", "1"));
    EXPECT_FALSE(writeProfileString(path, "op]tion", "SNumber", "1"));
    EXPECT_FALSE(writeProfileString(path, "option", "SNumber", "1\n[x]"));
    EXPECT_EQ(contents(), "[option]\nSNumber=1\n");
}

} // namespace
