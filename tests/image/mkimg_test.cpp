// The image check against images made by mkimage, laid out in flash as the writer does.
#include "image/mkimg.h"
#include "support/core_fixture.h"
#include "support/support.h"

#include <zlib.h>

using testsupport::Bytes;
using testsupport::RandomBytes;

namespace {

class CheckImageTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        Start128();
    }
    Bytes Image(const std::string &type, size_t dataLen, uint64_t seed) {
        return testsupport::MakeImage(m_tmp / "img", type, RandomBytes(dataLen, seed));
    }
    // Runs the check, capturing what it prints.
    int Check(unsigned long ulOffset, unsigned long ulLen, int iSub, unsigned long *pulResult) {
        testing::internal::CaptureStdout();
        int iRet = Nandkeep_CheckImage(ulOffset, ulLen, iSub, pulResult);
        m_out = testing::internal::GetCapturedStdout();
        return iRet;
    }
    testsupport::TempDir m_tmp;
    std::string m_out;
};

TEST_F(CheckImageTest, RootfsImagePlacesItsSubImageAtTheNextBoundary) {
    Bytes img = Image("ramdisk", 0x300000, 1);
    PutOverGoodBlocks(ROOTFS1_OFFSET, img);
    unsigned long ulResult = 0;
    EXPECT_EQ(Check(ROOTFS1_OFFSET, ROOTFS_SIZE, 2, &ulResult), 0);
    EXPECT_EQ(ulResult, ROOTFS1_OFFSET + 0x320000);
    EXPECT_EQ(m_out, "");
    EXPECT_EQ(Check(ROOTFS1_OFFSET, ROOTFS_SIZE, 1, &ulResult), 0);
    EXPECT_EQ(ulResult, 0x300040u);
    ulResult = 77;
    EXPECT_EQ(Check(ROOTFS1_OFFSET, ROOTFS_SIZE, 0, &ulResult), 0);
    EXPECT_EQ(ulResult, 77u);
}

TEST_F(CheckImageTest, BadBlocksBeforeAndInsideTheImageAreSkipped) {
    Fault(SIM_FAULT_BAD, KERNEL0_OFFSET / BLOCK);
    Fault(SIM_FAULT_BAD, KERNEL0_OFFSET / BLOCK + 1);
    Fault(SIM_FAULT_BAD, KERNEL0_OFFSET / BLOCK + 5);
    Bytes img = Image("kernel", 0x300000, 2);
    PutOverGoodBlocks(KERNEL0_OFFSET, img);
    unsigned long ulResult = 0;
    EXPECT_EQ(Check(KERNEL0_OFFSET, KERNEL_SIZE, 2, &ulResult), 0);
    // Two leading bad blocks and one inside: three blocks further than on a clean region.
    EXPECT_EQ(ulResult, KERNEL0_OFFSET + 0x320000 + 3 * BLOCK);
}

TEST_F(CheckImageTest, SizeClassBoundary) {
    // 0x1FFC0 data bytes: a kernel-class image whose data ends on the boundary, followed by
    // one empty block.
    PutOverGoodBlocks(KERNEL1_OFFSET, Image("kernel", 0x1FFC0, 3));
    unsigned long ulResult = 0;
    EXPECT_EQ(Check(KERNEL1_OFFSET, KERNEL_SIZE, 2, &ulResult), 0);
    EXPECT_EQ(ulResult, KERNEL1_OFFSET + 0x40000);

    // 0x1FFBF data bytes: DTB-sized, judged and worded as a DTB.
    Bytes dtb = Image("firmware", 0x1FFBF, 4);
    PutOverGoodBlocks(KERNEL0_OFFSET, dtb);
    EXPECT_EQ(Check(KERNEL0_OFFSET, KERNEL_SIZE, 2, &ulResult), 0);
    // Its sub-image answer follows the same placement rule: the block after its header block.
    EXPECT_EQ(ulResult, KERNEL0_OFFSET + BLOCK);
    PutRaw(KERNEL0_OFFSET + 0x1FFFE, {static_cast<unsigned char>(dtb[0x1FFFE] ^ 0x10)});
    ulResult = 5;
    EXPECT_EQ(Check(KERNEL0_OFFSET, KERNEL_SIZE, 1, &ulResult), -1);
    EXPECT_EQ(ulResult, 0x1FFFFu);
    EXPECT_EQ(
        m_out.rfind("\n Nandkeep notify -> DTB CRC check error\nDTB Data CRC check error 0x", 0),
        0u)
        << m_out;
}

