// The raw maintenance commands on the simulated device, run through the dispatcher's table.
#include "tool_fixture.h"

#include "frontend/dispatch.h"
#include "frontend/maintenance.h"
#include "frontend/mtdinfo.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace toolfixture;
using testsupport::Bytes;

namespace {

// 64 blocks (8 MiB). The last three records are the partitions the erase commands name by
// their place from the end: flashfs1 (N-3), flashfs2 (N-2), jffs2 (N-1).
constexpr uint32_t BLOCKS = 64;
constexpr uint64_t DEV_SIZE = BLOCKS * BLOCK;
constexpr uint64_t FLASHFS1_OFF = 0x100000, FLASHFS1_SIZE = 0x100000;
constexpr uint64_t FLASHFS2_OFF = 0x200000, FLASHFS2_SIZE = 0x200000;
constexpr uint64_t JFFS2_OFF = 0x400000, JFFS2_SIZE = 0x100000;

std::vector<TSimPartition> FiveRecordTable() {
    return {Part("linux", 0, DEV_SIZE), Part("boot", 0, 0x100000),
            Part("flashfs1", FLASHFS1_OFF, FLASHFS1_SIZE),
            Part("flashfs2", FLASHFS2_OFF, FLASHFS2_SIZE), Part("jffs2", JFFS2_OFF, JFFS2_SIZE)};
}

class MaintenanceTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        CreateDevice(BLOCKS, FiveRecordTable());
        StartTool();
    }
    uint64_t Erases() {
        return Sim_OpCounts(&m_tDev).ullErases;
    }
};

struct EraseRow {
    const char *pszCommand;
    uint64_t ullOffset;
    uint64_t ullSize;
};

void PrintTo(const EraseRow &tRow, std::ostream *pOut) {
    *pOut << tRow.pszCommand;
}

class PartitionEraseTest : public MaintenanceTest,
                           public ::testing::WithParamInterface<EraseRow> {};

TEST_P(PartitionEraseTest, ErasesExactlyItsRecord) {
    const EraseRow &tRow = GetParam();
    FillRaw(0, DEV_SIZE, 0x00);
    CommandResult tRes = Run({tRow.pszCommand});
    ASSERT_TRUE(tRes.bRouted);
    EXPECT_EQ(tRes.iResult, 0) << tRes.out;
    EXPECT_TRUE(AllBytes(tRow.ullOffset, tRow.ullSize, 0xFF));
    if (tRow.ullOffset > 0) {
        EXPECT_TRUE(AllBytes(0, tRow.ullOffset, 0x00));
    }
    const uint64_t ullEnd = tRow.ullOffset + tRow.ullSize;
    if (ullEnd < DEV_SIZE) {
        EXPECT_TRUE(AllBytes(ullEnd, DEV_SIZE - ullEnd, 0x00));
    }
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
}

INSTANTIATE_TEST_SUITE_P(Records, PartitionEraseTest,
                         ::testing::Values(EraseRow{"eraseAll", 0, DEV_SIZE},
                                           EraseRow{"eraseflashfs1", FLASHFS1_OFF, FLASHFS1_SIZE},
                                           EraseRow{"eraseflashfs2", FLASHFS2_OFF, FLASHFS2_SIZE},
                                           EraseRow{"eraseflashfs", FLASHFS2_OFF, FLASHFS2_SIZE},
                                           EraseRow{"eraseJFFS2", JFFS2_OFF, JFFS2_SIZE},
                                           EraseRow{"eraseRootfs", FLASHFS1_OFF, FLASHFS1_SIZE}),
                         [](const ::testing::TestParamInfo<EraseRow> &tInfo) {
                             return std::string(tInfo.param.pszCommand);
                         });

