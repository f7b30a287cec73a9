// Whole-process runs of the maintenance commands and the factory tests on the simulator:
// exit statuses as the shell sees them, output that must survive the process being stopped,
// and state carried from one process to the next.
#include "sim/sim_store.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using testsupport::RunResult;
using testsupport::TempDir;

namespace {

constexpr uint64_t BLOCK = SIM_BLOCK_SIZE;

size_t Count(const std::string &strText, const std::string &strNeedle) {
    size_t ulCount = 0;
    for (size_t ulPos = strText.find(strNeedle); ulPos != std::string::npos;
         ulPos = strText.find(strNeedle, ulPos + 1)) {
        ulCount++;
    }
    return ulCount;
}

class SimProcessTest : public ::testing::Test {
  protected:
    void CreateDevice(uint32_t dwBlocks) {
        ASSERT_EQ(Sim_Create(m_tDir.Path().c_str(), Sim_CustomSpec(dwBlocks)), 0)
            << Sim_LastError();
        ASSERT_EQ(Sim_Open(&m_tDev, m_tDir.Path().c_str()), 0) << Sim_LastError();
        m_bOpen = true;
    }
    void TearDown() override {
        if (m_bOpen) {
            Sim_Close(&m_tDev);
        }
    }
    RunResult Tool(const std::vector<std::string> &astrWords) {
        std::vector<std::string> astrArgv = {testsupport::SimBinary()};
        astrArgv.insert(astrArgv.end(), astrWords.begin(), astrWords.end());
        return testsupport::Run(astrArgv, {{"NANDKEEP_SIM_DIR", m_tDir.Path()}});
    }
    std::string VerifyLog() {
        return testsupport::ReadText(m_tDir / "ramdisk/flashVerifyResult");
    }

    TempDir m_tDir;
    TSimDevice m_tDev = {};
    bool m_bOpen = false;
};

// Starts the tool, reads its standard output until stop() says enough (or the time is up),
// then stops it with SIGTERM. Returns what it printed; *piSignal gets the signal it died of,
// *piStatus (when given) its exit status.
template <typename F>
std::string RunUntil(const std::vector<std::string> &astrArgv, const std::string &strSimDir, F stop,
                     int iTimeoutSec, int *piSignal, int *piStatus = nullptr) {
    int aiPipe[2];
    if (pipe(aiPipe) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return "";
    }
    pid_t tPid = fork();
    if (tPid == 0) {
        dup2(aiPipe[1], 1);
        close(aiPipe[0]);
        close(aiPipe[1]);
        setenv("NANDKEEP_SIM_DIR", strSimDir.c_str(), 1);
        // A cross build runs the tool through its emulator.
        std::vector<std::string> astrWords = testsupport::LauncherFor(astrArgv[0]);
        const bool bLaunched = !astrWords.empty();
        astrWords.insert(astrWords.end(), astrArgv.begin(), astrArgv.end());
        std::vector<char *> apszArgv;
        for (const std::string &strArg : astrWords) {
            apszArgv.push_back(const_cast<char *>(strArg.c_str()));
        }
        apszArgv.push_back(nullptr);
        if (bLaunched) {
            execvp(apszArgv[0], apszArgv.data());
        } else {
            execv(apszArgv[0], apszArgv.data());
        }
        _exit(127);
    }
    close(aiPipe[1]);
    std::string strOut;
    const auto tDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(iTimeoutSec);
    while (!stop(strOut) && std::chrono::steady_clock::now() < tDeadline) {
        struct pollfd tPoll = {aiPipe[0], POLLIN, 0};
        if (poll(&tPoll, 1, 100) <= 0) {
            continue;
        }
        char acBuf[4096];
        ssize_t lGot = read(aiPipe[0], acBuf, sizeof(acBuf));
        if (lGot <= 0) {
            break;
        }
        strOut.append(acBuf, static_cast<size_t>(lGot));
    }
    kill(tPid, SIGTERM);
    int iStatus = 0;
    waitpid(tPid, &iStatus, 0);
    close(aiPipe[0]);
    *piSignal = WIFSIGNALED(iStatus) ? WTERMSIG(iStatus) : 0;
    if (piStatus != nullptr) {
        *piStatus = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    }
    return strOut;
}

TEST_F(SimProcessTest, BadBlockManagementRunsUntilStoppedAndRetiresAWeakBlockOnce) {
    // Block 5 takes four erases, so it holds 0xFF, 0x00, 0x0F and 0xF0 and fails to erase in
    // the 0x5A pass; it keeps 0xF0 AND 0x5A, which does not read back as 0x5A.
    CreateDevice(16);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_WEAR_OUT, 5, 4), 0) << Sim_LastError();
    // Stop in the third round, after more than eight passes.
    auto stop = [](const std::string &strOut) { return Count(strOut, "Pattern is ") >= 20; };
    int iSignal = 0;
    std::string strOut = RunUntil({testsupport::SimBinary(), "badBlockManagement"}, m_tDir.Path(),
                                  stop, 120, &iSignal);
    EXPECT_EQ(iSignal, SIGTERM);
    ASSERT_GE(Count(strOut, "Pattern is "), 20u) << strOut;

    // The pattern lines cycle through the eight patterns.
    const char *apszCycle[] = {"ff", "0", "f", "f0", "5a", "a5", "69", "96"};
    size_t ulPos = 0;
    for (int i = 0; i < 20; i++) {
        std::string strLine = std::string("Pattern is ") + apszCycle[i % 8] + "\n";
        size_t ulFound = strOut.find("Pattern is ", ulPos);
        ASSERT_NE(ulFound, std::string::npos);
        EXPECT_EQ(strOut.compare(ulFound, strLine.size(), strLine), 0) << "pass " << i;
        ulPos = ulFound + 1;
    }
    // The only finding is in the first 0x5A pass.
    const std::string strFinding = "Pattern is 5a\n"
                                   "find a bad block\n"
                                   " Nandkeep notify -> Image is not match.\n"
                                   "Offset 0xa0000 Is bad block\n"
                                   "Pattern is a5\n";
    EXPECT_EQ(Count(strOut, strFinding), 1u) << strOut;
    EXPECT_EQ(Count(strOut, "Is bad block"), 1u);
    EXPECT_EQ(Count(strOut, "find a bad block"), 1u);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), std::vector<uint32_t>{5});
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 5), 4u);
}

