// The ECC report of a range.
#include "flash/report.h"

#include "flash/device.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "flash/texts.h"

#include <algorithm>
#include <cstdio>

namespace {

// Reads ullLen bytes at ullOffset (at least one request, also for 0 bytes) into a piece buffer
// that is overwritten piece by piece: only what the reads do to the ECC counters matters.
int ReadDiscarding(uint64_t ullOffset, uint64_t ullLen) {
    unsigned char aucPiece[NANDKEEP_PIECE];
    uint64_t ullDone = 0;
    do {
        const uint64_t ullPiece = std::min(NANDKEEP_PIECE, ullLen - ullDone);
        if (Nandkeep_ReadMTD(MTD0Fd(), aucPiece, ullOffset + ullDone, ullPiece) != 0) {
            return -1;
        }
        ullDone += ullPiece;
    } while (ullDone < ullLen);
    return 0;
}

} // namespace

int Nandkeep_EccStatus(uint64_t ulMTDOffset, uint64_t ulReadLen) {
    const uint64_t ullErase = MTD0EraseSize();
    TEccStats tStats;
    if (Nandkeep_GetEccStats(MTD0Fd(), &tStats) != 0) {
        return -1;
    }
    Nandkeep_Print(TXT_ECC_CURRENT, static_cast<int>(tStats.corrected),
                   static_cast<int>(tStats.failed), static_cast<int>(tStats.badblocks),
                   static_cast<int>(tStats.bbtblocks));
    // Every block from the offset, at least one, also past the device end (which reads as bad).
    TRegion tRange = Region_Span(MTD0Fd(), ulMTDOffset, UINT64_MAX);
    uint64_t ullRemaining = ulReadLen;
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    do {
        const uint64_t ullChunk = std::min(ullErase, ullRemaining);
        ullRemaining -= ullChunk;
        (void)Region_NextBlock(&tRange, &ullBlock, &eState);
        if (eState != EBlock::GOOD) {
            Nandkeep_Print(TXT_ECC_BAD_SKIP, ullBlock);
            continue;
        }
        if (ReadDiscarding(ullBlock, ullChunk) != 0 ||
            Nandkeep_GetEccStats(MTD0Fd(), &tStats) != 0) {
            return -1;
        }
        Nandkeep_Print(TXT_ECC_AT, ullBlock, static_cast<int>(tStats.corrected),
                       static_cast<int>(tStats.failed));
    } while (ullRemaining != 0);
    return 0;
}
