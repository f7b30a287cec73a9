// A fixture that runs the tool's commands in-process on a fresh simulated device: the device is
// created in the test's directory, start-up reads its partition list (which a test may replace
// first), and the fixture's own handle on the same state lets the test inject faults and look at
// cells, marks and counters.
#ifndef NANDKEEP_TESTS_TOOL_FIXTURE_H
#define NANDKEEP_TESTS_TOOL_FIXTURE_H

#include "sim/sim_fixture.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace toolfixture {

constexpr uint64_t BLOCK = SIM_BLOCK_SIZE;

struct CommandResult {
    int iResult;     // the entry's result (nullptr route: the usage, result 0)
    bool bRouted;    // a table row matched
    std::string out; // standard output
};

class ToolTest : public SimDirTest {
  protected:
    void TearDown() override;

    // A device of dwBlocks erase blocks with the given table (empty: one whole-device partition).
    void CreateDevice(uint32_t dwBlocks, const std::vector<TSimPartition> &atParts = {});
    // A device of a geometry profile with its default table (128 or 256).
    void CreateProfile(int iMiB);
    // Start-up on the device (reads its partition list, opens every node).
    void StartTool();
    // Start-up after replacing the device's partition list with this text.
    void StartToolWithProcMtd(const std::string &strProcMtd);

    // Routes the words like the dispatcher and runs the entry, capturing standard output.
    CommandResult Run(const std::vector<std::string> &astrWords);
    // Runs fn with standard output captured; returns what it printed.
    template <typename F> std::string Capture(F fn);

    std::string VerifyLog() const;
    std::string ProcMtdPath() const;
    // Raw cell access (no faults, nothing counted).
    testsupport::Bytes ReadRaw(uint64_t ullOffset, uint64_t ullLen);
    void FillRaw(uint64_t ullOffset, uint64_t ullLen, unsigned char ucByte);
    void WriteRaw(uint64_t ullOffset, const testsupport::Bytes &aucData);
    bool AllBytes(uint64_t ullOffset, uint64_t ullLen, unsigned char ucByte);
    void AddFault(TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN = 0, uint32_t dwPage = 0);
    void MarkBad(uint32_t dwBlock);
    bool IsBad(uint32_t dwBlock);

    bool m_bToolStarted = false;
};

template <typename F> std::string ToolTest::Capture(F fn) {
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

// A table entry.
TSimPartition Part(const char *pszName, uint64_t ullOffset, uint64_t ullSize);
// Lines of a text, each with its line end removed.
std::vector<std::string> Lines(const std::string &strText);
// How often a substring occurs.
size_t Count(const std::string &strText, const std::string &strNeedle);

} // namespace toolfixture

#endif