TEST_F(SimProcessTest, FlashVerifyExitsWithItsErrorCount) {
    CreateDevice(16);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_STUCK_BITS, 4, 64), 0) << Sim_LastError();
    RunResult tRes = Tool({"flashVerify"});
    // 1 + 1 + 2 * 15 differences.
    EXPECT_EQ(tRes.status, 32) << tRes.out;
    EXPECT_EQ(Count(tRes.out, "Testing progress"), 2u + 16u);
    EXPECT_EQ(Count(VerifyLog(), "Testing progress"), 0u);
    EXPECT_EQ(Count(VerifyLog(), "Test Fail. Error Cnt = 32\n"), 1u);
}

TEST_F(SimProcessTest, FlashVerifyThatCannotWriteExitsWith255) {
    CreateDevice(8);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_PROGRAM_FAIL, 2), 0) << Sim_LastError();
    RunResult tRes = Tool({"flashVerify"});
    EXPECT_EQ(tRes.status, 255) << tRes.out;
}

TEST_F(SimProcessTest, AFactoryTestWhoseLogIsFullFailsAtOnce) {
    // The short write hides in the stdio buffer until the log is flushed.
    CreateDevice(16);
    ASSERT_EQ(symlink("/dev/full", (m_tDir / "ramdisk/flashVerifyResult").c_str()), 0);
    for (const std::vector<std::string> &astrCmd :
         {std::vector<std::string>{"lifeCycleTest", "0", "0"}, {"flashVerify"}}) {
        RunResult tRes = Tool(astrCmd);
        EXPECT_EQ(tRes.status, 1) << astrCmd[0] << ": " << tRes.out;
        EXPECT_EQ(Count(tRes.out, "Nandkeep notify -> fwrite()"), 1u) << astrCmd[0] << tRes.out;
    }
}

