// The state directory: creating devices, the default tables, persistence, raw images.
#include "sim_fixture.h"

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadText(const std::string &strPath) {
    std::ifstream tIn(strPath);
    std::stringstream tText;
    tText << tIn.rdbuf();
    return tText.str();
}

void WriteText(const std::string &strPath, const std::string &strText) {
    std::ofstream tOut(strPath);
    tOut << strText;
}

TEST(SimTables, CompiledInTablesEqualTheTableFiles) {
    for (int iProfile : {128, 256}) {
        std::string strFile = std::string(NANDKEEP_SOURCE_DIR) + "/sim/tables/mtd" +
                              std::to_string(iProfile) + ".txt";
        TSimPartition atFile[SIM_PARTITIONS_MAX];
        int iFileCount = 0;
        ASSERT_EQ(Sim_ReadTableFile(strFile.c_str(), atFile, &iFileCount), 0) << Sim_LastError();
        int iCount = 0;
        const TSimPartition *ptBuiltIn = Sim_DefaultTable(iProfile, &iCount);
        ASSERT_NE(ptBuiltIn, nullptr);
        ASSERT_EQ(iCount, iFileCount) << strFile;
        for (int i = 0; i < iCount; i++) {
            EXPECT_STREQ(ptBuiltIn[i].szName, atFile[i].szName) << strFile << " line " << i;
            EXPECT_EQ(ptBuiltIn[i].ullOffset, atFile[i].ullOffset) << atFile[i].szName;
            EXPECT_EQ(ptBuiltIn[i].ullSize, atFile[i].ullSize) << atFile[i].szName;
        }
        EXPECT_EQ(ptBuiltIn[0].ullSize, iProfile == 128 ? SIM_SIZE_128 : SIM_SIZE_256);
    }
    int iCount = -1;
    EXPECT_EQ(Sim_DefaultTable(64, &iCount), nullptr);
    EXPECT_EQ(iCount, 0);
}

TEST(SimTables, ParseSkipsCommentsAndRejectsMalformedLines) {
    TSimPartition atParts[SIM_PARTITIONS_MAX];
    int iCount = 0;
    ASSERT_EQ(Sim_ParseTable("# c\n\n a 0x0 0x40000 # tail\nb 20000 20000", atParts, &iCount), 0);
    ASSERT_EQ(iCount, 2);
    EXPECT_STREQ(atParts[1].szName, "b");
    EXPECT_EQ(atParts[1].ullOffset, 0x20000u);
    EXPECT_EQ(Sim_ParseTable("a 0x0\n", atParts, &iCount), -1);
    EXPECT_NE(std::string(Sim_LastError()).find("line 1"), std::string::npos);
    EXPECT_EQ(Sim_ParseTable("a 0x0 0x20000\nb 0x0 0x2g000\n", atParts, &iCount), -1);
    EXPECT_NE(std::string(Sim_LastError()).find("line 2"), std::string::npos);
    EXPECT_EQ(Sim_ParseTable("a 0 -20000\n", atParts, &iCount), -1);
    EXPECT_EQ(Sim_ParseTable("a 0 20000 extra\n", atParts, &iCount), -1);
    std::string strMany;
    for (int i = 0; i <= SIM_PARTITIONS_MAX; i++) {
        strMany += "p 0 20000\n";
    }
    EXPECT_EQ(Sim_ParseTable(strMany.c_str(), atParts, &iCount), -1);
}

TEST(SimTables, CheckRejectsUnalignedOutsideAndOddNames) {
    TSimPartition tPart = {"p", 0, 0x40000};
    EXPECT_EQ(Sim_CheckTable(&tPart, 1, 0x40000), 0);
    EXPECT_EQ(Sim_CheckTable(&tPart, 1, 0x20000), -1);
    tPart = {"p", 0x20000, 0x40000};
    EXPECT_EQ(Sim_CheckTable(&tPart, 1, 0x40000), -1);
    tPart = {"p", 0x1000, 0x20000};
    EXPECT_EQ(Sim_CheckTable(&tPart, 1, 0x40000), -1);
    tPart = {"p", 0, 0};
    EXPECT_EQ(Sim_CheckTable(&tPart, 1, 0x40000), -1);
    tPart = {"a\"b", 0, 0x20000};
    EXPECT_EQ(Sim_CheckTable(&tPart, 1, 0x40000), -1);
    EXPECT_EQ(Sim_CheckTable(&tPart, 0, 0x40000), -1);
}

class SimStoreTest : public SimDirTest {};

