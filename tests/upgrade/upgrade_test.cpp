// The upgrade commands on the simulated 128 MiB device with images made by mkimage.
#include "image/store_fixture.h"
#include "support/support.h"

#include <cstring>

namespace {

constexpr unsigned long BOOT = 0x20000;
constexpr unsigned long KERNEL0 = 0x300000;
constexpr unsigned long KERNEL1 = 0xC00000;
constexpr unsigned long KERNEL_LEN = 0x900000;
constexpr unsigned long ROOTFS0 = 0x1500000;
constexpr unsigned long ROOTFS1 = 0x3500000;
constexpr unsigned long ROOTFS_LEN = 0x2000000;

// Where the sub-image of an image of ulImageLen bytes goes in a region without bad blocks.
unsigned long SubOffset(unsigned long ulRegion, unsigned long ulImageLen) {
    const unsigned long ulEnd = ulRegion + ulImageLen;
    return ulEnd - ulEnd % BLOCK + BLOCK;
}

class UpgradeTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        m_aBoot = PatternBytes(300000, 1);
        m_strBoot = WriteInput("boot", m_aBoot);
        m_aKernel = testsupport::MakeImage(Path("kernel"), "kernel", PatternBytes(3000000, 2));
        m_strKernel = Path("kernel");
        m_aDTB = MakeDTB("dtb", PatternBytes(20000, 3));
        m_strDTB = Path("dtb");
        m_aRootfs = testsupport::MakeImage(Path("rootfs"), "ramdisk", PatternBytes(5000000, 4));
        m_strRootfs = Path("rootfs");
        const std::string strConf = "hostname=oven\nfirmware=2\n";
        m_aConf = TBytes(strConf.begin(), strConf.end());
        m_strConf = WriteInput("defconf", m_aConf);
    }

    // A legacy image of type flat_dt. This mkimage builds a FIT for -T flat_dt, so the image is
    // made as firmware and given the flat_dt type byte and a fresh header CRC.
    TBytes MakeDTB(const std::string &strName, const TBytes &aData) {
        TBytes aImage = testsupport::MakeImage(Path(strName.c_str()), "firmware", aData);
        constexpr size_t TYPE_BYTE = 30;
        constexpr uint8_t TYPE_FLAT_DT = 8;
        aImage[TYPE_BYTE] = TYPE_FLAT_DT;
        memset(&aImage[4], 0, 4);
        const uint32_t dwCrc = static_cast<uint32_t>(crc32(0, aImage.data(), 64));
        for (int i = 0; i < 4; i++) {
            aImage[4 + i] = static_cast<uint8_t>(dwCrc >> (24 - 8 * i));
        }
        return TBytes(WriteInput(strName, aImage).empty() ? TBytes() : aImage);
    }

    // The DTB file with byte ulByte changed (0: none) and ulCut bytes cut off its end, and what
    // its check prints: the header's CRC, or the CRC of the data the file has against the stored.
    std::pair<std::string, std::string> BrokenDTB(const char *pszName, size_t ulByte,
                                                  size_t ulCut) {
        TBytes aFile(m_aDTB.begin(), m_aDTB.end() - static_cast<long>(ulCut));
        aFile[ulByte] ^= ulByte == 0 ? 0 : 0x01;
        char szLine[64];
        snprintf(szLine, sizeof(szLine), "DTB Data CRC check error 0x%X / 0x%X \n",
                 Crc(TBytes(aFile.begin() + 64, aFile.end())),
                 Crc(TBytes(m_aDTB.begin() + 64, m_aDTB.end())));
        return {WriteInput(pszName, aFile), ulByte != 0 && ulByte < 64
                                                ? Notified("Header CRC check fail")
                                                : Notified("DTB CRC check error") + szLine};
    }

    int Upgrade() {
        return Command({"upgradeFW", m_strBoot, m_strKernel, m_strDTB, m_strRootfs, m_strConf});
    }

    // Every item in both copies, each at the place the image check gives.
    void ExpectUpgraded() {
        EXPECT_EQ(Raw(BOOT, m_aBoot.size()), m_aBoot);
        for (unsigned long ulKernel : {KERNEL0, KERNEL1}) {
            EXPECT_EQ(Raw(ulKernel, m_aKernel.size()), m_aKernel);
            EXPECT_EQ(Raw(SubOffset(ulKernel, m_aKernel.size()), m_aDTB.size()), m_aDTB);
        }
        for (unsigned long ulRootfs : {ROOTFS0, ROOTFS1}) {
            EXPECT_EQ(Raw(ulRootfs, m_aRootfs.size()), m_aRootfs);
            const TBytes aRecord = RecordStream(m_aConf);
            EXPECT_EQ(Raw(SubOffset(ulRootfs, m_aRootfs.size()), aRecord.size()), aRecord);
        }
    }

    TBytes m_aBoot, m_aKernel, m_aDTB, m_aRootfs, m_aConf;
    std::string m_strBoot, m_strKernel, m_strDTB, m_strRootfs, m_strConf;
};

