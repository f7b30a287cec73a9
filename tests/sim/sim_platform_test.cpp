// The platform seam over the simulated device: mtdchar's behaviour at every edge, partitions,
// per-node counters, short transfers, the power cut, the operation trace, and the non-MTD
// services.
#include "sim_fixture.h"

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SimPlatformTest : public SimDirTest {
  protected:
    // A 48-block device: mtd0 the whole device, mtd1 blocks 8..15, mtd2 blocks 40..47.
    void CreateSmall() {
        static const TSimPartition s_atParts[] = {
            {"all", 0, 48 * SIM_BLOCK_SIZE},
            {"middle", 8 * SIM_BLOCK_SIZE, 8 * SIM_BLOCK_SIZE},
            {"top", 40 * SIM_BLOCK_SIZE, 8 * SIM_BLOCK_SIZE},
        };
        TSimSpec tSpec = Sim_CustomSpec(48);
        tSpec.ptParts = s_atParts;
        tSpec.iPartCount = 3;
        Create(tSpec);
    }

    int Open(int iNode) {
        std::string strPath = "/dev/mtd" + std::to_string(iNode);
        int iFd = Plat_OpenMtd(strPath.c_str());
        EXPECT_GE(iFd, 0) << strPath << ": " << strerror(errno);
        return iFd;
    }

    // Seeks and writes; returns write's result.
    ssize_t WriteAt(int iFd, uint64_t ullOffset, unsigned char ucFill, size_t ulLen) {
        std::vector<unsigned char> auc(ulLen, ucFill);
        EXPECT_EQ(Plat_Lseek(iFd, (off_t)ullOffset, SEEK_SET), (off_t)ullOffset);
        return Plat_Write(iFd, auc.data(), ulLen);
    }

    std::vector<unsigned char> RawAt(uint64_t ullOffset, size_t ulLen) {
        std::vector<unsigned char> auc(ulLen);
        EXPECT_EQ(Sim_ReadRaw(&m_tDev, ullOffset, auc.data(), ulLen), 0);
        return auc;
    }

    static std::vector<unsigned char> Filled(unsigned char uc, size_t ulLen) {
        return std::vector<unsigned char>(ulLen, uc);
    }

    static std::string ReadText(const std::string &strPath) {
        std::ifstream tIn(strPath);
        return std::string((std::istreambuf_iterator<char>(tIn)), std::istreambuf_iterator<char>());
    }

    void TearDown() override {
        unsetenv(SIM_TRACE_ENV);
        SimDirTest::TearDown();
    }
};