TEST_F(MaintenanceTest, EraseRootfsScansWithZerosAndRetiresABlockThatDoesNotTakeThem) {
    // Block 9 (the second of flashfs1) reports programs as done but keeps nothing.
    AddFault(SIM_FAULT_PROGRAM_LOST, 9);
    FillRaw(0, DEV_SIZE, 0x00);
    CommandResult tRes = Run({"eraseRootfs"});
    EXPECT_EQ(tRes.iResult, 0) << tRes.out;
    EXPECT_EQ(Lines(tRes.out).front(), "g_iPartitionNum = 5, size = 100000");
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{9});
    // The rest of the partition was zeroed by the scan and erased again after it.
    EXPECT_TRUE(AllBytes(FLASHFS1_OFF, FLASHFS1_SIZE, 0xFF));
    EXPECT_TRUE(
        AllBytes(FLASHFS1_OFF + FLASHFS1_SIZE, DEV_SIZE - FLASHFS1_OFF - FLASHFS1_SIZE, 0x00));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

TEST_F(MaintenanceTest, EraseRootfsStopsWhenTheScanCannotWrite) {
    AddFault(SIM_FAULT_PROGRAM_FAIL, 10);
    CommandResult tRes = Run({"eraseRootfs"});
    EXPECT_EQ(tRes.iResult, -1);
    std::vector<std::string> astrLines = Lines(tRes.out);
    ASSERT_FALSE(astrLines.empty());
    EXPECT_EQ(astrLines.back(), "Bad block scan fail");
    // The write that failed retired its block.
    EXPECT_TRUE(IsBad(10));
}

TEST_F(MaintenanceTest, EraseOfOneFailingBlockAnswers255AndMarksIt) {
    AddFault(SIM_FAULT_ERASE_FAIL, 3);
    CommandResult tRes = Run({"erase", "60000", "20000"});
    EXPECT_EQ(tRes.iResult, 255);
    EXPECT_NE(tRes.out.find("find a bad block"), std::string::npos);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{3});
}

TEST_F(MaintenanceTest, EraseOverTwoBlocksOneFailingAnswers0) {
    AddFault(SIM_FAULT_ERASE_FAIL, 3);
    FillRaw(0x60000, 2 * BLOCK, 0x00);
    CommandResult tRes = Run({"erase", "0x60000", "40000"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{3});
    EXPECT_TRUE(AllBytes(0x60000, BLOCK, 0x00));
    EXPECT_TRUE(AllBytes(0x80000, BLOCK, 0xFF));
}

TEST_F(MaintenanceTest, EraseTakesAPartialLastBlockWhole) {
    FillRaw(0, DEV_SIZE, 0x00);
    EXPECT_EQ(Run({"erase", "80000", "20001"}).iResult, 0);
    EXPECT_TRUE(AllBytes(0x80000, 2 * BLOCK, 0xFF));
    EXPECT_TRUE(AllBytes(0xC0000, BLOCK, 0x00));
}

// A mistyped range must never erase or retire a block: it is refused before any request (or,
// for the raw requests, by the driver) and the flash is left as it was.
struct RefusalRow {
    std::vector<std::string> astrWords;
    const char *pszMessage;
};

void PrintTo(const RefusalRow &tRow, std::ostream *pOut) {
    for (const std::string &strWord : tRow.astrWords) {
        *pOut << strWord << ' ';
    }
}

class RefusalTest : public MaintenanceTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusalTest, RefusesBeforeTouchingTheFlash) {
    const RefusalRow &tRow = GetParam();
    FillRaw(0, DEV_SIZE, 0x5A);
    CommandResult tRes = Run(tRow.astrWords);
    ASSERT_TRUE(tRes.bRouted);
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, std::string("\n Nandkeep notify -> ") + tRow.pszMessage + "\n");
    EXPECT_EQ(Erases(), 0u);
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
    EXPECT_TRUE(AllBytes(0, DEV_SIZE, 0x5A));
}

