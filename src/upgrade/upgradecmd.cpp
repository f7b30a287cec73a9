// The commands that put firmware files into the flash: write, upgradeFW, updateBoot, updateBst
// and updateDTB. Each is a fixed sequence of image writes; a sub-image (the DTB behind a kernel,
// the default configuration behind a rootfs) goes only where the image check of its region
// points. Step lines are plain lines on standard output after the operation's own messages.
#include "flash/device.h"
#include "frontend/commands.h"
#include "frontend/texts.h"
#include "flash/notify.h"
#include "flash/progress.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/mkimg.h"
#include "platform/platform.h"
#include "upgrade/recovery.h"
#include "upgrade/texts.h"
#include "upgrade/writer.h"

#include <cstdio>
#include <cstring>

namespace {

// The five files of upgradeFW, in the order of their words on the command line.
enum EUpgradeFile { FILE_BOOT, FILE_KERNEL, FILE_DTB, FILE_ROOTFS, FILE_DEFCONF };

// One file of an upgrade into its region; pszStep names it on the progress line.
int WriteRegion(TSource *ptSrc, uint64_t ulOffset, uint64_t ulLen, const char *pszStep,
                const char *szFailLine) {
    Progress_Step("%s", pszStep);
    if (Nandkeep_WriteImageSource(ptSrc, ulOffset, ulLen, 0) != 0) {
        Nandkeep_Print("%s\n", szFailLine);
        return -1;
    }
    return 0;
}

// The DTB file, byte for byte, from the sub-image offset of kernel copy iCopy to the region end.
int WriteDTB(TSource *ptSrc, int iCopy) {
    Progress_Step("DTB %d", iCopy);
    const uint64_t ulRegion = iCopy == 1 ? KERNEL1_OFFSET : KERNEL0_OFFSET;
    uint64_t ulSub{};
    if (Nandkeep_LocateSubImage(ulRegion, KERNEL_SIZE, &ulSub) != 0) {
        Nandkeep_Print(TXT_UP_DTB_OFFSET_FAIL, iCopy);
        return -1;
    }
    if (Nandkeep_WriteImageSource(ptSrc, ulSub, ulRegion + KERNEL_SIZE - ulSub, 0) != 0) {
        Nandkeep_Print(TXT_UP_DTB_FAIL, iCopy);
        return -1;
    }
    return 0;
}

int WriteDefConf(TSource *ptSrc, int iCopy) {
    Progress_Step("default values %d", iCopy);
    return Nandkeep_WriteDefConfCopy(ptSrc, iCopy);
}

// Room left behind the image that the source will put at the start of a region without bad
// blocks: an upper bound of the sub-image's area, since bad blocks only push the sub-image
// further. A source that does not start with a plausible image header gives the whole region:
// its image check will fail on the flash.
uint64_t SubImageRoom(TSource *ptImage, uint64_t ulRegion, uint64_t ulLen) {
    if (ptImage->pszFault != nullptr || fseek(ptImage->pFile, 0, SEEK_SET) != 0) {
        return ulLen;
    }
    unsigned char aucHeader[MKIMG_HEADER_SIZE];
    const bool bHeader =
        fread(aucHeader, 1, sizeof(aucHeader), ptImage->pFile) == sizeof(aucHeader);
    if (!bHeader || Nandkeep_GetBE32(aucHeader) != MKIMG_MAGIC) {
        return ulLen;
    }
    const uint64_t ulImageLen = MKIMG_HEADER_SIZE + Nandkeep_GetBE32(aucHeader + MKIMG_SIZE_OFFSET);
    if (ulImageLen > ptImage->ulSize) {
        return ulLen;
    }
    const uint64_t ulEnd = ulRegion + ulImageLen;
    const uint64_t ulSub = Nandkeep_SubImageOffset(ulEnd);
    return ulSub < ulRegion + ulLen ? ulRegion + ulLen - ulSub : 0;
}

// One file of an upgrade checked before anything is erased: readable, regular, and no larger
// than the most its area can take (ulOverhead: what the store adds around the file).
int PreflightFile(TSource *ptSrc, uint64_t ulRoom, uint64_t ulOverhead, const char *szFailLine) {
    if (Nandkeep_TakeSource(ptSrc) == 0) {
        if (ptSrc->ulSize + ulOverhead <= ulRoom) {
            return 0;
        }
        Nandkeep_Notify(TXT_WR_TOO_LARGE);
    }
    Nandkeep_Print("%s\n", szFailLine);
    return -1;
}

// The DTB file must be an image itself. The writer compares bytes, not format: a raw blob would be
// written behind both kernels, and recovery would refuse every kernel copy as a source from then
// on. Kernel and rootfs files are judged in flash, after their backup copy is written.
int PreflightDTB(TSource *ptDTB) {
    if (Nandkeep_CheckImageSource(ptDTB) != 0) {
        Nandkeep_Print("%s\n", TXT_UP_DTB1_FAIL);
        return -1;
    }
    return 0;
}

// The most a file can take in the area it goes to: the whole region for an image, the region
// behind the smallest image for a sub-image.
constexpr uint64_t ROOM_OF[] = {BOOT_SIZE, KERNEL_SIZE, KERNEL_SIZE, ROOTFS_SIZE,
                                ROOTFS_SIZE - CONFIG_OVERHEAD};

} // namespace

