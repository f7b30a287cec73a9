// flashVerify on simulated devices of 64, 128 and 256 blocks: the wall time, and how much of it
// the simulator takes.
//
// The disturb check re-reads every other good block after each of the two programmings of
// every good block, so the reads grow with the square of the block count: doubling the device
// should multiply the time by about four. Every call across the platform seam is timed (the
// link wraps the Plat_ functions), which splits the time between the simulator (behind the
// seam) and the tool (the flash layer's copies and comparisons, the test's own loops).
//
// Usage: bench_flashverify [BLOCKS...]   (default: 64 128 256)
#include "factorytest/factorytests.h"
#include "flash/device.h"
#include "platform/platform.h"
#include "sim/sim_store.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Time behind the seam, by kind of request.
enum TSeamKind { SEAM_READ, SEAM_WRITE, SEAM_ERASE, SEAM_OTHER, SEAM_KINDS };

struct TSeamTally {
    double adSeconds[SEAM_KINDS];
    unsigned long aulCalls[SEAM_KINDS];
};

TSeamTally g_tTally = {};

class SeamTimer {
  public:
    explicit SeamTimer(TSeamKind eKind) : m_eKind(eKind), m_tStart(Clock::now()) {
        g_tTally.aulCalls[eKind]++;
    }
    ~SeamTimer() {
        g_tTally.adSeconds[m_eKind] +=
            std::chrono::duration<double>(Clock::now() - m_tStart).count();
    }

  private:
    TSeamKind m_eKind;
    Clock::time_point m_tStart;
};

} // namespace

// The link renames the core's calls across the seam (by their C++ symbol names, see
// bench/CMakeLists.txt) to the wrappers below; the __real_ names reach the simulator.
extern "C" {
ssize_t __real__Z9Plat_ReadiPvm(int iFd, void *pBuf, size_t ulLen);
ssize_t __real__Z10Plat_WriteiPKvm(int iFd, const void *pBuf, size_t ulLen);
off_t __real__Z10Plat_Lseekili(int iFd, off_t lOffset, int iWhence);
int __real__Z13Plat_MemEraseijj(int iFd, uint32_t dwStart, uint32_t dwLength);
int __real__Z19Plat_MemGetBadBlockil(int iFd, int64_t llOffset);
int __real__Z19Plat_MemSetBadBlockil(int iFd, int64_t llOffset);
int __real__Z16Plat_EccGetStatsiP9TEccStats(int iFd, TEccStats *ptStats);

ssize_t __wrap__Z9Plat_ReadiPvm(int iFd, void *pBuf, size_t ulLen) {
    SeamTimer tTimer(SEAM_READ);
    return __real__Z9Plat_ReadiPvm(iFd, pBuf, ulLen);
}
ssize_t __wrap__Z10Plat_WriteiPKvm(int iFd, const void *pBuf, size_t ulLen) {
    SeamTimer tTimer(SEAM_WRITE);
    return __real__Z10Plat_WriteiPKvm(iFd, pBuf, ulLen);
}
off_t __wrap__Z10Plat_Lseekili(int iFd, off_t lOffset, int iWhence) {
    SeamTimer tTimer(SEAM_OTHER);
    return __real__Z10Plat_Lseekili(iFd, lOffset, iWhence);
}
int __wrap__Z13Plat_MemEraseijj(int iFd, uint32_t dwStart, uint32_t dwLength) {
    SeamTimer tTimer(SEAM_ERASE);
    return __real__Z13Plat_MemEraseijj(iFd, dwStart, dwLength);
}
int __wrap__Z19Plat_MemGetBadBlockil(int iFd, int64_t llOffset) {
    SeamTimer tTimer(SEAM_OTHER);
    return __real__Z19Plat_MemGetBadBlockil(iFd, llOffset);
}
int __wrap__Z19Plat_MemSetBadBlockil(int iFd, int64_t llOffset) {
    SeamTimer tTimer(SEAM_OTHER);
    return __real__Z19Plat_MemSetBadBlockil(iFd, llOffset);
}
int __wrap__Z16Plat_EccGetStatsiP9TEccStats(int iFd, TEccStats *ptStats) {
    SeamTimer tTimer(SEAM_OTHER);
    return __real__Z16Plat_EccGetStatsiP9TEccStats(iFd, ptStats);
}
}