INSTANTIATE_TEST_SUITE_P(
    MistypedOffsets, RefusalTest,
    ::testing::Values(
        RefusalRow{{"erase", "30000", "20000"}, "offset is not on an erase block boundary"},
        RefusalRow{{"erase", "fffe0000", "40000"}, "range runs past 4 GiB"},
        RefusalRow{{"erase", "20000", "ffffffffffffffff"}, "range runs past 4 GiB"},
        RefusalRow{{"eccStatus", "fffe0000", "40000"}, "range runs past 4 GiB"},
        RefusalRow{{"badBlockRead", "/dev/null", "fffe0000", "40000"}, "range runs past 4 GiB"},
        RefusalRow{{"badBlockErase", "fffe0000", "40000"}, "range runs past 4 GiB"},
        RefusalRow{{"badBlockErase", "0", "100000000"}, "range runs past 4 GiB"},
        // The driver's own refusals.
        RefusalRow{{"setBadBlockToBBT", "800000"}, "set bad block fail"},
        RefusalRow{{"badBlockErase", "30000", "20000"}, "erase fail"},
        RefusalRow{{"badBlockErase", "20000", "10000"}, "erase fail"},
        RefusalRow{{"badBlockErase", "7e0000", "40000"}, "erase fail"}),
    [](const ::testing::TestParamInfo<RefusalRow> &tInfo) {
        std::string strName;
        for (const std::string &strWord : tInfo.param.astrWords) {
            strName += (strName.empty() ? "" : "_") + strWord;
        }
        for (char &cChar : strName) {
            cChar = isalnum(static_cast<unsigned char>(cChar)) ? cChar : '_';
        }
        return strName;
    });

// Within 4 GiB the blocks past the end are skipped like bad ones (the driver rejects the query).
TEST_F(MaintenanceTest, EraseSkipsTheBlocksPastTheEndSilently) {
    const struct {
        const char *pszOffset, *pszLen;
        uint64_t ullErased;
    } atRows[] = {{"800000", "20000", 0}, {"7e0000", "40000", 1}, {"0", "ffffffff", BLOCKS}};
    for (const auto &tRow : atRows) {
        const uint64_t ullBefore = Erases();
        CommandResult tRes = Run({"erase", tRow.pszOffset, tRow.pszLen});
        EXPECT_EQ(tRes.iResult, 0) << tRow.pszOffset;
        EXPECT_EQ(tRes.out, "");
        EXPECT_EQ(Erases() - ullBefore, tRow.ullErased) << tRow.pszOffset;
    }
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
}

TEST_F(MaintenanceTest, RangesBeyondTheReachOfTheEraseRequestAreRefused) {
    // A partition list that claims 8 GiB: the 32-bit request would wrap to a block near 0.
    Nandkeep_Deinit();
    m_bToolStarted = false;
    StartToolWithProcMtd("dev:    size   erasesize  name\n"
                         "mtd0: 200000000 00020000 \"linux\"\n");
    for (const std::vector<std::string> &astrWords :
         std::vector<std::vector<std::string>>{{"erase", "100000000", "20000"},
                                               {"erase", "fffe0000", "40000"},
                                               {"badBlockErase", "100020000", "20000"}}) {
        CommandResult tRes = Run(astrWords);
        EXPECT_EQ(tRes.iResult, -1) << astrWords[0];
        EXPECT_EQ(tRes.out, "\n Nandkeep notify -> range runs past 4 GiB\n");
    }
    EXPECT_EQ(Erases(), 0u);
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
}

// An offset inside a block (a page address from a kernel message) marks that block.
TEST_F(MaintenanceTest, SetBadBlockToBBTMarksTheBlockThatHoldsTheOffset) {
    CommandResult tRes = Run({"setBadBlockToBBT", "a0000"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{5});
    EXPECT_EQ(Run({"setBadBlockToBBT", "30000"}).iResult, 0);
    EXPECT_EQ(Run({"setBadBlockToBBT", "7fffff"}).iResult, 0);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), (std::vector<uint32_t>{1, 5, 63}));
}

