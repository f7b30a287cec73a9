// Routing by argument count and command word.
//
// The table is scanned in order and the first row whose word and argument-count range match
// wins. Its order is the routing order: "write" (5 or more words) and "upgradeFW" (exactly 7)
// come first, then the commands of each exact argument count, then the rows that take any count
// from 3 up ("lifeCycleTest" and the unstable-bits pair) and "erase" with exactly 4. Rows of
// different exact counts never overlap, so one linear scan gives the same answer as asking the
// count first. A command line that matches no row gets the usage text and status 0.
#include "frontend/dispatch.h"

#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "platform/platform.h"

#include <cerrno>
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
};

const TRoute g_atRoutes[] = {
    {"write", 5, ANY, Cmd_Write, Prepare_Write},
    {"upgradeFW", 7, 7, Cmd_UpgradeFW, Prepare_UpgradeFW},

    {"checkdefconf", 2, 2, Cmd_CheckDefConf, nullptr},
    {"systemRecovery", 2, 2, Cmd_SystemRecovery, nullptr},
    {"checktempconf", 2, 2, Cmd_CheckTempConf, nullptr},
    {"checktempdata", 2, 2, Cmd_CheckTempData, nullptr},
    {"checkNFDI", 2, 2, Cmd_CheckNFDI, nullptr},
    {"eraseflashfs1", 2, 2, Cmd_EraseFlashfs1, nullptr},
    {"eraseflashfs2", 2, 2, Cmd_EraseFlashfs2, nullptr},
    {"flashfs2IsChange", 2, 2, Cmd_Flashfs2IsChange, nullptr},
    {"eraseflashfs", 2, 2, Cmd_EraseFlashfs2, nullptr},
    {"eraseJFFS2", 2, 2, Cmd_EraseJFFS2, nullptr},
    {"eraseRootfs", 2, 2, Cmd_EraseRootfs, nullptr},
    {"badBlockManagement", 2, 2, Cmd_BadBlockManagement, nullptr},
    {"badBlockReport", 2, 2, Cmd_BadBlockReport, nullptr},
    {"flashVerify", 2, 2, Cmd_FlashVerify, nullptr},
    {"lifeCycleTest", 2, 2, Cmd_LifeCycleTest, Prepare_LifeCycleTest},
    {"eraseAll", 2, 2, Cmd_EraseAll, nullptr},
    {"info", 2, 2, Cmd_Info, nullptr},

    {"readdefconf", 3, 3, Cmd_ReadDefConf, nullptr},
    {"writedefconf", 3, 3, Cmd_WriteDefConf, Prepare_WriteDefConf},
    {"systemRecovery", 3, 3, Cmd_SystemRecovery, Prepare_SystemRecovery},
    {"readtempconf", 3, 3, Cmd_ReadTempConf, nullptr},
    {"writetempconf", 3, 3, Cmd_WriteTempConf, Prepare_WriteTempConf},
    {"readtempdata", 3, 3, Cmd_ReadTempData, nullptr},
    {"writetempdata", 3, 3, Cmd_WriteTempData, Prepare_WriteTempData},
    {"readNFDI", 3, 3, Cmd_ReadNFDI, nullptr},
    {"writeNFDI", 3, 3, Cmd_WriteNFDI, Prepare_WriteNFDI},
    {"updateBoot", 3, 3, Cmd_UpdateBootOrBst, Prepare_UpdateBoot},
    {"updateBst", 3, 3, Cmd_UpdateBootOrBst, Prepare_UpdateBst},
    {"updateDTB", 3, 3, Cmd_UpdateDTB, Prepare_UpdateDTB},
    {"setBadBlockToBBT", 3, 3, Cmd_SetBadBlockToBBT, nullptr},

    {"eccStatus", 4, 4, Cmd_EccStatus, Prepare_EccStatus},
    {"badBlockErase", 4, 4, Cmd_BadBlockErase, Prepare_BadBlockErase},

    {"badBlockRead", 5, 5, Cmd_BadBlockRead, Prepare_BadBlockRead},

    {"lifeCycleTest", 3, ANY, Cmd_LifeCycleTest, Prepare_LifeCycleTest},
    {"unstableBitsTestWrite", 3, ANY, Cmd_UnstableBitsTestWrite, nullptr},
    {"unstableBitsTestCheck", 3, ANY, Cmd_UnstableBitsTestCheck, nullptr},
    {"erase", 4, 4, Cmd_Erase, Prepare_Erase},
};

// Every command that works on the flash holds the device for its whole run, readers included:
// two invocations interleaved would mix firmware sets, program over unerased pages, or move
// the device-wide ECC counters a running command compares. A second invocation waits, and says
// so once. -1 (with a notify) when the lock cannot be had at all.
int LockDevice() {
    int iRet = Plat_LockDevice(g_ptMTDInfo[0].szDevPath, 0);
    if (iRet == 1) {
        fputs("nandkeep: waiting for another nandkeep to finish\n", stderr);
        iRet = Plat_LockDevice(g_ptMTDInfo[0].szDevPath, 1);
    }
    if (iRet != 0) {
        Nandkeep_Notify("cannot lock the flash device");
        return -1;
    }
    return 0;
}

} // namespace

unsigned long Nandkeep_ParseHex(const char *pszWord) {
    return strtoul(pszWord, nullptr, 16);
}

unsigned long Nandkeep_ParseHexWarned(const char *pszWord, const char *pszWarnFormat) {
    char *pszEnd = nullptr;
    unsigned long ulValue = strtoul(pszWord, &pszEnd, 16);
    if (pszEnd != nullptr && *pszEnd != '\0') {
        printf(pszWarnFormat, pszWord, ulValue);
    }
    return ulValue;
}

namespace {

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
    if (ptRoute->pfnEntry != Cmd_Info && LockDevice() == -1) {
        return -1;
    }
    return ptRoute->pfnEntry(ptCmd);
}

} // namespace

TCommandEntry Nandkeep_Route(int iArgc, char **ppArgv) {
    const TRoute *ptRoute = Route(iArgc, ppArgv);
    return ptRoute != nullptr ? ptRoute->pfnEntry : nullptr;
}

int Nandkeep_Main(int iArgc, char **ppArgv) {
    Nandkeep_Init();
    const TRoute *ptRoute = Route(iArgc, ppArgv);
    TCommand tCmd = {};
    tCmd.iArgc = iArgc;
    tCmd.ppArgv = ppArgv;
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