TEST_F(SimStoreTest, ProfileDevicesHaveTheirGeometryAndKernelStyleProcMtd) {
    Create(Sim_ProfileSpec(128));
    EXPECT_EQ(Sim_DeviceSize(&m_tDev), SIM_SIZE_128);
    EXPECT_EQ(Sim_BlockCount(&m_tDev), 1024u);
    // nandsim keeps no bad-block table on the chip.
    EXPECT_EQ(Sim_EccStats(&m_tDev).bbtblocks, 0u);
    EXPECT_EQ(m_tDev.iPartCount, 8);
    std::string strProc = ReadText(Path("proc_mtd"));
    EXPECT_EQ(strProc.rfind("dev:    size   erasesize  name\n"
                            "mtd0: 08000000 00020000 \"linux\"\n",
                            0),
              0u);
    EXPECT_NE(strProc.find("\nmtd3: 02100000 00020000 \"Flashfs-2\"\n"), std::string::npos);
    EXPECT_NE(strProc.find("\nmtd7: 001a0000 00020000 \"jffs2\"\n"), std::string::npos);

    Create(Sim_ProfileSpec(256));
    EXPECT_EQ(Sim_BlockCount(&m_tDev), 2048u);
    EXPECT_EQ(Sim_EccStats(&m_tDev).bbtblocks, 0u);
    EXPECT_NE(ReadText(Path("proc_mtd")).find("\nmtd4: 00800000 00020000 \"NFDI\"\n"),
              std::string::npos);
}

TEST_F(SimStoreTest, FreshDeviceIsErasedSparseAndQuiet) {
    Create(Sim_ProfileSpec(256));
    struct stat tStat;
    ASSERT_EQ(stat(Path("flash.bin").c_str(), &tStat), 0);
    EXPECT_EQ((uint64_t)tStat.st_size, SIM_SIZE_256);
    EXPECT_LT(tStat.st_blocks * 512, 1 << 20) << "the flash file should be sparse";
    std::vector<unsigned char> aucBlock(SIM_BLOCK_SIZE);
    ASSERT_EQ(Sim_ReadRaw(&m_tDev, SIM_SIZE_256 - SIM_BLOCK_SIZE, aucBlock.data(), SIM_BLOCK_SIZE),
              0);
    EXPECT_EQ(aucBlock, std::vector<unsigned char>(SIM_BLOCK_SIZE, 0xFF));
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
    EXPECT_TRUE(Sim_ListFaults(&m_tDev).empty());
    EXPECT_TRUE(Sim_SyslogLines(m_strDir.c_str()).empty());
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "0");
    EXPECT_EQ(access(Path("bin/ovenctl").c_str(), X_OK), 0);
    EXPECT_EQ(access(Path("bin/cfgvault").c_str(), X_OK), 0);
    ASSERT_EQ(stat(Path("ramdisk").c_str(), &tStat), 0);
    EXPECT_TRUE(S_ISDIR(tStat.st_mode));
}

TEST_F(SimStoreTest, CustomSizeGetsOneWholeDevicePartitionOrTheGivenTable) {
    TSimSpec tSpec = Sim_CustomSpec(48);
    Create(tSpec);
    EXPECT_EQ(Sim_BlockCount(&m_tDev), 48u);
    ASSERT_EQ(m_tDev.iPartCount, 1);
    EXPECT_EQ(m_tDev.atParts[0].ullOffset, 0u);
    EXPECT_EQ(m_tDev.atParts[0].ullSize, 48u * SIM_BLOCK_SIZE);
    EXPECT_EQ(Sim_EccStats(&m_tDev).bbtblocks, 0u);
    EXPECT_EQ(ReadText(Path("proc_mtd")), "dev:    size   erasesize  name\n"
                                          "mtd0: 00600000 00020000 \"linux\"\n");

    TSimPartition atParts[] = {{"all", 0, 0x600000}, {"tail", 0x400000, 0x200000}};
    tSpec.ptParts = atParts;
    tSpec.iPartCount = 2;
    tSpec.dwBBTBlocks = 2;
    Create(tSpec);
    ASSERT_EQ(m_tDev.iPartCount, 2);
    EXPECT_STREQ(m_tDev.atParts[1].szName, "tail");
    EXPECT_EQ(Sim_EccStats(&m_tDev).bbtblocks, 2u);
}