TEST_F(MaintenanceTest, BadBlockReportListsMarkedBlocksInOrder) {
    CommandResult tRes = Run({"badBlockReport"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(tRes.out, "");
    MarkBad(63);
    MarkBad(2);
    tRes = Run({"badBlockReport"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(tRes.out, "Find a bad block at offset = 0x40000\n"
                        "Find a bad block at offset = 0x7e0000\n");
}

TEST_F(MaintenanceTest, BadBlockEraseIssuesOneRawRequestAndLeavesTheBootstrapAlone) {
    FillRaw(0, DEV_SIZE, 0x00);
    CommandResult tRes = Run({"badBlockErase", "40000", "40000"});
    EXPECT_EQ(tRes.iResult, 0) << tRes.out;
    EXPECT_TRUE(AllBytes(0x40000, 2 * BLOCK, 0xFF));
    EXPECT_TRUE(AllBytes(0, 0x40000, 0x00));
    EXPECT_TRUE(AllBytes(0x80000, DEV_SIZE - 0x80000, 0x00));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, 0u);
}

TEST_F(MaintenanceTest, BadBlockEraseReportsARefusedRequest) {
    // The driver refuses to erase a block marked bad.
    MarkBad(3);
    CommandResult tRes = Run({"badBlockErase", "40000", "40000"});
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, "\n Nandkeep notify -> erase fail\n");
}

class BadBlockReadTest : public MaintenanceTest {
  protected:
    std::string Dest() {
        return Path("copy.bin");
    }
};

TEST_F(BadBlockReadTest, LengthZeroCreatesAnEmptyFile) {
    testsupport::WriteText(Dest(), "old contents");
    CommandResult tRes = Run({"badBlockRead", Dest(), "20000", "0"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_TRUE(testsupport::ReadFile(Dest()).empty());
}

TEST_F(BadBlockReadTest, CopiesAcrossABadBlockAsItReads) {
    Bytes aucData = testsupport::RandomBytes(3 * BLOCK, 11);
    WriteRaw(BLOCK, aucData);
    MarkBad(2);
    CommandResult tRes = Run({"badBlockRead", Dest(), "20000", "60000"});
    EXPECT_EQ(tRes.iResult, 0) << tRes.out;
    EXPECT_EQ(testsupport::ReadFile(Dest()), aucData);
}

TEST_F(BadBlockReadTest, ALengthBetweenPiecesIsTakenUpToTheNextPiece) {
    Bytes aucData = testsupport::RandomBytes(2 * BLOCK, 12);
    WriteRaw(DEV_SIZE - 2 * BLOCK, aucData);
    // Ends inside the last block: the copy stops at the device end instead of running past it.
    CommandResult tRes = Run({"badBlockRead", Dest(), "7c0000", "30000"});
    EXPECT_EQ(tRes.iResult, 0) << tRes.out;
    EXPECT_EQ(testsupport::ReadFile(Dest()), aucData);
}

TEST_F(BadBlockReadTest, ARangePastTheEndFailsOnTheShortReadAndKeepsWhatWasCopied) {
    Bytes aucData = testsupport::RandomBytes(BLOCK, 13);
    WriteRaw(DEV_SIZE - BLOCK, aucData);
    CommandResult tRes = Run({"badBlockRead", Dest(), "7e0000", "40000"});
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, "\n Nandkeep notify -> read()\n");
    EXPECT_EQ(testsupport::ReadFile(Dest()), aucData);
}

TEST_F(BadBlockReadTest, ReportsEachFailingStep) {
    std::string strMissing = Path("no/such/dir/copy.bin");
    CommandResult tRes = Run({"badBlockRead", strMissing, "0", "20000"});
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, "\n Nandkeep notify -> fopen()\n" + strMissing);

    tRes = Run({"badBlockRead", "/dev/full", "0", "20000"});
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, "\n Nandkeep notify -> fwrite()\n");

    tRes = Run({"badBlockRead", Dest(), "900000", "20000"});
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, "\n Nandkeep notify -> lseek()\n");
}

