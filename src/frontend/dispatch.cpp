// Routing by argument count and command word.
//
// The table is scanned in order and the first row whose word and argument-count range match
// wins. Its order is the routing order: "write" (5 or more words) and "upgradeFW" (exactly 7)
// come first, then the commands of each exact argument count, then the rows that take any count
// from 3 up ("lifeCycleTest" and the unstable-bits pair) and "erase" with exactly 4. Rows of
// different exact counts never overlap, so one linear scan gives the same answer as asking the
// count first. A command line that matches no row gets the usage text and status 0.
#include "frontend/dispatch.h"

#include "flash/device.h"
#include "flash/notify.h"
#include "flash/progress.h"
#include "frontend/texts.h"
#include "platform/platform.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[maybe_unused]] constexpr int ANY = INT_MAX;

struct TRoute {
    const char *pszWord;
    int iMinArgc;
    int iMaxArgc;
    TCommandEntry pfnEntry;
    TPrepareEntry pfnPrepare; // nullptr: nothing to do before the lock
    int iParam = 0;           // which of the kind, for an entry that serves several words
};

const TRoute g_atRoutes[] = {
    {"write", 5, ANY, Cmd_Write, Prepare_Write},
    {"upgradeFW", 7, 7, Cmd_UpgradeFW, Prepare_UpgradeFW},

    {"checkdefconf", 2, 2, Cmd_CheckDefConf, nullptr},
    {"systemRecovery", 2, 2, Cmd_SystemRecovery, nullptr},
    {"checktempconf", 2, 2, Cmd_TempConf, Prepare_Store},
    {"checktempdata", 2, 2, Cmd_TempData, Prepare_Store},
    {"checkNFDI", 2, 2, Cmd_NFDI, Prepare_Store},
    {"eraseflashfs1", 2, 2, Cmd_ErasePartition, nullptr, 3},
    {"eraseflashfs2", 2, 2, Cmd_ErasePartition, nullptr, 2},
    {"flashfs2IsChange", 2, 2, Cmd_Flashfs2IsChange, nullptr},
    {"eraseflashfs", 2, 2, Cmd_ErasePartition, nullptr, 2},
    {"eraseJFFS2", 2, 2, Cmd_ErasePartition, nullptr, 1},
    {"eraseRootfs", 2, 2, Cmd_EraseRootfs, nullptr},
    {"badBlockManagement", 2, 2, Cmd_BadBlockManagement, nullptr},
    {"badBlockReport", 2, 2, Cmd_BadBlockReport, nullptr},
    {"flashVerify", 2, 2, Cmd_FlashVerify, nullptr},
    {"lifeCycleTest", 2, 2, Cmd_LifeCycleTest, Prepare_LifeCycleTest},
    {"eraseAll", 2, 2, Cmd_ErasePartition, nullptr, 0},
    {"info", 2, 2, Cmd_Info, nullptr},

    {"readdefconf", 3, 3, Cmd_ReadDefConf, nullptr},
    {"writedefconf", 3, 3, Cmd_WriteDefConf, Prepare_WriteDefConf},
    {"systemRecovery", 3, 3, Cmd_SystemRecovery, Prepare_SystemRecovery},
    {"readtempconf", 3, 3, Cmd_TempConf, Prepare_Store},
    {"writetempconf", 3, 3, Cmd_WriteTempConf, Prepare_WriteTempConf},
    {"readtempdata", 3, 3, Cmd_TempData, Prepare_Store},
    {"writetempdata", 3, 3, Cmd_WriteTempData, Prepare_WriteTempData},
    {"readNFDI", 3, 3, Cmd_NFDI, Prepare_Store},
    {"writeNFDI", 3, 3, Cmd_WriteNFDI, Prepare_WriteNFDI},
    {"updateBoot", 3, 3, Cmd_UpdateRegion, Prepare_UpdateRegion, 0},
    {"updateBst", 3, 3, Cmd_UpdateRegion, Prepare_UpdateRegion, 1},
    {"updateDTB", 3, 3, Cmd_UpdateDTB, Prepare_UpdateDTB},
    {"setBadBlockToBBT", 3, 3, Cmd_SetBadBlockToBBT, nullptr},

    {"eccStatus", 4, 4, Cmd_EccStatus, Prepare_Range},
    {"badBlockErase", 4, 4, Cmd_BadBlockErase, Prepare_BadBlockErase},

    {"badBlockRead", 5, 5, Cmd_BadBlockRead, Prepare_BadBlockRead},

    {"lifeCycleTest", 3, ANY, Cmd_LifeCycleTest, Prepare_LifeCycleTest},
    {"unstableBitsTestWrite", 3, ANY, Cmd_UnstableBitsTest, nullptr, 1},
    {"unstableBitsTestCheck", 3, ANY, Cmd_UnstableBitsTest, nullptr, 0},
    {"erase", 4, 4, Cmd_Erase, Prepare_Erase},
};