TEST_F(UpgradeTest, FullUpgradeThenTheDefaultConfiguration) {
    ASSERT_EQ(Upgrade(), 0) << m_strOut;
    EXPECT_EQ(m_strOut, "");
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "1");
    ExpectUpgraded();
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);

    EXPECT_EQ(Command({"checkdefconf"}), 0);
    EXPECT_EQ(m_strOut, "");
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readdefconf", strOut}), 0);
    EXPECT_EQ(m_strOut, "read Default Value 1\n");
    EXPECT_EQ(ReadOutput(strOut), m_aConf);
}

// Unchanged files cost reads only, except the two default configuration records, whose areas
// (from the sub-image offset to the region end) are erased and written again.
TEST_F(UpgradeTest, RepeatedUpgradeRewritesOnlyTheDefaultConfiguration) {
    ASSERT_EQ(Upgrade(), 0) << m_strOut;
    ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
    const std::vector<uint32_t> aBefore = EraseMap();
    const uint64_t ullPrograms = Sim_OpCounts(&m_tDev).ullPrograms;
    ASSERT_EQ(Upgrade(), 0) << m_strOut;
    const std::vector<uint32_t> aAfter = EraseMap();
    const unsigned long ulConf0 = SubOffset(ROOTFS0, m_aRootfs.size());
    const unsigned long ulConf1 = SubOffset(ROOTFS1, m_aRootfs.size());
    unsigned long ulErased = 0;
    for (uint32_t i = 0; i < aAfter.size(); i++) {
        const unsigned long ulBlock = i * BLOCK;
        const bool bConf = (ulBlock >= ulConf0 && ulBlock < ROOTFS0 + ROOTFS_LEN) ||
                           (ulBlock >= ulConf1 && ulBlock < ROOTFS1 + ROOTFS_LEN);
        EXPECT_EQ(aAfter[i] - aBefore[i], bConf ? 1u : 0u) << "block " << i;
        ulErased += aAfter[i] - aBefore[i];
    }
    EXPECT_EQ(ulErased, (ROOTFS0 + ROOTFS_LEN - ulConf0 + ROOTFS1 + ROOTFS_LEN - ulConf1) / BLOCK);
    // One program per record: each fits one block.
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms - ullPrograms, 2u);
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "1");
    ExpectUpgraded();
}

TEST_F(UpgradeTest, KernelThatIsNotAnImageStopsBeforeTheNormalCopies) {
    ASSERT_EQ(Upgrade(), 0) << m_strOut;
    ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
    const TBytes aKernel0 = Raw(KERNEL0, KERNEL_LEN);
    TBytes aJunk = PatternBytes(2000000, 9);
    m_strKernel = WriteInput("junk", aJunk);
    EXPECT_EQ(Upgrade(), -1);
    EXPECT_EQ(m_strOut, Notified("check Magic Num fail") + "get DTB 1 offset fail\n");
    EXPECT_EQ(Raw(KERNEL1, aJunk.size()), aJunk);
    EXPECT_EQ(Raw(KERNEL0, KERNEL_LEN), aKernel0);
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "0");
}

