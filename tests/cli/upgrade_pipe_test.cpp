// An upgrade whose standard output reader has gone away runs to completion and leaves a
// system-log line behind. The tool runs as its own process on the simulated device.
#include "image/store_fixture.h"
#include "support/support.h"

#include <algorithm>

namespace {

constexpr unsigned long KERNEL0 = 0x300000;

class UpgradePipeTest : public StoreTest {};

TEST_F(UpgradePipeTest, LostReaderDoesNotStopTheUpgrade) {
    // A weak block in the normal kernel copy makes the writer speak after the reader is gone.
    Fault(SIM_FAULT_PROGRAM_LOST, KERNEL0 + BLOCK);
    TBytes aKernel = testsupport::MakeImage(Path("kernel"), "kernel", PatternBytes(500000, 1));
    testsupport::MakeImage(Path("dtb"), "firmware", PatternBytes(4000, 2));
    testsupport::MakeImage(Path("rootfs"), "ramdisk", PatternBytes(700000, 3));
    WriteInput("boot", PatternBytes(70000, 4));
    WriteInput("conf", {'a', '=', '1', '\n'});
    // Standard output is a pipe whose reader is gone before the tool starts.
    const testsupport::RunResult tRun =
        testsupport::Run({NANDKEEP_SIM_BINARY, "upgradeFW", Path("boot"), Path("kernel"),
                          Path("dtb"), Path("rootfs"), Path("conf")},
                         {{"NANDKEEP_SIM_DIR", m_strDir}}, "", testsupport::NO_READER);
    EXPECT_EQ(tRun.signal, 0);
    EXPECT_EQ(tRun.status, 0);
    const std::vector<std::string> astrLog = Sim_SyslogLines(m_strDir.c_str());
    EXPECT_NE(
        std::find(astrLog.begin(), astrLog.end(), "Lost connection while upgrading firmware!"),
        astrLog.end());
    EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "1");
    // Run to the end: the normal copy is complete around the retired block.
    EXPECT_TRUE(IsBad(KERNEL0 + BLOCK));
    ExpectLaidOut(aKernel, KERNEL0);
    EXPECT_EQ(Command({"checkdefconf"}), 0) << m_strOut;
}

} // namespace