TEST_F(SimStoreTest, CreateRejectsImpossibleDevices) {
    TSimSpec tSpec = Sim_CustomSpec(4);
    tSpec.ullSize += 0x800;
    EXPECT_EQ(Sim_Create(m_strDir.c_str(), tSpec), -1);
    EXPECT_EQ(Sim_Create(m_strDir.c_str(), Sim_CustomSpec(0)), -1);
    EXPECT_EQ(Sim_Create(m_strDir.c_str(), Sim_ProfileSpec(64)), -1);
    tSpec = Sim_CustomSpec(4);
    tSpec.dwBBTBlocks = 5;
    EXPECT_EQ(Sim_Create(m_strDir.c_str(), tSpec), -1);
    TSimPartition tPart = {"big", 0, 5 * SIM_BLOCK_SIZE};
    tSpec = Sim_CustomSpec(4);
    tSpec.ptParts = &tPart;
    tSpec.iPartCount = 1;
    EXPECT_EQ(Sim_Create(m_strDir.c_str(), tSpec), -1);
    EXPECT_NE(std::string(Sim_LastError()).find("runs past"), std::string::npos);
    // Nothing was left behind for a later open to stumble over.
    TSimDevice tDev;
    EXPECT_EQ(Sim_Open(&tDev, m_strDir.c_str()), -1);
}

TEST_F(SimStoreTest, ADeviceOfAnotherStateVersionIsRefusedWithAClearMessage) {
    Create(Sim_CustomSpec(4));
    Sim_Close(&m_tDev);
    m_bOpen = false;
    int iFd = open(Path("state.bin").c_str(), O_RDWR);
    ASSERT_GE(iFd, 0);
    uint32_t dwOld = SIM_STATE_VERSION - 1;
    ASSERT_EQ(pwrite(iFd, &dwOld, sizeof(dwOld), offsetof(TSimStateHeader, dwVersion)),
              (ssize_t)sizeof(dwOld));
    close(iFd);
    TSimDevice tDev;
    EXPECT_EQ(Sim_Open(&tDev, m_strDir.c_str()), -1);
    EXPECT_NE(std::string(Sim_LastError()).find("create the device anew"), std::string::npos)
        << Sim_LastError();
    WriteText(Path("state.bin"), std::string(4096, 'x'));
    EXPECT_EQ(Sim_Open(&tDev, m_strDir.c_str()), -1);
    EXPECT_NE(std::string(Sim_LastError()).find("is not a simulated device's state"),
              std::string::npos)
        << Sim_LastError();
}

TEST_F(SimStoreTest, ProgramsAreCheckedAgainstTheSubPageGrid) {
    Create(Sim_CustomSpec(4));
    std::vector<unsigned char> aucData(SIM_PAGE_SIZE, 0x00);
    EXPECT_EQ(Sim_Program(&m_tDev, SIM_SUBPAGE_SIZE, aucData.data(), SIM_SUBPAGE_SIZE), NAND_OK);
    EXPECT_EQ(Sim_Program(&m_tDev, 0x100, aucData.data(), SIM_SUBPAGE_SIZE), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Sim_Program(&m_tDev, 0, aucData.data(), SIM_SUBPAGE_SIZE + 1), -1);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, 1u);
}

TEST_F(SimStoreTest, EverythingPersistsAcrossAReopenAndAnotherProcess) {
    Create(Sim_CustomSpec(16));
    std::vector<unsigned char> aucData(SIM_BLOCK_SIZE, 0x42);
    ASSERT_EQ(Sim_Program(&m_tDev, 3 * SIM_BLOCK_SIZE, aucData.data(), aucData.size()), NAND_OK);
    ASSERT_EQ(Sim_Erase(&m_tDev, 5), NAND_OK);
    ASSERT_EQ(Sim_MarkBad(&m_tDev, 7), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_WEAR_OUT, 9, 2), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BITFLIP, 3, 2), 0);
    ASSERT_EQ(Sim_Read(&m_tDev, 3 * SIM_BLOCK_SIZE, aucData.data(), 16), NAND_OK);

    // A child process changes the device; nothing is flushed explicitly, and it dies hard.
    pid_t tPid = fork();
    ASSERT_GE(tPid, 0);
    if (tPid == 0) {
        TSimDevice tDev;
        if (Sim_Open(&tDev, m_strDir.c_str()) != 0 || Sim_Erase(&tDev, 5) != NAND_OK ||
            Sim_MarkBad(&tDev, 8) != 0) {
            _exit(1);
        }
        raise(SIGKILL);
    }
    int iStatus = 0;
    ASSERT_EQ(waitpid(tPid, &iStatus, 0), tPid);
    ASSERT_TRUE(WIFSIGNALED(iStatus));

    Reopen();
    std::vector<unsigned char> aucGot(SIM_BLOCK_SIZE);
    ASSERT_EQ(Sim_ReadRaw(&m_tDev, 3 * SIM_BLOCK_SIZE, aucGot.data(), aucGot.size()), 0);
    EXPECT_EQ(aucGot, std::vector<unsigned char>(SIM_BLOCK_SIZE, 0x42));
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 5), 2u);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), (std::vector<uint32_t>{7, 8}));
    TEccStats tStats = Sim_EccStats(&m_tDev);
    EXPECT_EQ(tStats.corrected, 2u);
    EXPECT_EQ(tStats.badblocks, 2u);
    TSimOpCounts tOps = Sim_OpCounts(&m_tDev);
    EXPECT_EQ(tOps.ullOps, 3u);
    EXPECT_EQ(tOps.ullErases, 2u);
    EXPECT_EQ(tOps.ullPrograms, 1u);
    std::vector<TSimFault> atFaults = Sim_ListFaults(&m_tDev);
    ASSERT_EQ(atFaults.size(), 2u);
    EXPECT_EQ(atFaults[0].eKind, SIM_FAULT_BITFLIP);
    EXPECT_EQ(atFaults[1].eKind, SIM_FAULT_WEAR_OUT);
    EXPECT_EQ(atFaults[1].ullN, 2u);
}

