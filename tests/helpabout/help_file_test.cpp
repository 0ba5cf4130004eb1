// The compiled help file: it exists after the build, is newer than every
// page, and its directory lists every page, the contents and the index. The
// directory is read from the file itself (ITSF header, ITSP directory header,
// PMGL listing chunks), so no CHM tool is needed; chmls, where installed,
// unpacks the pages to compare them with their sources. The sources are checked
// too: every page is in the project, the contents and the index, and every
// link between pages leads to a page that exists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = DALVORA_HELP_SOURCE_DIR;
const fs::path kChm = DALVORA_HELP_CHM;

std::string readText(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> readBytes(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pages and the style sheet: every file of the help folder that goes into
// the help file as it is.
std::vector<std::string> helpContentFiles()
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(kSourceDir)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".html" || ext == ".css")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> pages()
{
    std::vector<std::string> names = helpContentFiles();
    std::erase_if(names, [](const std::string &n) { return !n.ends_with(".html"); });
    return names;
}

std::uint32_t le32(const std::vector<std::uint8_t> &b, std::size_t at)
{
    if (at + 4 > b.size())
        throw std::out_of_range("past the end of the file");
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16
         | std::uint32_t{b[at + 3]} << 24;
}

std::uint64_t le64(const std::vector<std::uint8_t> &b, std::size_t at)
{
    return std::uint64_t{le32(b, at)} | std::uint64_t{le32(b, at + 4)} << 32;
}

// The variable-length numbers of the listing: 7 bits a byte, most significant
// first, the top bit set on every byte but the last.
std::uint64_t encint(const std::vector<std::uint8_t> &b, std::size_t &at, std::size_t end)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 10; ++i) {
        if (at >= end)
            throw std::out_of_range("number runs past its chunk");
        const std::uint8_t byte = b[at++];
        value = value << 7 | (byte & 0x7F);
        if ((byte & 0x80) == 0)
            return value;
    }
    throw std::runtime_error("number too long");
}

// The names of every file stored in a CHM (ITSF version 2 or 3).
std::set<std::string> chmDirectory(const std::vector<std::uint8_t> &b)
{
    if (b.size() < 0x58 || std::string(b.begin(), b.begin() + 4) != "ITSF")
        throw std::runtime_error("no ITSF header");
    const std::uint64_t dirOffset = le64(b, 0x48);
    const std::uint64_t dirLength = le64(b, 0x50);
    if (dirOffset + dirLength > b.size() || dirLength < 0x54)
        throw std::runtime_error("directory outside the file");
    const auto dir = static_cast<std::size_t>(dirOffset);
    if (std::string(b.begin() + static_cast<std::ptrdiff_t>(dir), b.begin() + static_cast<std::ptrdiff_t>(dir) + 4) != "ITSP")
        throw std::runtime_error("no ITSP directory header");
    const std::uint32_t headerLength = le32(b, dir + 0x08);
    const std::uint32_t chunkSize = le32(b, dir + 0x10);
    const std::uint32_t chunkCount = le32(b, dir + 0x2C);
    if (chunkSize < 0x20 || std::uint64_t{headerLength} + std::uint64_t{chunkSize} * chunkCount > dirLength)
        throw std::runtime_error("inconsistent directory header");

    std::set<std::string> names;
    for (std::uint32_t c = 0; c < chunkCount; ++c) {
        const std::size_t chunk = dir + headerLength + std::size_t{c} * chunkSize;
        const std::string kind(b.begin() + static_cast<std::ptrdiff_t>(chunk),
                               b.begin() + static_cast<std::ptrdiff_t>(chunk) + 4);
        if (kind != "PMGL")
            continue;  // index chunks (PMGI) repeat names of the listing
        const std::uint32_t freeSpace = le32(b, chunk + 4);
        if (freeSpace > chunkSize - 0x14)
            throw std::runtime_error("bad free space in a listing chunk");
        const std::size_t end = chunk + chunkSize - freeSpace;
        std::size_t at = chunk + 0x14;
        while (at < end) {
            const std::uint64_t nameLength = encint(b, at, end);
            if (nameLength > end - at)
                throw std::runtime_error("name runs past its chunk");
            names.emplace(b.begin() + static_cast<std::ptrdiff_t>(at),
                          b.begin() + static_cast<std::ptrdiff_t>(at + nameLength));
            at += static_cast<std::size_t>(nameLength);
            encint(b, at, end);  // content section
            encint(b, at, end);  // offset
            encint(b, at, end);  // length
        }
    }
    return names;
}

// The targets of a sitemap (contents or index): every "Local" value, split
// into the file and the anchor after '#' (empty when there is none).
std::set<std::pair<std::string, std::string>> sitemapLinks(const std::string &sitemap)
{
    std::set<std::pair<std::string, std::string>> links;
    const std::regex local(R"(<param\s+name="Local"\s+value="([^"#]*)(#([^"]*))?")", std::regex::icase);
    for (auto it = std::sregex_iterator(sitemap.begin(), sitemap.end(), local); it != std::sregex_iterator(); ++it)
        links.emplace((*it)[1].str(), (*it)[3].str());
    return links;
}