// Every file is looked at before the first erase.
TEST_F(UpgradeTest, BadFilesAreRefusedBeforeAnythingIsErased) {
    const unsigned long ulConfRoom = ROOTFS1 + ROOTFS_LEN - SubOffset(ROOTFS1, m_aRootfs.size());
    const unsigned long ulDTBRoom = KERNEL1 + KERNEL_LEN - SubOffset(KERNEL1, m_aKernel.size());
    const auto tHeader = BrokenDTB("hcrc", 40, 0), tData = BrokenDTB("dcrc", 100, 0),
               tShort = BrokenDTB("short", 0, 100);
    struct TCase {
        int iArg; // 0 boot ... 4 defconf
        std::string strPath;
        std::string strOut;
    } const atCases[] = {
        {0, WriteInput("b", TBytes(0x140001, 1)),
         Notified("size too large") + "update Boot fail\n"},
        {3, Path("missing"), Notified("fopen()") + "update Rootfs 1 fail\n"},
        {4, WriteInput("c", TBytes(ulConfRoom - 7, 1)),
         Notified("size too large") + "update Default Value 1 fail\n"},
        {1, m_strDir, Notified("not a regular file") + "update Kernel 1 fail\n"},
        {2, WriteInput("d", TBytes(ulDTBRoom + 1, 1)),
         Notified("size too large") + "update DTB 1 fail\n"},
        {0, "/proc/self/status",
         Notified("source size does not match its contents") + "update Boot fail\n"},
        // A DTB that is not an image, or not a sound one, is refused before the boot loader.
        {2, m_strBoot, Notified("check Magic Num fail") + "update DTB 1 fail\n"},
        {2, tHeader.first, tHeader.second + "update DTB 1 fail\n"},
        {2, tData.first, tData.second + "update DTB 1 fail\n"},
        {2, tShort.first, tShort.second + "update DTB 1 fail\n"},
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.strOut);
        std::vector<std::string> aWords = {"upgradeFW", m_strBoot,   m_strKernel,
                                           m_strDTB,    m_strRootfs, m_strConf};
        aWords[1 + tCase.iArg] = tCase.strPath;
        EXPECT_EQ(Command(aWords), -1);
        EXPECT_EQ(m_strOut, tCase.strOut);
    }
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, 0u);
    // The largest default configuration that fits is taken.
    m_strConf = WriteInput("c", TBytes(ulConfRoom - 8, 1));
    EXPECT_EQ(Upgrade(), 0) << m_strOut;
}

// A DTB-sized image in a kernel region gets its sub-image in the next block; an image that fills
// its region to the end leaves no place for one, and nothing is written outside the region.
TEST_F(UpgradeTest, SubImagesGoOnlyWhereTheCheckPoints) {
    m_aKernel = testsupport::MakeImage(Path("small"), "kernel", PatternBytes(1000, 5));
    m_strKernel = Path("small");
    ASSERT_EQ(Upgrade(), 0) << m_strOut;
    EXPECT_EQ(Raw(KERNEL1 + BLOCK, m_aDTB.size()), m_aDTB);
    EXPECT_EQ(Raw(KERNEL0 + BLOCK, m_aDTB.size()), m_aDTB);

    // upgradeFW already refuses such a kernel with its DTB; updateDTB finds it in the flash.
    m_aKernel = testsupport::MakeImage(Path("full"), "kernel", PatternBytes(KERNEL_LEN - 64, 6));
    m_strKernel = Path("full");
    EXPECT_EQ(Upgrade(), -1);
    EXPECT_EQ(m_strOut, Notified("size too large") + "update DTB 1 fail\n");
    ASSERT_EQ(Command({"write", m_strKernel, "C00000", "900000"}), 0) << m_strOut;
    const std::vector<uint32_t> aBefore = EraseMap();
    EXPECT_EQ(Command({"updateDTB", m_strDTB}), -1);
    EXPECT_EQ(m_strOut, "get DTB 1 offset fail\n");
    EXPECT_EQ(EraseMap(), aBefore);
    EXPECT_EQ(Raw(KERNEL1, m_aKernel.size()), m_aKernel);
}