TEST_F(SimPlatformTest, NodesAreThePartitionsOfTheTable) {
    CreateSmall();
    int iFd0 = Open(0);
    int iFd2 = Open(2);
    EXPECT_NE(iFd0, iFd2);
    EXPECT_EQ(Plat_Lseek(iFd2, 0, SEEK_END), (off_t)(8 * SIM_BLOCK_SIZE));
    for (const char *pszPath : {"/dev/mtd3", "/dev/mtd", "/dev/mtd01", "/dev/mtd1x", "/dev/sda"}) {
        errno = 0;
        EXPECT_EQ(Plat_OpenMtd(pszPath), -1) << pszPath;
        EXPECT_EQ(errno, ENOENT) << pszPath;
    }
    EXPECT_EQ(Plat_Close(iFd2), 0);
    char acByte;
    EXPECT_EQ(Plat_Read(iFd2, &acByte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(Plat_Close(iFd2), -1);
    EXPECT_EQ(Plat_Close(iFd0), 0);
}

TEST_F(SimPlatformTest, NoDeviceMeansNoNodesAndNoProcMtd) {
    errno = 0;
    EXPECT_EQ(Plat_OpenMtd("/dev/mtd0"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Plat_OpenProcMtd(), nullptr);
}

TEST_F(SimPlatformTest, ProcMtdIsTheDirectorysFileAndMayListMissingNodes) {
    CreateSmall();
    std::ofstream(Path("proc_mtd"), std::ios::app) << "mtd9: 00020000 00020000 \"ghost\"\n";
    FILE *pFile = Plat_OpenProcMtd();
    ASSERT_NE(pFile, nullptr);
    char acLine[128];
    std::string strLast;
    while (fgets(acLine, sizeof(acLine), pFile) != nullptr) {
        strLast = acLine;
    }
    fclose(pFile);
    EXPECT_EQ(strLast, "mtd9: 00020000 00020000 \"ghost\"\n");
    EXPECT_EQ(Plat_OpenMtd("/dev/mtd9"), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SimPlatformTest, OffsetsAreRelativeToTheDescriptorsPartition) {
    CreateSmall();
    int iMid = Open(1);
    int iAll = Open(0);
    ASSERT_EQ(WriteAt(iMid, SIM_BLOCK_SIZE, 0x5A, SIM_PAGE_SIZE), (ssize_t)SIM_PAGE_SIZE);
    EXPECT_EQ(RawAt(9 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), Filled(0x5A, SIM_PAGE_SIZE));
    EXPECT_EQ(RawAt(SIM_BLOCK_SIZE, SIM_PAGE_SIZE), Filled(0xFF, SIM_PAGE_SIZE));
    std::vector<unsigned char> aucGot(SIM_PAGE_SIZE);
    ASSERT_EQ(Plat_Lseek(iAll, 9 * SIM_BLOCK_SIZE, SEEK_SET), (off_t)(9 * SIM_BLOCK_SIZE));
    ASSERT_EQ(Plat_Read(iAll, aucGot.data(), aucGot.size()), (ssize_t)SIM_PAGE_SIZE);
    EXPECT_EQ(aucGot, Filled(0x5A, SIM_PAGE_SIZE));

    ASSERT_EQ(Plat_MemSetBadBlock(iMid, 2 * SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{10});
    EXPECT_EQ(Plat_MemGetBadBlock(iAll, 10 * SIM_BLOCK_SIZE), 1);
    ASSERT_EQ(Plat_MemErase(iMid, SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 9), 1u);
    EXPECT_EQ(RawAt(9 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), Filled(0xFF, SIM_PAGE_SIZE));
}

TEST_F(SimPlatformTest, ReadsStopAtThePartitionEndAndNeedNoAlignment) {
    CreateSmall();
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, 47 * SIM_BLOCK_SIZE, Filled(0x11, SIM_BLOCK_SIZE).data(),
                           SIM_BLOCK_SIZE),
              0);
    int iTop = Open(2);
    std::vector<unsigned char> aucBuf(0x20000, 0);
    // Unaligned start and length.
    ASSERT_EQ(Plat_Lseek(iTop, 7 * SIM_BLOCK_SIZE - 3, SEEK_SET), (off_t)(7 * SIM_BLOCK_SIZE - 3));
    ASSERT_EQ(Plat_Read(iTop, aucBuf.data(), 5), 5);
    EXPECT_EQ(std::vector<unsigned char>(aucBuf.begin(), aucBuf.begin() + 5),
              (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0x11, 0x11}));
    // Crossing the end: truncated; at the end: 0; past the end is no position at all.
    ASSERT_EQ(Plat_Lseek(iTop, 8 * SIM_BLOCK_SIZE - 100, SEEK_SET),
              (off_t)(8 * SIM_BLOCK_SIZE - 100));
    EXPECT_EQ(Plat_Read(iTop, aucBuf.data(), aucBuf.size()), 100);
    EXPECT_EQ(Plat_Read(iTop, aucBuf.data(), aucBuf.size()), 0);
    EXPECT_EQ(Plat_Lseek(iTop, 0, SEEK_CUR), (off_t)(8 * SIM_BLOCK_SIZE));
    EXPECT_EQ(Plat_Lseek(iTop, 1, SEEK_END), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Plat_Lseek(iTop, -1, SEEK_SET), -1);
    EXPECT_EQ(Plat_Lseek(iTop, -16, SEEK_END), (off_t)(8 * SIM_BLOCK_SIZE - 16));
    EXPECT_EQ(Plat_Read(iTop, aucBuf.data(), 0), 0);
}

TEST_F(SimPlatformTest, WritesAreWholeSubPagesInsideThePartition) {
    CreateSmall();
    int iTop = Open(2);
    EXPECT_EQ(WriteAt(iTop, 0x100, 0, SIM_SUBPAGE_SIZE), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(WriteAt(iTop, 0, 0, SIM_SUBPAGE_SIZE + 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(WriteAt(iTop, 0, 0, SIM_PAGE_SIZE - 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(WriteAt(iTop, 0, 0, 0), 0);
    // One sub-page in the middle of a page programs just those bytes.
    EXPECT_EQ(WriteAt(iTop, SIM_SUBPAGE_SIZE, 0x44, SIM_SUBPAGE_SIZE), (ssize_t)SIM_SUBPAGE_SIZE);
    EXPECT_EQ(Plat_Lseek(iTop, 0, SEEK_CUR), (off_t)(2 * SIM_SUBPAGE_SIZE));
    std::vector<unsigned char> aucWant(SIM_PAGE_SIZE, 0xFF);
    std::fill(aucWant.begin() + SIM_SUBPAGE_SIZE, aucWant.begin() + 2 * SIM_SUBPAGE_SIZE, 0x44);
    EXPECT_EQ(RawAt(40 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), aucWant);
    // Crossing the end: cut to the end, even from a length off the grid. At the end: no space,
    // even for nothing.
    EXPECT_EQ(WriteAt(iTop, 8 * SIM_BLOCK_SIZE - SIM_PAGE_SIZE, 0x22, 2 * SIM_PAGE_SIZE),
              (ssize_t)SIM_PAGE_SIZE);
    EXPECT_EQ(WriteAt(iTop, 8 * SIM_BLOCK_SIZE - SIM_SUBPAGE_SIZE, 0x22, SIM_PAGE_SIZE + 7),
              (ssize_t)SIM_SUBPAGE_SIZE);
    EXPECT_EQ(Plat_Write(iTop, "", 0), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(RawAt(48 * SIM_BLOCK_SIZE - SIM_PAGE_SIZE, SIM_PAGE_SIZE),
              Filled(0x22, SIM_PAGE_SIZE));
    // Nothing of the refused writes reached the chip.
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, 3u);
    EXPECT_EQ(RawAt(40 * SIM_BLOCK_SIZE, SIM_SUBPAGE_SIZE), Filled(0xFF, SIM_SUBPAGE_SIZE));
}

TEST_F(SimPlatformTest, ProgramsWithoutEraseAndIntoBadBlocksSucceed) {
    CreateSmall();
    int iAll = Open(0);
    ASSERT_EQ(WriteAt(iAll, 0, 0xF0, SIM_PAGE_SIZE), (ssize_t)SIM_PAGE_SIZE);
    ASSERT_EQ(WriteAt(iAll, 0, 0x3C, SIM_PAGE_SIZE), (ssize_t)SIM_PAGE_SIZE);
    EXPECT_EQ(RawAt(0, SIM_PAGE_SIZE), Filled(0x30, SIM_PAGE_SIZE));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 1u);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BAD, 3), 0);
    EXPECT_EQ(WriteAt(iAll, 3 * SIM_BLOCK_SIZE, 0x12, SIM_PAGE_SIZE), (ssize_t)SIM_PAGE_SIZE);
    EXPECT_EQ(RawAt(3 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), Filled(0x12, SIM_PAGE_SIZE));
}

TEST_F(SimPlatformTest, EraseRequestsAreCheckedLikeTheDriverDoes) {
    CreateSmall();
    int iTop = Open(2);
    const uint32_t dwSize = 8 * SIM_BLOCK_SIZE;
    struct {
        uint32_t dwStart;
        uint32_t dwLength;
        int iErrno; // 0: accepted
    } atCases[] = {
        {0, SIM_BLOCK_SIZE, 0},
        {0, 0, 0},
        {0x800, SIM_BLOCK_SIZE, EINVAL},
        {0, SIM_BLOCK_SIZE + 0x800, EINVAL},
        {dwSize, SIM_BLOCK_SIZE, EINVAL},
        {dwSize, 0, EINVAL},
        {dwSize - SIM_BLOCK_SIZE, 2 * SIM_BLOCK_SIZE, EINVAL},
        {0, dwSize, 0},
    };
    for (const auto &tCase : atCases) {
        errno = 0;
        int iRet = Plat_MemErase(iTop, tCase.dwStart, tCase.dwLength);
        EXPECT_EQ(iRet, tCase.iErrno ? -1 : 0) << tCase.dwStart << "+" << tCase.dwLength;
        EXPECT_EQ(errno, tCase.iErrno) << tCase.dwStart << "+" << tCase.dwLength;
    }
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 40), 2u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 47), 1u);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullErases, 9u);
}

