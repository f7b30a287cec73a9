// Test helpers around the simulated device: a fresh directory per test, removed afterwards,
// and the platform pointed at it.
#ifndef NANDKEEP_TESTS_SIM_FIXTURE_H
#define NANDKEEP_TESTS_SIM_FIXTURE_H

#include "sim/sim_store.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

class SimDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/nandkeep-test-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_strDir = szTemplate;
        Sim_SetDir(m_strDir.c_str());
    }

    void TearDown() override {
        Sim_SetDir(nullptr);
        if (m_bOpen) {
            Sim_Close(&m_tDev);
        }
        std::string strCmd = "rm -rf '" + m_strDir + "'";
        EXPECT_EQ(system(strCmd.c_str()), 0);
    }

    // Creates the device and opens it for inspection in m_tDev.
    void Create(const TSimSpec &tSpec) {
        ASSERT_EQ(Sim_Create(m_strDir.c_str(), tSpec), 0) << Sim_LastError();
        Reopen();
    }

    void Reopen() {
        if (m_bOpen) {
            Sim_Close(&m_tDev);
        }
        ASSERT_EQ(Sim_Open(&m_tDev, m_strDir.c_str()), 0) << Sim_LastError();
        m_bOpen = true;
    }

    std::string Path(const char *pszName) const {
        return m_strDir + "/" + pszName;
    }

    std::string m_strDir;
    TSimDevice m_tDev{};
    bool m_bOpen = false;
};

// Runs a shell command line; returns the exit status (-1 when it did not exit) and fills
// pstrOut with what it printed on both streams.
inline int RunCommand(const std::string &strCmd, std::string *pstrOut) {
    // A command whose program (the first word after any VAR=value words) is a tool built here
    // runs through the emulator of a cross build.
    size_t ulProg = 0;
    while (true) {
        size_t ulEnd = strCmd.find(' ', ulProg);
        std::string strWord = strCmd.substr(ulProg, ulEnd - ulProg);
        size_t ulEq = strWord.find('=');
        if (ulEnd == std::string::npos || ulEq == std::string::npos ||
            strWord.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") < ulEq) {
            break;
        }
        ulProg = ulEnd + 1;
    }
    std::string strLine = strCmd.substr(0, ulProg);
    const size_t ulProgEnd = strCmd.find(' ', ulProg);
    for (const std::string &strWord :
         testsupport::LauncherFor(strCmd.substr(ulProg, ulProgEnd - ulProg))) {
        strLine += strWord + " ";
    }
    strLine += strCmd.substr(ulProg);
    FILE *pPipe = popen((strLine + " 2>&1").c_str(), "r");
    if (pPipe == nullptr) {
        return -1;
    }
    pstrOut->clear();
    char acBuf[4096];
    size_t ulGot;
    while ((ulGot = fread(acBuf, 1, sizeof(acBuf), pPipe)) > 0) {
        pstrOut->append(acBuf, ulGot);
    }
    int iStatus = pclose(pPipe);
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

#endif