std::set<std::string> anchorsOf(const fs::path &page)
{
    const std::string html = readText(page);
    const std::regex anchor(R"re(id="([^"]+)")re");
    std::set<std::string> ids;
    for (auto a = std::sregex_iterator(html.begin(), html.end(), anchor); a != std::sregex_iterator(); ++a)
        ids.insert((*a)[1].str());
    return ids;
}

} // namespace

TEST(HelpFile, ExistsAfterTheBuildAndListsEveryPage)
{
    if (!DALVORA_HELP_BUILT)
        GTEST_SKIP() << "chmcmd was not found when the build was configured; main.chm is not built";
    ASSERT_TRUE(fs::exists(kChm)) << kChm;
    const std::vector<std::uint8_t> chm = readBytes(kChm);
    std::set<std::string> directory;
    ASSERT_NO_THROW(directory = chmDirectory(chm));

    for (const std::string &file : helpContentFiles())
        EXPECT_TRUE(directory.count("/" + file)) << file << " is missing from " << kChm;
    for (const char *file : {"/main.hhc", "/main.hhk", "/#SYSTEM", "/#TOPICS"})
        EXPECT_TRUE(directory.count(file)) << file << " is missing from " << kChm;
}

TEST(HelpFile, PagesComeOutAsTheyWentIn)
{
    if (!DALVORA_HELP_BUILT)
        GTEST_SKIP() << "chmcmd was not found when the build was configured; main.chm is not built";
    const std::string chmls = DALVORA_CHMLS;
    if (chmls.empty())
        GTEST_SKIP() << "chmls was not found; the pages' contents are not compared";
    ASSERT_TRUE(fs::exists(kChm)) << kChm;
    const fs::path out = fs::temp_directory_path() / ("helpfile-test-" + std::to_string(::getpid()));
    fs::create_directories(out);
    for (const std::string &file : helpContentFiles()) {
        const fs::path copy = out / file;
        const std::string command = "'" + chmls + "' extract '" + kChm.string() + "' '/" + file + "' '"
                                  + copy.string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(readText(copy), readText(kSourceDir / file)) << file << " differs inside " << kChm;
    }
    fs::remove_all(out);
}

TEST(HelpFile, IsNewerThanItsSources)
{
    if (!DALVORA_HELP_BUILT)
        GTEST_SKIP() << "chmcmd was not found when the build was configured; main.chm is not built";
    ASSERT_TRUE(fs::exists(kChm)) << kChm;
    const auto built = fs::last_write_time(kChm);
    const std::set<std::string> sources{".html", ".css", ".hhp", ".hhc", ".hhk"};
    for (const auto &entry : fs::directory_iterator(kSourceDir)) {
        if (sources.count(entry.path().extension().string())) {
            EXPECT_LE(fs::last_write_time(entry.path()), built) << entry.path() << " changed after the help was built";
        }
    }
}

TEST(HelpSources, EveryPageIsInTheProjectTheContentsAndTheIndex)
{
    const std::string project = readText(kSourceDir / "main.hhp");
    const auto contents = sitemapLinks(readText(kSourceDir / "main.hhc"));
    const auto index = sitemapLinks(readText(kSourceDir / "main.hhk"));
    ASSERT_FALSE(pages().empty());
    for (const std::string &file : helpContentFiles())
        EXPECT_NE(project.find("\n" + file + "\n"), std::string::npos) << file << " is not in main.hhp [FILES]";
    std::set<std::string> inContents, inIndex;
    for (const auto &[file, anchor] : contents)
        inContents.insert(file);
    for (const auto &[file, anchor] : index)
        inIndex.insert(file);
    for (const std::string &page : pages()) {
        EXPECT_TRUE(inContents.count(page)) << page << " is not in the contents (main.hhc)";
        EXPECT_TRUE(inIndex.count(page)) << page << " is not in the index (main.hhk)";
    }
    for (const auto &links : {contents, index}) {
        for (const auto &[file, anchor] : links) {
            ASSERT_TRUE(fs::exists(kSourceDir / file)) << file << " is named but does not exist";
            if (!anchor.empty()) {
                EXPECT_TRUE(anchorsOf(kSourceDir / file).count(anchor)) << file << "#" << anchor << " does not exist";
            }
        }
    }
}

TEST(HelpSources, LinksLeadToExistingPagesAndAnchors)
{
    const std::regex link(R"(href="([^"#:]*)(#([^"]*))?")");
    for (const std::string &page : pages()) {
        const std::string html = readText(kSourceDir / page);
        EXPECT_NE(html.find("<title>"), std::string::npos) << page << " has no title";
        for (auto it = std::sregex_iterator(html.begin(), html.end(), link); it != std::sregex_iterator(); ++it) {
            const std::string target = (*it)[1].str().empty() ? page : (*it)[1].str();
            ASSERT_TRUE(fs::exists(kSourceDir / target)) << page << " links to missing " << target;
            if ((*it)[3].matched) {
                EXPECT_TRUE(anchorsOf(kSourceDir / target).count((*it)[3].str()))
                    << page << " links to missing anchor " << target << "#" << (*it)[3];
            }
        }
    }
}
