// The image check on arbitrary region contents and bad-block patterns: a header block and
// data chunks that may claim any size, any CRC, and run past the region.
#include "device.h"
#include "image/mkimg.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pucData, size_t ulSize) {
    constexpr uint64_t REGION = 2 * SIM_BLOCK_SIZE;
    constexpr uint64_t REGION_LEN = 3 * SIM_BLOCK_SIZE;
    if (ulSize < 1) {
        return 0;
    }
    int iSub = pucData[0] % 3;
    Fuzz_LoadRegion(pucData + 1, ulSize - 1, REGION, REGION_LEN);
    unsigned long ulResult = 0xA5A5;
    int iRet = Nandkeep_CheckImage(REGION, REGION_LEN, iSub, &ulResult);
    // A valid image with a sub-image request always yields an offset inside the device.
    if (iRet == 0 && iSub == MKIMG_RESULT_SUB_OFFSET &&
        (ulResult == 0xA5A5 || ulResult % SIM_BLOCK_SIZE != 0 ||
         ulResult > FUZZ_BLOCKS * static_cast<uint64_t>(SIM_BLOCK_SIZE))) {
        __builtin_trap();
    }
    return 0;
}
