// The image writer and the region copy on the simulated device.
#include "flash/mtdio.h"
#include "image/store_fixture.h"
#include "upgrade/recovery.h"
#include "upgrade/writer.h"

namespace {

// The Boot region: ten blocks.
constexpr unsigned long REGION = 0x20000;
constexpr unsigned long REGION_LEN = 0x140000;

class WriterTest : public StoreTest {
  protected:
    int Write(const std::string &strPath) {
        BeginCapture();
        int iRet = Nandkeep_WriteImage(strPath.c_str(), REGION, REGION_LEN, 0);
        m_strOut = EndCapture();
        return iRet;
    }
};

TEST_F(WriterTest, WritesAroundBadBlocksAndSkipsWhatIsAlreadyThere) {
    MarkBad(REGION + 2 * BLOCK);
    // Old contents everywhere: the rest of the region must read erased afterwards.
    PutRaw(REGION, TBytes(REGION_LEN, 0x00));
    BeginSession();
    TBytes aImage = PatternBytes(5 * BLOCK + 1234, 1);
    std::string strIn = WriteInput("img", aImage);
    ASSERT_EQ(Write(strIn), 0) << m_strOut;
    EXPECT_EQ(m_strOut, "");
    ExpectLaidOut(aImage, REGION);
    EXPECT_EQ(Raw(REGION + 6 * BLOCK + 1234, REGION_LEN - 6 * BLOCK - 1234),
              TBytes(REGION_LEN - 6 * BLOCK - 1234, 0xFF));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);

    const TSimOpCounts tBefore = Sim_OpCounts(&m_tDev);
    ASSERT_EQ(Write(strIn), 0);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, tBefore.ullOps);
}

TEST_F(WriterTest, FileAsLongAsTheRegionAndWholeChunkFiles) {
    BeginSession();
    for (size_t ulLen : {static_cast<size_t>(REGION_LEN), static_cast<size_t>(3 * BLOCK)}) {
        SCOPED_TRACE(ulLen);
        TBytes aImage = PatternBytes(ulLen, ulLen);
        ASSERT_EQ(Write(WriteInput("img", aImage)), 0) << m_strOut;
        EXPECT_EQ(Raw(REGION, ulLen), aImage);
    }
}

TEST_F(WriterTest, BlockThatDoesNotHoldItsChunkIsRetired) {
    Fault(SIM_FAULT_PROGRAM_LOST, REGION + BLOCK);
    BeginSession();
    TBytes aImage = PatternBytes(4 * BLOCK, 2);
    ASSERT_EQ(Write(WriteInput("img", aImage)), 0);
    EXPECT_EQ(m_strOut, Notified("Image is not match."));
    EXPECT_TRUE(IsBad(REGION + BLOCK));
    EXPECT_EQ(Raw(REGION, BLOCK), TBytes(aImage.begin(), aImage.begin() + BLOCK));
    EXPECT_EQ(Raw(REGION + 2 * BLOCK, 3 * BLOCK), TBytes(aImage.begin() + BLOCK, aImage.end()));
}

TEST_F(WriterTest, FitsBySizeButNotAfterTheBadBlocks) {
    MarkBad(REGION + 9 * BLOCK);
    BeginSession();
    EXPECT_EQ(Write(WriteInput("img", PatternBytes(REGION_LEN - 100, 3))), -1);
    EXPECT_EQ(m_strOut, Notified("write fail: Not enought flash space"));
    // The same failure when the retirement of a weak block is what uses the region up.
    Sim_ClearFaults(&m_tDev);
    Fault(SIM_FAULT_PROGRAM_LOST, REGION + 4 * BLOCK);
    EXPECT_EQ(Write(WriteInput("img", PatternBytes(REGION_LEN, 4))), -1);
    EXPECT_EQ(m_strOut,
              Notified("Image is not match.") + Notified("write fail: Not enought flash space"));
}

TEST_F(WriterTest, BadInputLeavesTheFlashAlone) {
    BeginSession();
    TBytes aOld = PatternBytes(2 * BLOCK, 5);
    ASSERT_EQ(Write(WriteInput("old", aOld)), 0);
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    struct TCase {
        std::string strPath;
        const char *pszMsg;
    } const atCases[] = {
        {Path("missing"), "fopen()"},
        {m_strDir, "not a regular file"},
        {WriteInput("big", TBytes(REGION_LEN + 1, 0)), "size too large"},
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.strPath);
        EXPECT_EQ(Write(tCase.strPath), -1);
        EXPECT_EQ(m_strOut, Notified(tCase.pszMsg));
    }
    // An empty file is held by any region: nothing to do.
    EXPECT_EQ(Write(WriteInput("empty", {})), 0);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    EXPECT_EQ(Raw(REGION, aOld.size()), aOld);
}

