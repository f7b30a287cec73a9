// Upgrades as whole processes on the simulated device: one whose standard output reader has gone
// away, sources that are not what they claim, two invocations at once, a flashstatus command
// that runs the tool itself or is interrupted.
#include "image/store_fixture.h"
#include "support/support.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

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

// Whole-process upgrades over two firmware sets: set B is on the flash, set A is being written.
class UpgradeProcessTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        m_sets[0] =
            firmware::MakeSet(m_files.Path(), "A", {0x8000, 0x30000, 0x800, 0x50000, 900}, 7);
        m_sets[1] =
            firmware::MakeSet(m_files.Path(), "B", {0x9000, 0x38000, 0x900, 0x58000, 800}, 8);
        ASSERT_EQ(Tool(Upgrade(1)).status, 0);
        ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
    }
    std::vector<std::string> Upgrade(int iSet) {
        const firmware::TSet &s = m_sets[iSet];
        return {"upgradeFW", s.bootPath, s.kernelPath, s.dtbPath, s.rootfsPath, s.defconfPath};
    }
    // The tool's words, through the emulator of a cross build.
    std::string Words(const std::vector<std::string> &astrArgs) {
        std::string str;
        for (const std::string &strWord : testsupport::LauncherFor(testsupport::SimBinary())) {
            str += strWord + " ";
        }
        str += testsupport::SimBinary();
        for (const std::string &strArg : astrArgs) {
            str += " '" + strArg + "'";
        }
        return str;
    }
    testsupport::RunResult Tool(const std::vector<std::string> &astrArgs,
                                const std::string &strErrFile = "") {
        const std::string strCmd =
            "exec " + Words(astrArgs) + (strErrFile.empty() ? "" : " 2>'" + strErrFile + "'");
        return testsupport::Run({"/bin/sh", "-c", strCmd}, {{"NANDKEEP_SIM_DIR", m_strDir}});
    }
    // The parameter store the flashstatus command calls: runs strBefore, then stores the value.
    void StandIn(const std::string &strBefore) {
        testsupport::WriteText(Path("bin/cfgvault"),
                               "#!/bin/sh\nd=$(dirname \"$0\")/..\n" + strBefore +
                                   "\nprintf '%s\\n' \"$3\" >\"$d/flashstatus\"\n");
    }
    // The set each copy holds: kernel 0, kernel 1, rootfs 0, rootfs 1 (-1: none).
    std::vector<int> Copies() {
        return {firmware::KernelCopy(&m_tDev, KERNEL0_OFFSET, KERNEL_SIZE, m_sets, 2),
                firmware::KernelCopy(&m_tDev, KERNEL1_OFFSET, KERNEL_SIZE, m_sets, 2),
                firmware::RootfsCopy(&m_tDev, ROOTFS0_OFFSET, ROOTFS_SIZE, m_sets, 2),
                firmware::RootfsCopy(&m_tDev, ROOTFS1_OFFSET, ROOTFS_SIZE, m_sets, 2)};
    }
    static bool Exists(const std::string &strPath) {
        return access(strPath.c_str(), F_OK) == 0;
    }
    testsupport::TempDir m_files;
    firmware::TSet m_sets[2];
};

