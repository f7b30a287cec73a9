// An upgrade whose standard output reader has gone away runs to completion and leaves a
// system-log line behind; sources that are not what they claim end in a failure. The tool runs
// as its own process on the simulated device.
#include "image/store_fixture.h"
#include "support/support.h"

#include <algorithm>
#include <sys/stat.h>

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

// A FIFO nobody writes to is refused at once; each run is bounded, so a tool that waits for a
// writer fails here instead of hanging the suite. A file that grows while it is written (the
// simulator's operation trace, which gains a line at every erase and program) fails too, after
// the erase, instead of being stored as it happened to be.
TEST_F(UpgradePipeTest, FifosAndGrowingFilesAreNotStored) {
    const std::string strFifo = Path("fifo");
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    const std::string strGrowing = WriteInput("growing", PatternBytes(3 * BLOCK, 5));
    struct TCase {
        std::vector<std::string> aWords;
        std::string strTrace;
        std::string strOut;
    } const atCases[] = {
        {{"writetempconf", strFifo}, "", Notified("not a regular file")},
        {{"updateBoot", strFifo}, "", Notified("not a regular file")},
        {{"updateBoot", strGrowing}, strGrowing, Notified("source changed while it was written")},
        {{"writetempdata", strGrowing},
         strGrowing,
         Notified("source changed while it was written")},
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.aWords[0] + " " + tCase.aWords[1]);
        std::vector<std::string> aArgv = {"/usr/bin/timeout", "-s", "KILL", "20"};
        for (const std::string &strWord : testsupport::LauncherFor(NANDKEEP_SIM_BINARY)) {
            aArgv.push_back(strWord);
        }
        aArgv.push_back(NANDKEEP_SIM_BINARY);
        aArgv.insert(aArgv.end(), tCase.aWords.begin(), tCase.aWords.end());
        const testsupport::RunResult tRun = testsupport::Run(
            aArgv, {{"NANDKEEP_SIM_DIR", m_strDir}, {"NANDKEEP_SIM_TRACE", tCase.strTrace}});
        EXPECT_EQ(tRun.status, 255);
        EXPECT_EQ(tRun.out, tCase.strOut);
    }
}

} // namespace