TEST_F(SimPlatformTest, FailingEraseGivesEioAndMarksNothing) {
    CreateSmall();
    int iAll = Open(0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_WEAR_OUT, 2, 1), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BAD, 4), 0);
    EXPECT_EQ(Plat_MemErase(iAll, 2 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Plat_MemErase(iAll, 2 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Plat_MemGetBadBlock(iAll, 2 * SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Plat_MemErase(iAll, 4 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), -1);
    EXPECT_EQ(errno, EIO);
    // A multi-block request stops at the first failing block.
    EXPECT_EQ(Plat_MemErase(iAll, 3 * SIM_BLOCK_SIZE, 3 * SIM_BLOCK_SIZE), -1);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 3), 1u);
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 5), 0u);
    EXPECT_EQ(Sim_EccStats(&m_tDev).badblocks, 1u);
}

TEST_F(SimPlatformTest, BadBlockRequestsTakeAnyOffsetInsideThePartitionOnly) {
    CreateSmall();
    int iMid = Open(1);
    ASSERT_EQ(Plat_MemSetBadBlock(iMid, 3 * SIM_BLOCK_SIZE + 0x1234), 0);
    EXPECT_EQ(Plat_MemGetBadBlock(iMid, 3 * SIM_BLOCK_SIZE), 1);
    EXPECT_EQ(Plat_MemGetBadBlock(iMid, 4 * SIM_BLOCK_SIZE - 1), 1);
    EXPECT_EQ(Plat_MemGetBadBlock(iMid, 4 * SIM_BLOCK_SIZE), 0);
    for (int64_t llOffset : {(int64_t)8 * SIM_BLOCK_SIZE, (int64_t)-1, (int64_t)1 << 40}) {
        errno = 0;
        EXPECT_EQ(Plat_MemGetBadBlock(iMid, llOffset), -1) << llOffset;
        EXPECT_EQ(errno, EINVAL);
        errno = 0;
        EXPECT_EQ(Plat_MemSetBadBlock(iMid, llOffset), -1) << llOffset;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{11});
}

