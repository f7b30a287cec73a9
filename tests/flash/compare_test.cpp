// Comparisons of buffers, regions and files with the flash, and the write-and-verify of one
// block, on the simulated device with injected faults.
#include "flash/compare.h"
#include "flash/mtdio.h"
#include "support/core_fixture.h"
#include "support/support.h"

#include <cstdio>

using testsupport::RandomBytes;

namespace {

class CompareTest : public CoreTest {
  protected:
    int CompareBuf(const std::vector<unsigned char> &v, unsigned long ulOffset, int iPreset = -7) {
        int iSame = iPreset;
        EXPECT_EQ(CompareBufAndMTD(Fd(), v.data(), ulOffset, v.size(), &iSame), 0);
        return iSame;
    }
    int CompareRegions(unsigned long ulDest, unsigned long ulSrc, unsigned long ulDestLen,
                       unsigned long ulSrcLen, unsigned long ulLen, int iPreset = -7) {
        int iSame = iPreset;
        EXPECT_EQ(
            Nandkeep_CompareImageAndMTD(Fd(), ulDest, ulSrc, ulDestLen, ulSrcLen, ulLen, &iSame),
            0);
        return iSame;
    }
    int CompareFile(const std::vector<unsigned char> &v, unsigned long ulOffset,
                    unsigned long ulMax) {
        testsupport::TempDir tmp;
        testsupport::WriteFile(tmp / "f", v);
        FILE *pFile = fopen((tmp / "f").c_str(), "r");
        EXPECT_NE(pFile, nullptr);
        int iSame = -7;
        EXPECT_EQ(Nandkeep_CompareFileAndMTD(pFile, ulOffset, ulMax, &iSame), 0);
        fclose(pFile);
        return iSame;
    }
};

TEST_F(CompareTest, BufferComparisonAnswersBothWays) {
    Start128();
    auto data = RandomBytes(3 * BLOCK, 10);
    PutRaw(100 * BLOCK, data);
    EXPECT_EQ(CompareBuf(data, 100 * BLOCK), 1);
    EXPECT_EQ(CompareBuf({}, 100 * BLOCK), 1);
    EXPECT_TRUE(Syslog().empty());

    // A difference in either direction, in the last piece.
    for (int delta : {+1, -1}) {
        auto changed = data;
        changed[3 * BLOCK - 1] = static_cast<unsigned char>(changed[3 * BLOCK - 1] + delta);
        EXPECT_EQ(CompareBuf(changed, 100 * BLOCK), 0);
    }
    EXPECT_EQ(Syslog(), std::vector<std::string>(2, "NANDKEEP ERROR! Compare image fail!"));
    EXPECT_FALSE(IsBad(102));
}

TEST_F(CompareTest, UncorrectableReadRetiresTheBlockEvenWhenTheBytesMatch) {
    Start128();
    auto data = RandomBytes(2 * BLOCK, 11);
    PutRaw(110 * BLOCK, data);
    Fault(SIM_FAULT_UNCORRECTABLE, 111);
    EXPECT_EQ(CompareBuf(data, 110 * BLOCK), 0);
    EXPECT_FALSE(IsBad(110));
    EXPECT_TRUE(IsBad(111));
}

TEST_F(CompareTest, CorrectionRetiresOnTheOneBitProfileOnly) {
    Start128();
    auto data = RandomBytes(BLOCK, 12);
    PutRaw(120 * BLOCK, data);
    Fault(SIM_FAULT_BITFLIP, 120, 1);
    EXPECT_EQ(CompareBuf(data, 120 * BLOCK), 0);
    EXPECT_TRUE(IsBad(120));
}

TEST_F(CompareTest, CorrectionIsIgnoredOnTheLargeProfile) {
    Start(Sim_ProfileSpec(256));
    auto data = RandomBytes(BLOCK, 13);
    PutRaw(120 * BLOCK, data);
    Fault(SIM_FAULT_BITFLIP, 120, 1);
    EXPECT_EQ(CompareBuf(data, 120 * BLOCK), 1);
    EXPECT_FALSE(IsBad(120));
}

TEST_F(CompareTest, RegionsPairTheirGoodBlocksInOrder) {
    Start128();
    // Source 200.. with its second block bad, destination 300.. with its third block bad.
    Fault(SIM_FAULT_BAD, 201);
    Fault(SIM_FAULT_BAD, 302);
    auto data = RandomBytes(4 * BLOCK, 14);
    PutOverGoodBlocks(200 * BLOCK, data);
    PutOverGoodBlocks(300 * BLOCK, data);
    EXPECT_EQ(CompareRegions(300 * BLOCK, 200 * BLOCK, 8 * BLOCK, 8 * BLOCK, 4 * BLOCK), 1);
    // The bad blocks' contents play no part.
    PutRaw(201 * BLOCK, RandomBytes(BLOCK, 99));
    EXPECT_EQ(CompareRegions(300 * BLOCK, 200 * BLOCK, 8 * BLOCK, 8 * BLOCK, 4 * BLOCK), 1);
    // The fourth good destination block (304) differs.
    PutRaw(304 * BLOCK + 5, {0x00});
    EXPECT_EQ(CompareRegions(300 * BLOCK, 200 * BLOCK, 8 * BLOCK, 8 * BLOCK, 4 * BLOCK), 0);
    EXPECT_EQ(CompareRegions(300 * BLOCK, 200 * BLOCK, 8 * BLOCK, 8 * BLOCK, 3 * BLOCK), 1);
}

TEST_F(CompareTest, RegionComparisonOfNothingLeavesTheFlag) {
    Start128();
    EXPECT_EQ(CompareRegions(300 * BLOCK, 200 * BLOCK, 8 * BLOCK, 8 * BLOCK, 0, 5), 5);
    EXPECT_EQ(CompareRegions(300 * BLOCK, 200 * BLOCK, 0, 8 * BLOCK, BLOCK, 5), 5);
}

TEST_F(CompareTest, RegionThatRunsOutOfGoodBlocksDoesNotHoldTheBytes) {
    Start128();
    // Both regions erased and so equal as far as they go, but the destination has room for
    // only one of the two blocks asked for, and the source for none after its bad block.
    Fault(SIM_FAULT_BAD, 401);
    EXPECT_EQ(CompareRegions(400 * BLOCK, 410 * BLOCK, 2 * BLOCK, 4 * BLOCK, 2 * BLOCK), 0);
    Fault(SIM_FAULT_BAD, 411);
    EXPECT_EQ(CompareRegions(420 * BLOCK, 410 * BLOCK, 4 * BLOCK, 2 * BLOCK, 2 * BLOCK), 0);
    EXPECT_EQ(CompareRegions(420 * BLOCK, 430 * BLOCK, 4 * BLOCK, 4 * BLOCK, 2 * BLOCK), 1);
}

TEST_F(CompareTest, FileAgainstARegionWithABadBlockInTheMiddle) {
    Start128();
    Fault(SIM_FAULT_BAD, 501);
    auto data = RandomBytes(2 * BLOCK + 300, 15);
    PutOverGoodBlocks(500 * BLOCK, data);
    EXPECT_EQ(CompareFile(data, 500 * BLOCK, 8 * BLOCK), 1);
    // Shorter than the region: only the file's bytes count.
    EXPECT_EQ(CompareFile({data.begin(), data.begin() + 1000}, 500 * BLOCK, 8 * BLOCK), 1);
    // Longer than ulMTDMaxSize, whose first ulMTDMaxSize bytes match.
    PutRaw(510 * BLOCK, data);
    EXPECT_EQ(CompareFile(data, 510 * BLOCK, 2 * BLOCK), 1);
    auto changed = data;
    changed[2 * BLOCK + 10] ^= 0x01;
    EXPECT_EQ(CompareFile(changed, 500 * BLOCK, 8 * BLOCK), 0);
    EXPECT_EQ(CompareFile({}, 500 * BLOCK, 8 * BLOCK), 1);
}

TEST_F(CompareTest, FileThatBadBlocksLeaveNoRoomForIsNotHeld) {
    Start128();
    Fault(SIM_FAULT_BAD, 601);
    auto data = RandomBytes(3 * BLOCK, 16);
    PutOverGoodBlocks(600 * BLOCK, data); // the third chunk lands at 603, outside the region
    // Region of three blocks: two good ones. The file needs three.
    EXPECT_EQ(CompareFile(data, 600 * BLOCK, 3 * BLOCK), 0);
    // Region of three blocks whose last block is bad: used up while skipping.
    Fault(SIM_FAULT_BAD, 612);
    PutOverGoodBlocks(610 * BLOCK, data);
    EXPECT_EQ(CompareFile(data, 610 * BLOCK, 3 * BLOCK), 0);
    // A file that exactly fills the good blocks is held.
    EXPECT_EQ(CompareFile({data.begin(), data.begin() + 2 * BLOCK}, 610 * BLOCK, 3 * BLOCK), 1);
}

TEST_F(CompareTest, VerifyComparisonLogsCorrectionsAndRetiresOnFailures) {
    Start128();
    auto data = RandomBytes(2 * BLOCK, 17);
    PutRaw(700 * BLOCK, data);
    Fault(SIM_FAULT_BITFLIP, 700, 2);
    int iSame = -7;
    testing::internal::CaptureStdout();
    ASSERT_EQ(Nandkeep_CompareVerifyBufAndMTD(Fd(), data.data(), 700 * BLOCK, 2 * BLOCK, &iSame),
              0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(iSame, 1);
    EXPECT_FALSE(IsBad(700));
    // The first snapshot is kept: the second piece logs the totals again.
    const std::string three = "Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 2\n"
                              "Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 0\n"
                              "Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x";
    EXPECT_EQ(out, three + "5780000\n" + three + "57A0000\n");
    EXPECT_EQ(testsupport::ReadText(Path("ramdisk/flashVerifyResult")), out);

    Fault(SIM_FAULT_UNCORRECTABLE, 711);
    PutRaw(711 * BLOCK, data);
    testing::internal::CaptureStdout();
    ASSERT_EQ(Nandkeep_CompareVerifyBufAndMTD(Fd(), data.data(), 711 * BLOCK, BLOCK, &iSame), 0);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(iSame, 0);
    EXPECT_TRUE(IsBad(711));
    EXPECT_NE(
        out.find("Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = 0x58E0000\n"),
        std::string::npos);

    auto changed = data;
    changed[7] ^= 0x80;
    testing::internal::CaptureStdout();
    ASSERT_EQ(Nandkeep_CompareVerifyBufAndMTD(Fd(), changed.data(), 720 * BLOCK, BLOCK, &iSame), 0);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(iSame, 0);
    EXPECT_EQ(out.rfind("The image is differnet, ulMTDOffset = 0x05A00000\nThe image memcmp = ", 0),
              0u)
        << out;
}

TEST_F(CompareTest, WriteAndVerifyRetiresABlockWithStuckBits) {
    Start128();
    // All zeros: every stuck bit shows.
    std::vector<unsigned char> data(BLOCK, 0x00);
    Fault(SIM_FAULT_STUCK_BITS, 800, 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_CheckImageMatch(Fd(), data.data(), 800 * BLOCK, BLOCK), 255);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "\n Nandkeep notify -> Image is not match.\n");
    EXPECT_TRUE(IsBad(800));
    auto raw = Raw(800 * BLOCK, BLOCK);
    EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](unsigned char c) { return c == 0xFF; }));

    EXPECT_EQ(Nandkeep_CheckImageMatch(Fd(), data.data(), 801 * BLOCK, BLOCK), 0);
    EXPECT_FALSE(IsBad(801));
    EXPECT_EQ(Raw(801 * BLOCK, BLOCK), data);
}

} // namespace
