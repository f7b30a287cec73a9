// The flash verify test on small simulated devices, in-process.
#include "frontend/tool_fixture.h"

#include "factorytest/factorytests.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace toolfixture;
using testsupport::Bytes;

namespace {

class FlashVerifyTest : public ToolTest {
  protected:
    int Verify(std::string *pstrOut) {
        int iResult = 0;
        *pstrOut = Capture([&] { iResult = Nandkeep_FlashVerify(); });
        return iResult;
    }
    // Block i holds the buffer from byte 4 * i, so block i + 1's contents are block i's moved
    // on by 4 bytes.
    void ExpectShiftedReferenceContents(uint32_t dwBlocks, const std::vector<uint32_t> &adwSkip) {
        auto skip = [&](uint32_t dwBlock) {
            for (uint32_t dwBad : adwSkip) {
                if (dwBad == dwBlock) {
                    return true;
                }
            }
            return false;
        };
        for (uint32_t i = 0; i + 1 < dwBlocks; i++) {
            if (skip(i) || skip(i + 1)) {
                continue;
            }
            Bytes aucThis = ReadRaw(i * BLOCK, BLOCK);
            Bytes aucNext = ReadRaw((i + 1) * BLOCK, BLOCK);
            ASSERT_EQ(memcmp(aucThis.data() + 4, aucNext.data(), BLOCK - 4), 0) << "block " << i;
        }
    }
};

std::vector<int> ProgressValues(const std::string &strOut) {
    std::vector<int> aiValues;
    for (const std::string &strLine : Lines(strOut)) {
        int iValue = 0;
        if (sscanf(strLine.c_str(), "Testing progress %d / 100 ...", &iValue) == 1) {
            aiValues.push_back(iValue);
        }
    }
    return aiValues;
}

TEST_F(FlashVerifyTest, AHealthyDevicePassesWithProgressOnStandardOutputOnly) {
    CreateDevice(32);
    FillRaw(0, 32 * BLOCK, 0x00);
    StartTool();
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), 0);
    EXPECT_EQ(VerifyLog(), "\n\n\nTest Pass.\n");

    std::vector<int> aiProgress = ProgressValues(strOut);
    ASSERT_GE(aiProgress.size(), 3u) << strOut;
    EXPECT_EQ(aiProgress[0], 1);
    EXPECT_EQ(aiProgress[1], 2);
    for (size_t i = 2; i < aiProgress.size(); i++) {
        EXPECT_GT(aiProgress[i], aiProgress[i - 1]);
        EXPECT_GE(aiProgress[i], 3);
    }
    EXPECT_EQ(aiProgress.back(), 100);
    // 32 blocks of 128 KiB: one line per block.
    EXPECT_EQ(aiProgress.size(), 2u + 32u);
    EXPECT_EQ(Count(strOut, "Testing progress"), aiProgress.size());

    ExpectShiftedReferenceContents(32, {});
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

TEST_F(FlashVerifyTest, ABlockBadBeforehandIsNeverTouchedAndCountsOnlyInTheTotal) {
    // 64 blocks allow one bad block (2 %, rounded down).
    CreateDevice(64);
    MarkBad(7);
    FillRaw(7 * BLOCK, BLOCK, 0x77);
    StartTool();
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), 0);
    EXPECT_EQ(VerifyLog(), "Find a bad block at offset=0xe0000\n\n\n\nTest Pass.\n");
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 7), 0u);
    EXPECT_TRUE(AllBytes(7 * BLOCK, BLOCK, 0x77));
    ExpectShiftedReferenceContents(64, {7});
}

TEST_F(FlashVerifyTest, MoreBadBlocksThanTwoPercentFailTheTotalRuleOnce) {
    CreateDevice(64);
    MarkBad(7);
    MarkBad(40);
    StartTool();
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), 1);
    EXPECT_EQ(VerifyLog(), "Find a bad block at offset=0xe0000\n"
                           "Find a bad block at offset=0x500000\n"
                           "FAIL: Total Bad block Num ## 2 ## > 2%\n"
                           "\n\n\nTest Fail. Error Cnt = 1\n");
}

