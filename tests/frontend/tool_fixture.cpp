#include "tool_fixture.h"

#include "frontend/dispatch.h"
#include "frontend/mtdinfo.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace toolfixture {

TSimPartition Part(const char *pszName, uint64_t ullOffset, uint64_t ullSize) {
    TSimPartition tPart = {};
    snprintf(tPart.szName, sizeof(tPart.szName), "%s", pszName);
    tPart.ullOffset = ullOffset;
    tPart.ullSize = ullSize;
    return tPart;
}

std::vector<std::string> Lines(const std::string &strText) {
    std::vector<std::string> astrLines;
    size_t ulStart = 0;
    while (ulStart < strText.size()) {
        size_t ulEnd = strText.find('\n', ulStart);
        if (ulEnd == std::string::npos) {
            astrLines.push_back(strText.substr(ulStart));
            break;
        }
        astrLines.push_back(strText.substr(ulStart, ulEnd - ulStart));
        ulStart = ulEnd + 1;
    }
    return astrLines;
}

size_t Count(const std::string &strText, const std::string &strNeedle) {
    size_t ulCount = 0;
    for (size_t ulPos = strText.find(strNeedle); ulPos != std::string::npos;
         ulPos = strText.find(strNeedle, ulPos + 1)) {
        ulCount++;
    }
    return ulCount;
}

void ToolTest::TearDown() {
    if (m_bToolStarted) {
        Nandkeep_Deinit();
    }
    Sim_ResetPlatform();
    SimDirTest::TearDown();
}

void ToolTest::CreateDevice(uint32_t dwBlocks, const std::vector<TSimPartition> &atParts) {
    TSimSpec tSpec = Sim_CustomSpec(dwBlocks);
    tSpec.ptParts = atParts.empty() ? nullptr : atParts.data();
    tSpec.iPartCount = static_cast<int>(atParts.size());
    Create(tSpec);
}

void ToolTest::CreateProfile(int iMiB) {
    Create(Sim_ProfileSpec(iMiB));
}

void ToolTest::StartTool() {
    Sim_ResetPlatform();
    Nandkeep_Init();
    m_bToolStarted = true;
}

void ToolTest::StartToolWithProcMtd(const std::string &strProcMtd) {
    testsupport::WriteText(ProcMtdPath(), strProcMtd);
    StartTool();
}

CommandResult ToolTest::Run(const std::vector<std::string> &astrWords) {
    std::vector<std::string> astrCopy = astrWords;
    astrCopy.insert(astrCopy.begin(), "nandkeep");
    std::vector<char *> apszArgv;
    for (std::string &strWord : astrCopy) {
        apszArgv.push_back(&strWord[0]);
    }
    apszArgv.push_back(nullptr);
    const int iArgc = static_cast<int>(astrCopy.size());
    CommandResult tResult = {0, false, ""};
    TCommandEntry pfnEntry = Nandkeep_Route(iArgc, apszArgv.data());
    tResult.bRouted = pfnEntry != nullptr;
    if (pfnEntry != nullptr) {
        tResult.out = Capture([&] { tResult.iResult = pfnEntry(iArgc, apszArgv.data()); });
    }
    return tResult;
}

std::string ToolTest::VerifyLog() const {
    const std::string strPath = Path("ramdisk/flashVerifyResult");
    return access(strPath.c_str(), F_OK) == 0 ? testsupport::ReadText(strPath) : "";
}

std::string ToolTest::ProcMtdPath() const {
    return Path("proc_mtd");
}

testsupport::Bytes ToolTest::ReadRaw(uint64_t ullOffset, uint64_t ullLen) {
    testsupport::Bytes aucData(ullLen);
    EXPECT_EQ(Sim_ReadRaw(&m_tDev, ullOffset, aucData.data(), ullLen), 0) << Sim_LastError();
    return aucData;
}

void ToolTest::FillRaw(uint64_t ullOffset, uint64_t ullLen, unsigned char ucByte) {
    WriteRaw(ullOffset, testsupport::Bytes(ullLen, ucByte));
}

void ToolTest::WriteRaw(uint64_t ullOffset, const testsupport::Bytes &aucData) {
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, ullOffset, aucData.data(), aucData.size()), 0)
        << Sim_LastError();
}

bool ToolTest::AllBytes(uint64_t ullOffset, uint64_t ullLen, unsigned char ucByte) {
    testsupport::Bytes aucData = ReadRaw(ullOffset, ullLen);
    for (unsigned char ucHave : aucData) {
        if (ucHave != ucByte) {
            return false;
        }
    }
    return true;
}

void ToolTest::AddFault(TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN, uint32_t dwPage) {
    ASSERT_EQ(Sim_AddFault(&m_tDev, eKind, dwBlock, ullN, dwPage), 0) << Sim_LastError();
}

void ToolTest::MarkBad(uint32_t dwBlock) {
    ASSERT_EQ(Sim_MarkBad(&m_tDev, dwBlock), 0) << Sim_LastError();
}

bool ToolTest::IsBad(uint32_t dwBlock) {
    return Sim_IsBad(&m_tDev, dwBlock) == 1;
}

} // namespace toolfixture