TEST_F(SimProcessTest, ADestinationThatIsTheFlashOrAFifoWithoutReaderIsRefused) {
    ASSERT_EQ(Sim_Create(m_tDir.Path().c_str(), Sim_ProfileSpec(128)), 0) << Sim_LastError();
    testsupport::WriteText(m_tDir / "conf", "a=1\n");
    ASSERT_EQ(Tool({"writetempconf", m_tDir / "conf"}).status, 0);
    ASSERT_EQ(symlink("state.bin", (m_tDir / "state.link").c_str()), 0);
    ASSERT_EQ(mkfifo((m_tDir / "fifo").c_str(), 0600), 0);
    const std::string strFlash = "destination is the flash device itself";
    const struct {
        std::vector<std::string> astrArgs;
        std::string strNotify;
    } atCases[] = {
        {{"badBlockRead", m_tDir / "fifo", "0", "20000"}, "fopen()"},
        {{"readtempconf", m_tDir / "fifo"}, "fopen()"},
        {{"badBlockRead", m_tDir / "flash.bin", "0", "20000"}, strFlash},
        {{"readtempconf", m_tDir / "flash.bin"}, strFlash},
        {{"readtempconf", m_tDir / "state.link"}, strFlash},
    };
    for (const auto &tCase : atCases) {
        // Under a time limit: a destination that blocks must not hang the suite.
        std::vector<std::string> astrArgv = {"/usr/bin/timeout", "10"};
        for (const std::string &strWord : testsupport::LauncherFor(testsupport::SimBinary())) {
            astrArgv.push_back(strWord);
        }
        astrArgv.push_back(testsupport::SimBinary());
        astrArgv.insert(astrArgv.end(), tCase.astrArgs.begin(), tCase.astrArgs.end());
        RunResult tRes = testsupport::Run(astrArgv, {{"NANDKEEP_SIM_DIR", m_tDir.Path()}});
        EXPECT_EQ(tRes.status, 255) << tCase.astrArgs[1] << ": " << tRes.out;
        EXPECT_GE(Count(tRes.out, "notify -> " + tCase.strNotify + "\n" + tCase.astrArgs[1]), 1u)
            << tCase.astrArgs[1] << ": " << tRes.out;
    }
    // Nothing was truncated or programmed: the record still reads back.
    EXPECT_EQ(Tool({"checktempconf"}).status, 0);
    EXPECT_EQ(Tool({"readtempconf", m_tDir / "back"}).status, 0);
    EXPECT_EQ(testsupport::ReadText(m_tDir / "back"), "a=1\n");
}

TEST_F(SimProcessTest, AFactoryTestStopsAtThe257thBadBlock) {
    // The known bad-block list holds 256 blocks; the census finds one more (block 296).
    CreateDevice(300);
    for (uint32_t i = 0; i < 257; i++) {
        ASSERT_EQ(Sim_MarkBad(&m_tDev, 40 + i), 0);
    }
    RunResult tRes = Tool({"lifeCycleTest", "2580000", "0"});
    EXPECT_EQ(tRes.status, 1);
    std::string strLog = VerifyLog();
    EXPECT_EQ(Count(strLog, "Find a bad block at offset="), 257u);
    const std::string strLast = "Find a bad block at offset=0x2500000\n"
                                "FAIL: more than 256 bad blocks, test stopped\n";
    EXPECT_EQ(strLog.substr(strLog.size() - strLast.size()), strLast);
    EXPECT_EQ(Count(strLog, "Erase all"), 0u);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullErases, 0u);
}

TEST_F(SimProcessTest, UnstableBitsRandWrittenInOneProcessChecksInAnother) {
    CreateDevice(32);
    RunResult tRes = Tool({"unstableBitsTestWrite", "rand"});
    EXPECT_EQ(tRes.status, 0);
    EXPECT_EQ(Count(tRes.out, "Write unstable bits pattern: rand Pass\n"), 1u) << tRes.out;
    tRes = Tool({"unstableBitsTestCheck", "rand"});
    EXPECT_EQ(tRes.status, 0);
    EXPECT_EQ(Count(tRes.out, "Check unstable bits pattern: rand Pass\n"), 1u) << tRes.out;
}

TEST_F(SimProcessTest, ABlockTurnedBadBetweenTheStepsShiftsTheRandomContents) {
    CreateDevice(32);
    ASSERT_EQ(Tool({"unstableBitsTestWrite", "rand"}).status, 0);
    ASSERT_EQ(Sim_MarkBad(&m_tDev, 5), 0);
    // The good block after it is expected to hold what block 5 held.
    RunResult tRes = Tool({"unstableBitsTestCheck", "rand"});
    EXPECT_EQ(tRes.status, 0);
    EXPECT_EQ(Count(tRes.out, "Find a bad block at offset=0xa0000\n"
                              "Find ## 1 ## bad block\n"
                              "check flash image\n"
                              "Find diff sector at address = 0xc0000\n"
                              "Check unstable bits pattern: rand Fail\n"),
              1u)
        << tRes.out;
}

