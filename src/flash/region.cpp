// The region walk.
#include "flash/region.h"

#include "flash/compare.h"
#include "flash/device.h"
#include "flash/texts.h"
#include "flash/notify.h"
#include "flash/progress.h"

#include <algorithm>

bool Region_Good(TRegion *ptReg) {
    while (ptReg->ullPos < ptReg->ullEnd &&
           Flash_Block(ptReg->iFd, ptReg->ullPos) != EBlock::GOOD) {
        ptReg->ullPos += MTD0EraseSize();
    }
    return ptReg->ullPos < ptReg->ullEnd;
}

bool Region_Fits(const TRegion *ptReg, uint64_t ullLen) {
    return ptReg->ullPos < ptReg->ullEnd && ullLen <= ptReg->ullEnd - ptReg->ullPos;
}

bool Region_GoodFor(TRegion *ptReg, uint64_t ullLen) {
    return Region_Good(ptReg) && Region_Fits(ptReg, ullLen);
}

bool Region_NextBlock(TRegion *ptReg, uint64_t *pullBlock, EBlock *peState) {
    if (ptReg->ullPos >= ptReg->ullEnd) {
        return false;
    }
    *pullBlock = ptReg->ullPos;
    *peState = Flash_Block(ptReg->iFd, ptReg->ullPos);
    ptReg->ullPos += MTD0EraseSize();
    return true;
}

uint64_t Region_CountGood(TRegion tReg) {
    uint64_t ullGood = 0;
    for (; Region_Good(&tReg); ullGood++) {
        Region_Advance(&tReg, MTD0EraseSize());
    }
    return ullGood;
}

int Region_ReadPiece(const TRegion *ptReg, unsigned char *pucPiece, uint64_t ullLen) {
    const bool bWhole = ullLen != 0 && ptReg->ullPos % NANDKEEP_PIECE == 0;
    return Nandkeep_ReadMTD(ptReg->iFd, pucPiece, ptReg->ullPos, bWhole ? NANDKEEP_PIECE : ullLen);
}

int Watch_Begin(TEccWatch *ptWatch, int iFd) {
    ptWatch->iFd = iFd;
    return Nandkeep_GetEccStats(iFd, &ptWatch->tSnap);
}

int Watch_Event(const TEccWatch *ptWatch, TEccStats *ptNow) {
    if (Nandkeep_GetEccStats(ptWatch->iFd, ptNow) != 0) {
        return -1;
    }
    return Nandkeep_IsEccEvent(ptWatch->tSnap, *ptNow) ? 1 : 0;
}

EPlace Region_Place(TRegion *ptReg, unsigned char *pucPiece, uint64_t ullLen,
                    bool bRefusedRetires) {
    while (Region_GoodFor(ptReg, ullLen)) {
        const int iRet =
            Nandkeep_CheckImageMatch(ptReg->iFd, pucPiece, ptReg->ullPos, ullLen, bRefusedRetires);
        if (iRet == 0) {
            return EPlace::PLACED;
        }
        if (iRet != NANDKEEP_BLOCK_RETIRED) {
            return EPlace::FAILED;
        }
    }
    return EPlace::NO_ROOM;
}

int Nandkeep_CopyMTD(int iFd, uint64_t ullDestOffset, uint64_t ullSrcOffset,
                     uint64_t ullDestMaxSize, uint64_t ullSrcMaxSize, uint64_t ullLen) {
    TRegion tSrc = Region_Of(iFd, ullSrcOffset, ullSrcMaxSize);
    TRegion tDest = Region_Of(iFd, ullDestOffset, ullDestMaxSize);
    unsigned char aucChunk[NANDKEEP_PIECE];
    const uint64_t ullTotal = ullLen;
    while (ullLen > 0) {
        Progress_Percent("copying", ullTotal - ullLen, ullTotal);
        const uint64_t ullChunk = std::min(ullLen, NANDKEEP_PIECE);
        if (!Region_Good(&tSrc) || tDest.ullPos >= tDest.ullEnd) {
            Nandkeep_Notify(TXT_TOO_MANY_BAD);
            return -1;
        }
        if (Region_ReadPiece(&tSrc, aucChunk, ullChunk) != 0) {
            return -1;
        }
        // A repair runs at boot with nobody to run it again: a block that refuses its program is
        // retired and the chunk moves on, as for one that does not read back what was written.
        const EPlace ePlace = Region_Place(&tDest, aucChunk, ullChunk, true);
        if (ePlace != EPlace::PLACED) {
            if (ePlace == EPlace::NO_ROOM) {
                Nandkeep_Notify(TXT_TOO_MANY_BAD);
            }
            return -1;
        }
        Region_Advance(&tSrc, ullChunk);
        Region_Advance(&tDest, ullChunk);
        ullLen -= ullChunk;
    }
    Progress_Percent("copying", ullTotal, ullTotal);
    return 0;
}
