// The life-cycle test: wear a range out by repeated erasing, and after each batch make sure
// every good block still reads erased, takes all zeros and gives them back.
#include "factorytest/factorytests.h"

#include "factorytest/verifylog.h"
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/maintenance.h"
#include "frontend/mtdinfo.h"

#include <cstdio>
#include <cstring>
#include "flash/workbuf.h"

namespace {

// Each cycle erases the range this many times before it is checked.
constexpr int ERASES_PER_CYCLE = 1001;
constexpr unsigned long DEFAULT_CYCLES = 1000;

struct TLifeRun {
    int iFd;
    unsigned long ulErase;
    unsigned long ulLen;
    TWorkBuf aucExpect;
    TWorkBuf aucRead;
    unsigned long aulBadList[NANDKEEP_BAD_LIST_MAX];
    unsigned long ulBadCount;
    unsigned int uDiffCount;
};

bool IsGood(TLifeRun *ptRun, unsigned long ulOffset) {
    return Nandkeep_CheckBadBlockList(ulOffset, &ptRun->ulBadCount, ptRun->aulBadList) == 0;
}

// Every good block of the range against the expected buffer. A block that begins below the
// length is visited whole, also when the length ends inside it.
int CheckRange(TLifeRun *ptRun) {
    for (unsigned long ulPos = 0; ulPos < ptRun->ulLen; ulPos += ptRun->ulErase) {
        if (!IsGood(ptRun, ulPos)) {
            continue;
        }
        if (Nandkeep_ReadMTD(ptRun->iFd, ptRun->aucRead.data(), ulPos, ptRun->ulErase) == -1) {
            return -1;
        }
        if (memcmp(ptRun->aucRead.data(), ptRun->aucExpect.data(), ptRun->ulErase) != 0) {
            ptRun->uDiffCount++;
            Nandkeep_WriteVerifyResult("Find diff sector at address = 0x%lx\n",
                                       static_cast<int>(ulPos));
        }
    }
    return 0;
}

int RunCycle(TLifeRun *ptRun, unsigned long ulCycle) {
    Nandkeep_WriteVerifyResult("Erase all 1000 times Num. %d\n", static_cast<int>(ulCycle));
    for (int i = 0; i < ERASES_PER_CYCLE; i++) {
        if (Nandkeep_EraseMTD(ptRun->iFd, 0, ptRun->ulLen) == -1) {
            return -1;
        }
    }
    memset(ptRun->aucExpect.data(), NANDKEEP_ERASED_BYTE, ptRun->ulErase);
    if (CheckRange(ptRun) == -1) {
        return -1;
    }
    memset(ptRun->aucExpect.data(), 0x00, ptRun->ulErase);
    for (unsigned long ulPos = 0; ulPos < ptRun->ulLen; ulPos += ptRun->ulErase) {
        if (IsGood(ptRun, ulPos) &&
            Nandkeep_WriteMTD(ptRun->iFd, ptRun->aucExpect.data(), ulPos, ptRun->ulErase) == -1) {
            return -1;
        }
    }
    return CheckRange(ptRun);
}

} // namespace

int Nandkeep_LifeCycleTest(unsigned long ulLen, unsigned long ulCycles) {
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    TLifeRun tRun;
    tRun.iFd = MTD0Fd();
    tRun.ulErase = MTD0EraseSize();
    tRun.ulLen = Nandkeep_WalkEnd(0, ulLen);
    tRun.aucExpect.assign(tRun.ulErase, 0);
    tRun.aucRead.assign(tRun.ulErase, 0);
    tRun.uDiffCount = 0;
    Nandkeep_CollectBadBlocks(ulLen, &tRun.ulBadCount, tRun.aulBadList);
    const unsigned long ulCensusCount = tRun.ulBadCount;
    // Cycles 0 to ulCycles inclusive; the loop ends on equality so that no count wraps.
    for (unsigned long ulCycle = 0;; ulCycle++) {
        if (RunCycle(&tRun, ulCycle) == -1) {
            return -1;
        }
        if (ulCycle == ulCycles) {
            break;
        }
    }
    return Nandkeep_JudgeVerifyResult(tRun.ulBadCount, ulCensusCount, tRun.uDiffCount,
                                      ulLen == MTD0Size() ? 1 : 0);
}

// No argument: the whole device, 1000 cycles. One, or three and more: the length, 1000 cycles.
// Exactly two: the length and the cycle count.
// A length past the device end would count the missing blocks as bad and fail a good chip: it is
// refused with the other range checks, before any request.
int Prepare_LifeCycleTest(TCommand *ptCmd) {
    unsigned long ulLen = MTD0Size();
    unsigned long ulCycles = DEFAULT_CYCLES;
    if (ptCmd->iArgc >= 3) {
        ulLen = Nandkeep_ParseHexWarned(ptCmd->ppArgv[2], NANDKEEP_WARN_SIZE);
    }
    if (ptCmd->iArgc == 4) {
        ulCycles = Nandkeep_ParseHexWarned(ptCmd->ppArgv[3], NANDKEEP_WARN_CYCLE);
    }
    if (Nandkeep_CheckReach(0, ulLen) == -1) {
        return -1;
    }
    if (ulLen > MTD0Size()) {
        Nandkeep_Notify("length runs past the device end");
        return -1;
    }
    ptCmd->aulArg[0] = ulLen;
    ptCmd->aulArg[1] = ulCycles;
    return NANDKEEP_RUN;
}

int Cmd_LifeCycleTest(TCommand *ptCmd) {
    return Nandkeep_LifeCycleTest(ptCmd->aulArg[0], ptCmd->aulArg[1]);
}