TEST_F(SimProcessTest, AConstantPatternDoesNotNoticeTheShift) {
    CreateDevice(32);
    ASSERT_EQ(Tool({"unstableBitsTestWrite", "0xAA"}).status, 0);
    ASSERT_EQ(Sim_MarkBad(&m_tDev, 5), 0);
    RunResult tRes = Tool({"unstableBitsTestCheck", "AA"});
    EXPECT_EQ(tRes.status, 0);
    EXPECT_EQ(Count(tRes.out, "Check unstable bits pattern: AA Pass\n"), 1u) << tRes.out;
}

TEST_F(SimProcessTest, ErasesAndReadsOfTheMaintenanceCommandsAsTheShellSeesThem) {
    CreateDevice(16);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_ERASE_FAIL, 3), 0);
    EXPECT_EQ(Tool({"erase", "60000", "20000"}).status, 255);
    EXPECT_EQ(Tool({"erase", "40000", "40000"}).status, 0);
    RunResult tRes = Tool({"badBlockReport"});
    EXPECT_EQ(tRes.status, 0);
    EXPECT_EQ(tRes.out, "Find a bad block at offset = 0x60000\n");
    // An offset inside a block marks that block.
    EXPECT_EQ(Tool({"setBadBlockToBBT", "81000"}).status, 0);
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), (std::vector<uint32_t>{3, 4}));
    EXPECT_EQ(Tool({"badBlockRead", m_tDir / "copy", "0", "40000"}).status, 0);
    EXPECT_EQ(testsupport::ReadFile(m_tDir / "copy").size(), 2 * BLOCK);
}

// A partition list whose whole-device size is absurd: every walk over record 0 stops at 4 GiB
// (the blocks past the real device count as bad), and a range from 0 over it is refused.
TEST_F(SimProcessTest, WalksOverAnAbsurdDeviceSizeStopAt4GiB) {
    CreateDevice(16);
    testsupport::WriteText(m_tDir / "proc_mtd", "dev:    size   erasesize  name\n"
                                                "mtd0: ffffffffffffffff 00020000 \"linux\"\n");
    const struct {
        std::vector<std::string> astrWords;
        std::string strTail; // what the output ends with
        int iStatus;         // -1: runs until stopped once the tail is seen
    } atRows[] = {
        {{"badBlockReport"}, "Find a bad block at offset = 0xfffe0000\n", 0},
        {{"eraseAll"}, "", 0},
        {{"unstableBitsTestWrite", "55"}, "At 0xFFFE0000 offset is bad blcok!!(skip)\n", 0},
        {{"lifeCycleTest"}, "\n Nandkeep notify -> range runs past 4 GiB\n", 255},
        {{"badBlockManagement"}, "Pattern is 0\n", -1},
    };
    for (const auto &tRow : atRows) {
        SCOPED_TRACE(tRow.astrWords[0]);
        std::vector<std::string> astrArgv = {testsupport::SimBinary()};
        astrArgv.insert(astrArgv.end(), tRow.astrWords.begin(), tRow.astrWords.end());
        auto stop = [&](const std::string &strOut) {
            return tRow.iStatus == -1 && strOut.find(tRow.strTail) != std::string::npos;
        };
        int iSignal = 0, iStatus = 0;
        std::string strOut = RunUntil(astrArgv, m_tDir.Path(), stop, 60, &iSignal, &iStatus);
        if (tRow.iStatus == -1) {
            EXPECT_EQ(iSignal, SIGTERM);
            EXPECT_NE(strOut.find(tRow.strTail), std::string::npos);
            continue;
        }
        EXPECT_EQ(iSignal, 0);
        EXPECT_EQ(iStatus, tRow.iStatus);
        ASSERT_GE(strOut.size(), tRow.strTail.size());
        EXPECT_EQ(strOut.substr(strOut.size() - tRow.strTail.size()), tRow.strTail);
    }
}

} // namespace