TEST_F(UpgradeTest, UpdateDTBNeedsBothKernelImages) {
    EXPECT_EQ(Command({"updateDTB", m_strDTB}), -1);
    EXPECT_EQ(m_strOut, Notified("check Magic Num fail") + "get DTB 1 offset fail\n");
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, 0u);

    ASSERT_EQ(Upgrade(), 0) << m_strOut;
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    EXPECT_EQ(Command({"updateDTB", m_strBoot}), -1);
    EXPECT_EQ(m_strOut, Notified("check Magic Num fail") + "update DTB 1 fail\n");
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    TBytes aNewDTB = MakeDTB("dtb2", PatternBytes(30000, 7));
    EXPECT_EQ(Command({"updateDTB", Path("dtb2")}), 0) << m_strOut;
    for (unsigned long ulKernel : {KERNEL0, KERNEL1}) {
        EXPECT_EQ(Raw(SubOffset(ulKernel, m_aKernel.size()), aNewDTB.size()), aNewDTB);
    }
}

TEST_F(UpgradeTest, UpdateBootAndBootstrap) {
    EXPECT_EQ(Command({"updateBoot", m_strBoot}), 0);
    EXPECT_EQ(Raw(BOOT, m_aBoot.size()), m_aBoot);
    // A file whose reported size is not what it holds never reaches the erase.
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    EXPECT_EQ(Command({"updateBoot", "/proc/self/status"}), -1);
    EXPECT_EQ(m_strOut, Notified("source size does not match its contents"));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    EXPECT_EQ(Raw(BOOT, m_aBoot.size()), m_aBoot);
    TBytes aBst = PatternBytes(BLOCK, 8);
    EXPECT_EQ(Command({"updateBst", WriteInput("bst", aBst)}), 0);
    EXPECT_EQ(Raw(0, BLOCK), aBst);
    EXPECT_EQ(Command({"updateBst", WriteInput("bst2", TBytes(BLOCK + 1, 0))}), -1);
    EXPECT_EQ(m_strOut, Notified("size too large"));
    EXPECT_EQ(Raw(0, BLOCK), aBst);
}

TEST_F(UpgradeTest, WriteChecksItsRangeAfterTheWarning) {
    TBytes aData = PatternBytes(0x8000, 10);
    std::string strIn = WriteInput("data", aData);
    // Old bytes in the same block behind the range: the erase covers whole blocks.
    PutRaw(0x58000, TBytes(16, 0x00));
    EXPECT_EQ(Command({"write", strIn, "40000g", "10000"}), 0);
    EXPECT_EQ(m_strOut, "input offset [40000g] (base hex), but get [40000]\n");
    EXPECT_EQ(Raw(0x40000, aData.size()), aData);
    EXPECT_EQ(Raw(0x58000, 16), TBytes(16, 0xFF));

    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    struct TCase {
        std::vector<std::string> aWords;
        std::string strOut;
    } const atCases[] = {
        {{"write", strIn, "30000g", "20000"},
         "input offset [30000g] (base hex), but get [30000]\n" +
             Notified("offset is not a multiple of the erase block")},
        {{"write", strIn, "FFFE0000", "20001", "HTTP"}, Notified("range runs past 4 GiB")},
        {{"write", strIn, "20000", "ffffffffffffffff"}, Notified("range runs past 4 GiB")},
        {{"write", strIn, "40000", "xyz", "FTP"},
         "input length [xyz] (base hex), but get [0]\n" + Notified("size too large")},
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.strOut);
        EXPECT_EQ(Command(tCase.aWords), -1);
        EXPECT_EQ(m_strOut, tCase.strOut);
    }
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);

    // Past the end of the device the writer steps over the missing blocks as over bad ones.
    EXPECT_EQ(Command({"write", strIn, "7FE0000", "40000"}), 0) << m_strOut;
    EXPECT_EQ(Raw(0x7FE0000, aData.size()), aData);
    EXPECT_EQ(Command({"write", WriteInput("two", TBytes(BLOCK + 1, 0)), "7FE0000", "40000"}), -1);
    EXPECT_EQ(m_strOut, Notified("write fail: Not enought flash space"));
}

} // namespace