// The range is checked from the command line, and the file counted, before the device is locked.
int Prepare_Write(TCommand *ptCmd) {
    ptCmd->iFlag = (ptCmd->iArgc > 5 && strcmp(ptCmd->ppArgv[5], "HTTP") == 0) ? 1 : 0;
    const uint64_t ulOffset = Nandkeep_ParseHexWarned(ptCmd->ppArgv[3], TXT_WARN_OFFSET);
    const uint64_t ulLen = Nandkeep_ParseHexWarned(ptCmd->ppArgv[4], TXT_WARN_LENGTH);
    // An unaligned erase request fails in the driver and would retire a good block.
    if (MTD0EraseSize() == 0 || ulOffset % MTD0EraseSize() != 0) {
        Nandkeep_Notify(TXT_UP_UNALIGNED);
        return -1;
    }
    // Within 4 GiB, blocks past the end of the device are stepped over like bad ones.
    if (Nandkeep_CheckReach(ulOffset, ulLen) != 0) {
        return -1;
    }
    ptCmd->aulArg[0] = ulOffset;
    ptCmd->aulArg[1] = ulLen;
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], ulLen);
    return Nandkeep_TakeSource(&ptCmd->atSrc[0]) != 0 ? -1 : NANDKEEP_RUN;
}

int Cmd_Write(TCommand *ptCmd) {
    return Nandkeep_WriteImageSource(&ptCmd->atSrc[0], ptCmd->aulArg[0], ptCmd->aulArg[1],
                                     ptCmd->iFlag);
}

// Every file of upgradeFW, in the order of the steps that use it, so that a missing or oversized
// file (or a DTB that is not an image) stops the upgrade before the first erase instead of half
// way; all of it before the device is locked.
int Prepare_UpgradeFW(TCommand *ptCmd) {
    TSource *atSrc = ptCmd->atSrc;
    for (int i = FILE_BOOT; i <= FILE_DEFCONF; i++) {
        Nandkeep_PrepareSource(&atSrc[i], ptCmd->ppArgv[2 + i], ROOM_OF[i]);
    }
    if (PreflightFile(&atSrc[FILE_BOOT], BOOT_SIZE, 0, TXT_UP_BOOT_FAIL) != 0 ||
        PreflightFile(&atSrc[FILE_ROOTFS], ROOTFS_SIZE, 0, TXT_UP_ROOTFS1_FAIL) != 0 ||
        PreflightFile(&atSrc[FILE_DEFCONF],
                      SubImageRoom(&atSrc[FILE_ROOTFS], ROOTFS1_OFFSET, ROOTFS_SIZE),
                      CONFIG_OVERHEAD, TXT_UP_DEFCONF1_FAIL) != 0 ||
        PreflightFile(&atSrc[FILE_KERNEL], KERNEL_SIZE, 0, TXT_UP_KERNEL1_FAIL) != 0 ||
        PreflightFile(&atSrc[FILE_DTB],
                      SubImageRoom(&atSrc[FILE_KERNEL], KERNEL1_OFFSET, KERNEL_SIZE), 0,
                      TXT_UP_DTB1_FAIL) != 0 ||
        PreflightDTB(&atSrc[FILE_DTB]) != 0) {
        return -1;
    }
    return NANDKEEP_RUN;
}

