// The flash verify test: random reference data in every good block, a first image check, then
// each good block programmed with 0x00 and 0xFF in turn while every other good block is re-read
// for disturbance.
//
// Block i's reference contents are the erase-size bytes from byte 4 * i of one random buffer,
// i counting every block, good or bad, so they never depend on which blocks are bad. Reading the
// whole device twice per good block makes the test quadratic in the block count.
#include "factorytest/factorytests.h"

#include "factorytest/verifylog.h"
#include "frontend/commands.h"
#include "flash/compare.h"
#include "flash/mtdio.h"
#include "frontend/maintenance.h"
#include "frontend/mtdinfo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include "flash/workbuf.h"

namespace {

constexpr const char *PROGRESS_FORMAT = "Testing progress %d / 100 ...\n";

// The two sub-pattern cases of the pattern phase: every bit programmed, then none.
constexpr unsigned char SUB_PATTERNS[] = {0x00, 0xFF};

struct TVerifyRun {
    int iFd;
    unsigned long ulErase;
    unsigned long ulSize;
    TWorkBuf aucRef;
    TWorkBuf aucRead;
    TWorkBuf aucPattern;
    unsigned long aulBadList[NANDKEEP_BAD_LIST_MAX];
    unsigned long ulBadCount;
    unsigned long ulCensusCount;
    unsigned int uDiffCount;
    int iLastProgress;
};

// Good at this moment; a block that has newly turned bad is logged and listed on the way.
bool IsGood(TVerifyRun *ptRun, unsigned long ulOffset) {
    return Nandkeep_CheckBadBlockList(ulOffset, &ptRun->ulBadCount, ptRun->aulBadList) == 0;
}

unsigned char *RefOf(TVerifyRun *ptRun, unsigned long ulOffset) {
    return ptRun->aucRef.data() + 4 * (ulOffset / ptRun->ulErase);
}

void PrintProgress(int iValue) {
    printf(PROGRESS_FORMAT, iValue);
    fflush(stdout);
}

int WritePhase(TVerifyRun *ptRun) {
    for (unsigned long ulPos = 0; ulPos < ptRun->ulSize; ulPos += ptRun->ulErase) {
        if (IsGood(ptRun, ulPos) &&
            Nandkeep_WriteMTD(ptRun->iFd, RefOf(ptRun, ulPos), ulPos, ptRun->ulErase) == -1) {
            return -1;
        }
    }
    return 0;
}

// Differences are counted and logged; nothing is marked bad here.
int FirstImageCheck(TVerifyRun *ptRun) {
    for (unsigned long ulPos = 0; ulPos < ptRun->ulSize; ulPos += ptRun->ulErase) {
        if (!IsGood(ptRun, ulPos)) {
            continue;
        }
        if (Nandkeep_ReadMTD(ptRun->iFd, ptRun->aucRead.data(), ulPos, ptRun->ulErase) == -1) {
            return -1;
        }
        if (memcmp(ptRun->aucRead.data(), RefOf(ptRun, ulPos), ptRun->ulErase) == 0) {
            continue;
        }
        Nandkeep_WriteVerifyResult(
            "First image check Find diff sector and set bad block at address = 0x%lx\n",
            static_cast<int>(ulPos));
        ptRun->uDiffCount++;
        if (Nandkeep_EccStatus(ulPos, ptRun->ulErase) == -1) {
            return -1;
        }
    }
    return 0;
}

// Every good block but ulSkip is compared with its reference contents.
int DisturbCheck(TVerifyRun *ptRun, unsigned long ulSkip) {
    for (unsigned long ulPos = 0; ulPos < ptRun->ulSize; ulPos += ptRun->ulErase) {
        if (ulPos == ulSkip || !IsGood(ptRun, ulPos)) {
            continue;
        }
        int iSame = 0;
        if (Nandkeep_CompareVerifyBufAndMTD(ptRun->iFd, RefOf(ptRun, ulPos), ulPos, ptRun->ulErase,
                                            &iSame) == -1) {
            return -1;
        }
        if (iSame == 0) {
            ptRun->uDiffCount++;
            Nandkeep_WriteVerifyResult("CheckOtherSector Find diff sector at address = 0x%lx\n",
                                       static_cast<int>(ulPos));
        }
    }
    return 0;
}

// One sub-pattern case on block ulPos. 1 when the block has turned bad and the cases end
// here, 0 to go on, -1 on failure.
int SubPatternCase(TVerifyRun *ptRun, unsigned long ulPos, int iCase) {
    memset(ptRun->aucPattern.data(), SUB_PATTERNS[iCase], ptRun->ulErase);
    int iRet = Nandkeep_EraseMTD(ptRun->iFd, ulPos, ptRun->ulErase);
    if (iRet == -1) {
        return -1;
    }
    if (iRet == NANDKEEP_BLOCK_RETIRED) {
        return 1;
    }
    if (Nandkeep_WriteMTD(ptRun->iFd, ptRun->aucPattern.data(), ulPos, ptRun->ulErase) == -1) {
        return -1;
    }
    bool bStillGood = IsGood(ptRun, ulPos);
    if (bStillGood) {
        if (Nandkeep_ReadMTD(ptRun->iFd, ptRun->aucRead.data(), ulPos, ptRun->ulErase) == -1) {
            return -1;
        }
        if (memcmp(ptRun->aucRead.data(), ptRun->aucPattern.data(), ptRun->ulErase) != 0) {
            ptRun->uDiffCount++;
            Nandkeep_WriteVerifyResult("Sub pattern case %d, ", iCase);
            Nandkeep_WriteVerifyResult("Find diff sector and set bad block at address = 0x%lx\n",
                                       static_cast<int>(ulPos));
            if (Nandkeep_EccStatus(ulPos, ptRun->ulErase) == -1) {
                return -1;
            }
        }
    }
    // The neighbours were disturbed by the programming whether or not the block kept it.
    if (DisturbCheck(ptRun, ulPos) == -1) {
        return -1;
    }
    return bStillGood ? 0 : 1;
}

int PatternBlock(TVerifyRun *ptRun, unsigned long ulPos) {
    for (int iCase = 0; iCase < 2; iCase++) {
        int iRet = SubPatternCase(ptRun, ulPos, iCase);
        if (iRet == -1) {
            return -1;
        }
        if (iRet == 1) {
            break;
        }
    }
    if (!IsGood(ptRun, ulPos)) {
        return 0;
    }
    int iRet = Nandkeep_EraseMTD(ptRun->iFd, ulPos, ptRun->ulErase);
    if (iRet == -1) {
        return -1;
    }
    if (iRet != NANDKEEP_BLOCK_RETIRED &&
        Nandkeep_WriteMTD(ptRun->iFd, RefOf(ptRun, ulPos), ulPos, ptRun->ulErase) == -1) {
        return -1;
    }
    return 0;
}

int PatternPhase(TVerifyRun *ptRun) {
    // Progress runs from 3 to 100 over the blocks, in 4 KiB units so that the product fits.
    const unsigned long ulTotal = std::max(ptRun->ulSize >> 12, 1UL);
    for (unsigned long ulPos = 0; ulPos < ptRun->ulSize; ulPos += ptRun->ulErase) {
        int iProgress = static_cast<int>(((ulPos + ptRun->ulErase) >> 12) * 98 / ulTotal);
        if (iProgress != ptRun->iLastProgress) {
            PrintProgress(iProgress + 2);
        }
        ptRun->iLastProgress = iProgress;
        if (IsGood(ptRun, ulPos) && PatternBlock(ptRun, ulPos) == -1) {
            return -1;
        }
    }
    return 0;
}

int RunFlashVerify(TVerifyRun *ptRun) {
    Nandkeep_CollectBadBlocks(ptRun->ulSize, &ptRun->ulBadCount, ptRun->aulBadList);
    ptRun->ulCensusCount = ptRun->ulBadCount;
    srand(static_cast<unsigned int>(time(nullptr)));
    Nandkeep_FillRandom(ptRun->aucRef.data(), ptRun->aucRef.size());
    PrintProgress(1);
    if (Nandkeep_EraseMTD(ptRun->iFd, 0, ptRun->ulSize) == -1 || WritePhase(ptRun) == -1) {
        return -1;
    }
    PrintProgress(2);
    if (FirstImageCheck(ptRun) == -1 || PatternPhase(ptRun) == -1) {
        return -1;
    }
    return Nandkeep_JudgeVerifyResult(ptRun->ulBadCount, ptRun->ulCensusCount, ptRun->uDiffCount,
                                      1);
}

} // namespace

