// The one fixture of the in-process tests: a simulated device in a fresh directory of its own,
// removed afterwards (with the core's start-up undone when a test ran it in this process, and every
// descriptor the test opened closed again); the simulator build of the tool run on the same
// directory; snapshots of the device; seeded test data and firmware sets.
#ifndef NANDKEEP_TESTS_SUPPORT_H
#define NANDKEEP_TESTS_SUPPORT_H

#include "flash/device.h"
#include "sim/sim_store.h"
#include "support/formats.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
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
        m_ulOpenFds = OpenFds();
    }
    void TearDown() override {
        Nandkeep_Deinit();
        EXPECT_EQ(Sim_OpenNodes(), 0) << "device nodes left open";
        Sim_SetDir(nullptr);
        Sim_Close(&m_tDev);
        EXPECT_EQ(OpenFds(), m_ulOpenFds) << "descriptors left open";
        EXPECT_TRUE(Shell("rm -rf '" + m_strDir + "' '" + m_strDir + "'.*"));
    }
    static size_t OpenFds() {
        const std::filesystem::directory_iterator tFds("/proc/self/fd");
        return static_cast<size_t>(std::distance(begin(tFds), end(tFds)));
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
    // nandkeep-sim on this directory.
    TRun Tool(const std::vector<std::string> &astrArgs) {
        std::string strCmd = "NANDKEEP_SIM_DIR='" + m_strDir + "' " NANDKEEP_SIM_BINARY;
        for (const std::string &strArg : astrArgs) {
            strCmd += " '" + strArg + "'";
        }
        return Run(strCmd);
    }

    // A run of the tool traced by the simulator: its erases and programs in order, each as 'E'
    // or 'P' and the block.
    std::vector<std::pair<char, uint32_t>> Traced(const std::vector<std::string> &astrArgs,
                                                  TRun *ptRun) {
        setenv(SIM_TRACE_ENV, (m_strDir + ".trace").c_str(), 1);
        *ptRun = Tool(astrArgs);
        unsetenv(SIM_TRACE_ENV);
        std::ifstream tIn(m_strDir + ".trace");
        std::vector<std::pair<char, uint32_t>> aOps;
        for (std::pair<char, uint32_t> t; tIn >> t.first >> t.second;) {
            aOps.push_back(t);
        }
        std::remove((m_strDir + ".trace").c_str());
        return aOps;
    }

    // A shell command line on the device; its status and everything it printed.
    TRun Run(const std::string &strCmd) {
        const int iWait = system((strCmd + " >'" + m_strDir + ".out' 2>&1").c_str());
        const int iStatus = WIFEXITED(iWait) ? WEXITSTATUS(iWait) : -1;
        const bool bKilled = WIFSIGNALED(iWait) ? WTERMSIG(iWait) == SIGKILL : iStatus == 137;
        const Bytes aOut = ReadFile(m_strDir + ".out");
        return {iStatus, bKilled, std::string(aOut.begin(), aOut.end())};
    }

    // The device's directory saved as the starting point of every run, or put back.
    void Snapshot(bool bRestore) {
        Sim_Close(&m_tDev);
        const std::string strBase = "'" + m_strDir + ".base'", strDir = "'" + m_strDir + "'";
        ASSERT_TRUE(Shell(bRestore ? "cp -a --sparse=always " + strBase + "/. " + strDir
                                   : "rm -rf " + strBase + " && cp -a --sparse=always " + strDir +
                                         " " + strBase));
        Reopen();
    }

    // A power cut that did not come (the command made fewer operations) must not hit what runs
    // next: it is moved past any run.
    void DefusePowerCut() {
        ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, UINT32_MAX), 0);
    }

    std::string m_strDir;
    TSimDevice m_tDev{};
    size_t m_ulOpenFds = 0; // at the start: what the test opened must be closed at its end
};

// A firmware set made with mkimage from seeded data: its upgradeFW command line and the bytes
// each copy of an item must hold.
struct TSet {
    std::vector<std::string> astrUpgrade;
    Bytes aBoot, aKernel, aDtb, aRootfs, aDefconf; // aDefconf: the record the store writes
    Bytes aNone;                                   // the boot loader's sub-image
};

inline TSet MakeSet(const std::string &strBase, const std::vector<size_t> &aulSizes,
                    uint64_t ullSeed) {
    TSet t;
    t.astrUpgrade = {"upgradeFW",          strBase + "-boot.bin",   strBase + "-kernel.img",
                     strBase + "-dtb.img", strBase + "-rootfs.img", strBase + "-defconf.bin"};
    const char *apszTypes[] = {nullptr, "kernel", "firmware", "ramdisk", nullptr};
    Bytes *apaItems[] = {&t.aBoot, &t.aKernel, &t.aDtb, &t.aRootfs, &t.aDefconf};
    for (size_t i = 0; i < 5; i++) {
        const std::string &strFile = t.astrUpgrade[i + 1];
        WriteFile(apszTypes[i] ? strFile + ".data" : strFile,
                  RandomBytes(aulSizes[i], ullSeed + i));
        EXPECT_TRUE(!apszTypes[i] ||
                    Shell(std::string("mkimage -A arm64 -O linux -C none -a 0 -e 0 -T ") +
                          apszTypes[i] + " -n nandkeep-test -d '" + strFile + ".data' '" + strFile +
                          "' >/dev/null"));
        *apaItems[i] = ReadFile(strFile);
    }
    // The record the store writes: 0xFF up to a whole word behind it.
    t.aDefconf = Record(t.aDefconf);
    t.aDefconf.resize((t.aDefconf.size() + 3) / 4 * 4, 0xFF);
    return t;
}

#endif
