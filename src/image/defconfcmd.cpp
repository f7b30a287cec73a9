// The default configuration commands: checkdefconf, readdefconf, writedefconf. Their own lines
// are plain lines on standard output; the operations add their notify messages.
#include "flash/notify.h"
#include "frontend/commands.h"
#include "flash/device.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/texts.h"

#include <cstdio>

// Default Value 1, the backup, always comes first.
constexpr int DEFCONF_ORDER[] = {1, 0};

int Cmd_CheckDefConf(TCommand *) {
    for (int iCopy : DEFCONF_ORDER) {
        uint64_t ulSub{};
        uint64_t ulRoom{};
        if (Nandkeep_LocateDefConf(iCopy, &ulSub, &ulRoom) != 0) {
            Nandkeep_Print(TXT_DEFCONF_OFFSET_FAIL, iCopy);
            return -1;
        }
        if (Nandkeep_CheckConfig(MTD0Fd(), ulSub, ulRoom) != 0) {
            Nandkeep_Print(TXT_DEFCONF_CHECK_FAIL, iCopy);
            return -1;
        }
    }
    return 0;
}

// The first copy that can be located and read wins; the attempts' own messages are the only
// trace of a copy that failed.
int Cmd_ReadDefConf(TCommand *ptCmd) {
    for (int iCopy : DEFCONF_ORDER) {
        uint64_t ulSub{};
        uint64_t ulRoom{};
        if (Nandkeep_LocateDefConf(iCopy, &ulSub, &ulRoom) == 0 &&
            Nandkeep_ReadConfig(MTD0Fd(), ptCmd->ppArgv[2], ulSub, ulRoom) == 0) {
            Nandkeep_Print(TXT_DEFCONF_READ, iCopy);
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
    for (int iCopy : DEFCONF_ORDER) {
        if (Nandkeep_WriteDefConfCopy(&ptCmd->atSrc[0], iCopy) != 0) {
            return -1;
        }
    }
    return 0;
}