TEST_F(SimStoreTest, ErasingLeavesUnwrittenBlocksHolesInTheFile) {
    Create(Sim_ProfileSpec(256));
    std::vector<unsigned char> aucData(SIM_BLOCK_SIZE, 0x00);
    ASSERT_EQ(Sim_Program(&m_tDev, 5 * SIM_BLOCK_SIZE, aucData.data(), aucData.size()), NAND_OK);
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, 7 * SIM_BLOCK_SIZE - 1, aucData.data(), 2), 0);
    for (uint32_t b = 0; b < Sim_BlockCount(&m_tDev); b++) {
        ASSERT_EQ(Sim_Erase(&m_tDev, b), NAND_OK);
    }
    struct stat tStat;
    ASSERT_EQ(stat(Path("flash.bin").c_str(), &tStat), 0);
    EXPECT_LT(tStat.st_blocks * 512, 4 * SIM_BLOCK_SIZE);
    // Written blocks, also those a raw write only touched, are erased for real.
    for (uint32_t b : {5u, 6u, 7u}) {
        ASSERT_EQ(Sim_ReadRaw(&m_tDev, b * SIM_BLOCK_SIZE, aucData.data(), aucData.size()), 0);
        EXPECT_EQ(aucData, std::vector<unsigned char>(SIM_BLOCK_SIZE, 0xFF)) << "block " << b;
    }
}

TEST_F(SimStoreTest, RawImagesGoInAndOutUncounted) {
    Create(Sim_CustomSpec(8));
    std::string strImage(3000, '\0');
    for (size_t i = 0; i < strImage.size(); i++) {
        strImage[i] = (char)(i * 7);
    }
    WriteText(Path("in.img"), strImage);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_UNCORRECTABLE, 0), 0);
    ASSERT_EQ(Sim_LoadImage(&m_tDev, Path("in.img").c_str(), 0x1001), 0) << Sim_LastError();
    ASSERT_EQ(Sim_SaveImage(&m_tDev, Path("out.img").c_str(), 0x1000, 3002), 0);
    EXPECT_EQ(ReadText(Path("out.img")), "\xFF" + strImage + "\xFF");
    ASSERT_EQ(Sim_SaveImage(&m_tDev, Path("all.img").c_str(), 0, 0), 0);
    EXPECT_EQ(ReadText(Path("all.img")).size(), 8u * SIM_BLOCK_SIZE);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, 0u);
    EXPECT_EQ(Sim_EccStats(&m_tDev).failed, 0u);
    // Past the end or from a missing file: refused, nothing written.
    EXPECT_EQ(Sim_LoadImage(&m_tDev, Path("in.img").c_str(), 8u * SIM_BLOCK_SIZE - 100), -1);
    EXPECT_EQ(Sim_LoadImage(&m_tDev, Path("missing.img").c_str(), 0), -1);
    EXPECT_EQ(Sim_SaveImage(&m_tDev, Path("x.img").c_str(), 8u * SIM_BLOCK_SIZE, 1), -1);
}

TEST_F(SimStoreTest, FlashStatusAndSyslogFiles) {
    Create(Sim_CustomSpec(4));
    ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "1"), 0);
    EXPECT_EQ(ReadText(Path("flashstatus")), "1\n");
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "1");
    EXPECT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "1\n2"), -1);
    WriteText(Path("syslog"), "first line\nsecond\n");
    EXPECT_EQ(Sim_SyslogLines(m_strDir.c_str()),
              (std::vector<std::string>{"first line", "second"}));
}

} // namespace
