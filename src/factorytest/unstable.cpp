// The unstable-bits test: a write step programs every good block with a pattern, a check step
// (typically after a reboot, a bake or a long wait) reads it back in another process.
//
// Block contents follow the good blocks only: the k-th good block holds the erase-size bytes
// from byte 4 * k of the pattern buffer. A block that turns bad between the two steps therefore
// shifts the contents expected of every later good block; a constant pattern does not notice,
// a random one fails at the next good block.
#include "factorytest/factorytests.h"

#include "factorytest/texts.h"
#include "flash/device.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "flash/workbuf.h"
#include "flash/progress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *RAND_WORD = "rand";

// The blocks of the walkable device, for a scan.
TRegion Device() {
    return Region_Span(MTD0Fd(), 0, MTD0WalkEnd());
}

void PrintBadBlocks(void) {
    TRegion tDevice = Device();
    uint64_t ullBlock = 0;
    uint64_t ullCount = 0;
    EBlock eState = EBlock::GOOD;
    while (Region_NextBlock(&tDevice, &ullBlock, &eState)) {
        if (eState != EBlock::GOOD) {
            Nandkeep_Print(TXT_UB_BAD, ullBlock);
            ullCount++;
        }
    }
    Nandkeep_Print(TXT_UB_BAD_COUNT, ullCount);
}

// Every good block in order, the k-th against (bCheck) or written with (else) the pattern's bytes
// from byte 4 * k, read into ptRead (one erase block). A check stops at the first block that
// differs.
int EachGoodBlock(unsigned char *pucPattern, bool bCheck, TWorkBuf *ptRead) {
    const uint64_t ullErase = MTD0EraseSize();
    TRegion tDevice = Device();
    uint64_t ullGood = 0;
    Progress_Step("%s", bCheck ? "check" : "write");
    while (Region_Good(&tDevice)) {
        const uint64_t ullBlock = tDevice.ullPos;
        unsigned char *pucBlock = pucPattern + 4 * ullGood++;
        Region_Advance(&tDevice, ullErase);
        Progress_Count("block", ullBlock / ullErase + 1, tDevice.ullEnd / ullErase, false);
        if (!bCheck) {
            if (Nandkeep_WriteMTD(MTD0Fd(), pucBlock, ullBlock, ullErase) != 0) {
                return -1;
            }
            continue;
        }
        if (Nandkeep_ReadMTD(MTD0Fd(), ptRead->data(), ullBlock, ullErase) != 0) {
            return -1;
        }
        if (memcmp(ptRead->data(), pucBlock, ptRead->size()) != 0) {
            Nandkeep_Print(TXT_UB_DIFF, ullBlock);
            return -1;
        }
    }
    return 0;
}

} // namespace

void Nandkeep_FillUnstablePattern(const char *pszPattern, unsigned char *pucPattern,
                                  size_t ulSize) {
    if (strncmp(pszPattern, RAND_WORD, strlen(RAND_WORD)) == 0) {
        Nandkeep_FillRandom(pucPattern, ulSize);
        return;
    }
    memset(pucPattern, static_cast<unsigned char>(strtoull(pszPattern, nullptr, 16) & 0xFF),
           ulSize);
}

int Nandkeep_UnstableBitsTest(unsigned char *pucPattern, int iWrite) {
    if (iWrite) {
        Nandkeep_Print("%s\n", TXT_UB_ERASE_ALL);
        if (Nandkeep_EraseMTD(MTD0Fd(), 0, MTD0WalkEnd()) == -1) {
            return -1;
        }
    }
    PrintBadBlocks();
    if (iWrite) {
        Nandkeep_Print("%s\n", TXT_UB_WRITE);
        if (EachGoodBlock(pucPattern, false, nullptr) == -1) {
            return -1;
        }
    }
    Nandkeep_Print("%s\n", TXT_UB_CHECK);
    TWorkBuf aucRead;
    return aucRead.assign(MTD0EraseSize(), 0) ? EachGoodBlock(pucPattern, true, &aucRead) : -1;
}
