/*
 * output_file_test.cpp - the temporary file and its rename: nothing appears
 * under the requested name until the image is committed, a discarded image
 * leaves nothing behind, an older image is replaced only on success, and the
 * file gets the permissions of any new file.
 */
#include "output_file.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(OutputFile, WritesUnderATemporaryNameUntilCommitted)
{
    TempDir dir;
    OutputFile out;
    std::string error;
    ASSERT_TRUE(OpenOutput(dir.File("scan.png"), out, error)) << error;
    std::fputs("image", out.Stream);
    std::vector<std::string> during = ListDirectory(dir.Path());
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".scan.png.", 0), 0u) << during[0];

    ASSERT_TRUE(CommitOutput(out, error)) << error;
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"scan.png"});
    EXPECT_EQ(ReadFile(dir.File("scan.png")), "image");

    mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(dir.File("scan.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(OutputFile, DiscardLeavesAnOlderImageAlone)
{
    TempDir dir;
    WriteFile(dir.File("scan.png"), "older");
    OutputFile out;
    std::string error;
    ASSERT_TRUE(OpenOutput(dir.File("scan.png"), out, error)) << error;
    std::fputs("half an image", out.Stream);
    DiscardOutput(out);
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"scan.png"});
    EXPECT_EQ(ReadFile(dir.File("scan.png")), "older");
    DiscardOutput(out); /* twice is harmless */
}

TEST(OutputFile, CommitReplacesAnOlderImage)
{
    TempDir dir;
    WriteFile(dir.File("scan.png"), "older");
    OutputFile out;
    std::string error;
    ASSERT_TRUE(OpenOutput(dir.File("scan.png"), out, error)) << error;
    std::fputs("newer", out.Stream);
    ASSERT_TRUE(CommitOutput(out, error)) << error;
    EXPECT_EQ(ReadFile(dir.File("scan.png")), "newer");
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