TEST_F(SimPlatformTest, MarkingErasesTheBlockAndEveryMarkCountsOnItsNode) {
    CreateSmall();
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, 11 * SIM_BLOCK_SIZE, Filled(0x00, SIM_BLOCK_SIZE).data(),
                           SIM_BLOCK_SIZE),
              0);
    int iAll = Open(0);
    int iMid = Open(1);
    ASSERT_EQ(Plat_MemSetBadBlock(iMid, 3 * SIM_BLOCK_SIZE), 0);
    // The driver erased the block before writing the marker.
    EXPECT_EQ(RawAt(11 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), Filled(0xFF, SIM_BLOCK_SIZE));
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 11), 1u);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullErases, 1u);
    EXPECT_EQ(Plat_MemErase(iMid, 3 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), -1);
    EXPECT_EQ(errno, EIO);
    // Marking again: no erase, success, and one more on the node marked through.
    ASSERT_EQ(Plat_MemSetBadBlock(iMid, 3 * SIM_BLOCK_SIZE), 0);
    ASSERT_EQ(Plat_MemSetBadBlock(iAll, 11 * SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullErases, 1u);
    TEccStats tStats;
    ASSERT_EQ(Plat_EccGetStats(iMid, &tStats), 0);
    EXPECT_EQ(tStats.badblocks, 2u);
    ASSERT_EQ(Plat_EccGetStats(iAll, &tStats), 0);
    EXPECT_EQ(tStats.badblocks, 1u);
    EXPECT_EQ(Sim_EccStatsOf(&m_tDev, 2).badblocks, 0u);
}

