// Simulator and flash-layer throughput, the image check against raw CRC hashing, and the peak
// memory of a short invocation.
//
//   bench_core [MiB]   (default 32)
#include "flash/mtdio.h"
#include "flash/device.h"
#include "image/mkimg.h"
#include "sim/sim_store.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void PutBE32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// A legacy image header around `len` data bytes, built here so the benchmark needs no tools.
std::vector<unsigned char> MakeImage(size_t len) {
    std::vector<unsigned char> img(64 + len);
    uint32_t x = 12345;
    for (size_t i = 64; i < img.size(); i++) {
        x = x * 1103515245u + 12345u;
        img[i] = static_cast<unsigned char>(x >> 16);
    }
    PutBE32(&img[0], MKIMG_MAGIC);
    PutBE32(&img[12], static_cast<uint32_t>(len));
    PutBE32(&img[24], static_cast<uint32_t>(crc32(0, &img[64], static_cast<uInt>(len))));
    PutBE32(&img[4], static_cast<uint32_t>(crc32(0, img.data(), 64)));
    return img;
}

// Measured before this process grows: a forked child's peak counts the pages it shares with
// its parent until exec.
long PeakRssKiB(const char *pszBinary, const char *pszDir) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("NANDKEEP_SIM_DIR", pszDir, 1);
        if (freopen("/dev/null", "w", stdout) == nullptr) {
            _exit(127);
        }
        execl(pszBinary, pszBinary, "info", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    wait4(pid, &status, 0, &ru);
    return ru.ru_maxrss;
}

} // namespace

int main(int argc, char **argv) {
    const unsigned long ulMiB = argc > 1 ? strtoul(argv[1], nullptr, 10) : 32;
    const unsigned long ulLen = ulMiB << 20;
    char szDir[] = "/tmp/nandkeep-bench-XXXXXX";
    TSimDevice tDev;
    if (mkdtemp(szDir) == nullptr || Sim_Create(szDir, Sim_ProfileSpec(128)) != 0 ||
        Sim_Open(&tDev, szDir) != 0) {
        fprintf(stderr, "cannot create the device: %s\n", Sim_LastError());
        return 1;
    }
    const long lRss = PeakRssKiB(NANDKEEP_SIM_BINARY, szDir);
    Sim_SetDir(szDir);
    if (Nandkeep_Init() != 0) {
        abort();
    }
    const int iFd = MTD0Fd();
    const unsigned long ulBase = ROOTFS1_OFFSET;

    static unsigned char aucB[NANDKEEP_PIECE];
    std::vector<unsigned char> img = MakeImage(ulLen - 64 - NANDKEEP_PIECE);
    if (Nandkeep_EraseMTD(iFd, ulBase, ulLen) != 0) {
        return 1;
    }
    std::vector<unsigned char> wbuf(ulLen);
    memcpy(wbuf.data(), img.data(), img.size());

    // The yardstick: memcpy of the same 128 KiB pieces out of a buffer as large as the image,
    // so that the source is no more cache-resident than the flash's pages are.
    double dMemcpyPiece = 1e9;
    for (int r = 0; r < 5; r++) {
        auto tStart = Clock::now();
        for (unsigned long ulOff = 0; ulOff < ulLen; ulOff += NANDKEEP_PIECE) {
            memcpy(aucB, wbuf.data() + ulOff, NANDKEEP_PIECE);
        }
        dMemcpyPiece =
            std::min(dMemcpyPiece, Seconds(tStart) / static_cast<double>(ulLen / NANDKEEP_PIECE));
    }
    if (aucB[0] == 0x42 && aucB[1] == 0x42) {
        puts("");
    }
    auto t0 = Clock::now();
    if (Nandkeep_WriteMTD(iFd, wbuf.data(), ulBase, ulLen) != 0) {
        return 1;
    }
    double dWrite = Seconds(t0);

    // Cold: the first pass over the image maps its pages into this process. Warm: the best of
    // five later passes, as in a long run.
    auto readPass = [&]() {
        auto tStart = Clock::now();
        for (unsigned long ulOff = 0; ulOff < ulLen; ulOff += NANDKEEP_PIECE) {
            if (Nandkeep_ReadMTD(iFd, aucB, ulBase + ulOff, NANDKEEP_PIECE) != 0) {
                exit(1);
            }
        }
        return Seconds(tStart);
    };
    const double dReadCold = readPass();
    double dRead = 1e9;
    for (int i = 0; i < 5; i++) {
        dRead = std::min(dRead, readPass());
    }
    const double dPieces = static_cast<double>(ulLen / NANDKEEP_PIECE);

    // The image check against the least it could cost: the same reads and zlib's CRC over the
    // same bytes. Alternated, best of five each.
    double dRawCrc = 1e9, dCheck = 1e9;
    int iRet = 0;
    for (int i = 0; i < 5; i++) {
        t0 = Clock::now();
        uint32_t dwCrc = 0;
        for (unsigned long ulOff = 0; ulOff < img.size(); ulOff += NANDKEEP_PIECE) {
            unsigned long ulN = std::min(NANDKEEP_PIECE, img.size() - ulOff);
            if (Nandkeep_ReadMTD(iFd, aucB, ulBase + ulOff, ulN) != 0) {
                return 1;
            }
            dwCrc = static_cast<uint32_t>(crc32(dwCrc, aucB, static_cast<uInt>(ulN)));
        }
        dRawCrc = std::min(dRawCrc, Seconds(t0));
        unsigned long ulSub = 0;
        t0 = Clock::now();
        iRet |= Nandkeep_CheckImage(ulBase, ROOTFS_SIZE, MKIMG_RESULT_SUB_OFFSET, &ulSub);
        dCheck = std::min(dCheck, Seconds(t0));
    }

    const double dMB = static_cast<double>(ulLen) / 1e6;
    printf("memcpy of one 128 KiB piece:         %8.1f us\n", dMemcpyPiece * 1e6);
    printf("read of one 128 KiB piece, warm:     %8.1f us  (%.2f x memcpy)\n",
           dRead / dPieces * 1e6, dRead / dPieces / dMemcpyPiece);
    printf("read of one 128 KiB piece, cold:     %8.1f us  (first pass, pages mapped)\n",
           dReadCold / dPieces * 1e6);
    printf("read throughput:                     %8.0f MB/s\n", dMB / dRead);
    printf("write throughput:                    %8.0f MB/s\n", dMB / dWrite);
    printf("check of a %lu MiB image:            %8.0f MB/s  (%s)\n", ulMiB, dMB / dCheck,
           iRet == 0 ? "valid" : "INVALID");
    printf("reads + zlib crc32 of the same bytes:%8.0f MB/s  (check / raw = %.2f)\n", dMB / dRawCrc,
           dCheck / dRawCrc);
    Nandkeep_Deinit();
    printf("peak RSS of nandkeep-sim info:       %8ld KiB\n", lRss);
    Sim_Close(&tDev);
    std::string cmd = std::string("rm -rf '") + szDir + "'";
    return system(cmd.c_str()) == 0 ? 0 : 1;
}
