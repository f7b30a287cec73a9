// The flash verify test: random reference data in every good block, a first image check, then
// each good block programmed with 0x00 and 0xFF in turn while every other good block is re-read
// for disturbance.
//
// Block i's reference contents are the erase-size bytes from byte 4 * i of one random buffer,
// i counting every block, good or bad, so they never depend on which blocks are bad. Reading the
// whole device twice per good block makes the test quadratic in the block count.
#include "factorytest/factorytests.h"

#include "factorytest/texts.h"
#include "factorytest/verifylog.h"
#include "flash/compare.h"
#include "flash/device.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "flash/workbuf.h"
#include "flash/report.h"
#include "flash/progress.h"
#include "platform/platform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The two sub-pattern cases of the pattern phase: every bit programmed, then none.
constexpr unsigned char SUB_PATTERNS[] = {0x00, 0xFF};
// No block is left out of a walk.
constexpr uint64_t NO_BLOCK = UINT64_MAX;

struct TVerifyRun {
    int iFd;
    uint64_t ullErase;
    uint64_t ullSize;
    TWorkBuf aucRef;
    TWorkBuf aucRead;
    TWorkBuf aucPattern;
    TBadList tBad;
    uint64_t ullCensusCount = 0;
    unsigned int uDiffCount = 0;
    int iLastProgress = 0;
};

// The blocks of the whole device, for a scan.
TRegion Device(const TVerifyRun *ptRun) {
    return Region_Span(ptRun->iFd, 0, ptRun->ullSize);
}

// 1 when the block is good at this moment, 0 when it is bad (one newly turned bad is logged and
// listed on the way), -1 when the test stopped.
int GoodNow(TVerifyRun *ptRun, uint64_t ullBlock) {
    return Nandkeep_CheckBadBlockList(&ptRun->tBad, ullBlock, Flash_Block(ptRun->iFd, ullBlock));
}

unsigned char *RefOf(TVerifyRun *ptRun, uint64_t ullBlock) {
    return ptRun->aucRef.data() + 4 * (ullBlock / ptRun->ullErase);
}

void PrintProgress(int iValue) {
    Nandkeep_Print(TXT_PROGRESS, iValue);
    fflush(stdout);
}

// Logs a difference of the block and reports its ECC counters.
int LogDiff(TVerifyRun *ptRun, const char *pszFormat, uint64_t ullBlock) {
    ptRun->uDiffCount++;
    if (Nandkeep_WriteVerifyResult(pszFormat, static_cast<int>(ullBlock)) != 0) {
        return -1;
    }
    return Nandkeep_EccStatus(ullBlock, ptRun->ullErase);
}

// Every block but ullSkip that is good at that moment.
template <typename TFn> int EachGood(TVerifyRun *ptRun, uint64_t ullSkip, TFn fn) {
    return Nandkeep_EachGoodBlock(&ptRun->tBad, Device(ptRun), ullSkip, fn);
}

int WritePhase(TVerifyRun *ptRun) {
    return EachGood(ptRun, NO_BLOCK, [ptRun](uint64_t ullBlock) {
        Progress_Percent("writing", ullBlock + ptRun->ullErase, ptRun->ullSize);
        return Nandkeep_WriteMTD(ptRun->iFd, RefOf(ptRun, ullBlock), ullBlock, ptRun->ullErase);
    });
}

// Differences are counted and logged; nothing is marked bad here.
int FirstImageCheck(TVerifyRun *ptRun) {
    return EachGood(ptRun, NO_BLOCK, [ptRun](uint64_t ullBlock) {
        Progress_Percent("reading", ullBlock + ptRun->ullErase, ptRun->ullSize);
        if (Nandkeep_ReadMTD(ptRun->iFd, ptRun->aucRead.data(), ullBlock, ptRun->ullErase) != 0) {
            return -1;
        }
        return memcmp(ptRun->aucRead.data(), RefOf(ptRun, ullBlock), ptRun->aucRead.size()) == 0
                   ? 0
                   : LogDiff(ptRun, TXT_LOG_FIRST_DIFF, ullBlock);
    });
}

// Every good block but ullSkip is compared with its reference contents.
int DisturbCheck(TVerifyRun *ptRun, uint64_t ullSkip) {
    return EachGood(ptRun, ullSkip, [ptRun](uint64_t ullBlock) {
        int iSame = 1;
        if (Nandkeep_CompareVerifyBufAndMTD(ptRun->iFd, RefOf(ptRun, ullBlock), ullBlock,
                                            ptRun->ullErase, &iSame) != 0) {
            return -1;
        }
        if (iSame == 1) {
            return 0;
        }
        ptRun->uDiffCount++;
        return Nandkeep_WriteVerifyResult(TXT_LOG_OTHER_DIFF, static_cast<int>(ullBlock));
    });
}