TEST_F(SimPlatformTest, NodesCountTheBadBlocksOfTheirRangeFromTheStart) {
    CreateSmall();
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BAD, 9), 0);
    ASSERT_EQ(Sim_MarkBad(&m_tDev, 44), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BAD, 20), 0);
    int iAll = Open(0);
    int iMid = Open(1);
    int iTop = Open(2);
    TEccStats tStats;
    ASSERT_EQ(Plat_EccGetStats(iAll, &tStats), 0);
    EXPECT_EQ(tStats.badblocks, 3u);
    EXPECT_EQ(tStats.bbtblocks, 0u);
    ASSERT_EQ(Plat_EccGetStats(iMid, &tStats), 0);
    EXPECT_EQ(tStats.badblocks, 1u);
    ASSERT_EQ(Plat_EccGetStats(iTop, &tStats), 0);
    EXPECT_EQ(tStats.badblocks, 1u);
    // A bad block marked again through a node that already counts it: twice there.
    ASSERT_EQ(Plat_MemSetBadBlock(iMid, SIM_BLOCK_SIZE), 0);
    ASSERT_EQ(Plat_EccGetStats(iMid, &tStats), 0);
    EXPECT_EQ(tStats.badblocks, 2u);
    EXPECT_EQ(Sim_EccStats(&m_tDev).badblocks, 3u);
    Sim_ClearFaults(&m_tDev, 9);
    EXPECT_EQ(Sim_EccStatsOf(&m_tDev, 1).badblocks, 1u);
    EXPECT_EQ(Sim_EccStatsOf(&m_tDev, 3).badblocks, 0u);
}

TEST_F(SimPlatformTest, EccCountersBelongToTheNodeReadThroughAndBadReadsStillSucceed) {
    CreateSmall();
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BITFLIP, 9, 3), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_UNCORRECTABLE, 41, 0, 2), 0);
    int iAll = Open(0);
    int iMid = Open(1);
    int iTop = Open(2);
    std::vector<unsigned char> aucBuf(SIM_BLOCK_SIZE);
    ASSERT_EQ(Plat_Lseek(iMid, SIM_BLOCK_SIZE, SEEK_SET), (off_t)SIM_BLOCK_SIZE);
    ASSERT_EQ(Plat_Read(iMid, aucBuf.data(), aucBuf.size()), (ssize_t)SIM_BLOCK_SIZE);
    EXPECT_EQ(aucBuf, Filled(0xFF, SIM_BLOCK_SIZE));
    ASSERT_EQ(Plat_Lseek(iTop, SIM_BLOCK_SIZE, SEEK_SET), (off_t)SIM_BLOCK_SIZE);
    ASSERT_EQ(Plat_Read(iTop, aucBuf.data(), aucBuf.size()), (ssize_t)SIM_BLOCK_SIZE);
    EXPECT_NE(aucBuf, Filled(0xFF, SIM_BLOCK_SIZE));
    // Every read of the flipping page adds its flips again.
    ASSERT_EQ(Plat_Lseek(iMid, SIM_BLOCK_SIZE, SEEK_SET), (off_t)SIM_BLOCK_SIZE);
    ASSERT_EQ(Plat_Read(iMid, aucBuf.data(), 1), 1);
    struct {
        int iFd;
        uint32_t dwCorrected;
        uint32_t dwFailed;
    } atWant[] = {{iAll, 0, 0}, {iMid, 6, 0}, {iTop, 0, 1}};
    for (const auto &tWant : atWant) {
        TEccStats tStats;
        ASSERT_EQ(Plat_EccGetStats(tWant.iFd, &tStats), 0);
        EXPECT_EQ(tStats.corrected, tWant.dwCorrected) << "descriptor " << tWant.iFd;
        EXPECT_EQ(tStats.failed, tWant.dwFailed) << "descriptor " << tWant.iFd;
        EXPECT_EQ(tStats.bbtblocks, 0u);
    }
    // The same pages read through the whole-device node move its counters only.
    ASSERT_EQ(Plat_Lseek(iAll, 9 * SIM_BLOCK_SIZE, SEEK_SET), (off_t)(9 * SIM_BLOCK_SIZE));
    ASSERT_EQ(Plat_Read(iAll, aucBuf.data(), aucBuf.size()), (ssize_t)SIM_BLOCK_SIZE);
    EXPECT_EQ(Sim_EccStats(&m_tDev).corrected, 3u);
    EXPECT_EQ(Sim_EccStatsOf(&m_tDev, 1).corrected, 6u);
    TEccStats tStats;
    EXPECT_EQ(Plat_EccGetStats(12345, &tStats), -1);
    EXPECT_EQ(Sim_EccStatsOf(&m_tDev, 3).corrected, 0u);
}

