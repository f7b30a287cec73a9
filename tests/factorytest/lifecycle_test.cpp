// The life-cycle test, through the dispatcher with each argument form, on small ranges.
#include "frontend/tool_fixture.h"

#include "factorytest/factorytests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace toolfixture;

namespace {

constexpr uint32_t BLOCKS = 16;
constexpr const char *PASS = "\n\n\nTest Pass.\n";

class LifeCycleTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        CreateDevice(BLOCKS);
        StartTool();
    }
};

std::string CycleLines(int iCycles) {
    std::string strLines;
    for (int i = 0; i < iCycles; i++) {
        strLines += "Erase all 1000 times Num. " + std::to_string(i) + "\n";
    }
    return strLines;
}

TEST_F(LifeCycleTest, LengthZeroVisitsNothingYetLogsEveryCycle) {
    CommandResult tRes = Run({"lifeCycleTest", "0"});
    ASSERT_TRUE(tRes.bRouted);
    EXPECT_EQ(tRes.iResult, 0);
    // The default count of 1000 runs cycles 0 to 1000; the range differs from the device, so
    // the total-bad-block rule is not applied.
    EXPECT_EQ(VerifyLog(), CycleLines(1001) + PASS);
    EXPECT_EQ(tRes.out, VerifyLog());
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullErases, 0u);
}

TEST_F(LifeCycleTest, WordsBeyondTheLengthKeepTheDefaultCount) {
    EXPECT_EQ(Run({"lifeCycleTest", "0", "1", "2"}).iResult, 0);
    EXPECT_EQ(VerifyLog(), CycleLines(1001) + PASS);
}

TEST_F(LifeCycleTest, LengthAndCountRunCountPlusOneCyclesOverTheRange) {
    FillRaw(0, BLOCKS * BLOCK, 0x00);
    CommandResult tRes = Run({"lifeCycleTest", "100000", "1"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(VerifyLog(), CycleLines(2) + PASS);
    // The first 1 MiB: 8 blocks, each erased 1001 times per cycle, left holding zeros.
    for (uint32_t i = 0; i < 8; i++) {
        EXPECT_EQ(Sim_EraseCount(&m_tDev, i), 2002u) << "block " << i;
    }
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 8), 0u);
    EXPECT_TRUE(AllBytes(0, 8 * BLOCK, 0x00));
    EXPECT_TRUE(AllBytes(8 * BLOCK, 8 * BLOCK, 0x00));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

TEST_F(LifeCycleTest, ACountThatDoesNotConvertWarnsAndRunsWithWhatItGot) {
    CommandResult tRes = Run({"lifeCycleTest", "100000", "zz"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(tRes.out.rfind("input cycle [zz] (base hex), but get [0]\n", 0), 0u) << tRes.out;
    EXPECT_EQ(VerifyLog(), CycleLines(1) + PASS);
}

TEST_F(LifeCycleTest, ALengthThatDoesNotConvertWarnsAndTakesItsPartialBlockWhole) {
    CommandResult tRes = Run({"lifeCycleTest", "12x4", "0"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(tRes.out.rfind("input size [12x4] (base hex), but get [12]\n", 0), 0u) << tRes.out;
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 0), 1001u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 1), 0u);
    EXPECT_TRUE(AllBytes(0, BLOCK, 0x00));
}

TEST_F(LifeCycleTest, ABlockThatWearsOutIsCountedOnceAndSkippedAfterwards) {
    // Block 2 takes 1500 erases: it fails in the middle of the second cycle.
    AddFault(SIM_FAULT_WEAR_OUT, 2, 1500);
    CommandResult tRes = Run({"lifeCycleTest", "80000", "2"});
    EXPECT_EQ(tRes.iResult, 1);
    EXPECT_EQ(VerifyLog(), CycleLines(2) + "Find a ## New ## bad block at offset = 0x40000\n"
                                           "Erase all 1000 times Num. 2\n"
                                           "FAIL: Find ## 1 ## new bad block\n"
                                           "\n\n\nTest Fail. Error Cnt = 1\n");
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 2), 1500u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 3), 3003u);
}

TEST_F(LifeCycleTest, ABlockThatCannotHoldZerosIsADifferenceInEveryCycle) {
    AddFault(SIM_FAULT_STUCK_BITS, 1, 4);
    EXPECT_EQ(Run({"lifeCycleTest", "80000", "1"}).iResult, 2);
    EXPECT_EQ(VerifyLog(), "Erase all 1000 times Num. 0\n"
                           "Find diff sector at address = 0x20000\n"
                           "Erase all 1000 times Num. 1\n"
                           "Find diff sector at address = 0x20000\n"
                           "FAIL: Find ## 2 ## diff block\n"
                           "\n\n\nTest Fail. Error Cnt = 2\n");
}

TEST_F(LifeCycleTest, TheTotalBadBlockRuleAppliesOnlyToTheWholeDevice) {
    // 16 blocks allow none: a bad block fails the rule when the whole device is tested.
    MarkBad(5);
    EXPECT_EQ(Nandkeep_LifeCycleTest(15 * BLOCK, 0), 0);
    EXPECT_EQ(Nandkeep_LifeCycleTest(BLOCKS * BLOCK, 0), 1);
    std::string strLog = VerifyLog();
    EXPECT_EQ(Count(strLog, "Find a bad block at offset=0xa0000\n"), 2u);
    EXPECT_EQ(Count(strLog, "FAIL: Total Bad block Num ## 1 ## > 2%\n"), 1u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 5), 0u);
}

TEST_F(LifeCycleTest, AFailingWriteEndsTheTestWithoutAVerdict) {
    AddFault(SIM_FAULT_PROGRAM_FAIL, 1);
    EXPECT_EQ(Run({"lifeCycleTest", "80000", "1"}).iResult, -1);
    EXPECT_EQ(VerifyLog(), "Erase all 1000 times Num. 0\n");
}

class LifeCycleWholeDeviceTest : public ToolTest {};

TEST_F(LifeCycleWholeDeviceTest, NoArgumentTestsTheWholeDeviceWithTheDefaultCount) {
    // One block, so that 1001 cycles of 1001 erases stay quick.
    CreateDevice(1);
    StartTool();
    CommandResult tRes = Run({"lifeCycleTest"});
    ASSERT_TRUE(tRes.bRouted);
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(VerifyLog(), CycleLines(1001) + PASS);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 0), 1001u * 1001u);
}

} // namespace
