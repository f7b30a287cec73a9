// Start-up in process: the partition table as read from "/proc/mtd" and the profile selection.
#include "frontend/maintenance.h"
#include "support/core_fixture.h"
#include "support/support.h"

#include <cstring>

namespace {

class MtdInfoTest : public CoreTest {
  protected:
    // Starts the core on the 128 MiB device after replacing record 0's size token.
    void StartWithFirstSize(const char *pszSize) {
        Create(Sim_ProfileSpec(128));
        std::string text = testsupport::ReadText(Path("proc_mtd"));
        size_t pos = text.find("mtd0: ");
        ASSERT_NE(pos, std::string::npos);
        text.replace(pos + 6, 8, pszSize);
        testsupport::WriteText(Path("proc_mtd"), text);
        Sim_ResetPlatform();
        Nandkeep_Init();
        m_bStarted = true;
    }
};

TEST_F(MtdInfoTest, RecordsComeFromTheTokens) {
    Start128();
    ASSERT_EQ(g_iPartitionNum, 8);
    EXPECT_STREQ(g_ptMTDInfo[0].szName, "linux");
    EXPECT_STREQ(g_ptMTDInfo[3].szName, "Flashfs-2");
    EXPECT_STREQ(g_ptMTDInfo[3].szDevPath, "/dev/mtd3");
    EXPECT_EQ(g_ptMTDInfo[3].ulSize, 0x2100000ul);
    EXPECT_EQ(g_ptMTDInfo[3].ulEraseSize, 0x20000ul);
    for (int i = 0; i < g_iPartitionNum; i++) {
        EXPECT_GE(g_ptMTDInfo[i].iFd, 0) << i;
    }
}

TEST_F(MtdInfoTest, ExactlyOneHundredTwentyEightMiBSelectsTheSmallProfile) {
    StartWithFirstSize("08000000");
    EXPECT_EQ(g_iBBTBlockNum, 4);
    EXPECT_EQ(g_b1BitECC, 1);
    EXPECT_EQ(g_ulFlashfs2Offest, 0x5D00000ul);
    EXPECT_EQ(g_ulFlashfs2Offest + g_ulFlashfs2Size + g_ulNFDISize, g_ulPhyFlashSize);
}

TEST_F(MtdInfoTest, JustBelowTwoHundredFiftySixMiBStillSelectsTheSmallProfile) {
    StartWithFirstSize("0FFFFFFF");
    EXPECT_EQ(g_iBBTBlockNum, 4);
    EXPECT_EQ(g_ulPhyFlashSize, 0x8000000ul);
}

TEST_F(MtdInfoTest, TwoHundredFiftySixMiBSelectsTheLargeProfile) {
    StartWithFirstSize("10000000");
    EXPECT_EQ(g_iBBTBlockNum, 52);
    EXPECT_EQ(g_b1BitECC, 0);
    EXPECT_EQ(g_ulFlashfs2Offest, 0x6500000ul);
    EXPECT_EQ(g_ulNFDISize, 0x800000ul);
    EXPECT_EQ(g_ulFlashfs2Offest + g_ulFlashfs2Size + g_ulNFDISize, g_ulPhyFlashSize);
}

// A name of any length is read whole: the records after it keep their places, and the layout
// check reads the list the same way.
TEST_F(MtdInfoTest, LongNamesAreCutAndQuotesRemoved) {
    Create(Sim_ProfileSpec(128));
    std::string text = testsupport::ReadText(Path("proc_mtd"));
    size_t pos = text.find("\"kernel\"");
    ASSERT_NE(pos, std::string::npos);
    text.replace(pos, 8, "\"" + std::string(300, 'n') + "\"");
    testsupport::WriteText(Path("proc_mtd"), text);
    Sim_ResetPlatform();
    Nandkeep_Init();
    m_bStarted = true;
    ASSERT_EQ(g_iPartitionNum, 8);
    EXPECT_EQ(std::string(g_ptMTDInfo[1].szName), std::string(63, 'n'));
    EXPECT_STREQ(g_ptMTDInfo[2].szDevPath, "/dev/mtd2");
    EXPECT_STREQ(g_ptMTDInfo[7].szName, "jffs2");
    EXPECT_EQ(Nandkeep_Flashfs2IsChange(), 0);
}

} // namespace