TEST_F(SimPlatformTest, ShortTransfersReturnAboutHalf) {
    CreateSmall();
    int iAll = Open(0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_SHORT_READ, SIM_NO_BLOCK, 1), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_SHORT_WRITE, SIM_NO_BLOCK, 1), 0);
    std::vector<unsigned char> aucBuf(SIM_BLOCK_SIZE, 0x33);
    ASSERT_EQ(Plat_Write(iAll, aucBuf.data(), aucBuf.size()), (ssize_t)(SIM_BLOCK_SIZE / 2));
    ASSERT_EQ(Plat_Write(iAll, aucBuf.data(), SIM_BLOCK_SIZE / 2), (ssize_t)(SIM_BLOCK_SIZE / 2));
    EXPECT_EQ(RawAt(0, SIM_BLOCK_SIZE), Filled(0x33, SIM_BLOCK_SIZE));
    ASSERT_EQ(Plat_Lseek(iAll, 0, SEEK_SET), 0);
    EXPECT_EQ(Plat_Read(iAll, aucBuf.data(), aucBuf.size()), (ssize_t)(SIM_BLOCK_SIZE / 2));
    EXPECT_EQ(Plat_Read(iAll, aucBuf.data(), SIM_BLOCK_SIZE / 2), (ssize_t)(SIM_BLOCK_SIZE / 2));
    EXPECT_EQ(Plat_Lseek(iAll, 0, SEEK_CUR), (off_t)SIM_BLOCK_SIZE);
}

TEST_F(SimPlatformTest, FailedOrLostProgramsThroughTheNode) {
    CreateSmall();
    int iAll = Open(0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_PROGRAM_FAIL, 1), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_PROGRAM_LOST, 2), 0);
    EXPECT_EQ(WriteAt(iAll, SIM_BLOCK_SIZE, 0, SIM_BLOCK_SIZE), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Plat_Lseek(iAll, 0, SEEK_CUR), (off_t)SIM_BLOCK_SIZE);
    EXPECT_EQ(WriteAt(iAll, 2 * SIM_BLOCK_SIZE, 0, SIM_BLOCK_SIZE), (ssize_t)SIM_BLOCK_SIZE);
    EXPECT_EQ(RawAt(SIM_BLOCK_SIZE, 2 * SIM_BLOCK_SIZE), Filled(0xFF, 2 * SIM_BLOCK_SIZE));
    // The driver marks nothing by itself.
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
}

// Runs fnChild in a child process and returns its wait status.
template <typename F> int RunChild(F fnChild) {
    fflush(nullptr);
    pid_t tPid = fork();
    if (tPid == 0) {
        fnChild();
        _exit(0);
    }
    int iStatus = 0;
    waitpid(tPid, &iStatus, 0);
    return iStatus;
}