// Backup copies first (rootfs 1 with Default Value 1, kernel 1 with DTB 1), then flashstatus 1,
// then the normal copies. Nothing is rolled back after a failure.
int Cmd_UpgradeFW(TCommand *ptCmd) {
    TSource *atSrc = ptCmd->atSrc;
    if (WriteRegion(&atSrc[FILE_BOOT], BOOT_OFFSET, BOOT_SIZE, "boot", TXT_UP_BOOT_FAIL) != 0 ||
        WriteRegion(&atSrc[FILE_ROOTFS], ROOTFS1_OFFSET, ROOTFS_SIZE, "rootfs 1",
                    TXT_UP_ROOTFS1_FAIL) != 0 ||
        WriteDefConf(&atSrc[FILE_DEFCONF], 1) != 0 ||
        WriteRegion(&atSrc[FILE_KERNEL], KERNEL1_OFFSET, KERNEL_SIZE, "kernel 1",
                    TXT_UP_KERNEL1_FAIL) != 0 ||
        WriteDTB(&atSrc[FILE_DTB], 1) != 0) {
        return -1;
    }
    (void)Plat_System(TXT_FLASHSTATUS_COMMAND);
    if (WriteRegion(&atSrc[FILE_KERNEL], KERNEL0_OFFSET, KERNEL_SIZE, "kernel 0",
                    TXT_UP_KERNEL0_FAIL) != 0 ||
        WriteDTB(&atSrc[FILE_DTB], 0) != 0 ||
        WriteRegion(&atSrc[FILE_ROOTFS], ROOTFS0_OFFSET, ROOTFS_SIZE, "rootfs 0",
                    TXT_UP_ROOTFS0_FAIL) != 0 ||
        WriteDefConf(&atSrc[FILE_DEFCONF], 0) != 0) {
        return -1;
    }
    return 0;
}

int Prepare_UpdateRegion(TCommand *ptCmd) {
    ptCmd->aulArg[0] = ptCmd->iParam == 0 ? BOOT_OFFSET : BST_OFFSET;
    ptCmd->aulArg[1] = ptCmd->iParam == 0 ? BOOT_SIZE : BST_SIZE;
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], ptCmd->aulArg[1]);
    return Nandkeep_TakeSource(&ptCmd->atSrc[0]) != 0 ? -1 : NANDKEEP_RUN;
}

int Cmd_UpdateRegion(TCommand *ptCmd) {
    return Nandkeep_WriteImageSource(&ptCmd->atSrc[0], ptCmd->aulArg[0], ptCmd->aulArg[1], 0);
}

int Prepare_UpdateDTB(TCommand *ptCmd) {
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], ROOM_OF[FILE_DTB]);
    return PreflightDTB(&ptCmd->atSrc[0]) != 0 ? -1 : NANDKEEP_RUN;
}

int Cmd_UpdateDTB(TCommand *ptCmd) {
    if (WriteDTB(&ptCmd->atSrc[0], 1) != 0 || WriteDTB(&ptCmd->atSrc[0], 0) != 0) {
        return -1;
    }
    return 0;
}

int Prepare_SystemRecovery(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHex(ptCmd->ppArgv[2]) & 0xFF;
    if (ptCmd->aulArg[0] != 1 && ptCmd->aulArg[0] != 3) {
        Nandkeep_PrintUsage();
        return 0;
    }
    return NANDKEEP_RUN;
}

int Cmd_SystemRecovery(TCommand *ptCmd) {
    return Nandkeep_SystemRecovery(ptCmd->iArgc == 2 ? 0 : static_cast<int>(ptCmd->aulArg[0]));
}
