// The one fixture of the in-process tests: a simulated device in a fresh directory of its own,
// removed afterwards (with the core's start-up undone when a test ran it in this process); the
// simulator build of the tool run on the same directory; seeded test data.
#ifndef NANDKEEP_TESTS_SUPPORT_H
#define NANDKEEP_TESTS_SUPPORT_H

#include "frontend/mtdinfo.h"
#include "sim/sim_store.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>

using Bytes = std::vector<uint8_t>;

// Deterministic pseudo-random bytes (xorshift), so every failure can be replayed from its seed.
inline Bytes RandomBytes(size_t ulLen, uint64_t ullSeed) {
    Bytes aOut(ulLen);
    uint64_t x = ullSeed * 0x9E3779B97F4A7C15ull + 1;
    for (uint8_t &ucByte : aOut) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        ucByte = static_cast<uint8_t>(x >> 24);
    }
    return aOut;
}

inline void WriteFile(const std::string &strPath, const Bytes &aData) {
    std::ofstream(strPath, std::ios::binary)
        .write(reinterpret_cast<const char *>(aData.data()), static_cast<long>(aData.size()));
}

inline Bytes ReadFile(const std::string &strPath) {
    std::ifstream tIn(strPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(tIn), std::istreambuf_iterator<char>());
}

// A shell command line; true when it exited with 0.
inline bool Shell(const std::string &strCmd) {
    return system(strCmd.c_str()) == 0;
}

struct TRun {
    int iStatus;        // exit status
    bool bKilled;       // ended by SIGKILL (a power cut)
    std::string strOut; // standard output and standard error
};

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char szDir[] = "/tmp/nandkeep-test-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_strDir = szDir;
        Sim_SetDir(szDir);
        m_tDev.iFlashFd = -1; // closed: Sim_Close leaves it so
    }
    void TearDown() override {
        Nandkeep_Deinit();
        Sim_SetDir(nullptr);
        Sim_Close(&m_tDev);
        EXPECT_TRUE(Shell("rm -rf '" + m_strDir + "' '" + m_strDir + "'.*"));
    }

    // Creates the device and opens it for inspection in m_tDev.
    void Create(const TSimSpec &tSpec) {
        ASSERT_EQ(Sim_Create(m_strDir.c_str(), tSpec), 0) << Sim_LastError();
        Reopen();
    }
    void Reopen() {
        Sim_Close(&m_tDev);
        ASSERT_EQ(Sim_Open(&m_tDev, m_strDir.c_str()), 0) << Sim_LastError();
    }
    // nandkeep-sim on this directory (through the emulator of a cross build, when
    // NANDKEEP_TEST_LAUNCHER names one).
    TRun Tool(const std::vector<std::string> &astrArgs) {
        std::string strCmd =
            "NANDKEEP_SIM_DIR='" + m_strDir + "' $NANDKEEP_TEST_LAUNCHER " NANDKEEP_SIM_BINARY;
        for (const std::string &strArg : astrArgs) {
            strCmd += " '" + strArg + "'";
        }
        return Run(strCmd);
    }

    // A shell command line on the device; its status and everything it printed.
    TRun Run(const std::string &strCmd) {
        const int iWait = system((strCmd + " >'" + m_strDir + ".out' 2>&1").c_str());
        const int iStatus = WIFEXITED(iWait) ? WEXITSTATUS(iWait) : -1;
        const bool bKilled = WIFSIGNALED(iWait) ? WTERMSIG(iWait) == SIGKILL : iStatus == 137;
        const Bytes aOut = ReadFile(m_strDir + ".out");
        return {iStatus, bKilled, std::string(aOut.begin(), aOut.end())};
    }

    std::string m_strDir;
    TSimDevice m_tDev{};
};

#endif
