// The INI layer: private-profile reading and writing of single keys, and the
// atomic replacement of the file.
#include <gtest/gtest.h>

#include "platform/ProfileFile.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using platform::readProfileInt;
using platform::writeProfileString;
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
    EXPECT_EQ(readProfileInt(path, "option", "Word", 3), 3);
    EXPECT_EQ(readProfileInt(path, "option", "Empty", 3), 3);
    EXPECT_EQ(readProfileInt(path, "option", "Hex", 3), 3);
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

    // A link to the options file stays a link; its target is replaced.
    const fs::path real = dir / "real.ini";
    fs::rename(path, real);
    fs::create_symlink("real.ini", path);
    ASSERT_TRUE(writeProfileString(path, "option", "SNumber", "3"));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(readProfileInt(real, "option", "SNumber", 0), 3);
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

// Dropping the mark would make a second one (or text that starts like one)
// part of the first line, and a section header would appear or vanish.
TEST_F(ProfileFile, AByteOrderMarkIsWrittenBack)
{
    put("\xEF\xBB\xBF\xEF\xBB\xBF[option]\nSNumber=1\n[other]\n");
    ASSERT_TRUE(writeProfileString(path, "option", "SNumber", "2"));
    EXPECT_EQ(contents(), "\xEF\xBB\xBF\xEF\xBB\xBF[option]\nSNumber=1\n[other]\n[option]\nSNumber=2\n");
    EXPECT_EQ(readProfileInt(path, "option", "SNumber", 0), 2);
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
