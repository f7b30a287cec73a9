// The unstable-bits test in-process: pattern words, the write and check steps, and what each
// prints. The write and check steps in separate processes are in tests/cli.
#include "frontend/tool_fixture.h"

#include "factorytest/factorytests.h"
#include "frontend/mtdinfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace toolfixture;
using testsupport::Bytes;

namespace {

constexpr uint32_t BLOCKS = 8;

class UnstableBitsTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        CreateDevice(BLOCKS);
        StartTool();
    }
    Bytes Pattern(const char *pszWord) {
        Bytes aucPattern(Nandkeep_ReferenceBufferSize());
        Nandkeep_FillUnstablePattern(pszWord, aucPattern.data(), aucPattern.size());
        return aucPattern;
    }
};

TEST_F(UnstableBitsTest, AConstantPatternIsTheLowByteOfAHexadecimalWord) {
    EXPECT_EQ(Nandkeep_ReferenceBufferSize(), 2 * BLOCK);
    for (const char *pszWord : {"55", "0x55", "155", "55zz"}) {
        EXPECT_EQ(Pattern(pszWord), Bytes(2 * BLOCK, 0x55)) << pszWord;
    }
    EXPECT_EQ(Pattern("0xAA"), Bytes(2 * BLOCK, 0xAA));
    EXPECT_EQ(Pattern("rnd"), Bytes(2 * BLOCK, 0x00));
}

TEST_F(UnstableBitsTest, RandPatternsRestartWithTheGeneratorsDefaultState) {
    // A process that never seeded the generator starts in the state of seed 1.
    srand(1);
    Bytes aucFirst = Pattern("rand");
    srand(1);
    EXPECT_EQ(Pattern("random"), aucFirst);
    // Not a constant fill: the bytes spread over the whole range.
    std::vector<int> aiSeen(256, 0);
    for (unsigned char ucByte : aucFirst) {
        aiSeen[ucByte] = 1;
    }
    int iDistinct = 0;
    for (int iSeen : aiSeen) {
        iDistinct += iSeen;
    }
    EXPECT_EQ(iDistinct, 256);
}

TEST_F(UnstableBitsTest, TheWriteStepErasesProgramsAndChecksEveryGoodBlock) {
    MarkBad(2);
    FillRaw(0, BLOCKS * BLOCK, 0x00);
    CommandResult tRes = Run({"unstableBitsTestWrite", "0x3c", "extra"});
    EXPECT_EQ(tRes.iResult, 0);
    std::vector<std::string> astrLines = Lines(tRes.out);
    ASSERT_GE(astrLines.size(), 7u) << tRes.out;
    EXPECT_EQ(astrLines[0], "erase all");
    EXPECT_EQ(astrLines[1], "Find a bad block at offset=0x40000");
    EXPECT_EQ(astrLines[2], "Find ## 1 ## bad block");
    EXPECT_EQ(astrLines[3], "write image to flash");
    EXPECT_EQ(astrLines[4], "check flash image");
    EXPECT_EQ(astrLines[5], "Write unstable bits pattern: 0x3c Pass");
    EXPECT_EQ(astrLines[6].rfind("Current ECC corrected = ", 0), 0u);
    // The ECC report goes over the whole device, skipping the bad block.
    EXPECT_EQ(Count(tRes.out, "At 0x"), BLOCKS);
    EXPECT_EQ(Count(tRes.out, "At 0x40000 offset is bad blcok!!(skip)\n"), 1u);
    EXPECT_TRUE(AllBytes(0, 2 * BLOCK, 0x3C));
    EXPECT_TRUE(AllBytes(2 * BLOCK, BLOCK, 0x00));
    EXPECT_TRUE(AllBytes(3 * BLOCK, (BLOCKS - 3) * BLOCK, 0x3C));

    tRes = Run({"unstableBitsTestCheck", "3c"});
    EXPECT_EQ(tRes.iResult, 0);
    astrLines = Lines(tRes.out);
    ASSERT_GE(astrLines.size(), 4u) << tRes.out;
    EXPECT_EQ(astrLines[0], "Find a bad block at offset=0x40000");
    EXPECT_EQ(astrLines[1], "Find ## 1 ## bad block");
    EXPECT_EQ(astrLines[2], "check flash image");
    EXPECT_EQ(astrLines[3], "Check unstable bits pattern: 3c Pass");
}

TEST_F(UnstableBitsTest, TheFirstDifferingBlockFailsTheStepButNotTheStatus) {
    ASSERT_EQ(Run({"unstableBitsTestWrite", "0"}).iResult, 0);
    // Bits of block 3 that now read 1 where zeros were programmed.
    AddFault(SIM_FAULT_STUCK_BITS, 3, 4);
    AddFault(SIM_FAULT_STUCK_BITS, 5, 4);
    CommandResult tRes = Run({"unstableBitsTestCheck", "0"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(Count(tRes.out, "Find diff sector at address = 0x60000\n"
                              "Check unstable bits pattern: 0 Fail\n"),
              1u)
        << tRes.out;
    EXPECT_EQ(Count(tRes.out, "Find diff sector"), 1u);
}

TEST_F(UnstableBitsTest, AFailingEccReportDecidesTheStatus) {
    ASSERT_EQ(Run({"unstableBitsTestWrite", "55"}).iResult, 0);
    // Five short reads: the check step's first block uses three and fails, the ECC report's
    // first block the other two and fails as well.
    AddFault(SIM_FAULT_SHORT_READ, SIM_NO_BLOCK, 5);
    CommandResult tRes = Run({"unstableBitsTestCheck", "55"});
    EXPECT_EQ(tRes.iResult, -1) << tRes.out;
    EXPECT_EQ(Count(tRes.out, "Check unstable bits pattern: 55 Fail\n"), 1u);
    EXPECT_EQ(Count(tRes.out, "read fail"), 2u);
}

TEST_F(UnstableBitsTest, ADeviceWithoutGoodBlocksPassesBothSteps) {
    for (uint32_t i = 0; i < BLOCKS; i++) {
        MarkBad(i);
    }
    CommandResult tRes = Run({"unstableBitsTestWrite", "rand"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_NE(tRes.out.find("Find ## 8 ## bad block\n"), std::string::npos);
    EXPECT_NE(tRes.out.find("Write unstable bits pattern: rand Pass\n"), std::string::npos);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, 0u);
    tRes = Run({"unstableBitsTestCheck", "rand"});
    EXPECT_NE(tRes.out.find("Check unstable bits pattern: rand Pass\n"), std::string::npos);
}

} // namespace