// One sub-pattern case on block ullBlock. 1 when the block has turned bad and the cases end
// here, 0 to go on, -1 on failure.
int SubPatternCase(TVerifyRun *ptRun, uint64_t ullBlock, int iCase) {
    memset(ptRun->aucPattern.data(), SUB_PATTERNS[iCase], ptRun->aucPattern.size());
    const int iRet = Nandkeep_EraseMTD(ptRun->iFd, ullBlock, ptRun->ullErase);
    if (iRet != 0) {
        return iRet == -1 ? -1 : 1;
    }
    if (Nandkeep_WriteMTD(ptRun->iFd, ptRun->aucPattern.data(), ullBlock, ptRun->ullErase) != 0) {
        return -1;
    }
    const int iGood = GoodNow(ptRun, ullBlock);
    if (iGood == -1) {
        return -1;
    }
    if (iGood == 1) {
        if (Nandkeep_ReadMTD(ptRun->iFd, ptRun->aucRead.data(), ullBlock, ptRun->ullErase) != 0) {
            return -1;
        }
        if (memcmp(ptRun->aucRead.data(), ptRun->aucPattern.data(), ptRun->aucRead.size()) != 0 &&
            (Nandkeep_WriteVerifyResult(TXT_LOG_SUB_CASE, iCase) != 0 ||
             LogDiff(ptRun, TXT_LOG_SUB_DIFF, ullBlock) != 0)) {
            return -1;
        }
    }
    // The neighbours were disturbed by the programming whether or not the block kept it.
    if (DisturbCheck(ptRun, ullBlock) == -1) {
        return -1;
    }
    return iGood == 1 ? 0 : 1;
}

int PatternBlock(TVerifyRun *ptRun, uint64_t ullBlock) {
    for (int iCase = 0; iCase < 2; iCase++) {
        const int iRet = SubPatternCase(ptRun, ullBlock, iCase);
        if (iRet == -1) {
            return -1;
        }
        if (iRet == 1) {
            break;
        }
    }
    const int iGood = GoodNow(ptRun, ullBlock);
    if (iGood != 1) {
        return iGood == -1 ? -1 : 0;
    }
    const int iRet = Nandkeep_EraseMTD(ptRun->iFd, ullBlock, ptRun->ullErase);
    if (iRet == -1 ||
        (iRet != NANDKEEP_BLOCK_RETIRED &&
         Nandkeep_WriteMTD(ptRun->iFd, RefOf(ptRun, ullBlock), ullBlock, ptRun->ullErase) != 0)) {
        return -1;
    }
    return 0;
}

int PatternPhase(TVerifyRun *ptRun) {
    // Progress runs from 3 to 100 over the blocks, in 4 KiB units so that the product fits.
    const uint64_t ullTotal = std::max<uint64_t>(ptRun->ullSize >> 12, 1);
    TRegion tDevice = Device(ptRun);
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    Progress_Step("patterns");
    while (Region_NextBlock(&tDevice, &ullBlock, &eState)) {
        Progress_Count("block", ullBlock / ptRun->ullErase + 1, ptRun->ullSize / ptRun->ullErase,
                       true);
        const int iProgress =
            static_cast<int>(((ullBlock + ptRun->ullErase) >> 12) * 98 / ullTotal);
        if (iProgress != ptRun->iLastProgress) {
            PrintProgress(iProgress + 2);
        }
        ptRun->iLastProgress = iProgress;
        const int iGood = Nandkeep_CheckBadBlockList(&ptRun->tBad, ullBlock, eState);
        if (iGood == -1 || (iGood == 1 && PatternBlock(ptRun, ullBlock) != 0)) {
            return -1;
        }
    }
    return 0;
}

int RunFlashVerify(TVerifyRun *ptRun) {
    if (Nandkeep_CollectBadBlocks(&ptRun->tBad, ptRun->ullSize) != 0) {
        return -1;
    }
    ptRun->ullCensusCount = ptRun->tBad.ullCount;
    srand(static_cast<unsigned int>(Plat_WallClock()));
    Nandkeep_FillRandom(ptRun->aucRef.data(), ptRun->aucRef.size());
    PrintProgress(1);
    Progress_Step("reference");
    if (Nandkeep_EraseMTD(ptRun->iFd, 0, ptRun->ullSize) == -1 || WritePhase(ptRun) == -1) {
        return -1;
    }
    PrintProgress(2);
    Progress_Step("first check");
    if (FirstImageCheck(ptRun) == -1 || PatternPhase(ptRun) != 0) {
        return -1;
    }
    return Nandkeep_JudgeVerifyResult(ptRun->tBad.ullCount, ptRun->ullCensusCount,
                                      ptRun->uDiffCount, 1);
}

} // namespace

void Nandkeep_FillRandom(unsigned char *pucBuf, uint64_t ullLen) {
    // The top 8 of the generator's 31 bits.
    const double dScale = 256.0 * std::ldexp(1.0, -31);
    for (uint64_t i = 0; i < ullLen; i++) {
        pucBuf[i] = static_cast<unsigned char>(static_cast<double>(rand()) * dScale);
    }
}

uint64_t Nandkeep_ReferenceBufferSize(void) {
    const uint64_t ullErase = MTD0EraseSize();
    const uint64_t ullBlocks = (MTD0WalkEnd() + ullErase - 1) / ullErase;
    return std::max(2 * ullErase, ullErase + 4 * ullBlocks);
}

int Nandkeep_StopStatus(int iRet) {
    return iRet == -1 && Nandkeep_VerifyStopped() ? 1 : iRet;
}

int Nandkeep_FlashVerify(void) {
    Nandkeep_SetVerifyLog(Nandkeep_WriteVerifyResult);
    TVerifyRun tRun;
    tRun.iFd = MTD0Fd();
    tRun.ullErase = MTD0EraseSize();
    tRun.ullSize = MTD0WalkEnd();
    if (!tRun.aucRef.assign(Nandkeep_ReferenceBufferSize(), 0) ||
        !tRun.aucRead.assign(tRun.ullErase, 0) || !tRun.aucPattern.assign(tRun.ullErase, 0)) {
        return -1;
    }
    return Nandkeep_StopStatus(RunFlashVerify(&tRun));
}
