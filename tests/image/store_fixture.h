// A simulated device with the tool's start-up done in-process, for the tests of the record
// stores, the writer and the upgrade commands: files in the test directory, commands run through
// the dispatcher with standard output captured, raw views of the flash and its counters.
#ifndef NANDKEEP_TESTS_STORE_FIXTURE_H
#define NANDKEEP_TESTS_STORE_FIXTURE_H

#include "frontend/dispatch.h"
#include "frontend/mtdinfo.h"
#include "sim/sim_fixture.h"
#include "support/firmware.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include <zlib.h>

using TBytes = std::vector<uint8_t>;

constexpr unsigned long BLOCK = 0x20000;

// The shared deterministic generator (same bytes for the same seed).
inline TBytes PatternBytes(size_t ulLen, uint64_t ullSeed) {
    return testsupport::RandomBytes(ulLen, ullSeed);
}

inline uint32_t Crc(const TBytes &aData) {
    return static_cast<uint32_t>(crc32(0, aData.data(), static_cast<uInt>(aData.size())));
}

// The record the store writes for a payload: length, payload, CRC-32, 0xFF to a multiple of 4.
inline TBytes RecordStream(const TBytes &aPayload) {
    return firmware::ConfigRecord(aPayload);
}

class StoreTest : public SimDirTest {
  protected:
    void SetUp() override {
        SimDirTest::SetUp();
        Create(Sim_ProfileSpec(128));
    }

    void TearDown() override {
        EndSession();
        SimDirTest::TearDown();
    }

    // Start-up as a command would do it, for calling operations directly.
    void BeginSession() {
        if (!m_bSession) {
            Sim_ResetPlatform();
            Nandkeep_Init();
            m_bSession = true;
        }
    }
    void EndSession() {
        if (m_bSession) {
            Nandkeep_Deinit();
            m_bSession = false;
        }
    }

    std::string WriteInput(const std::string &strName, const TBytes &aData) {
        std::string strPath = Path(strName.c_str());
        FILE *pFile = fopen(strPath.c_str(), "wb");
        EXPECT_NE(pFile, nullptr);
        if (pFile != nullptr) {
            if (!aData.empty()) {
                EXPECT_EQ(fwrite(aData.data(), 1, aData.size(), pFile), aData.size());
            }
            fclose(pFile);
        }
        return strPath;
    }

    TBytes ReadOutput(const std::string &strPath) {
        TBytes aData;
        FILE *pFile = fopen(strPath.c_str(), "rb");
        if (pFile == nullptr) {
            ADD_FAILURE() << "cannot read " << strPath;
            return aData;
        }
        int c;
        while ((c = fgetc(pFile)) != EOF) {
            aData.push_back(static_cast<uint8_t>(c));
        }
        fclose(pFile);
        return aData;
    }

    // One command line through the dispatcher, as the tool would run it; standard output is
    // captured into m_strOut.
    int Command(const std::vector<std::string> &astrWords) {
        EndSession();
        Sim_ResetPlatform();
        std::vector<std::string> astrArgs = {"nandkeep"};
        astrArgs.insert(astrArgs.end(), astrWords.begin(), astrWords.end());
        std::vector<char *> apArgv;
        for (std::string &str : astrArgs) {
            apArgv.push_back(&str[0]);
        }
        apArgv.push_back(nullptr);
        fflush(stdout);
        testing::internal::CaptureStdout();
        int iRet = Nandkeep_Main(static_cast<int>(astrArgs.size()), apArgv.data());
        fflush(stdout);
        m_strOut = testing::internal::GetCapturedStdout();
        return iRet;
    }

    // Standard output of an operation called directly.
    void BeginCapture() {
        fflush(stdout);
        testing::internal::CaptureStdout();
    }
    std::string EndCapture() {
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    TBytes Raw(unsigned long ulOffset, size_t ulLen) {
        TBytes aData(ulLen);
        EXPECT_EQ(Sim_ReadRaw(&m_tDev, ulOffset, aData.data(), ulLen), 0);
        return aData;
    }
    void PutRaw(unsigned long ulOffset, const TBytes &aData) {
        ASSERT_EQ(Sim_WriteRaw(&m_tDev, ulOffset, aData.data(), aData.size()), 0);
    }
    void MarkBad(unsigned long ulOffset) {
        ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BAD, static_cast<uint32_t>(ulOffset / BLOCK)), 0);
    }
    void Fault(TSimFaultKind eKind, unsigned long ulOffset) {
        ASSERT_EQ(Sim_AddFault(&m_tDev, eKind, static_cast<uint32_t>(ulOffset / BLOCK)), 0);
    }
    bool IsBad(unsigned long ulOffset) {
        return Sim_IsBad(&m_tDev, static_cast<uint32_t>(ulOffset / BLOCK)) == 1;
    }
    uint32_t Erases(unsigned long ulOffset) {
        return Sim_EraseCount(&m_tDev, static_cast<uint32_t>(ulOffset / BLOCK));
    }
    // Erase count of every block of the device.
    std::vector<uint32_t> EraseMap() {
        std::vector<uint32_t> aCounts;
        for (uint32_t i = 0; i < Sim_BlockCount(&m_tDev); i++) {
            aCounts.push_back(Sim_EraseCount(&m_tDev, i));
        }
        return aCounts;
    }

    // The k-th piece of a stream lies at the k-th good block from ulStart.
    void ExpectLaidOut(const TBytes &aStream, unsigned long ulStart) {
        unsigned long ulPos = ulStart;
        for (size_t ulDone = 0; ulDone < aStream.size(); ulDone += BLOCK) {
            while (IsBad(ulPos)) {
                ulPos += BLOCK;
            }
            size_t ulPiece = std::min<size_t>(BLOCK, aStream.size() - ulDone);
            TBytes aWant(aStream.begin() + static_cast<long>(ulDone),
                         aStream.begin() + static_cast<long>(ulDone + ulPiece));
            EXPECT_EQ(Raw(ulPos, ulPiece), aWant) << "piece at 0x" << std::hex << ulPos;
            ulPos += BLOCK;
        }
    }

    std::string m_strOut;
    bool m_bSession = false;
};

inline std::string Notified(const std::string &strMsg) {
    return "\n Nandkeep notify -> " + strMsg + "\n";
}

#endif