// A second invocation started while an upgrade to A sits between its backup and normal copies
// waits for it, says so once, and then runs on a device that holds one set.
TEST_F(UpgradeProcessTest, SecondInvocationWaitsForTheFirst) {
    const struct {
        std::vector<std::string> astrSecond;
        int iSet; // the set every copy holds at the end
    } atRows[] = {{Upgrade(1), 1}, {{"systemRecovery", "3"}, 0}};
    for (const auto &tRow : atRows) {
        SCOPED_TRACE(tRow.astrSecond[0]);
        ASSERT_EQ(Tool(Upgrade(1)).status, 0);
        ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
        ASSERT_EQ(system(("rm -f '" + Path("go") + "' '" + Path("reached") + "'").c_str()), 0);
        // The first upgrade's flashstatus command stops until the test says go.
        StandIn("if [ ! -e \"$d/reached\" ]; then : >\"$d/reached\"; i=0\n"
                "while [ ! -e \"$d/go\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; fi");
        auto tFirst = std::async(std::launch::async, [&] { return Tool(Upgrade(0)); });
        for (int i = 0; i < 400 && !Exists(Path("reached")); i++) {
            usleep(50000);
        }
        const std::string strErr = Path("second.err");
        auto tSecond =
            std::async(std::launch::async, [&] { return Tool(tRow.astrSecond, strErr); });
        for (int i = 0; i < 400 && tSecond.wait_for(std::chrono::milliseconds(50)) !=
                                       std::future_status::ready;
             i++) {
            if (Exists(strErr) && !testsupport::ReadText(strErr).empty()) {
                break;
            }
        }
        testsupport::WriteText(Path("go"), "");
        const testsupport::RunResult tOne = tFirst.get(), tTwo = tSecond.get();
        EXPECT_EQ(tOne.status, 0) << tOne.out << tOne.err;
        EXPECT_EQ(tOne.err, "");
        EXPECT_EQ(tTwo.status, 0) << tTwo.out;
        EXPECT_EQ(testsupport::ReadText(strErr),
                  "nandkeep: waiting for another nandkeep to finish\n");
        EXPECT_EQ(Copies(), std::vector<int>(4, tRow.iSet));
        EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
        EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
    }
}

// The flashstatus command may itself run the tool (a parameter store kept in its records): that
// nandkeep works under the upgrade's lock instead of waiting for it forever.
TEST_F(UpgradeProcessTest, FlashStatusCommandMayRunTheTool) {
    StandIn("printf 'flashstatus=%s\\n' \"$3\" >\"$d/fs.conf\"\ntimeout 30 " +
            Words({"writetempconf", Path("fs.conf")}) + " >/dev/null 2>\"$d/nested.err\"\n" +
            "echo $? >\"$d/nested.status\"");
    const testsupport::RunResult tRun = Tool(Upgrade(0));
    EXPECT_EQ(tRun.status, 0) << tRun.out << tRun.err;
    EXPECT_EQ(testsupport::ReadText(Path("nested.status")), "0\n");
    EXPECT_EQ(testsupport::ReadText(Path("nested.err")), "");
    EXPECT_EQ(Tool({"readtempconf", Path("back.conf")}).status, 0);
    EXPECT_EQ(testsupport::ReadText(Path("back.conf")), "flashstatus=1\n");
    EXPECT_EQ(Copies(), std::vector<int>(4, 0));
}

// A Ctrl-C that ends the flashstatus command ends the upgrade by the same signal, before a
// normal copy is touched: the backups hold A, the normal copies still B, flashstatus stays 0.
TEST_F(UpgradeProcessTest, InterruptedFlashStatusCommandEndsTheUpgrade) {
    for (const char *pszEnd : {"exit 130", "kill -INT $$"}) {
        SCOPED_TRACE(pszEnd);
        StandIn(pszEnd);
        const testsupport::RunResult tRun = Tool(Upgrade(0));
        EXPECT_EQ(tRun.signal, SIGINT) << tRun.status << tRun.out;
        EXPECT_EQ(Copies(), (std::vector<int>{1, 0, 1, 0}));
        EXPECT_EQ(Sim_FlashStatus(m_strDir.c_str()), "0");
    }
}

// A handed-down descriptor is used only when it holds the lock itself: another descriptor of the
// lock file, or of another file, is ignored and the tool waits for the holder (flock(1) here).
TEST_F(UpgradeProcessTest, HandedDownLockIsCheckedBeforeUse) {
    for (const char *pszFd : {"9", "1"}) {
        SCOPED_TRACE(pszFd);
        const testsupport::RunResult tRun =
            testsupport::Run({"/usr/bin/flock", Path("lock"), "/bin/sh", "-c",
                              std::string("NANDKEEP_LOCK_FD=") + pszFd + " exec timeout 2 " +
                                  Words({"checktempconf"}) + " 9<'" + Path("lock") + "'"},
                             {{"NANDKEEP_SIM_DIR", m_strDir}});
        EXPECT_EQ(tRun.status, 124) << tRun.out;
        EXPECT_EQ(tRun.err, "nandkeep: waiting for another nandkeep to finish\n");
    }
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