void Nandkeep_FillRandom(unsigned char *pucBuf, unsigned long ulLen) {
    // The top 8 of the generator's 31 bits.
    const double dScale = 256.0 * std::ldexp(1.0, -31);
    for (unsigned long i = 0; i < ulLen; i++) {
        pucBuf[i] = static_cast<unsigned char>(static_cast<double>(rand()) * dScale);
    }
}

unsigned long Nandkeep_ReferenceBufferSize(void) {
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulBlocks = (MTD0WalkEnd() + ulErase - 1) / ulErase;
    return std::max(2 * ulErase, ulErase + 4 * ulBlocks);
}

int Nandkeep_FlashVerify(void) {
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    TVerifyRun tRun;
    tRun.iFd = MTD0Fd();
    tRun.ulErase = MTD0EraseSize();
    tRun.ulSize = MTD0WalkEnd();
    tRun.aucRef.assign(Nandkeep_ReferenceBufferSize(), 0);
    tRun.aucRead.assign(tRun.ulErase, 0);
    tRun.aucPattern.assign(tRun.ulErase, 0);
    tRun.ulBadCount = 0;
    tRun.ulCensusCount = 0;
    tRun.uDiffCount = 0;
    tRun.iLastProgress = 0;
    return RunFlashVerify(&tRun);
}

int Cmd_FlashVerify(TCommand *ptCmd) {
    (void)ptCmd;
    return Nandkeep_FlashVerify();
}
