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
};

const TRoute g_atRoutes[] = {
    {"write", 5, ANY, Cmd_Write},
    {"upgradeFW", 7, 7, Cmd_UpgradeFW},

    {"checkdefconf", 2, 2, Cmd_CheckDefConf},
    {"systemRecovery", 2, 2, Cmd_SystemRecovery},
    {"checktempconf", 2, 2, Cmd_CheckTempConf},
    {"checktempdata", 2, 2, Cmd_CheckTempData},
    {"checkNFDI", 2, 2, Cmd_CheckNFDI},
    {"eraseflashfs1", 2, 2, Cmd_EraseFlashfs1},
    {"eraseflashfs2", 2, 2, Cmd_EraseFlashfs2},
    {"flashfs2IsChange", 2, 2, Cmd_Flashfs2IsChange},
    {"eraseflashfs", 2, 2, Cmd_EraseFlashfs2},
    {"eraseJFFS2", 2, 2, Cmd_EraseJFFS2},
    {"eraseRootfs", 2, 2, Cmd_EraseRootfs},
    {"badBlockManagement", 2, 2, Cmd_BadBlockManagement},
    {"badBlockReport", 2, 2, Cmd_BadBlockReport},
    {"flashVerify", 2, 2, Cmd_FlashVerify},
    {"lifeCycleTest", 2, 2, Cmd_LifeCycleTest},
    {"eraseAll", 2, 2, Cmd_EraseAll},
    {"info", 2, 2, Cmd_Info},

    {"readdefconf", 3, 3, Cmd_ReadDefConf},
    {"writedefconf", 3, 3, Cmd_WriteDefConf},
    {"systemRecovery", 3, 3, Cmd_SystemRecovery},
    {"readtempconf", 3, 3, Cmd_ReadTempConf},
    {"writetempconf", 3, 3, Cmd_WriteTempConf},
    {"readtempdata", 3, 3, Cmd_ReadTempData},
    {"writetempdata", 3, 3, Cmd_WriteTempData},
    {"readNFDI", 3, 3, Cmd_ReadNFDI},
    {"writeNFDI", 3, 3, Cmd_WriteNFDI},
    {"updateBoot", 3, 3, Cmd_UpdateBoot},
    {"updateBst", 3, 3, Cmd_UpdateBst},
    {"updateDTB", 3, 3, Cmd_UpdateDTB},
    {"setBadBlockToBBT", 3, 3, Cmd_SetBadBlockToBBT},

    {"eccStatus", 4, 4, Cmd_EccStatus},
    {"badBlockErase", 4, 4, Cmd_BadBlockErase},

    {"badBlockRead", 5, 5, Cmd_BadBlockRead},

    {"lifeCycleTest", 3, ANY, Cmd_LifeCycleTest},
    {"unstableBitsTestWrite", 3, ANY, Cmd_UnstableBitsTestWrite},
    {"unstableBitsTestCheck", 3, ANY, Cmd_UnstableBitsTestCheck},
    {"erase", 4, 4, Cmd_Erase},
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

TCommandEntry Nandkeep_Route(int iArgc, char **ppArgv) {
    if (iArgc < 2) {
        return nullptr;
    }
    for (const TRoute &tRoute : g_atRoutes) {
        if (iArgc >= tRoute.iMinArgc && iArgc <= tRoute.iMaxArgc &&
            strcmp(ppArgv[1], tRoute.pszWord) == 0) {
            return tRoute.pfnEntry;
        }
    }
    return nullptr;
}

int Nandkeep_Main(int iArgc, char **ppArgv) {
    Nandkeep_Init();
    TCommandEntry pfnEntry = Nandkeep_Route(iArgc, ppArgv);
    int iResult = 0;
    if (pfnEntry == nullptr) {
        Nandkeep_PrintUsage();
    } else {
        // The usage text and info never touch the flash and run unlocked.
        iResult = pfnEntry == Cmd_Info || LockDevice() == 0 ? pfnEntry(iArgc, ppArgv) : -1;
    }
    Nandkeep_Deinit();
    Plat_UnlockDevice();
    return iResult;
}