// Every command that works on the flash holds the device for its whole run, readers included:
// two invocations interleaved would mix firmware sets, program over unerased pages, or move
// the device-wide ECC counters a running command compares. A second invocation waits, and says
// so once. -1 (with a notify) when the lock cannot be had at all.
int LockDevice() {
    int iRet = Plat_LockDevice(g_ptMTDInfo[0].szDevPath, 0);
    if (iRet == 1) {
        fputs(TXT_WAITING, stderr);
        iRet = Plat_LockDevice(g_ptMTDInfo[0].szDevPath, 1);
    }
    if (iRet != 0) {
        Nandkeep_Notify(TXT_CANNOT_LOCK);
        return -1;
    }
    return 0;
}

const TRoute *Route(int iArgc, char **ppArgv) {
    if (iArgc < 2) {
        return nullptr;
    }
    for (const TRoute &tRoute : g_atRoutes) {
        if (iArgc >= tRoute.iMinArgc && iArgc <= tRoute.iMaxArgc &&
            strcmp(ppArgv[1], tRoute.pszWord) == 0) {
            return &tRoute;
        }
    }
    return nullptr;
}

// The preparation, then the run under the device lock. The usage text and info never touch the
// flash and run unlocked, and so does everything a preparation decides.
int RunCommand(const TRoute *ptRoute, TCommand *ptCmd) {
    if (ptRoute->pfnPrepare != nullptr) {
        const int iPrepared = ptRoute->pfnPrepare(ptCmd);
        if (iPrepared != NANDKEEP_RUN) {
            return iPrepared;
        }
    }
    // Every command that works on the flash steps by record 0's erase size. One that no block of
    // a chip can have (a table edited by hand) would fail every erase request, and the primitives
    // would then retire good blocks: it is refused before the device is locked.
    if (ptRoute->pfnEntry != Cmd_Info && ptRoute->pfnEntry != Cmd_Flashfs2IsChange &&
        Nandkeep_CheckEraseSize() != 0) {
        return -1;
    }
    if (ptRoute->pfnEntry != Cmd_Info && LockDevice() != 0) {
        return -1;
    }
    Progress_Command(ptCmd->ppArgv[1]);
    const int iResult = ptRoute->pfnEntry(ptCmd);
    Progress_Command(nullptr);
    return iResult;
}

} // namespace

uint64_t Nandkeep_ParseHex(const char *pszWord) {
    return strtoull(pszWord, nullptr, 16);
}

uint64_t Nandkeep_ParseHexWarned(const char *pszWord, const char *pszWarnFormat) {
    char *pszEnd = nullptr;
    const uint64_t ulValue = strtoull(pszWord, &pszEnd, 16);
    if (pszEnd != nullptr && *pszEnd != '\0') {
        Nandkeep_Print(pszWarnFormat, pszWord, ulValue);
    }
    return ulValue;
}

int Nandkeep_Main(int iArgc, char **ppArgv) {
    if (Nandkeep_Init() != 0) {
        return -1;
    }
    const TRoute *ptRoute = Route(iArgc, ppArgv);
    TCommand tCmd = {};
    tCmd.iArgc = iArgc;
    tCmd.ppArgv = ppArgv;
    tCmd.iParam = ptRoute != nullptr ? ptRoute->iParam : 0;
    int iResult = 0;
    if (ptRoute == nullptr) {
        Nandkeep_PrintUsage();
    } else {
        iResult = RunCommand(ptRoute, &tCmd);
    }
    for (TSource &tSrc : tCmd.atSrc) {
        Nandkeep_ReleaseSource(&tSrc);
    }
    Nandkeep_Deinit();
    Plat_UnlockDevice();
    return iResult;
}
