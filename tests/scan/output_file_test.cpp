/*
 * output_file_test.cpp - the temporary file and its rename: nothing appears
 * under the requested name until the image is committed, which replaces an
 * older image; a discarded image leaves the older one alone; the file gets
 * the permissions of any new file.
 */
#include "output_file.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(OutputFile, CommitReplacesTheOlderImageAndDiscardLeavesIt)
{
    for (bool commit : {true, false}) {
        TempDir dir;
        WriteFile(dir.File("scan.png"), "older");
        OutputFile out;
        std::string error;
        ASSERT_TRUE(OpenOutput(dir.File("scan.png"), out, error)) << error;
        std::fputs("newer", out.Stream);
        std::vector<std::string> during = ListDirectory(dir.Path());
        ASSERT_EQ(during.size(), 2u);
        EXPECT_EQ(during[0].rfind(".scan.png.", 0), 0u) << during[0];
        EXPECT_EQ(ReadFile(dir.File("scan.png")), "older");
        if (commit) {
            ASSERT_TRUE(CommitOutput(out, error)) << error;
        } else {
            DiscardOutput(out);
            DiscardOutput(out); /* twice is harmless */
        }
        EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"scan.png"});
        EXPECT_EQ(ReadFile(dir.File("scan.png")), commit ? "newer" : "older");
        mode_t mask = umask(0);
        umask(mask);
        struct stat st;
        ASSERT_EQ(stat(dir.File("scan.png").c_str(), &st), 0);
        if (commit) {
            EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
        }
    }
}

TEST(OutputFile, RefusesDirectoriesAndMissingDirectories)
{
    TempDir dir;
    OutputFile out;
    std::string error;
    EXPECT_FALSE(OpenOutput(dir.Path(), out, error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    EXPECT_FALSE(OpenOutput(dir.File("missing/scan.png"), out, error));
    EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
    EXPECT_TRUE(ListDirectory(dir.Path()).empty());
}

} // namespace