TEST_F(SimPlatformTest, PowerCutKillsTheWriterAndLeavesAPartlyProgrammedBlock) {
    CreateSmall();
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, 6 * SIM_BLOCK_SIZE, Filled(0x00, SIM_BLOCK_SIZE).data(),
                           SIM_BLOCK_SIZE),
              0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 2), 0);
    int iStatus = RunChild([this] {
        int iFd = Plat_OpenMtd("/dev/mtd1");
        std::vector<unsigned char> aucData(SIM_BLOCK_SIZE, 0x00);
        if (iFd < 0 || Plat_Write(iFd, aucData.data(), aucData.size()) < 0) {
            _exit(3);
        }
        (void)Plat_Write(iFd, aucData.data(), aucData.size());
        _exit(4); // the power cut should have come first
    });
    ASSERT_TRUE(WIFSIGNALED(iStatus)) << "exit status " << WEXITSTATUS(iStatus);
    EXPECT_EQ(WTERMSIG(iStatus), SIGKILL);
    EXPECT_EQ(RawAt(8 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), Filled(0x00, SIM_BLOCK_SIZE));
    EXPECT_EQ(RawAt(9 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE / 2), Filled(0x00, SIM_BLOCK_SIZE / 2));
    EXPECT_EQ(RawAt(9 * SIM_BLOCK_SIZE + SIM_BLOCK_SIZE / 2, SIM_BLOCK_SIZE / 2),
              Filled(0xFF, SIM_BLOCK_SIZE / 2));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, 2u);
    EXPECT_TRUE(Sim_ListFaults(&m_tDev).empty());

    // The next run sees a working device; an erase cut short leaves a partly erased block.
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 1), 0);
    iStatus = RunChild([] {
        int iFd = Plat_OpenMtd("/dev/mtd0");
        (void)Plat_MemErase(iFd, 6 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE);
        _exit(4);
    });
    ASSERT_TRUE(WIFSIGNALED(iStatus));
    EXPECT_EQ(WTERMSIG(iStatus), SIGKILL);
    std::vector<unsigned char> aucBlock = RawAt(6 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE);
    EXPECT_NE(aucBlock, Filled(0xFF, SIM_BLOCK_SIZE));
    EXPECT_NE(aucBlock, Filled(0x00, SIM_BLOCK_SIZE));
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 6), 0u);
}

TEST_F(SimPlatformTest, TraceFileGetsOneLinePerOperationTheKillingOneIncluded) {
    CreateSmall();
    std::string strTrace = Path("trace");
    ASSERT_EQ(setenv(SIM_TRACE_ENV, strTrace.c_str(), 1), 0);
    int iAll = Open(0);
    int iMid = Open(1);
    int iTop = Open(2);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BAD, 44), 0);
    // A write over two blocks, a two-block erase, a mark (its erase), a second mark and an
    // erase refused by the driver (nothing), a read (nothing).
    EXPECT_EQ(WriteAt(iMid, SIM_BLOCK_SIZE - SIM_PAGE_SIZE, 0, 2 * SIM_PAGE_SIZE),
              (ssize_t)(2 * SIM_PAGE_SIZE));
    EXPECT_EQ(Plat_MemErase(iTop, 0, 2 * SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Plat_MemSetBadBlock(iAll, 5 * SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Plat_MemSetBadBlock(iAll, 5 * SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(Plat_MemErase(iTop, 4 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), -1);
    char acByte;
    EXPECT_EQ(Plat_Read(iAll, &acByte, 1), 1);
    EXPECT_EQ(ReadText(strTrace), "P 8\nP 9\nE 40\nE 41\nE 5\n");

    // The power cut comes at the second operation of a child's write: its line is there.
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 2), 0);
    int iStatus = RunChild([] {
        int iFd = Plat_OpenMtd("/dev/mtd0");
        std::vector<unsigned char> aucData(2 * SIM_BLOCK_SIZE, 0x00);
        if (iFd < 0 || Plat_Lseek(iFd, 20 * SIM_BLOCK_SIZE, SEEK_SET) < 0) {
            _exit(3);
        }
        (void)Plat_Write(iFd, aucData.data(), aucData.size());
        _exit(4);
    });
    ASSERT_TRUE(WIFSIGNALED(iStatus));
    EXPECT_EQ(ReadText(strTrace), "P 8\nP 9\nE 40\nE 41\nE 5\nP 20\nP 21\n");
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, 7u);

    // Without the variable nothing is traced.
    ASSERT_EQ(unsetenv(SIM_TRACE_ENV), 0);
    EXPECT_EQ(Plat_MemErase(iAll, 0, SIM_BLOCK_SIZE), 0);
    EXPECT_EQ(ReadText(strTrace), "P 8\nP 9\nE 40\nE 41\nE 5\nP 20\nP 21\n");
}

