// The MTD primitives on the simulated device: piece alignment, the read and write retry rules,
// erase skipping and marking, and the ECC-checked read.
#include "flash/mtdio.h"
#include "support/core_fixture.h"
#include "support/support.h"

#include <algorithm>
#include <cstring>

using testsupport::RandomBytes;

namespace {

class MtdIoTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        Start128();
    }
};

TEST_F(MtdIoTest, ReadAcrossPieceBoundaryDeliversBothPiecesContiguously) {
    auto data = RandomBytes(2 * BLOCK, 1);
    PutRaw(4 * BLOCK, data);
    std::vector<unsigned char> buf(4);
    ASSERT_EQ(Nandkeep_ReadMTD(Fd(), buf.data(), 5 * BLOCK - 4, 4), 0);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin() + BLOCK - 4));

    std::vector<unsigned char> cross(100);
    ASSERT_EQ(Nandkeep_ReadMTD(Fd(), cross.data(), 5 * BLOCK - 4, cross.size()), 0);
    EXPECT_TRUE(std::equal(cross.begin(), cross.end(), data.begin() + BLOCK - 4));

    std::vector<unsigned char> whole(2 * BLOCK - 10);
    ASSERT_EQ(Nandkeep_ReadMTD(Fd(), whole.data(), 4 * BLOCK + 10, whole.size()), 0);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), data.begin() + 10));
}

TEST_F(MtdIoTest, ReadPastTheDeviceEndFailsAfterTwoCalls) {
    std::vector<unsigned char> buf(16);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_ReadMTD(Fd(), buf.data(), MTD0Size(), 16), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "iCnt = 2, ulSize = 131072, iReturn = 0\n"
                   "iCnt = 2\n\n Nandkeep notify -> read fail\n");
    EXPECT_EQ(Syslog(), std::vector<std::string>{"SYSTEM WARNING! read() System too slow!"});
}

TEST_F(MtdIoTest, ShortReadCompletedBySecondCallWarns) {
    auto data = RandomBytes(BLOCK, 2);
    PutRaw(8 * BLOCK, data);
    Fault(SIM_FAULT_SHORT_READ, SIM_NO_BLOCK, 1);
    std::vector<unsigned char> buf(BLOCK);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Nandkeep_ReadMTD(Fd(), buf.data(), 8 * BLOCK, BLOCK), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(buf, data);
    EXPECT_EQ(out, "iCnt = 2, ulSize = 0, iReturn = 65536\n");
    EXPECT_EQ(Syslog(), std::vector<std::string>{"SYSTEM WARNING! read() System too slow!"});
}

TEST_F(MtdIoTest, ShortWriteIsCompletedWithWarnings) {
    auto data = RandomBytes(BLOCK, 3);
    Fault(SIM_FAULT_SHORT_WRITE, SIM_NO_BLOCK, 1);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Nandkeep_WriteMTD(Fd(), data.data(), 3 * BLOCK, BLOCK), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Raw(3 * BLOCK, BLOCK), data);
    EXPECT_EQ(out, "iCnt = 2, ulSize = 0, iReturn = 65536\n");
    EXPECT_EQ(Syslog(), std::vector<std::string>{"SYSTEM WARNING! write() System too slow!"});
}

TEST_F(MtdIoTest, ShortWritePieceSendsWholePieceWithErasedFill) {
    std::vector<unsigned char> buf(BLOCK, 0x00);
    std::fill(buf.begin(), buf.begin() + 1024, 0x5A);
    ASSERT_EQ(Nandkeep_WriteMTD(Fd(), buf.data(), 6 * BLOCK, 1024), 0);
    auto raw = Raw(6 * BLOCK, BLOCK);
    EXPECT_TRUE(
        std::all_of(raw.begin(), raw.begin() + 1024, [](unsigned char c) { return c == 0x5A; }));
    EXPECT_TRUE(
        std::all_of(raw.begin() + 1024, raw.end(), [](unsigned char c) { return c == 0xFF; }));
    // The fill is made in the caller's buffer.
    EXPECT_EQ(buf[1024], 0xFF);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

TEST_F(MtdIoTest, ZeroLengthTransfersDoNothing) {
    unsigned char c = 0;
    uint64_t before = Sim_OpCounts(&m_tDev).ullOps;
    EXPECT_EQ(Nandkeep_ReadMTD(Fd(), &c, BLOCK, 0), 0);
    EXPECT_EQ(Nandkeep_WriteMTD(Fd(), &c, BLOCK, 0), 0);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, before);
}

TEST_F(MtdIoTest, FailingWriteMarksTheBlockAtTheStartOffset) {
    Fault(SIM_FAULT_PROGRAM_FAIL, 11);
    std::vector<unsigned char> buf(2 * BLOCK, 0x11);
    EXPECT_EQ(Nandkeep_WriteMTD(Fd(), buf.data(), 10 * BLOCK, 2 * BLOCK), -1);
    EXPECT_TRUE(IsBad(10));
    EXPECT_FALSE(IsBad(11));
}

