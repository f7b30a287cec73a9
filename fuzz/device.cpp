#include "device.h"

#include "flash/device.h"

#include <algorithm>
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

std::vector<uint8_t> Fuzz_Lay(uint32_t dwFirst, uint32_t dwCount, uint8_t ucBad,
                              const std::vector<uint8_t> &aInput, uint32_t dwKeep) {
    TSimDevice *ptDev = Fuzz_Device();
    std::vector<uint8_t> aOnGood, aBlock(SIM_BLOCK_SIZE);
    size_t ulLaid = 0;
    for (uint32_t i = 0; i < dwCount; i++) {
        const bool bBad = ((ucBad >> i) & 1) != 0;
        const size_t ulPiece = bBad ? 0 : std::min<size_t>(SIM_BLOCK_SIZE, aInput.size() - ulLaid);
        std::fill(std::copy_n(aInput.begin() + static_cast<long>(ulLaid), ulPiece, aBlock.begin()),
                  aBlock.end(), SIM_ERASED_BYTE);
        ulLaid += ulPiece;
        if (Sim_UnmarkBad(ptDev, dwFirst + i) != 0 ||
            Sim_WriteRaw(ptDev, uint64_t{dwFirst + i} * SIM_BLOCK_SIZE, aBlock.data(),
                         aBlock.size()) != 0 ||
            (bBad && Sim_MarkBad(ptDev, dwFirst + i) != 0)) {
            fprintf(stderr, "cannot lay the fuzz input: %s\n", Sim_LastError());
            abort();
        }
        if (!bBad && i < dwKeep) {
            aOnGood.insert(aOnGood.end(), aBlock.begin(), aBlock.end());
        }
    }
    return aOnGood;
}