namespace {

struct TRun {
    unsigned int uBlocks;
    int iResult;
    double dTotal;
    TSeamTally tSeam;
};

bool RunOnce(unsigned int uBlocks, TRun *ptRun) {
    const char *pszTmp = getenv("TMPDIR");
    std::string strTemplate =
        std::string(pszTmp != nullptr ? pszTmp : "/tmp") + "/nandkeep-bench-XXXXXX";
    std::vector<char> acDir(strTemplate.begin(), strTemplate.end());
    acDir.push_back('\0');
    if (mkdtemp(acDir.data()) == nullptr ||
        Sim_Create(acDir.data(), Sim_CustomSpec(uBlocks)) != 0) {
        fprintf(stderr, "cannot create a device: %s\n", Sim_LastError());
        return false;
    }
    Sim_SetDir(acDir.data());
    if (Nandkeep_Init() != 0) {
        abort();
    }

    // The test's progress and findings would drown the figures.
    fflush(stdout);
    int iSavedOut = dup(1);
    int iNull = open("/dev/null", O_WRONLY);
    dup2(iNull, 1);
    close(iNull);
    g_tTally = TSeamTally{};
    Clock::time_point tStart = Clock::now();
    ptRun->iResult = Nandkeep_FlashVerify();
    ptRun->dTotal = std::chrono::duration<double>(Clock::now() - tStart).count();
    fflush(stdout);
    dup2(iSavedOut, 1);
    close(iSavedOut);
    ptRun->uBlocks = uBlocks;
    ptRun->tSeam = g_tTally;

    Nandkeep_Deinit();
    Sim_SetDir(nullptr);
    std::string strRemove = std::string("rm -rf '") + acDir.data() + "'";
    return system(strRemove.c_str()) == 0;
}

double PerCallMicros(const TSeamTally &tTally, TSeamKind eKind) {
    return tTally.aulCalls[eKind] == 0
               ? 0.0
               : 1e6 * tTally.adSeconds[eKind] / static_cast<double>(tTally.aulCalls[eKind]);
}

} // namespace

int main(int iArgc, char **ppArgv) {
    std::vector<unsigned int> auBlocks;
    for (int i = 1; i < iArgc; i++) {
        auBlocks.push_back(static_cast<unsigned int>(strtoul(ppArgv[i], nullptr, 0)));
    }
    if (auBlocks.empty()) {
        auBlocks = {64, 128, 256};
    }
    printf("flashVerify on the simulator (128 KiB blocks, no faults); times in seconds\n");
    printf("%6s %8s %8s %8s %6s %8s %8s %8s %8s %8s %6s\n", "blocks", "reads", "total", "x prev",
           "sim %", "sim", "sim rd", "sim wr", "sim er", "sim oth", "result");
    double dPrev = 0;
    for (unsigned int uBlocks : auBlocks) {
        TRun tRun = {};
        if (!RunOnce(uBlocks, &tRun)) {
            return 1;
        }
        const double *pdSeam = tRun.tSeam.adSeconds;
        double dSim =
            pdSeam[SEAM_READ] + pdSeam[SEAM_WRITE] + pdSeam[SEAM_ERASE] + pdSeam[SEAM_OTHER];
        char szRatio[16] = "-";
        if (dPrev > 0) {
            snprintf(szRatio, sizeof(szRatio), "%.2f", tRun.dTotal / dPrev);
        }
        printf("%6u %8lu %8.2f %8s %5.1f%% %8.2f %8.2f %8.2f %8.2f %8.2f %6d\n", tRun.uBlocks,
               tRun.tSeam.aulCalls[SEAM_READ], tRun.dTotal, szRatio, 100.0 * dSim / tRun.dTotal,
               dSim, pdSeam[SEAM_READ], pdSeam[SEAM_WRITE], pdSeam[SEAM_ERASE], pdSeam[SEAM_OTHER],
               tRun.iResult);
        printf("%6s per call (us): read %.1f x %lu, write %.1f x %lu, erase %.1f x %lu\n", "",
               PerCallMicros(tRun.tSeam, SEAM_READ), tRun.tSeam.aulCalls[SEAM_READ],
               PerCallMicros(tRun.tSeam, SEAM_WRITE), tRun.tSeam.aulCalls[SEAM_WRITE],
               PerCallMicros(tRun.tSeam, SEAM_ERASE), tRun.tSeam.aulCalls[SEAM_ERASE]);
        fflush(stdout);
        dPrev = tRun.dTotal;
    }
    return 0;
}