TEST_F(CheckImageTest, CorruptionsAreReportedWithTheirMessages) {
    Bytes img = Image("kernel", 0x50000, 5);
    const uint32_t dwStoredDataCrc = Nandkeep_GetBE32(img.data() + 24);

    struct Case {
        const char *name;
        Bytes bytes;
        std::string expect;
    };
    Bytes magic = img;
    std::reverse(magic.begin(), magic.begin() + 4);
    Bytes hcrc = img;
    uint32_t dwWrong = static_cast<uint32_t>(crc32(0, hcrc.data(), 64));
    hcrc[4] = static_cast<unsigned char>(dwWrong >> 24);
    hcrc[5] = static_cast<unsigned char>(dwWrong >> 16);
    hcrc[6] = static_cast<unsigned char>(dwWrong >> 8);
    hcrc[7] = static_cast<unsigned char>(dwWrong);
    Bytes flipped = img;
    flipped[0x45000] ^= 0x01;
    char szCrcLine[64];
    snprintf(szCrcLine, sizeof(szCrcLine), " / 0x%X \n", dwStoredDataCrc);
    for (const Case &c : {Case{"magic in the wrong byte order", magic,
                               "\n Nandkeep notify -> check Magic Num fail\n"},
                          Case{"header CRC over an unzeroed field", hcrc,
                               "\n Nandkeep notify -> Header CRC check fail\n"},
                          Case{"one flipped data byte", flipped,
                               "\n Nandkeep notify -> Kernel/Rootfs CRC check error\n"}}) {
        SCOPED_TRACE(c.name);
        PutRaw(KERNEL1_OFFSET, Bytes(KERNEL_SIZE, 0xFF));
        PutOverGoodBlocks(KERNEL1_OFFSET, c.bytes);
        unsigned long ulResult = 0;
        EXPECT_EQ(Check(KERNEL1_OFFSET, KERNEL_SIZE, 2, &ulResult), -1);
        EXPECT_EQ(m_out.rfind(c.expect, 0), 0u) << m_out;
        EXPECT_EQ(ulResult, 0u);
    }
    EXPECT_NE(m_out.find("Data CRC check error 0x"), std::string::npos);
    EXPECT_NE(m_out.find(szCrcLine), std::string::npos) << m_out;
}

TEST_F(CheckImageTest, RegionThatEndsInsideTheDataFails) {
    Bytes img = Image("kernel", 0x50000, 6);
    PutOverGoodBlocks(KERNEL1_OFFSET, img);
    unsigned long ulResult = 0;
    EXPECT_EQ(Check(KERNEL1_OFFSET, 2 * BLOCK, 1, &ulResult), -1);
    EXPECT_EQ(ulResult, 0x50040u);
    EXPECT_EQ(m_out.rfind("\n Nandkeep notify -> Kernel/Rootfs CRC check error\n", 0), 0u);
    // The image fits the region exactly when the region has all its blocks.
    EXPECT_EQ(Check(KERNEL1_OFFSET, 3 * BLOCK, 1, &ulResult), 0);
}

TEST_F(CheckImageTest, RegionWithoutGoodBlocks) {
    for (uint32_t b = 0; b < 3; b++) {
        Fault(SIM_FAULT_BAD, KERNEL1_OFFSET / BLOCK + b);
    }
    unsigned long ulResult = 0;
    EXPECT_EQ(Check(KERNEL1_OFFSET, 3 * BLOCK, 2, &ulResult), -1);
    EXPECT_EQ(m_out, "\n Nandkeep notify -> flash driver fail\n");
    EXPECT_EQ(Check(KERNEL1_OFFSET, 0, 2, &ulResult), -1);
}

} // namespace
