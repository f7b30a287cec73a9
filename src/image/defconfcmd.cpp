// The default configuration commands: checkdefconf, readdefconf, writedefconf. Their own lines
// are plain lines on standard output; the operations add their notify messages.
#include "frontend/commands.h"
#include "flash/device.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/mkimg.h"
#include "image/texts.h"

#include <cstdio>

namespace {

struct TDefConfCopy {
    int iCopy;
    uint64_t ulRegion;
};

// Default Value 1, the backup, always comes first.
constexpr TDefConfCopy DEFCONF_ORDER[] = {{1, ROOTFS1_OFFSET}, {0, ROOTFS0_OFFSET}};

} // namespace

int Cmd_CheckDefConf(TCommand *) {
    for (const TDefConfCopy &tCopy : DEFCONF_ORDER) {
        uint64_t ulSub = 0;
        if (Nandkeep_LocateSubImage(tCopy.ulRegion, ROOTFS_SIZE, &ulSub) == -1) {
            printf(TXT_DEFCONF_OFFSET_FAIL, tCopy.iCopy);
            return -1;
        }
        if (Nandkeep_CheckConfig(MTD0Fd(), ulSub, tCopy.ulRegion + ROOTFS_SIZE - ulSub) == -1) {
            printf(TXT_DEFCONF_CHECK_FAIL, tCopy.iCopy);
            return -1;
        }
    }
    return 0;
}

// The first copy that can be located and read wins; the attempts' own messages are the only
// trace of a copy that failed.
int Cmd_ReadDefConf(TCommand *ptCmd) {
    char **ppArgv = ptCmd->ppArgv;
    for (const TDefConfCopy &tCopy : DEFCONF_ORDER) {
        uint64_t ulSub = 0;
        if (Nandkeep_LocateSubImage(tCopy.ulRegion, ROOTFS_SIZE, &ulSub) == 0 &&
            Nandkeep_ReadConfig(MTD0Fd(), ppArgv[2], ulSub, tCopy.ulRegion + ROOTFS_SIZE - ulSub) ==
                0) {
            printf(TXT_DEFCONF_READ, tCopy.iCopy);
            return 0;
        }
    }
    return -1;
}

// The file is counted before the device is locked; its fault is told where the first copy takes
// it, after the copy was located.
int Prepare_WriteDefConf(TCommand *ptCmd) {
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], ROOTFS_SIZE - CONFIG_OVERHEAD);
    return NANDKEEP_RUN;
}

int Cmd_WriteDefConf(TCommand *ptCmd) {
    for (const TDefConfCopy &tCopy : DEFCONF_ORDER) {
        if (Nandkeep_WriteDefConfCopy(&ptCmd->atSrc[0], tCopy.iCopy) == -1) {
            return -1;
        }
    }
    return 0;
}