TEST_F(BadBlockReadTest, WarnsAboutNumbersThatDoNotConvertWhole) {
    CommandResult tRes = Run({"badBlockRead", Dest(), "20000x", "20000 "});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(tRes.out, "input offset [20000x] (base hex), but get [20000]\n"
                        "input length [20000 ] (base hex), but get [20000]\n");
    EXPECT_EQ(testsupport::ReadFile(Dest()).size(), BLOCK);
}

TEST_F(MaintenanceTest, EccStatusWithLengthZeroStillExaminesOneBlock) {
    CommandResult tRes = Run({"eccStatus", "40000", "0"});
    EXPECT_EQ(tRes.iResult, 0);
    EXPECT_EQ(tRes.out, "Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0\n"
                        "At 0x40000 offset ECC corrected = 0, failed = 0\n");
}

TEST_F(MaintenanceTest, EccStatusSkipsABadFirstBlockAndShowsWhatEachReadCost) {
    MarkBad(2);
    AddFault(SIM_FAULT_BITFLIP, 3, 2);
    AddFault(SIM_FAULT_UNCORRECTABLE, 4);
    CommandResult tRes = Run({"eccStatus", "40000", "70000"});
    EXPECT_EQ(tRes.iResult, 0);
    std::vector<std::string> astrLines = Lines(tRes.out);
    ASSERT_EQ(astrLines.size(), 5u) << tRes.out;
    EXPECT_EQ(astrLines[0].rfind("Current ECC corrected = 0, failed = 0, badblocks = ", 0), 0u);
    EXPECT_EQ(astrLines[1], "At 0x40000 offset is bad blcok!!(skip)");
    EXPECT_EQ(astrLines[2], "At 0x60000 offset ECC corrected = 2, failed = 0");
    EXPECT_EQ(astrLines[3], "At 0x80000 offset ECC corrected = 2, failed = 1");
    // The last step covers the 0x10000 bytes left.
    EXPECT_EQ(astrLines[4], "At 0xA0000 offset ECC corrected = 2, failed = 1");
}

TEST_F(MaintenanceTest, RecordsFromTheEndNeedThreePartitions) {
    Nandkeep_Deinit();
    m_bToolStarted = false;
    // Two records: there is no third partition from the end.
    testsupport::WriteText(ProcMtdPath(), "dev:    size   erasesize  name\n"
                                          "mtd0: 00800000 00020000 \"linux\"\n"
                                          "mtd1: 00100000 00020000 \"boot\"\n");
    StartTool();
    FillRaw(0, DEV_SIZE, 0x00);
    for (const char *pszCommand :
         {"eraseflashfs1", "eraseflashfs2", "eraseflashfs", "eraseJFFS2", "eraseRootfs"}) {
        CommandResult tRes = Run({pszCommand});
        EXPECT_EQ(tRes.iResult, -1) << pszCommand;
        EXPECT_EQ(tRes.out, "\n Nandkeep notify -> too few partitions for this command\n");
    }
    EXPECT_EQ(Erases(), 0u);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, 0u);
}

TEST(MaintenanceRoutingTest, EachCommandTakesOnlyItsArgumentCount) {
    struct Row {
        std::vector<std::string> astrWords;
        bool bRouted;
    };
    const Row atRows[] = {
        {{"eraseAll"}, true},
        {{"erase", "0", "20000"}, true},
        {{"badBlockRead", "f", "0", "0"}, true},
        {{"badBlockRead", "f", "0"}, false},
        {{"eccStatus", "0", "0"}, true},
        {{"eccStatus", "0", "0", "0"}, false},
        {{"setBadBlockToBBT", "0"}, true},
        {{"setBadBlockToBBT", "0", "0"}, false},
        {{"badBlockManagement"}, true},
        {{"flashfs2IsChange", "x"}, false},
        {{"lifeCycleTest"}, true},
        {{"lifeCycleTest", "0", "1", "2", "3"}, true},
        {{"unstableBitsTestWrite"}, false},
        {{"unstableBitsTestCheck", "55", "extra"}, true},
    };
    for (const Row &tRow : atRows) {
        std::vector<std::string> astrCopy = tRow.astrWords;
        astrCopy.insert(astrCopy.begin(), "nandkeep");
        std::vector<char *> apszArgv;
        for (std::string &strWord : astrCopy) {
            apszArgv.push_back(&strWord[0]);
        }
        apszArgv.push_back(nullptr);
        EXPECT_EQ(Nandkeep_Route(static_cast<int>(astrCopy.size()), apszArgv.data()) != nullptr,
                  tRow.bRouted)
            << tRow.astrWords[0] << " with " << tRow.astrWords.size() - 1 << " arguments";
    }
}