TEST_F(MtdIoTest, EraseSkipsBadBlocksWithoutExtendingTheRange) {
    PutRaw(20 * BLOCK, std::vector<unsigned char>(3 * BLOCK, 0));
    Fault(SIM_FAULT_BAD, 21);
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), 20 * BLOCK, 3 * BLOCK), 0);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 20), 1u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 21), 0u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 22), 1u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 23), 0u);
    EXPECT_EQ(Raw(21 * BLOCK, 1)[0], 0x00);
    EXPECT_EQ(Raw(22 * BLOCK, 1)[0], 0xFF);
}

TEST_F(MtdIoTest, FailingEraseMarksAndGoesOnOrAnswers255ForOneBlock) {
    Fault(SIM_FAULT_ERASE_FAIL, 31);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), 30 * BLOCK, 3 * BLOCK), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "find a bad block");
    EXPECT_TRUE(IsBad(31));
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 32), 1u);

    Fault(SIM_FAULT_ERASE_FAIL, 40);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), 40 * BLOCK, BLOCK), 255);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(IsBad(40));
    // Already bad: skipped, not 255.
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), 40 * BLOCK, BLOCK), 0);

    // Shorter than a block: the length is not the erase size, so no 255.
    Fault(SIM_FAULT_ERASE_FAIL, 41);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), 41 * BLOCK, BLOCK / 2), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(IsBad(41));
}

TEST_F(MtdIoTest, EraseOfOneAndAHalfBlocksErasesTwo) {
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), 50 * BLOCK, BLOCK + BLOCK / 2), 0);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 50), 1u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 51), 1u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 52), 0u);
}

TEST_F(MtdIoTest, EraseRunningPastTheDeviceEndSkipsMissingBlocks) {
    unsigned long last = MTD0Size() - BLOCK;
    EXPECT_EQ(Nandkeep_EraseMTD(Fd(), last, 3 * BLOCK), 0);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, static_cast<uint32_t>(last / BLOCK)), 1u);
    EXPECT_EQ(Nandkeep_IsBadBlock(Fd(), MTD0Size()), 1);
    EXPECT_EQ(Nandkeep_IsBadBlock(Fd(), 0), 0);
}

TEST_F(MtdIoTest, EccReadReportsCorrectionsAndFailures) {
    std::vector<unsigned char> buf(BLOCK);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(Fd(), buf.data(), 60 * BLOCK, BLOCK), 0);
    Fault(SIM_FAULT_BITFLIP, 61, 3);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(Fd(), buf.data(), 61 * BLOCK, BLOCK), 103);
    Fault(SIM_FAULT_UNCORRECTABLE, 61);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(Fd(), buf.data(), 61 * BLOCK, BLOCK), 200);
    Fault(SIM_FAULT_BITFLIP, 62, 150);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(Fd(), buf.data(), 62 * BLOCK, BLOCK), 250);
    // A short length still reads a whole piece and delivers the bytes asked for.
    auto data = RandomBytes(BLOCK, 4);
    PutRaw(63 * BLOCK, data);
    std::vector<unsigned char> part(1000);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(Fd(), part.data(), 63 * BLOCK, part.size()), 0);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin()));
}

TEST_F(MtdIoTest, FusionWriteReplacesABlockOrReportsTheErase) {
    PutRaw(70 * BLOCK, std::vector<unsigned char>(BLOCK, 0x00));
    auto data = RandomBytes(BLOCK, 5);
    auto copy = data;
    EXPECT_EQ(FusionWrite(Fd(), copy.data(), 70 * BLOCK), 0);
    EXPECT_EQ(Raw(70 * BLOCK, BLOCK), data);

    Fault(SIM_FAULT_ERASE_FAIL, 71);
    uint64_t programs = Sim_OpCounts(&m_tDev).ullPrograms;
    testing::internal::CaptureStdout();
    EXPECT_EQ(FusionWrite(Fd(), copy.data(), 71 * BLOCK), 255);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, programs);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

TEST_F(MtdIoTest, MarkingAndCheckingErasedBuffers) {
    EXPECT_EQ(SetBadBlockToBBT(Fd(), 80 * BLOCK + 100), 0);
    EXPECT_TRUE(IsBad(80));
    testing::internal::CaptureStdout();
    EXPECT_EQ(SetBadBlockToBBT(Fd(), MTD0Size()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Nandkeep notify -> set bad block fail\n");

    std::vector<unsigned char> erased(64, 0xFF);
    EXPECT_EQ(Nandkeep_CheckErased(erased.data(), erased.size()), 0);
    erased[63] = 0xFE;
    EXPECT_EQ(Nandkeep_CheckErased(erased.data(), erased.size()), 1);
    EXPECT_EQ(Nandkeep_CheckErased(erased.data(), 60), 0);
}

} // namespace
