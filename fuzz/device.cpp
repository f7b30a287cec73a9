#include "device.h"

#include "flash/device.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

TSimDevice *Fuzz_Device(void) {
    static TSimDevice tDev;
    static bool bReady = false;
    if (bReady) {
        return &tDev;
    }
    char szDir[] = "/tmp/nandkeep-fuzz-XXXXXX";
    if (mkdtemp(szDir) == nullptr || Sim_Create(szDir, Sim_CustomSpec(FUZZ_BLOCKS)) != 0 ||
        Sim_Open(&tDev, szDir) != 0) {
        fprintf(stderr, "cannot create the fuzz device: %s\n", Sim_LastError());
        abort();
    }
    Sim_SetDir(szDir);
    if (Nandkeep_Init() != 0) {
        abort();
    }
    // The checks report through standard output; the fuzzer does not need to see it.
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        abort();
    }
    bReady = true;
    return &tDev;
}

size_t Fuzz_LoadRegion(const uint8_t *pucData, size_t ulSize, uint64_t ullOffset, size_t ulMax) {
    TSimDevice *ptDev = Fuzz_Device();
    uint8_t ucBad = ulSize > 0 ? pucData[0] : 0;
    const uint32_t dwFirst = static_cast<uint32_t>(ullOffset / SIM_BLOCK_SIZE);
    for (uint32_t b = 0; b < 8 && dwFirst + b < FUZZ_BLOCKS; b++) {
        if ((ucBad >> b) & 1) {
            (void)Sim_MarkBad(ptDev, dwFirst + b);
        } else {
            (void)Sim_UnmarkBad(ptDev, dwFirst + b);
        }
    }
    size_t ulTake = ulSize > 1 ? ulSize - 1 : 0;
    if (ulTake > ulMax) {
        ulTake = ulMax;
    }
    std::vector<uint8_t> region(ulMax, 0xFF);
    if (ulTake > 0) {
        memcpy(region.data(), pucData + 1, ulTake);
    }
    (void)Sim_WriteRaw(ptDev, ullOffset, region.data(), region.size());
    return ulTake + (ulSize > 0 ? 1 : 0);
}
