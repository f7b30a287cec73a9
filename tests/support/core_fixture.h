// A simulated device with the core started on it, for in-process tests of the subsystems.
#ifndef NANDKEEP_TESTS_CORE_FIXTURE_H
#define NANDKEEP_TESTS_CORE_FIXTURE_H

#include "frontend/mtdinfo.h"
#include "sim/sim_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

class CoreTest : public SimDirTest {
  protected:
    void TearDown() override {
        if (m_bStarted) {
            Nandkeep_Deinit();
        }
        Sim_ResetPlatform();
        SimDirTest::TearDown();
    }

    // Creates the device and runs start-up on it, as every invocation does.
    void Start(const TSimSpec &tSpec) {
        Create(tSpec);
        Sim_ResetPlatform();
        Nandkeep_Init();
        m_bStarted = true;
    }
    void Start128() {
        Start(Sim_ProfileSpec(128));
    }

    int Fd() const {
        return g_ptMTDInfo[0].iFd;
    }
    static constexpr unsigned long BLOCK = 0x20000;

    std::vector<unsigned char> Raw(unsigned long ulOffset, size_t ulLen) {
        std::vector<unsigned char> v(ulLen);
        EXPECT_EQ(Sim_ReadRaw(&m_tDev, ulOffset, v.data(), ulLen), 0);
        return v;
    }
    void PutRaw(unsigned long ulOffset, const std::vector<unsigned char> &v) {
        ASSERT_EQ(Sim_WriteRaw(&m_tDev, ulOffset, v.data(), v.size()), 0);
    }
    void Fault(TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN = 0, uint32_t dwPage = 0) {
        ASSERT_EQ(Sim_AddFault(&m_tDev, eKind, dwBlock, ullN, dwPage), 0) << Sim_LastError();
    }
    bool IsBad(uint32_t dwBlock) {
        return Sim_IsBad(&m_tDev, dwBlock) == 1;
    }
    std::vector<std::string> Syslog() {
        return Sim_SyslogLines(m_strDir.c_str());
    }

    // Lays bytes out the way the writer does: 128 KiB chunks in consecutive good blocks from
    // ulOffset on. Returns the offset just past the last byte.
    unsigned long PutOverGoodBlocks(unsigned long ulOffset, const std::vector<unsigned char> &v) {
        unsigned long ulPos = ulOffset;
        for (size_t done = 0; done < v.size();) {
            while (IsBad(static_cast<uint32_t>(ulPos / BLOCK))) {
                ulPos += BLOCK;
            }
            size_t n = std::min<size_t>(BLOCK, v.size() - done);
            EXPECT_EQ(Sim_WriteRaw(&m_tDev, ulPos, v.data() + done, n), 0);
            done += n;
            ulPos += n;
        }
        return ulPos;
    }

    bool m_bStarted = false;
};

#endif