TEST_F(SimPlatformTest, PowerCutInTheEraseOfAMarkLeavesTheBlockUnmarked) {
    CreateSmall();
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, 6 * SIM_BLOCK_SIZE, Filled(0x00, SIM_BLOCK_SIZE).data(),
                           SIM_BLOCK_SIZE),
              0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 1), 0);
    int iStatus = RunChild([] {
        int iFd = Plat_OpenMtd("/dev/mtd0");
        (void)Plat_MemSetBadBlock(iFd, 6 * SIM_BLOCK_SIZE);
        _exit(4);
    });
    ASSERT_TRUE(WIFSIGNALED(iStatus));
    EXPECT_EQ(WTERMSIG(iStatus), SIGKILL);
    EXPECT_EQ(Sim_IsBad(&m_tDev, 6), 0);
    EXPECT_EQ(Sim_EccStats(&m_tDev).badblocks, 0u);
    std::vector<unsigned char> aucBlock = RawAt(6 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE);
    EXPECT_NE(aucBlock, Filled(0xFF, SIM_BLOCK_SIZE));
    EXPECT_NE(aucBlock, Filled(0x00, SIM_BLOCK_SIZE));
}

TEST_F(SimPlatformTest, ShellCommandReachesTheSimulatedDevicePrograms) {
    CreateSmall();
    const char *pszPathBefore = getenv("PATH");
    std::string strPathBefore = pszPathBefore ? pszPathBefore : "";
    EXPECT_EQ(Plat_System("ovenctl engage && cfgvault set flashstatus 1"), 0);
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "1");
    EXPECT_EQ(Plat_System("test \"$(cfgvault get flashstatus)\" = 1"), 0);
    // A failing first program stops the chain.
    EXPECT_NE(Plat_System("ovenctl disengage 2>/dev/null && cfgvault set flashstatus 5"), 0);
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "1");
    EXPECT_NE(Plat_System("cfgvault set otherparam 1 2>/dev/null"), 0);
    EXPECT_EQ(std::string(getenv("PATH") ? getenv("PATH") : ""), strPathBefore);
}

TEST_F(SimPlatformTest, SyslogLinesAndVerifyPathLiveInTheDirectory) {
    CreateSmall();
    Plat_SyslogErr("SYSTEM WARNING! read() System too slow!");
    Plat_SyslogErr("Lost connection while upgrading firmware!");
    EXPECT_EQ(Sim_SyslogLines(m_strDir.c_str()),
              (std::vector<std::string>{"SYSTEM WARNING! read() System too slow!",
                                        "Lost connection while upgrading firmware!"}));
    EXPECT_EQ(std::string(Plat_VerifyResultPath()), m_strDir + "/ramdisk/flashVerifyResult");
    FILE *pFile = fopen(Plat_VerifyResultPath(), "a");
    ASSERT_NE(pFile, nullptr);
    fclose(pFile);
}

TEST_F(SimPlatformTest, ARecreatedDeviceIsPickedUpByTheNextOpen) {
    CreateSmall();
    int iOld = Open(0);
    ASSERT_EQ(Sim_Create(m_strDir.c_str(), Sim_CustomSpec(4)), 0);
    int iNew = Open(0);
    EXPECT_EQ(Plat_Lseek(iNew, 0, SEEK_END), (off_t)(4 * SIM_BLOCK_SIZE));
    if (iOld != iNew) {
        EXPECT_EQ(Plat_Lseek(iOld, 0, SEEK_SET), -1);
        EXPECT_EQ(errno, EBADF);
    }
}

TEST_F(SimPlatformTest, DirectoryComesFromTheEnvironmentUnlessSet) {
    Sim_SetDir(nullptr);
    const char *pszOld = getenv(SIM_DIR_ENV);
    std::string strOld = pszOld ? pszOld : "";
    setenv(SIM_DIR_ENV, m_strDir.c_str(), 1);
    EXPECT_EQ(std::string(Sim_Dir()), m_strDir);
    unsetenv(SIM_DIR_ENV);
    EXPECT_STREQ(Sim_Dir(), SIM_DEFAULT_DIR);
    Sim_SetDir("/somewhere/else");
    EXPECT_STREQ(Sim_Dir(), "/somewhere/else");
    if (pszOld) {
        setenv(SIM_DIR_ENV, strOld.c_str(), 1);
    }
}

} // namespace
