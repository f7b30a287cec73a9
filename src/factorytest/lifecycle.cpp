// The life-cycle test: wear a range out by repeated erasing, and after each batch make sure
// every good block still reads erased, takes all zeros and gives them back.
#include "factorytest/factorytests.h"

#include "factorytest/texts.h"
#include "factorytest/verifylog.h"
#include "flash/device.h"
#include "flash/region.h"
#include "flash/workbuf.h"
#include "flash/progress.h"

#include <cstring>

namespace {

// Each cycle erases the range this many times before it is checked.
constexpr int ERASES_PER_CYCLE = 1001;

struct TLifeRun {
    int iFd;
    uint64_t ullErase;
    uint64_t ullLen;
    TWorkBuf aucExpect;
    TWorkBuf aucRead;
    TBadList tBad;
    unsigned int uDiffCount = 0;
    unsigned long long ullCycles; // the last cycle's number, for the progress line
};

// Every good block of the range against the expected buffer (with bWrite, programmed with it
// instead). A block that begins below the length is visited whole, also when the length ends
// inside it.
int EachGoodBlock(TLifeRun *ptRun, bool bWrite) {
    TRegion tRange = Region_Span(ptRun->iFd, 0, ptRun->ullLen);
    return Nandkeep_EachGoodBlock(&ptRun->tBad, tRange, UINT64_MAX, [ptRun, bWrite](uint64_t b) {
        Progress_Percent(bWrite ? "writing" : "reading", b + ptRun->ullErase, ptRun->ullLen);
        if (bWrite) {
            return Nandkeep_WriteMTD(ptRun->iFd, ptRun->aucExpect.data(), b, ptRun->ullErase);
        }
        if (Nandkeep_ReadMTD(ptRun->iFd, ptRun->aucRead.data(), b, ptRun->ullErase) != 0) {
            return -1;
        }
        if (memcmp(ptRun->aucRead.data(), ptRun->aucExpect.data(), ptRun->aucRead.size()) == 0) {
            return 0;
        }
        ptRun->uDiffCount++;
        return Nandkeep_WriteVerifyResult(TXT_LOG_DIFF, static_cast<int>(b));
    });
}

int RunCycle(TLifeRun *ptRun, unsigned long long ullCycle) {
    if (Nandkeep_WriteVerifyResult(TXT_LOG_ERASE_ALL, static_cast<int>(ullCycle)) != 0) {
        return -1;
    }
    Progress_Step("cycle %llu of %llu", ullCycle + 1, ptRun->ullCycles + 1);
    Progress_Hold(true);
    for (int i = 0; i < ERASES_PER_CYCLE; i++) {
        Progress_Count("erase", static_cast<uint64_t>(i) + 1, ERASES_PER_CYCLE, false);
        if (Nandkeep_EraseMTD(ptRun->iFd, 0, ptRun->ullLen) == -1) {
            return -1;
        }
    }
    Progress_Hold(false);
    memset(ptRun->aucExpect.data(), NANDKEEP_ERASED_BYTE, ptRun->aucExpect.size());
    if (EachGoodBlock(ptRun, false) == -1) {
        return -1;
    }
    memset(ptRun->aucExpect.data(), 0x00, ptRun->aucExpect.size());
    if (EachGoodBlock(ptRun, true) == -1) {
        return -1;
    }
    return EachGoodBlock(ptRun, false);
}

int RunLifeCycle(TLifeRun *ptRun, uint64_t ullLen, uint64_t ullCycles) {
    if (Nandkeep_CollectBadBlocks(&ptRun->tBad, ullLen) != 0) {
        return -1;
    }
    const uint64_t ullCensusCount = ptRun->tBad.ullCount;
    ptRun->ullCycles = ullCycles;
    // Cycles 0 to ullCycles inclusive; the loop ends on equality so that no count wraps.
    for (uint64_t ullCycle = 0;; ullCycle++) {
        if (RunCycle(ptRun, ullCycle) == -1) {
            return -1;
        }
        if (ullCycle == ullCycles) {
            break;
        }
    }
    return Nandkeep_JudgeVerifyResult(ptRun->tBad.ullCount, ullCensusCount, ptRun->uDiffCount,
                                      ullLen == MTD0Size() ? 1 : 0);
}

} // namespace

int Nandkeep_LifeCycleTest(uint64_t ulLen, uint64_t ulCycles) {
    TLifeRun tRun;
    tRun.iFd = MTD0Fd();
    tRun.ullErase = MTD0EraseSize();
    tRun.ullLen = Nandkeep_WalkEnd(0, ulLen);
    if (!tRun.aucExpect.assign(tRun.ullErase, 0) || !tRun.aucRead.assign(tRun.ullErase, 0)) {
        return -1;
    }
    return Nandkeep_StopStatus(RunLifeCycle(&tRun, ulLen, ulCycles));
}
