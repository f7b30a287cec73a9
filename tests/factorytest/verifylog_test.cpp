// The verify result log, the known bad-block list and the verdict.
#include "factorytest/verifylog.h"
#include "support/core_fixture.h"
#include "support/support.h"

namespace {

class VerifyLogTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        Start128();
    }
    std::string Log() {
        return testsupport::ReadText(Path("ramdisk/flashVerifyResult"));
    }
};

TEST_F(VerifyLogTest, MessagesAreAppendedAndPrinted) {
    testsupport::WriteText(Path("ramdisk/flashVerifyResult"), "earlier run\n");
    testing::internal::CaptureStdout();
    Nandkeep_WriteVerifyResult("Sub pattern case %d, ", 1);
    Nandkeep_WriteVerifyResult("at 0x%lx\n", static_cast<int>(0x120000));
    // Offsets of 4 GiB and more are logged with their low 32 bits.
    Nandkeep_WriteVerifyResult("big 0x%lx\n", static_cast<int>(0x100020000ul & 0xFFFFFFFFul));
    Nandkeep_WriteVerifyResult("neg %lu\n", -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Sub pattern case 1, at 0x120000\nbig 0x20000\nneg 4294967295\n");
    EXPECT_EQ(Log(), "earlier run\n" + out);
}

TEST_F(VerifyLogTest, MissingRamDiskEndsTheProcessWithStatusOne) {
    ASSERT_EQ(system(("rm -rf '" + Path("ramdisk") + "'").c_str()), 0);
    EXPECT_EXIT(Nandkeep_WriteVerifyResult("x %d\n", 1), testing::ExitedWithCode(1), "");
}

TEST_F(VerifyLogTest, CensusAndNewBadBlocksAreLoggedOnce) {
    Fault(SIM_FAULT_BAD, 3);
    Fault(SIM_FAULT_BAD, 9);
    unsigned long aulList[NANDKEEP_BAD_LIST_MAX];
    unsigned long ulCount = 99;
    testing::internal::CaptureStdout();
    Nandkeep_CollectBadBlocks(MTD0Size(), &ulCount, aulList);
    EXPECT_EQ(ulCount, 2u);
    EXPECT_EQ(Nandkeep_CheckBadBlockList(3 * BLOCK, &ulCount, aulList), -1);
    EXPECT_EQ(Nandkeep_CheckBadBlockList(4 * BLOCK, &ulCount, aulList), 0);
    ASSERT_EQ(Sim_MarkBad(&m_tDev, 4), 0);
    EXPECT_EQ(Nandkeep_CheckBadBlockList(4 * BLOCK, &ulCount, aulList), -1);
    EXPECT_EQ(Nandkeep_CheckBadBlockList(4 * BLOCK, &ulCount, aulList), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ulCount, 3u);
    EXPECT_EQ(aulList[2], 4 * BLOCK);
    EXPECT_EQ(out, "Find a bad block at offset=0x60000\n"
                   "Find a bad block at offset=0x120000\n"
                   "Find a ## New ## bad block at offset = 0x80000\n");
    EXPECT_EQ(Log(), out);
}

TEST_F(VerifyLogTest, CensusOfAShorterRangeStopsAtItsEnd) {
    Fault(SIM_FAULT_BAD, 9);
    unsigned long aulList[NANDKEEP_BAD_LIST_MAX];
    unsigned long ulCount = 0;
    testing::internal::CaptureStdout();
    Nandkeep_CollectBadBlocks(9 * BLOCK, &ulCount, aulList);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ulCount, 0u);
}

TEST_F(VerifyLogTest, TheTwoPercentRuleAndTheOtherCounts) {
    testing::internal::CaptureStdout();
    // 1024 blocks allow 20.
    EXPECT_EQ(Nandkeep_JudgeVerifyResult(20, 20, 0, 1), 0);
    EXPECT_EQ(Nandkeep_JudgeVerifyResult(21, 21, 0, 1), 1);
    EXPECT_EQ(Nandkeep_JudgeVerifyResult(40, 40, 0, 1), 1);
    EXPECT_EQ(Nandkeep_JudgeVerifyResult(21, 21, 0, 0), 0);
    EXPECT_EQ(Nandkeep_JudgeVerifyResult(23, 20, 4, 1), 1 + 3 + 4);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "\n\n\nTest Pass.\n"
                   "FAIL: Total Bad block Num ## 21 ## > 2%\n\n\n\nTest Fail. Error Cnt = 1\n"
                   "FAIL: Total Bad block Num ## 40 ## > 2%\n\n\n\nTest Fail. Error Cnt = 1\n"
                   "\n\n\nTest Pass.\n"
                   "FAIL: Total Bad block Num ## 23 ## > 2%\n"
                   "FAIL: Find ## 3 ## new bad block\n"
                   "FAIL: Find ## 4 ## diff block\n"
                   "\n\n\nTest Fail. Error Cnt = 8\n");
}

TEST_F(VerifyLogTest, TheBlockAfterTheListIsFullStopsTheTest) {
    unsigned long aulList[NANDKEEP_BAD_LIST_MAX];
    unsigned long ulCount = NANDKEEP_BAD_LIST_MAX;
    for (int i = 0; i < NANDKEEP_BAD_LIST_MAX; i++) {
        aulList[i] = static_cast<unsigned long>(i + 1) * BLOCK;
    }
    ASSERT_EQ(Sim_MarkBad(&m_tDev, 500), 0);
    EXPECT_EXIT((void)Nandkeep_CheckBadBlockList(500 * BLOCK, &ulCount, aulList),
                testing::ExitedWithCode(1), "");
    EXPECT_NE(Log().find("FAIL: more than 256 bad blocks, test stopped\n"), std::string::npos);
}

} // namespace
