/*
 * corpus_test.cpp - the fuzz corpus as ordinary tests: every seed in
 * fuzz/corpus/ and every input that once found a defect, in
 * fuzz/regressions/ (named after the defect), replays as one session whose
 * promises must all hold; and the seeds are checked to be what seeds.cpp
 * makes and to scan what their names say.
 */
#include "seeds.h"
#include "session.h"

#include "platform/platform.h"
#include "scandrv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using namespace fuzzsession;

namespace {

std::vector<uint8_t> ReadFile(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Describe(const SessionOutcome &outcome)
{
    std::string text;
    for (const std::string &failure : outcome.Failures)
        text += "\n  " + failure;
    return text;
}

/* Every file of the corpus and of the regressions, by directory. */
std::vector<fs::path> SessionFiles()
{
    std::vector<fs::path> files;
    for (const char *dir : {"corpus", "regressions"}) {
        const fs::path root = fs::path(SCANDRV_FUZZ_DIR) / dir;
        if (!fs::is_directory(root))
            continue;
        std::vector<fs::path> here;
        for (const fs::directory_entry &entry : fs::directory_iterator(root))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                here.push_back(entry.path());
        std::sort(here.begin(), here.end());
        files.insert(files.end(), here.begin(), here.end());
    }
    return files;
}

std::string TestName(const fs::path &path)
{
    std::string name = path.parent_path().filename().string() + "_" + path.filename().string();
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class Replay : public ::testing::TestWithParam<fs::path> {};

TEST_P(Replay, KeepsEveryPromise)
{
    const std::vector<uint8_t> bytes = ReadFile(GetParam());
    ASSERT_FALSE(bytes.empty()) << GetParam();
    const SessionOutcome outcome = RunSession(bytes.data(), bytes.size());
    EXPECT_TRUE(outcome.Failures.empty()) << GetParam() << Describe(outcome);
    EXPECT_EQ(LiveAllocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(FuzzInputs, Replay, ::testing::ValuesIn(SessionFiles()),
                         [](const ::testing::TestParamInfo<fs::path> &file) { return TestName(file.param); });

TEST(Seeds, CorpusFilesAreTheSeedSessions)
{
    for (const Seed &seed : SeedSessions()) {
        const fs::path path = fs::path(SCANDRV_FUZZ_DIR) / "corpus" / seed.Name;
        EXPECT_EQ(ReadFile(path), EncodeSession(seed.Script))
            << path << " is stale: rewrite the corpus with fuzz_make_seeds fuzz/corpus";
    }
}

TEST(Seeds, EncodingAndDecodingAgree)
{
    for (const Seed &seed : SeedSessions()) {
        const std::vector<uint8_t> bytes = EncodeSession(seed.Script);
        EXPECT_EQ(EncodeSession(DecodeSession(bytes.data(), bytes.size())), bytes) << seed.Name;
    }
    /* Input that stops early reads as zeros from there on. */
    const uint8_t one[] = {6};
    const SessionScript script = DecodeSession(one, sizeof one);
    EXPECT_EQ(script.InquiryType, 6);
    EXPECT_EQ(script.Scan[1].Calls, 0);
}

TEST(Seeds, WellFormedSeedsScanEveryLine)
{
    for (const Seed &seed : SeedSessions()) {
        if (!seed.ScansComplete)
            continue;
        const std::vector<uint8_t> bytes = EncodeSession(seed.Script);
        const SessionOutcome outcome = RunSession(bytes.data(), bytes.size());
        EXPECT_TRUE(outcome.Failures.empty()) << seed.Name << Describe(outcome);
        EXPECT_EQ(outcome.InitResult, 1u) << seed.Name;
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(outcome.StartResult[k], 1u) << seed.Name << " scan " << k;
            EXPECT_GT(outcome.LinesPromised[k], 0u) << seed.Name << " scan " << k;
            EXPECT_TRUE(outcome.ScanCompleted[k]) << seed.Name << " scan " << k;
            EXPECT_EQ(outcome.LinesDelivered[k], outcome.LinesPromised[k]) << seed.Name << " scan " << k;
        }
    }
}

bool Sent(const SessionOutcome &outcome, uint8_t opcode, uint8_t type)
{
    return std::any_of(outcome.Commands.begin(), outcome.Commands.end(),
                       [&](const CommandNote &c) { return c.Opcode == opcode && c.DataType == type; });
}

SessionOutcome RunSeed(const std::string &name)
{
    for (const Seed &seed : SeedSessions())
        if (seed.Name == name) {
            const std::vector<uint8_t> bytes = EncodeSession(seed.Script);
            return RunSession(bytes.data(), bytes.size());
        }
    ADD_FAILURE() << "no seed " << name;
    return {};
}

TEST(Seeds, CalibratedSeedsCalibrateAndOthersDoNot)
{
    EXPECT_TRUE(Sent(RunSeed("grey-calibrated"), 0x2A, 0x01));
    EXPECT_TRUE(Sent(RunSeed("colour-calibrated-model-168"), 0x2A, 0x01));
    EXPECT_FALSE(Sent(RunSeed("grey-direct"), 0x2A, 0x01));
}

TEST(Seeds, PatternSeedsDownloadOnlyWhenTheScannerHalftones)
{
    EXPECT_TRUE(Sent(RunSeed("binary-by-scanner-pattern"), 0x2A, 0x02));
    EXPECT_TRUE(Sent(RunSeed("binary-by-scanner-caller-pattern"), 0x2A, 0x02));
    EXPECT_FALSE(Sent(RunSeed("binarized-by-driver-pattern"), 0x2A, 0x02));
}

TEST(Seeds, EarlyEndSeedsEndEarly)
{
    for (const char *name : {"grey-early-end", "colour-buffered-early-end"}) {
        const SessionOutcome outcome = RunSeed(name);
        EXPECT_TRUE(outcome.Failures.empty()) << name << Describe(outcome);
        EXPECT_EQ(outcome.StartResult[0], 1u) << name;
        EXPECT_FALSE(outcome.ScanCompleted[0]) << name;
        EXPECT_LT(outcome.LinesDelivered[0], outcome.LinesPromised[0]) << name;
        EXPECT_GT(outcome.LinesDelivered[0], 0u) << name;
    }
}

TEST(Seeds, FaultSeedReportsTheInjectedCodes)
{
    const SessionOutcome outcome = RunSeed("scanner-faults");
    EXPECT_TRUE(outcome.Failures.empty()) << Describe(outcome);
    /* The first start's gamma SEND meets the lamp failure. */
    EXPECT_EQ(static_cast<int16_t>(outcome.StartResult[0]), SD_ERR_LAMP);
}

} // namespace
