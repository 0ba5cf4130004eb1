// The INI file in folders whose names the system's ANSI code page cannot
// spell: the program's folder may be named in any script.
#include "platform/ProfileFile.h"
#include "windows_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class WideFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto stamp = std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetTickCount64());
        base = fs::temp_directory_path() / ("profile_names." + stamp);
        // Greek, CJK and an emoji: no single-byte code page has all three.
        folder = base / L"\u03A9\u6F22\u5B57\U0001F600";
        ASSERT_TRUE(fs::create_directories(folder));
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    fs::path base;
    fs::path folder;
};

} // namespace

TEST_F(WideFolder, WritesAndReadsTheFile)
{
    const fs::path ini = folder / "option.ini";
    std::string error;
    ASSERT_TRUE(platform::writeProfileStrings(ini, "option", {{"SNumber", "7"}, {"STimeOut", "1500"}}, &error))
        << error;
    EXPECT_EQ(platform::readProfileInt(ini, "option", "SNumber", 0), 7);
    EXPECT_EQ(platform::readProfileInt(ini, "option", "STimeOut", 0), 1500);
    ASSERT_TRUE(platform::writeProfileString(ini, "option", "SNumber", "8", &error)) << error;
    EXPECT_EQ(platform::readProfileInt(ini, "option", "SNumber", 0), 8);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
}

TEST_F(WideFolder, AFailureIsReportedNotThrown)
{
    const fs::path ini = folder / L"\u6F22" / "option.ini"; // the folder does not exist
    std::string error;
    bool written = true;
    EXPECT_NO_THROW(written = platform::writeProfileString(ini, "option", "SNumber", "1", &error));
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
}