TEST_F(WriterTest, CopySkipsBadBlocksOnBothSides) {
    constexpr unsigned long SRC = 0x5500000;
    constexpr unsigned long DEST = 0x5600000;
    TBytes aData = PatternBytes(3 * BLOCK + 10, 6);
    MarkBad(SRC + BLOCK);
    MarkBad(DEST);
    BeginSession();
    // Source laid out as the writer does: pieces on the good blocks 0, 2, 3, 4.
    ASSERT_EQ(Nandkeep_EraseMTD(MTD0Fd(), SRC, 5 * BLOCK), 0);
    std::string strIn = WriteInput("src", aData);
    ASSERT_EQ(Nandkeep_WriteImage(strIn.c_str(), SRC, 5 * BLOCK, 0), 0);
    ASSERT_EQ(Nandkeep_EraseMTD(MTD0Fd(), DEST, 5 * BLOCK), 0);
    ASSERT_EQ(Nandkeep_CopyMTD(MTD0Fd(), DEST, SRC, 5 * BLOCK, 5 * BLOCK, aData.size()), 0);
    ExpectLaidOut(aData, DEST);

    // A destination one good block short.
    BeginCapture();
    EXPECT_EQ(Nandkeep_CopyMTD(MTD0Fd(), DEST, SRC, 4 * BLOCK, 5 * BLOCK, aData.size()), -1);
    EXPECT_EQ(EndCapture(), Notified("Bad block is too much"));
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    EXPECT_EQ(Nandkeep_CopyMTD(MTD0Fd(), DEST, SRC, 5 * BLOCK, 5 * BLOCK, 0), 0);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
}

// A range that is not a whole number of blocks ends in a part block, too short for a whole chunk:
// with a bad block inside, the writer, the copy and the block repair run out of room there and
// program nothing at or past the range's end.
TEST_F(WriterTest, NothingIsProgrammedPastTheEndOfAPartBlockRange) {
    constexpr unsigned long PART_LEN = 2 * BLOCK + BLOCK / 2;
    constexpr unsigned long NORMAL = 0x5500000, BACKUP = 0x5600000;
    const TBytes aSentinel(16, 0x00);
    MarkBad(REGION);
    EXPECT_EQ(Command({"write", WriteInput("img", PatternBytes(2 * BLOCK, 11)), "20000", "50000"}),
              -1);
    EXPECT_EQ(m_strOut, Notified("write fail: Not enought flash space"));
    EXPECT_EQ(Raw(REGION + PART_LEN, BLOCK / 2), TBytes(BLOCK / 2, 0xFF));

    BeginSession();
    PutRaw(NORMAL, PatternBytes(2 * BLOCK, 12));
    ASSERT_EQ(Nandkeep_EraseMTD(MTD0Fd(), REGION, PART_LEN), 0);
    BeginCapture();
    EXPECT_EQ(Nandkeep_CopyMTD(MTD0Fd(), REGION, NORMAL, PART_LEN, 2 * BLOCK, 2 * BLOCK), -1);
    EXPECT_EQ(EndCapture(), Notified("Bad block is too much"));
    EXPECT_EQ(Raw(REGION + PART_LEN, BLOCK / 2), TBytes(BLOCK / 2, 0xFF));

    // The normal copy's part block reads uncorrectable, the backup's is clean: it is not replaced.
    PutRaw(NORMAL + PART_LEN, aSentinel);
    Fault(SIM_FAULT_DECAY, NORMAL + 2 * BLOCK);
    BeginCapture();
    EXPECT_EQ(Nandkeep_RecoveryByECC(NORMAL, BACKUP, PART_LEN, RECOVERY_SUB_DTB), -1);
    EndCapture();
    EXPECT_EQ(Erases(NORMAL + 2 * BLOCK), 0u);
    EXPECT_EQ(Raw(NORMAL + PART_LEN, aSentinel.size()), aSentinel);
}

} // namespace
