// The factory test commands: flashVerify, lifeCycleTest, unstableBitsTestWrite and
// unstableBitsTestCheck.
#include "factorytest/factorytests.h"

#include "factorytest/texts.h"
#include "flash/device.h"
#include "flash/notify.h"
#include "flash/report.h"
#include "flash/workbuf.h"
#include "frontend/commands.h"
#include "frontend/texts.h"

#include <cstdio>

constexpr uint64_t DEFAULT_CYCLES = 1000;

int Cmd_UnstableBitsTest(TCommand *ptCmd) {
    const int iWrite = ptCmd->iParam;
    const char *pszPattern = ptCmd->ppArgv[2];
    TWorkBuf aucPattern;
    if (!aucPattern.assign(Nandkeep_ReferenceBufferSize(), 0)) {
        return -1;
    }
    Nandkeep_FillUnstablePattern(pszPattern, aucPattern.data(), aucPattern.size());
    const int iRet = Nandkeep_UnstableBitsTest(aucPattern.data(), iWrite);
    Nandkeep_Print(TXT_UB_VERDICT, iWrite ? "Write" : "Check", pszPattern,
                   iRet == 0 ? "Pass" : "Fail");
    // The verdict is the line above; the status tells only whether the ECC report could be made.
    return Nandkeep_EccStatus(0, MTD0WalkEnd());
}

int Cmd_FlashVerify(TCommand *) {
    return Nandkeep_FlashVerify();
}

// No argument: the whole device, 1000 cycles. One, or three and more: the length, 1000 cycles.
// Exactly two: the length and the cycle count. A length past the device end would count the
// missing blocks as bad and fail a good chip: it is refused with the other range checks, before
// any request.
int Prepare_LifeCycleTest(TCommand *ptCmd) {
    uint64_t ullLen = MTD0Size();
    uint64_t ullCycles = DEFAULT_CYCLES;
    if (ptCmd->iArgc >= 3) {
        ullLen = Nandkeep_ParseHexWarned(ptCmd->ppArgv[2], TXT_WARN_SIZE);
    }
    if (ptCmd->iArgc == 4) {
        ullCycles = Nandkeep_ParseHexWarned(ptCmd->ppArgv[3], TXT_WARN_CYCLE);
    }
    if (Nandkeep_CheckReach(0, ullLen) != 0) {
        return -1;
    }
    if (ullLen > MTD0Size()) {
        Nandkeep_Notify(TXT_PAST_DEVICE_END);
        return -1;
    }
    ptCmd->aulArg[0] = ullLen;
    ptCmd->aulArg[1] = ullCycles;
    return NANDKEEP_RUN;
}

int Cmd_LifeCycleTest(TCommand *ptCmd) {
    return Nandkeep_LifeCycleTest(ptCmd->aulArg[0], ptCmd->aulArg[1]);
}
