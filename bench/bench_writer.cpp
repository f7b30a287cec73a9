// Write-and-verify of a 32 MiB image on the simulated 128 MiB device: what the writer costs in
// device traffic per byte of image, and how its CPU time splits between the tool and the
// (simulated) device.
//
// Three runs into the 32 MiB rootfs 0 region: onto erased flash, over a different image, and the
// same image again (the skip-if-same case of a repeated upgrade). The platform calls are counted
// and timed by wrapping them at link time (-Wl,--wrap), so the core runs unchanged.
#include "flash/device.h"
#include "sim/sim_store.h"
#include "upgrade/writer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

struct TTraffic {
    unsigned long ulReadBytes, ulReadCalls, ulWrittenBytes, ulErasedBytes;
    double dDeviceSec;
};
TTraffic g_tTraffic;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double CpuSec() {
    struct rusage tUsage;
    getrusage(RUSAGE_SELF, &tUsage);
    return static_cast<double>(tUsage.ru_utime.tv_sec + tUsage.ru_stime.tv_sec) +
           static_cast<double>(tUsage.ru_utime.tv_usec + tUsage.ru_stime.tv_usec) / 1e6;
}

} // namespace

// The platform calls, by their C++ symbol names.
extern "C" {
ssize_t __real__Z9Plat_ReadiPvm(int iFd, void *pBuf, size_t ulLen);
ssize_t __real__Z10Plat_WriteiPKvm(int iFd, const void *pBuf, size_t ulLen);
int __real__Z13Plat_MemEraseijj(int iFd, uint32_t dwStart, uint32_t dwLength);

ssize_t __wrap__Z9Plat_ReadiPvm(int iFd, void *pBuf, size_t ulLen) {
    const double dStart = Now();
    ssize_t lRet = __real__Z9Plat_ReadiPvm(iFd, pBuf, ulLen);
    g_tTraffic.dDeviceSec += Now() - dStart;
    g_tTraffic.ulReadCalls++;
    g_tTraffic.ulReadBytes += lRet > 0 ? static_cast<unsigned long>(lRet) : 0;
    return lRet;
}

ssize_t __wrap__Z10Plat_WriteiPKvm(int iFd, const void *pBuf, size_t ulLen) {
    const double dStart = Now();
    ssize_t lRet = __real__Z10Plat_WriteiPKvm(iFd, pBuf, ulLen);
    g_tTraffic.dDeviceSec += Now() - dStart;
    g_tTraffic.ulWrittenBytes += lRet > 0 ? static_cast<unsigned long>(lRet) : 0;
    return lRet;
}

int __wrap__Z13Plat_MemEraseijj(int iFd, uint32_t dwStart, uint32_t dwLength) {
    const double dStart = Now();
    int iRet = __real__Z13Plat_MemEraseijj(iFd, dwStart, dwLength);
    g_tTraffic.dDeviceSec += Now() - dStart;
    g_tTraffic.ulErasedBytes += iRet == 0 ? dwLength : 0;
    return iRet;
}
}

namespace {

constexpr unsigned long REGION = 0x1500000;
constexpr unsigned long IMAGE_LEN = 0x2000000;

std::string MakeFile(const std::string &strPath, uint64_t ullSeed) {
    std::vector<unsigned char> aData(IMAGE_LEN);
    uint64_t x = ullSeed * 0x9E3779B97F4A7C15ull + 1;
    for (unsigned char &uc : aData) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        uc = static_cast<unsigned char>(x >> 24);
    }
    FILE *pFile = fopen(strPath.c_str(), "wb");
    if (pFile == nullptr || fwrite(aData.data(), 1, aData.size(), pFile) != aData.size()) {
        fprintf(stderr, "cannot write %s\n", strPath.c_str());
        exit(1);
    }
    fclose(pFile);
    return strPath;
}

int Run(const char *pszWhat, const std::string &strImage) {
    g_tTraffic = TTraffic{};
    const double dWall = Now();
    const double dCpu = CpuSec();
    int iRet = Nandkeep_WriteImage(strImage.c_str(), REGION, IMAGE_LEN, 0);
    const double dWallSec = Now() - dWall;
    const double dCpuSec = CpuSec() - dCpu;
    const double dImage = static_cast<double>(IMAGE_LEN);
    printf("%-28s result %2d  read %5.2f  written %5.2f  erased %5.2f  (bytes per image byte)  "
           "read calls %6lu\n",
           pszWhat, iRet, static_cast<double>(g_tTraffic.ulReadBytes) / dImage,
           static_cast<double>(g_tTraffic.ulWrittenBytes) / dImage,
           static_cast<double>(g_tTraffic.ulErasedBytes) / dImage, g_tTraffic.ulReadCalls);
    printf("%-28s wall %.3f s  cpu %.3f s  in simulated device %.3f s  in the tool %.3f s  "
           "(%.0f MiB/s)\n",
           "", dWallSec, dCpuSec, g_tTraffic.dDeviceSec, dWallSec - g_tTraffic.dDeviceSec,
           dImage / 1048576.0 / dWallSec);
    return iRet;
}

} // namespace

int main() {
    char szDir[] = "/tmp/nandkeep-bench-XXXXXX";
    if (mkdtemp(szDir) == nullptr || Sim_Create(szDir, Sim_ProfileSpec(128)) != 0) {
        fprintf(stderr, "cannot create the simulated device: %s\n", Sim_LastError());
        return 1;
    }
    Sim_SetDir(szDir);
    const std::string strDir = szDir;
    const std::string strA = MakeFile(strDir + "/a.img", 1);
    const std::string strB = MakeFile(strDir + "/b.img", 2);
    printf("write-and-verify of a %lu MiB image into rootfs 0 (simulated 128 MiB NAND)\n",
           IMAGE_LEN >> 20);
    if (Nandkeep_Init() != 0) {
        abort();
    }
    int iFailures = 0;
    iFailures += Run("onto erased flash", strA) != 0;
    iFailures += Run("over a different image", strB) != 0;
    iFailures += Run("same image again", strB) != 0;
    Nandkeep_Deinit();
    const std::string strCmd = "rm -rf '" + strDir + "'";
    if (system(strCmd.c_str()) != 0) {
        fprintf(stderr, "could not remove %s\n", szDir);
    }
    return iFailures == 0 ? 0 : 1;
}
