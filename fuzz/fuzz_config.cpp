// Fuzzes the configuration record check and read with arbitrary flash contents: the input is
// laid over the good blocks of an area on the simulated device, with bad blocks where the input
// says, and both operations must agree with an independent reading of the same bytes.
//
// Input: byte 0  bad-block mask of the eight blocks from AREA
//        byte 1  bit 0: turn the rest into a well-formed record first (length word and CRC
//                fixed up, so that the valid paths are reached); bit 1: stretch the rest by
//                repetition to 0x1FFF0 + byte 2 bytes, plus 0x20000 with bit 2 (records whose
//                checksum word meets a block boundary, without megabyte inputs); bits 4-6:
//                the area is 1 to 8 blocks long
//        rest    the bytes laid over the good blocks, 128 KiB per block, erased behind them
#include "device.h"
#include "flash/device.h"
#include "support/formats.h"
#include "image/config.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Eight blocks of the fuzz device, with a block on each side that the record must not reach.
constexpr unsigned long AREA = 4 * SIM_BLOCK_SIZE;
constexpr unsigned long BLOCKS = 8;
static_assert(AREA / SIM_BLOCK_SIZE + BLOCKS < FUZZ_BLOCKS, "the area lies inside the device");

[[noreturn]] void Fail(const char *pszWhat) {
    fprintf(stderr, "fuzz_config: %s\n", pszWhat);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pucData, size_t ulSize) {
    if (ulSize < 2) {
        return 0;
    }
    Fuzz_Device();
    // Beside the simulator's directory: every file inside it is refused as a destination.
    static const std::string strOut = std::string(Sim_Dir()) + ".out";
    const uint8_t ucBadMask = pucData[0];
    const bool bFixUp = (pucData[1] & 1) != 0;
    const unsigned long ulAreaLen = (((pucData[1] >> 4) & 7) + 1) * SIM_BLOCK_SIZE;
    std::vector<uint8_t> aInput(pucData + 2, pucData + std::min<size_t>(ulSize, 2 + 0x100000));
    if ((pucData[1] & 2) != 0 && ulSize > 3) {
        const size_t ulLen = 0x1FFF0 + pucData[2] + ((pucData[1] & 4) != 0 ? 0x20000 : 0);
        std::vector<uint8_t> aStretched(ulLen);
        for (size_t i = 0; i < ulLen; i++) {
            aStretched[i] = static_cast<uint8_t>(aInput[1 + i % (aInput.size() - 1)] + i / 4093);
        }
        aInput.swap(aStretched);
    }
    if (bFixUp) {
        aInput = Record(aInput);
    }

    // The bytes the good blocks of the area hold, in order.
    const std::vector<uint8_t> aOnGood =
        Fuzz_Lay(static_cast<uint32_t>(AREA / SIM_BLOCK_SIZE), BLOCKS, ucBadMask, aInput,
                 static_cast<uint32_t>(ulAreaLen / SIM_BLOCK_SIZE));

    // The record as an independent reading of the same bytes finds it: its payload, or none.
    const uint64_t ullRecord = ValidLen(aOnGood, 0, false, ulAreaLen);
    const int iExpected = ullRecord > 0 ? 0 : -1;
    std::vector<uint8_t> aPayload;
    if (ullRecord > 0) {
        aPayload.assign(aOnGood.begin() + 4, aOnGood.begin() + static_cast<long>(ullRecord - 4));
    }
    const int iCheck = Nandkeep_CheckConfig(MTD0Fd(), AREA, ulAreaLen);
    remove(strOut.c_str());
    const int iRead = Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, ulAreaLen);
    if (iCheck != iExpected || iRead != iExpected) {
        Fail("check or read disagrees with the record on the flash");
    }
    if (iExpected == 0) {
        FILE *pFile = fopen(strOut.c_str(), "rb");
        if (pFile == nullptr) {
            Fail("no output file");
        }
        std::vector<uint8_t> aGot(aPayload.size() + 1);
        const size_t ulGot = fread(aGot.data(), 1, aGot.size(), pFile);
        fclose(pFile);
        if (ulGot != aPayload.size() ||
            (ulGot > 0 && memcmp(aGot.data(), aPayload.data(), ulGot) != 0)) {
            Fail("payload read back differs");
        }
    }
    return 0;
}
