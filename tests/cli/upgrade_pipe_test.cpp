// An upgrade whose standard output reader has gone away runs to completion and leaves a
// system-log line behind. The tool runs as its own process on the simulated device.
#include "image/store_fixture.h"
#include "support/support.h"

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr unsigned long KERNEL0 = 0x300000;

// Runs the simulator binary with standard output on a pipe whose reader has already exited.
int RunWithClosedStdout(const std::vector<std::string> &astrArgs, const std::string &strDir) {
    int aiPipe[2];
    if (pipe(aiPipe) != 0) {
        return -1;
    }
    close(aiPipe[0]);
    pid_t tPid = fork();
    if (tPid == 0) {
        dup2(aiPipe[1], 1);
        close(aiPipe[1]);
        signal(SIGPIPE, SIG_DFL);
        setenv("NANDKEEP_SIM_DIR", strDir.c_str(), 1);
        std::vector<char *> apArgv;
        for (const std::string &str : astrArgs) {
            apArgv.push_back(const_cast<char *>(str.c_str()));
        }
        apArgv.push_back(nullptr);
        execv(apArgv[0], apArgv.data());
        _exit(127);
    }
    close(aiPipe[1]);
    int iStatus = 0;
    waitpid(tPid, &iStatus, 0);
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : 128 + WTERMSIG(iStatus);
}

class UpgradePipeTest : public StoreTest {};

TEST_F(UpgradePipeTest, LostReaderDoesNotStopTheUpgrade) {
    // A weak block in the normal kernel copy makes the writer speak after the reader is gone.
    Fault(SIM_FAULT_PROGRAM_LOST, KERNEL0 + BLOCK);
    TBytes aKernel = testsupport::MakeImage(Path("kernel"), "kernel", PatternBytes(500000, 1));
    testsupport::MakeImage(Path("dtb"), "firmware", PatternBytes(4000, 2));
    testsupport::MakeImage(Path("rootfs"), "ramdisk", PatternBytes(700000, 3));
    WriteInput("boot", PatternBytes(70000, 4));
    WriteInput("conf", {'a', '=', '1', '\n'});
    const int iStatus =
        RunWithClosedStdout({NANDKEEP_SIM_BINARY, "upgradeFW", Path("boot"), Path("kernel"),
                             Path("dtb"), Path("rootfs"), Path("conf")},
                            m_strDir);
    EXPECT_EQ(iStatus, 0);
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
