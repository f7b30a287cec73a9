// The facts of the MTD character device (tools/kernel/probe/facts.c) on the simulator: the same
// calls through the simulated platform, so that a case can hold the simulator to what the
// kernel answers.
#include "sim/simfacts.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

TSimDevice *g_ptFactsDev = nullptr;

int fx_open(const char *pszPath) {
    int iFd = Plat_OpenMtd(pszPath);
    if (iFd < 0) {
        fprintf(stderr, "facts: cannot open %s: %s\n", pszPath, strerror(errno));
        exit(1);
    }
    return iFd;
}

long long fx_read(int iFd, void *pBuf, size_t ulLen) {
    return Plat_Read(iFd, pBuf, ulLen);
}

long long fx_write(int iFd, const void *pBuf, size_t ulLen) {
    return Plat_Write(iFd, pBuf, ulLen);
}

long long fx_lseek(int iFd, long long llOffset, int iWhence) {
    return Plat_Lseek(iFd, llOffset, iWhence);
}

void fx_close(int iFd) {
    (void)Plat_Close(iFd);
}

int fx_erase(int iFd, unsigned int uStart, unsigned int uLen) {
    return Plat_MemErase(iFd, uStart, uLen);
}

int fx_getbad(int iFd, long long llOffset) {
    return Plat_MemGetBadBlock(iFd, llOffset);
}

int fx_setbad(int iFd, long long llOffset) {
    return Plat_MemSetBadBlock(iFd, llOffset);
}

void fx_ecc(int iFd, unsigned int auOut[4]) {
    TEccStats tStats{};
    if (Plat_EccGetStats(iFd, &tStats) != 0) {
        fprintf(stderr, "facts: ECCGETSTATS failed\n");
        exit(1);
    }
    auOut[0] = tStats.corrected;
    auOut[1] = tStats.failed;
    auOut[2] = tStats.badblocks;
    auOut[3] = tStats.bbtblocks;
}

// The whole chip's node starts at chip offset 0: its offsets are the chip's.
void fx_stored(int, long long llOffset, unsigned char *pucBuf, size_t ulLen) {
    if (Sim_ReadRaw(g_ptFactsDev, (uint64_t)llOffset, pucBuf, ulLen) != 0) {
        fprintf(stderr, "facts: %s\n", Sim_LastError());
        exit(1);
    }
}

void fx_clear_bits(int, long long llOffset, int iCount) {
    if (Sim_Flip(g_ptFactsDev, (uint64_t)llOffset, (uint32_t)iCount) != 0) {
        fprintf(stderr, "facts: %s\n", Sim_LastError());
        exit(1);
    }
}

#include "tools/kernel/probe/facts.c"

} // namespace

void SimFacts_Run(TSimDevice *ptDev, const char *pszDev0, const char *pszPart, long long llPartOff,
                  int iStrength) {
    g_ptFactsDev = ptDev;
    Sim_SetDir(ptDev->szDir);
    fx_facts(pszDev0, pszPart, llPartOff, iStrength);
    fflush(stdout);
}