TEST_F(FlashVerifyTest, ABlockThatLosesBitsIsCountedOncePerCheckThatSeesIt) {
    // Bits of block 4 read 1 whatever is programmed: the first check sees it, the 0x00 case of
    // its own turn sees it, and the disturb check sees it after each of the two cases of every
    // other block's turn.
    constexpr uint32_t BLOCKS = 16;
    CreateDevice(BLOCKS);
    AddFault(SIM_FAULT_STUCK_BITS, 4, 16);
    StartTool();
    std::string strOut;
    const int iExpected = 1 + 1 + 2 * (BLOCKS - 1);
    EXPECT_EQ(Verify(&strOut), iExpected);
    std::string strLog = VerifyLog();
    EXPECT_EQ(Count(strLog,
                    "First image check Find diff sector and set bad block at address = 0x80000\n"),
              1u);
    EXPECT_EQ(Count(strLog, "Sub pattern case 0, Find diff sector and set bad block at address = "
                            "0x80000\n"),
              1u);
    EXPECT_EQ(Count(strLog, "Sub pattern case 1, "), 0u);
    EXPECT_EQ(Count(strLog, "CheckOtherSector Find diff sector at address = 0x80000\n"),
              2u * (BLOCKS - 1));
    EXPECT_EQ(Count(strLog, "CheckOtherSector"), 2u * (BLOCKS - 1));
    EXPECT_EQ(Count(strLog, "The image is differnet, ulMTDOffset = 0x00080000\n"),
              2u * (BLOCKS - 1));
    const std::string strVerdict =
        "FAIL: Find ## " + std::to_string(iExpected) +
        " ## diff block\n\n\n\nTest Fail. Error Cnt = " + std::to_string(iExpected) + "\n";
    EXPECT_EQ(strLog.substr(strLog.size() - strVerdict.size()), strVerdict);
    // The ECC report after each finding goes to standard output only.
    EXPECT_EQ(Count(strOut, "At 0x80000 offset ECC corrected = 0, failed = 0\n"), 2u);
    EXPECT_EQ(Count(strLog, "At 0x80000 offset"), 0u);
    // Nothing was marked bad: differences are counted, not retired.
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
}

TEST_F(FlashVerifyTest, ABlockThatTurnsBadInThePatternPhaseIsOneNewBadBlock) {
    // Block 6 takes the initial erase, then wears out at the first erase of its own turn.
    CreateDevice(64);
    AddFault(SIM_FAULT_WEAR_OUT, 6, 1);
    StartTool();
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), 1);
    EXPECT_EQ(VerifyLog(), "Find a ## New ## bad block at offset = 0xc0000\n"
                           "FAIL: Find ## 1 ## new bad block\n"
                           "\n\n\nTest Fail. Error Cnt = 1\n");
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{6});
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 6), 1u);
}

TEST_F(FlashVerifyTest, AnUncorrectableReadInTheDisturbCheckRetiresTheBlock) {
    CreateDevice(64);
    AddFault(SIM_FAULT_UNCORRECTABLE, 9);
    StartTool();
    std::string strOut;
    int iResult = Verify(&strOut);
    std::string strLog = VerifyLog();
    // The first check compares bytes only (the read delivers wrong data); the disturb check of
    // block 0's turn sees the failed count rise and retires block 9.
    EXPECT_EQ(Count(strLog, "First image check Find diff sector and set bad block at address = "
                            "0x120000\n"),
              1u);
    EXPECT_EQ(Count(strLog, "Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = "
                            "0x120000\n"),
              1u);
    EXPECT_EQ(Count(strLog, "Find a ## New ## bad block at offset = 0x120000\n"), 1u);
    EXPECT_TRUE(IsBad(9));
    // First check + the one disturb finding, plus the new bad block.
    EXPECT_EQ(iResult, 3) << strLog;
}

TEST_F(FlashVerifyTest, AFailingWriteEndsTheTestWithoutAVerdict) {
    CreateDevice(16);
    AddFault(SIM_FAULT_PROGRAM_FAIL, 3);
    StartTool();
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), -1);
    EXPECT_EQ(Count(VerifyLog(), "Test "), 0u);
    EXPECT_TRUE(IsBad(3));
}

TEST_F(FlashVerifyTest, TwentyOneBadBlocksOf1024FailTheTotalRule) {
    // 1024 blocks allow 20. The test reads the device twice per good block (about two million
    // block reads here, a minute on the plain build); the sanitizer build, several times slower,
    // leaves this one case to the plain build: the smaller cases run the same code under it.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "quadratic run left to the plain build";
#endif
    constexpr uint32_t BLOCKS = 1024;
    CreateDevice(BLOCKS);
    for (uint32_t i = 0; i < 21; i++) {
        MarkBad(1 + 48 * i);
    }
    StartTool();
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), 1);
    std::string strLog = VerifyLog();
    EXPECT_EQ(Count(strLog, "Find a bad block at offset="), 21u);
    const std::string strVerdict =
        "FAIL: Total Bad block Num ## 21 ## > 2%\n\n\n\nTest Fail. Error Cnt = 1\n";
    EXPECT_EQ(strLog.substr(strLog.size() - strVerdict.size()), strVerdict);
}

TEST_F(FlashVerifyTest, ErasesLargerThanOnePieceAreHandledWhole) {
    // The partition list claims 256 KiB erase blocks: every buffer must hold one of them.
    CreateDevice(32);
    StartToolWithProcMtd("dev:    size   erasesize  name\n"
                         "mtd0: 00400000 00040000 \"linux\"\n");
    std::string strOut;
    EXPECT_EQ(Verify(&strOut), 0) << VerifyLog();
    EXPECT_EQ(VerifyLog(), "\n\n\nTest Pass.\n");
}

} // namespace
