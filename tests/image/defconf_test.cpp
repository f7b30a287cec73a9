// The default configuration commands and the repair of one copy from the other.
#include "flash/mtdio.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/store_fixture.h"
#include "support/support.h"
#include "upgrade/writer.h"

namespace {

constexpr unsigned long ROOTFS0 = 0x1500000;
constexpr unsigned long ROOTFS1 = 0x3500000;
constexpr unsigned long ROOTFS_LEN = 0x2000000;

bool EndsWith(const std::string &str, const std::string &strTail) {
    return str.size() >= strTail.size() &&
           str.compare(str.size() - strTail.size(), strTail.size(), strTail) == 0;
}

class DefConfTest : public StoreTest {
  protected:
    // Both rootfs regions hold the same image of a little more than two blocks; its default
    // configuration area starts at region + 0x60000.
    void SetUp() override {
        StoreTest::SetUp();
        testsupport::MakeImage(Path("rootfs"), "ramdisk", PatternBytes(2 * BLOCK + 100, 1));
        BeginSession();
        ASSERT_EQ(Nandkeep_WriteImage(Path("rootfs").c_str(), ROOTFS1, ROOTFS_LEN, 0), 0);
        ASSERT_EQ(Nandkeep_WriteImage(Path("rootfs").c_str(), ROOTFS0, ROOTFS_LEN, 0), 0);
        EndSession();
        m_aConf = PatternBytes(700, 2);
        m_strConf = WriteInput("conf", m_aConf);
    }

    static constexpr unsigned long Conf(unsigned long ulRootfs) {
        return ulRootfs + 0x60000;
    }
    static constexpr unsigned long ConfLen(unsigned long ulRootfs) {
        return ulRootfs + ROOTFS_LEN - Conf(ulRootfs);
    }

    TBytes m_aConf;
    std::string m_strConf;
};

TEST_F(DefConfTest, WriteCheckAndReadBothCopies) {
    ASSERT_EQ(Command({"writedefconf", m_strConf}), 0) << m_strOut;
    EXPECT_EQ(m_strOut, "");
    EXPECT_EQ(Raw(Conf(ROOTFS1), m_aConf.size() + 8), RecordStream(m_aConf));
    EXPECT_EQ(Raw(Conf(ROOTFS0), m_aConf.size() + 8), RecordStream(m_aConf));
    EXPECT_EQ(Command({"checkdefconf"}), 0);
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readdefconf", strOut}), 0);
    EXPECT_EQ(m_strOut, "read Default Value 1\n");
    EXPECT_EQ(ReadOutput(strOut), m_aConf);
}

TEST_F(DefConfTest, ReadFallsBackToCopyZero) {
    ASSERT_EQ(Command({"writedefconf", m_strConf}), 0);
    // Copy 1's length word now claims one byte less: its checksum no longer matches.
    ASSERT_EQ(Sim_Erase(&m_tDev, static_cast<uint32_t>(Conf(ROOTFS1) / BLOCK)), 0);
    TBytes aRecord = RecordStream(m_aConf);
    aRecord[0] = static_cast<uint8_t>(aRecord[0] - 1);
    PutRaw(Conf(ROOTFS1), aRecord);
    EXPECT_EQ(Command({"checkdefconf"}), -1);
    EXPECT_EQ(m_strOut, "check Default Value 1 fail\n");
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readdefconf", strOut}), 0);
    EXPECT_NE(m_strOut.find(Notified("CRC check error")), std::string::npos);
    EXPECT_TRUE(EndsWith(m_strOut, "\nread Default Value 0\n")) << m_strOut;
    EXPECT_EQ(ReadOutput(strOut), m_aConf);
}

TEST_F(DefConfTest, DamagedRootfsOneHidesCopyOne) {
    ASSERT_EQ(Command({"writedefconf", m_strConf}), 0);
    PutRaw(ROOTFS1 + 0x100, {0x00});
    EXPECT_EQ(Command({"checkdefconf"}), -1);
    EXPECT_EQ(m_strOut.find(Notified("Kernel/Rootfs CRC check error")), 0u);
    EXPECT_TRUE(EndsWith(m_strOut, "\nget Default Value 1 offset fail\n")) << m_strOut;
    // Writing stops at copy 1 and leaves copy 0 as it was.
    const std::vector<uint32_t> aBefore = EraseMap();
    EXPECT_EQ(Command({"writedefconf", WriteInput("new", {1, 2, 3})}), -1);
    EXPECT_EQ(EraseMap(), aBefore);
}

TEST_F(DefConfTest, MissingOrOversizedSourceKeepsBothCopies) {
    ASSERT_EQ(Command({"writedefconf", m_strConf}), 0);
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    EXPECT_EQ(Command({"writedefconf", Path("missing")}), -1);
    EXPECT_EQ(m_strOut, Notified("fopen()") + "update Default Value 1 fail\n");
    std::string strBig = WriteInput("big", TBytes(ConfLen(ROOTFS1) - 7, 0));
    EXPECT_EQ(Command({"writedefconf", strBig}), -1);
    EXPECT_EQ(m_strOut, Notified("size too large") + "update Default Value 1 fail\n");
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    EXPECT_EQ(Command({"checkdefconf"}), 0);
}

TEST_F(DefConfTest, RecoveryCopiesOnlyWhatDiffers) {
    ASSERT_EQ(Command({"writedefconf", m_strConf}), 0);
    BeginSession();
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    EXPECT_EQ(Nandkeep_RecoveryDefConf(MTD0Fd(), Conf(ROOTFS0), Conf(ROOTFS1), ConfLen(ROOTFS0),
                                       ConfLen(ROOTFS1)),
              0);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);

    // Copy 0 erased, and its first block gone bad: the record is rebuilt around it.
    ASSERT_EQ(Nandkeep_EraseMTD(MTD0Fd(), Conf(ROOTFS0), BLOCK), 0);
    MarkBad(Conf(ROOTFS0));
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), Conf(ROOTFS0), ConfLen(ROOTFS0)), -1);
    EXPECT_EQ(Nandkeep_RecoveryDefConf(MTD0Fd(), Conf(ROOTFS0), Conf(ROOTFS1), ConfLen(ROOTFS0),
                                       ConfLen(ROOTFS1)),
              0);
    EXPECT_EQ(Raw(Conf(ROOTFS0) + BLOCK, m_aConf.size() + 8), RecordStream(m_aConf));
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), Conf(ROOTFS0), ConfLen(ROOTFS0)), 0);

    // An erased source holds nothing to copy from.
    ASSERT_EQ(Nandkeep_EraseMTD(MTD0Fd(), Conf(ROOTFS1), BLOCK), 0);
    BeginCapture();
    EXPECT_EQ(Nandkeep_RecoveryDefConf(MTD0Fd(), Conf(ROOTFS0), Conf(ROOTFS1), ConfLen(ROOTFS0),
                                       ConfLen(ROOTFS1)),
              -1);
    EXPECT_EQ(EndCapture(), "");
}

} // namespace
