/*
 * output_file_test.cpp - the temporary file and its rename. Replacing and
 * keeping an older image are checked end to end in scan_command_test.cpp;
 * here what a run cannot show: the committed file's permissions.
 */
#include "output_file.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(OutputFile, ACommittedFileHasTheModeOfANewFile)
{
    TempDir dir;
    OutputFile out;
    std::string error;
    ASSERT_TRUE(OpenOutput(dir.File("scan.png"), out, error)) << error;
    ASSERT_TRUE(CommitOutput(out, error)) << error;
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"scan.png"});
    mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(dir.File("scan.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "not the temporary file's 0600";
    EXPECT_FALSE(OpenOutput(dir.Path(), out, error));
    EXPECT_TRUE(Contains(error, "is a directory")) << error;
}

} // namespace
