// The image check on arbitrary region contents and bad-block patterns: a header block and
// data chunks that may claim any size, any CRC, and run past the region. Input: byte 0 chooses
// the result asked for, byte 1 which of the eight blocks from the region's first are bad, the
// rest (at most the region's length) is laid over their good blocks.
#include "device.h"
#include "image/mkimg.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pucData, size_t ulSize) {
    constexpr uint64_t REGION = 2 * SIM_BLOCK_SIZE;
    constexpr uint64_t REGION_LEN = 3 * SIM_BLOCK_SIZE;
    if (ulSize < 1) {
        return 0;
    }
    const int iSub = pucData[0] % 3;
    Fuzz_Lay(REGION / SIM_BLOCK_SIZE, 8, ulSize > 1 ? pucData[1] : 0,
             std::vector<uint8_t>(pucData + std::min<size_t>(ulSize, 2),
                                  pucData + std::min<size_t>(ulSize, 2 + REGION_LEN)),
             0);
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