class Flashfs2IsChangeTest : public ToolTest, public ::testing::WithParamInterface<int> {};

TEST_P(Flashfs2IsChangeTest, TheDefaultTableAgreesWithItsProfile) {
    CreateProfile(GetParam());
    StartTool();
    EXPECT_EQ(Run({"flashfs2IsChange"}).iResult, 0);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Flashfs2IsChangeTest, ::testing::Values(128, 256));

class LayoutTest : public ToolTest {
  protected:
    int CheckLayout(const std::string &strEntries) {
        StartToolWithProcMtd("dev:    size   erasesize  name\n"
                             "mtd0: 08000000 00020000 \"linux\"\n" +
                             strEntries);
        int iResult = Run({"flashfs2IsChange"}).iResult;
        Nandkeep_Deinit();
        m_bToolStarted = false;
        return iResult;
    }
};

TEST_F(LayoutTest, ComparesTheFlashfs2AndNFDISizesWithTheProfile) {
    CreateProfile(128);
    EXPECT_EQ(CheckLayout("mtd1: 02100000 00020000 \"Flashfs-2\"\n"
                          "mtd2: 00200000 00020000 \"NFDI\"\n"),
              0);
    EXPECT_EQ(CheckLayout("mtd1: 02000000 00020000 \"Flashfs-2\"\n"
                          "mtd2: 00200000 00020000 \"NFDI\"\n"),
              -1);
    // flashfs2 of the right size, but an NFDI area that leaves it at another offset.
    EXPECT_EQ(CheckLayout("mtd1: 02100000 00020000 \"Flashfs-2\"\n"
                          "mtd2: 00400000 00020000 \"NFDI\"\n"),
              -1);
    // A later flashfs2 entry replaces an earlier one; entries after the first NFDI are not read.
    EXPECT_EQ(CheckLayout("mtd1: 02000000 00020000 \"Flashfs-2\"\n"
                          "mtd2: 02100000 00020000 \"flashfs2\"\n"
                          "mtd3: 00200000 00020000 \"NFDI\"\n"
                          "mtd4: 04000000 00020000 \"flashfs2\"\n"),
              0);
}

TEST_F(LayoutTest, AMissingKindOfEntryMeansTheLayoutDiffers) {
    CreateProfile(128);
    EXPECT_EQ(CheckLayout("mtd1: 02100000 00020000 \"Flashfs-2\"\n"), -1);
    EXPECT_EQ(CheckLayout("mtd1: 00200000 00020000 \"NFDI\"\n"), -1);
}

TEST_F(LayoutTest, TheProfileDefaultTableChangedInOneSizeDiffers) {
    CreateProfile(128);
    std::string strProc = testsupport::ReadText(ProcMtdPath());
    size_t ulPos = strProc.find("02100000");
    ASSERT_NE(ulPos, std::string::npos);
    strProc.replace(ulPos, 8, "02120000");
    StartToolWithProcMtd(strProc);
    EXPECT_EQ(Run({"flashfs2IsChange"}).iResult, -1);
}

TEST_F(LayoutTest, AnUnreadablePartitionListIsReported) {
    CreateProfile(128);
    StartTool();
    ASSERT_EQ(unlink(ProcMtdPath().c_str()), 0);
    CommandResult tRes = Run({"flashfs2IsChange"});
    EXPECT_EQ(tRes.iResult, -1);
    EXPECT_EQ(tRes.out, "\n Nandkeep notify -> fopen()\n/proc/mtd");
}

} // namespace
