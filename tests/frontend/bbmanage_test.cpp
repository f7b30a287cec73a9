// The bad-block screening scan, pass by pass, in-process. The endless command itself is run and
// stopped from outside in tests/cli.
#include "tool_fixture.h"

#include "frontend/maintenance.h"
#include "frontend/mtdinfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace toolfixture;

namespace {

constexpr uint32_t BLOCKS = 16;
constexpr unsigned char PATTERNS[] = {0xFF, 0x00, 0x0F, 0xF0, 0x5A, 0xA5, 0x69, 0x96};

std::string PatternLine(unsigned char ucPattern) {
    char szLine[32];
    snprintf(szLine, sizeof(szLine), "Pattern is %x\n", ucPattern);
    return szLine;
}

class BadBlockScanTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        CreateDevice(BLOCKS);
        StartTool();
    }
    std::string Pass(unsigned char ucPattern, int *piResult) {
        return Capture([&] { *piResult = Nandkeep_BadBlockPatternPass(MTD0Fd(), ucPattern); });
    }
};

TEST_F(BadBlockScanTest, AHealthyDevicePrintsOnlyThePatternLinesAndHoldsTheLastPattern) {
    for (int iRound = 0; iRound < 2; iRound++) {
        for (unsigned char ucPattern : PATTERNS) {
            int iResult = -1;
            EXPECT_EQ(Pass(ucPattern, &iResult), PatternLine(ucPattern));
            EXPECT_EQ(iResult, 0);
            EXPECT_TRUE(AllBytes(0, BLOCKS * BLOCK, ucPattern)) << PatternLine(ucPattern);
        }
    }
    EXPECT_EQ(PatternLine(0x00), "Pattern is 0\n");
    EXPECT_EQ(PatternLine(0x0F), "Pattern is f\n");
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

// Bits that read 1 whatever was programmed, present only while the 0x5A pass runs: the block
// holds every other pattern, is reported once in that pass and never touched again.
TEST_F(BadBlockScanTest, ABlockThatFailsOnePatternIsRetiredInThatPassOnly) {
    constexpr uint32_t WEAK = 5;
    uint32_t dwErasesAtRetirement = 0;
    for (int iRound = 0; iRound < 2; iRound++) {
        for (unsigned char ucPattern : PATTERNS) {
            const bool bFaulty = iRound == 0 && ucPattern == 0x5A;
            if (bFaulty) {
                AddFault(SIM_FAULT_STUCK_BITS, WEAK, 8);
            }
            int iResult = -1;
            std::string strOut = Pass(ucPattern, &iResult);
            EXPECT_EQ(iResult, 0);
            if (bFaulty) {
                EXPECT_EQ(strOut, PatternLine(ucPattern) +
                                      "\n Nandkeep notify -> Image is not match.\n"
                                      "Offset 0xa0000 Is bad block\n");
                Sim_ClearFaults(&m_tDev, WEAK);
                dwErasesAtRetirement = Sim_EraseCount(&m_tDev, WEAK);
            } else {
                EXPECT_EQ(strOut, PatternLine(ucPattern));
            }
            EXPECT_EQ(IsBad(WEAK), iRound == 1 || ucPattern == 0x5A || ucPattern == 0xA5 ||
                                       ucPattern == 0x69 || ucPattern == 0x96);
        }
    }
    // Retired blocks are left erased and skipped silently by every later pass.
    EXPECT_EQ(Sim_EraseCount(&m_tDev, WEAK), dwErasesAtRetirement);
    EXPECT_TRUE(AllBytes(WEAK * BLOCK, BLOCK, 0xFF));
    EXPECT_TRUE(AllBytes(0, WEAK * BLOCK, 0x96));
    EXPECT_TRUE(AllBytes((WEAK + 1) * BLOCK, (BLOCKS - WEAK - 1) * BLOCK, 0x96));
}

TEST_F(BadBlockScanTest, ABlockMarkedBeforeTheScanIsNeverErasedProgrammedOrReported) {
    MarkBad(3);
    FillRaw(3 * BLOCK, BLOCK, 0x33);
    for (unsigned char ucPattern : PATTERNS) {
        int iResult = -1;
        EXPECT_EQ(Pass(ucPattern, &iResult), PatternLine(ucPattern));
        EXPECT_EQ(iResult, 0);
    }
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 3), 0u);
    EXPECT_TRUE(AllBytes(3 * BLOCK, BLOCK, 0x33));
}

TEST_F(BadBlockScanTest, ABlockWhoseEraseFailsIsMarkedAndStillProgrammed) {
    // The failed erase marks the block; it still takes 0xFF (which programs nothing), so the
    // read-back finds nothing to report.
    AddFault(SIM_FAULT_ERASE_FAIL, 7);
    int iResult = -1;
    EXPECT_EQ(Pass(0xFF, &iResult), PatternLine(0xFF) + "find a bad block");
    EXPECT_EQ(iResult, 0);
    EXPECT_TRUE(IsBad(7));
    // Later passes skip it.
    EXPECT_EQ(Pass(0x00, &iResult), PatternLine(0x00));
}

TEST_F(BadBlockScanTest, APassCutShortByAFailingWriteLeavesTheNextPassToGoOn) {
    // The failing write retires block 2 and ends the pass there; the next pass skips it.
    AddFault(SIM_FAULT_PROGRAM_FAIL, 2);
    int iResult = 0;
    Pass(0x5A, &iResult);
    EXPECT_EQ(iResult, -1);
    EXPECT_TRUE(IsBad(2));
    EXPECT_TRUE(AllBytes(0, 2 * BLOCK, 0x5A));
    EXPECT_TRUE(AllBytes(3 * BLOCK, (BLOCKS - 3) * BLOCK, 0xFF));
    EXPECT_EQ(Pass(0xA5, &iResult), PatternLine(0xA5));
    EXPECT_EQ(iResult, 0);
    EXPECT_TRUE(AllBytes(3 * BLOCK, (BLOCKS - 3) * BLOCK, 0xA5));
}

} // namespace
