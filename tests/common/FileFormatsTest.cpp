#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "AtomicFile.h"
#include "CsvText.h"
#include "test_support.h"

namespace
{
const std::string kFFFD = "\xEF\xBF\xBD";

// RFC 4180 quoting, a formula that must not run, and device bytes that must
// neither drive a terminal nor reorder its text.
TEST(CsvTextTest, EachFieldStaysOneInertField)
{
    const struct
    {
        std::string text;
        std::string field;
    } rows[] = {
        {"", ""},
        {"nas-one", "nas-one"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rlf", "\"cr\rlf\""},
        {"tab\tinside", "tab\tinside"},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "\"'+1\""},
        {"-1", "\"'-1\""},
        {"@SUM(A1)", "\"'@SUM(A1)\""},
        {"\tlead", "\"'\tlead\""},
        {"a=b", "a=b"}, // only the first character makes a formula
        {"\x1b[2J\x7f", kFFFD + "[2J" + kFFFD},
        {"\xC2\x9B"
         "x",
         kFFFD + "x"}, // C1 CSI
        {"a\xE2\x80\xAE"
         "b\xE2\x81\xA6",
         "a" + kFFFD + "b" + kFFFD}, // direction controls
        {"\xFF\xC3", kFFFD + kFFFD}, // not UTF-8
        {"caf\xC3\xA9 \xE6\x95\xB0", "caf\xC3\xA9 \xE6\x95\xB0"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(nasfinder::CsvField(row.text), row.field) << row.text;
    EXPECT_EQ(nasfinder::CsvRow({"id", "a,b", ""}), "id,\"a,b\",\r\n");
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class FolderTest : public ::testing::Test
{
protected:
    int Entries() const
    {
        return std::system(("test $(ls -A " + dir + " | wc -l) -eq 1").c_str()) == 0 ? 1 : 0;
    }
    testsupport::TempDir temp;
    std::string dir = temp.str();
};

TEST_F(FolderTest, AFileIsReplacedWholeWithItsModeAndNothingBeside)
{
    const std::string path = dir + "/nasfinder.prom";
    const mode_t umask = ::umask(077);
    EXPECT_EQ(nasfinder::ReplaceFile(path, "first\n", 0644), "");
    EXPECT_EQ(nasfinder::ReplaceFile(path, "second\n", 0644), "");
    ::umask(umask);
    EXPECT_EQ(ReadText(path), "second\n");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u)
        << "another user's reader must be able to read it, whatever the umask";
    EXPECT_EQ(Entries(), 1) << "no temporary file is left";

    // A link at the name is replaced, not written through.
    const std::string victim = dir + "/victim";
    std::ofstream(victim) << "kept";
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
    EXPECT_EQ(nasfinder::ReplaceFile(path, "third\n", 0644), "");
    EXPECT_EQ(ReadText(victim), "kept");
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(FolderTest, AFileThatCannotBeWrittenSaysWhyAndLeavesNothing)
{
    const struct
    {
        std::string path;
        std::string reason;
    } rows[] = {
        {dir + "/missing/x.prom", "cannot open the folder of " + dir + "/missing/x.prom: No such file"},
        {dir + "/", "names no file"},
        {dir + "/..", "names no file"},
        // A folder in the way: the rename fails, the new file goes again.
        {dir + "/sub", "cannot replace " + dir + "/sub: Is a directory"},
    };
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0755), 0);
    for (const auto& row : rows)
    {
        const std::string error = nasfinder::ReplaceFile(row.path, "text", 0644);
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    EXPECT_EQ(Entries(), 1) << "only the folder in the way";
}
} // namespace
