// OpenDocument on Windows: the shell's "open" verb and its result codes for
// the help file, named relative to the working folder as the Help command
// names it.
#include "platform/OpenDocument.h"
#include "windows_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;
using platform::OpenDocument;

namespace {

// A fresh folder as the working folder, for the time of one test.
class WorkingFolder
{
public:
    WorkingFolder() : saved_(fs::current_path())
    {
        const auto stamp = std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetTickCount64());
        path_ = fs::temp_directory_path() / ("opendoc." + stamp);
        fs::create_directory(path_);
        fs::current_path(path_);
    }
    ~WorkingFolder()
    {
        std::error_code ec;
        fs::current_path(saved_, ec);
        fs::remove_all(path_, ec);
    }
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

    void put(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
    }

private:
    fs::path saved_;
    fs::path path_;
};

// The first bytes of a compiled help file; no viewer gets to read more.
const std::string kHelpFileHead = std::string("ITSF\x03\x00\x00\x00", 8) + std::string(88, '\0');

} // namespace

TEST(OpenDocument, MissingHelpFileGives2)
{
    WorkingFolder here;
    EXPECT_EQ(OpenDocument("main.chm"), platform::kOpenFileNotFound);
    EXPECT_EQ(platform::openDocumentErrorText(OpenDocument("main.chm")), "The specified file was not found.");
}

TEST(OpenDocument, MissingFolderGives3)
{
    WorkingFolder here;
    const int result = OpenDocument("help\\main.chm");
    if (wintest::underWine() && result == platform::kOpenFileNotFound)
        GTEST_SKIP() << "Wine's ShellExecute reports a missing folder as a missing file (2); Windows gives 3";
    EXPECT_EQ(result, platform::kOpenPathNotFound);
}

// Nothing is registered for the extension: the association message.
TEST(OpenDocument, FileWithoutAViewerGives31)
{
    if (!wintest::underWine())
        GTEST_SKIP() << "on a desktop the shell may offer its Open With dialog instead";
    WorkingFolder here;
    here.put("main.dalvora-no-viewer", "x");
    const int result = OpenDocument("main.dalvora-no-viewer");
    EXPECT_EQ(result, platform::kOpenNoAssociation);
    EXPECT_EQ(platform::openDocumentErrorText(result),
              "The file name association is incomplete or invalid. "
              "There is no application associated with the given file name extension.");
}

// What the shell does with the help file itself depends on the viewer
// registered for .chm: Windows and Wine both bring one (started without a
// display under Wine, where it ends at once).
TEST(OpenDocument, ExistingHelpFile)
{
    if (!wintest::underWine())
        GTEST_SKIP() << "would open a help window on this desktop";
    WorkingFolder here;
    here.put("main.chm", kHelpFileHead);
    const int result = OpenDocument("main.chm");
    std::cout << "existing main.chm: " << result
              << (platform::openDocumentStarted(result) ? " (viewer started)" : " (not opened)") << "\n";
    if (result == platform::kOpenNoAssociation || result == platform::kOpenAssociationIncomplete)
        GTEST_SKIP() << "no viewer is registered for .chm here (" << result << ")";
    EXPECT_TRUE(platform::openDocumentStarted(result)) << result;
}
