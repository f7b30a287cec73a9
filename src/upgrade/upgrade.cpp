// The commands that put firmware files into the flash: write, upgradeFW, updateBoot, updateBst
// and updateDTB. Each is a fixed sequence of image writes; a sub-image (the DTB behind a kernel,
// the default configuration behind a rootfs) goes only where the image check of its region
// points. Step lines are plain lines on standard output after the operation's own messages.
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/maintenance.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/mkimg.h"
#include "platform/platform.h"
#include "upgrade/writer.h"

#include <cstdio>
#include <cstring>

namespace {

// Step 9 of upgradeFW: from here on the backup copies are complete and the normal copies are
// being rewritten; system recovery reads flashstatus 1 as "repair the normal copies first".
constexpr const char *FLASHSTATUS_COMMAND = "ovenctl engage && cfgvault set flashstatus 1";

// The five files of upgradeFW, in the order of their words on the command line.
enum EUpgradeFile { FILE_BOOT, FILE_KERNEL, FILE_DTB, FILE_ROOTFS, FILE_DEFCONF };

int WriteRegion(TSource *ptSrc, unsigned long ulOffset, unsigned long ulLen,
                const char *szFailLine) {
    if (Nandkeep_WriteImageSource(ptSrc, ulOffset, ulLen, 0) == -1) {
        puts(szFailLine);
        return -1;
    }
    return 0;
}

unsigned long KernelRegion(int iCopy) {
    return iCopy == 1 ? KERNEL1_OFFSET : KERNEL0_OFFSET;
}

// The DTB file, byte for byte, from the sub-image offset of kernel copy iCopy to the region end.
int WriteDTB(TSource *ptSrc, int iCopy) {
    const unsigned long ulRegion = KernelRegion(iCopy);
    unsigned long ulSub = 0;
    if (Nandkeep_LocateSubImage(ulRegion, KERNEL_SIZE, &ulSub) == -1) {
        printf("get DTB %d offset fail\n", iCopy);
        return -1;
    }
    if (Nandkeep_WriteImageSource(ptSrc, ulSub, ulRegion + KERNEL_SIZE - ulSub, 0) == -1) {
        printf("update DTB %d fail\n", iCopy);
        return -1;
    }
    return 0;
}

// Room left behind the image that the source will put at the start of a region without bad
// blocks: an upper bound of the sub-image's area, since bad blocks only push the sub-image
// further. A source that does not start with a plausible image header gives the whole region:
// its image check will fail on the flash.
unsigned long SubImageRoom(TSource *ptImage, unsigned long ulRegion, unsigned long ulLen) {
    if (ptImage->pszFault != nullptr || fseek(ptImage->pFile, 0, SEEK_SET) != 0) {
        return ulLen;
    }
    unsigned char aucHeader[MKIMG_HEADER_SIZE];
    const bool bHeader =
        fread(aucHeader, 1, sizeof(aucHeader), ptImage->pFile) == sizeof(aucHeader);
    if (!bHeader || Nandkeep_GetBE32(aucHeader) != MKIMG_MAGIC) {
        return ulLen;
    }
    const unsigned long ulImageLen =
        MKIMG_HEADER_SIZE + Nandkeep_GetBE32(aucHeader + MKIMG_SIZE_OFFSET);
    if (ulImageLen > ptImage->ulSize) {
        return ulLen;
    }
    const unsigned long ulEnd = ulRegion + ulImageLen;
    const unsigned long ulSub = Nandkeep_SubImageOffset(ulEnd);
    return ulSub < ulRegion + ulLen ? ulRegion + ulLen - ulSub : 0;
}

// One file of an upgrade checked before anything is erased: readable, regular, and no larger
// than the most its area can take (ulOverhead: what the store adds around the file).
int PreflightFile(TSource *ptSrc, unsigned long ulRoom, unsigned long ulOverhead,
                  const char *szFailLine) {
    if (Nandkeep_TakeSource(ptSrc) == 0) {
        if (ptSrc->ulSize + ulOverhead <= ulRoom) {
            return 0;
        }
        Nandkeep_Notify("size too large");
    }
    puts(szFailLine);
    return -1;
}

// The DTB file must be an image itself. The writer compares bytes, not format: a raw blob would be
// written behind both kernels, and recovery would refuse every kernel copy as a source from then
// on. Kernel and rootfs files are judged in flash, after their backup copy is written.
int PreflightDTB(TSource *ptDTB) {
    if (Nandkeep_CheckImageSource(ptDTB) == -1) {
        puts("update DTB 1 fail");
        return -1;
    }
    return 0;
}

// The most a file can take in the area it goes to: the whole region for an image, the region
// behind the smallest image for a sub-image.
constexpr unsigned long ROOM_OF[] = {BOOT_SIZE, KERNEL_SIZE, KERNEL_SIZE, ROOTFS_SIZE,
                                     ROOTFS_SIZE - CONFIG_OVERHEAD};

// The files of one command, counted before the device is locked.
void PrepareSources(TCommand *ptCmd, int iFirstWord, const EUpgradeFile *peFiles, int iCount) {
    for (int i = 0; i < iCount; i++) {
        Nandkeep_PrepareSource(&ptCmd->atSrc[i], ptCmd->ppArgv[iFirstWord + i],
                               ROOM_OF[peFiles[i]]);
    }
}

} // namespace

// The range is checked from the command line, and the file counted, before the device is locked.
int Prepare_Write(TCommand *ptCmd) {
    ptCmd->iFlag = (ptCmd->iArgc > 5 && strcmp(ptCmd->ppArgv[5], "HTTP") == 0) ? 1 : 0;
    const unsigned long ulOffset = Nandkeep_ParseHexWarned(ptCmd->ppArgv[3], NANDKEEP_WARN_OFFSET);
    const unsigned long ulLen = Nandkeep_ParseHexWarned(ptCmd->ppArgv[4], NANDKEEP_WARN_LENGTH);
    // An unaligned erase request fails in the driver and would retire a good block.
    if (MTD0EraseSize() == 0 || ulOffset % MTD0EraseSize() != 0) {
        Nandkeep_Notify("offset is not a multiple of the erase block");
        return -1;
    }
    // Within 4 GiB, blocks past the end of the device are stepped over like bad ones.
    if (Nandkeep_CheckReach(ulOffset, ulLen) == -1) {
        return -1;
    }
    ptCmd->aulArg[0] = ulOffset;
    ptCmd->aulArg[1] = ulLen;
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], ulLen);
    return Nandkeep_TakeSource(&ptCmd->atSrc[0]) == -1 ? -1 : NANDKEEP_RUN;
}

int Cmd_Write(TCommand *ptCmd) {
    return Nandkeep_WriteImageSource(&ptCmd->atSrc[0], ptCmd->aulArg[0], ptCmd->aulArg[1],
                                     ptCmd->iFlag);
}

// Every file of upgradeFW, in the order of the steps that use it, so that a missing or oversized
// file (or a DTB that is not an image) stops the upgrade before the first erase instead of half
// way; all of it before the device is locked.
int Prepare_UpgradeFW(TCommand *ptCmd) {
    constexpr EUpgradeFile AFILES[] = {FILE_BOOT, FILE_KERNEL, FILE_DTB, FILE_ROOTFS, FILE_DEFCONF};
    PrepareSources(ptCmd, 2, AFILES, 5);
    TSource *atSrc = ptCmd->atSrc;
    if (PreflightFile(&atSrc[FILE_BOOT], BOOT_SIZE, 0, "update Boot fail") == -1 ||
        PreflightFile(&atSrc[FILE_ROOTFS], ROOTFS_SIZE, 0, "update Rootfs 1 fail") == -1 ||
        PreflightFile(&atSrc[FILE_DEFCONF],
                      SubImageRoom(&atSrc[FILE_ROOTFS], ROOTFS1_OFFSET, ROOTFS_SIZE),
                      CONFIG_OVERHEAD, "update Default Value 1 fail") == -1 ||
        PreflightFile(&atSrc[FILE_KERNEL], KERNEL_SIZE, 0, "update Kernel 1 fail") == -1 ||
        PreflightFile(&atSrc[FILE_DTB],
                      SubImageRoom(&atSrc[FILE_KERNEL], KERNEL1_OFFSET, KERNEL_SIZE), 0,
                      "update DTB 1 fail") == -1 ||
        PreflightDTB(&atSrc[FILE_DTB]) == -1) {
        return -1;
    }
    return NANDKEEP_RUN;
}

// Backup copies first (rootfs 1 with Default Value 1, kernel 1 with DTB 1), then flashstatus 1,
// then the normal copies. Nothing is rolled back after a failure.
int Cmd_UpgradeFW(TCommand *ptCmd) {
    TSource *atSrc = ptCmd->atSrc;
    if (WriteRegion(&atSrc[FILE_BOOT], BOOT_OFFSET, BOOT_SIZE, "update Boot fail") == -1 ||
        WriteRegion(&atSrc[FILE_ROOTFS], ROOTFS1_OFFSET, ROOTFS_SIZE, "update Rootfs 1 fail") ==
            -1 ||
        Nandkeep_WriteDefConfCopy(&atSrc[FILE_DEFCONF], 1) == -1 ||
        WriteRegion(&atSrc[FILE_KERNEL], KERNEL1_OFFSET, KERNEL_SIZE, "update Kernel 1 fail") ==
            -1 ||
        WriteDTB(&atSrc[FILE_DTB], 1) == -1) {
        return -1;
    }
    (void)Plat_System(FLASHSTATUS_COMMAND);
    if (WriteRegion(&atSrc[FILE_KERNEL], KERNEL0_OFFSET, KERNEL_SIZE, "update Kernel 0 fail") ==
            -1 ||
        WriteDTB(&atSrc[FILE_DTB], 0) == -1 ||
        WriteRegion(&atSrc[FILE_ROOTFS], ROOTFS0_OFFSET, ROOTFS_SIZE, "update Rootfs 0 fail") ==
            -1 ||
        Nandkeep_WriteDefConfCopy(&atSrc[FILE_DEFCONF], 0) == -1) {
        return -1;
    }
    return 0;
}

int Prepare_UpdateBoot(TCommand *ptCmd) {
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], BOOT_SIZE);
    ptCmd->aulArg[0] = BOOT_OFFSET;
    ptCmd->aulArg[1] = BOOT_SIZE;
    return Nandkeep_TakeSource(&ptCmd->atSrc[0]) == -1 ? -1 : NANDKEEP_RUN;
}

int Prepare_UpdateBst(TCommand *ptCmd) {
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], BST_SIZE);
    ptCmd->aulArg[0] = BST_OFFSET;
    ptCmd->aulArg[1] = BST_SIZE;
    return Nandkeep_TakeSource(&ptCmd->atSrc[0]) == -1 ? -1 : NANDKEEP_RUN;
}

int Cmd_UpdateBootOrBst(TCommand *ptCmd) {
    return Nandkeep_WriteImageSource(&ptCmd->atSrc[0], ptCmd->aulArg[0], ptCmd->aulArg[1], 0);
}

int Prepare_UpdateDTB(TCommand *ptCmd) {
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], ROOM_OF[FILE_DTB]);
    return PreflightDTB(&ptCmd->atSrc[0]) == -1 ? -1 : NANDKEEP_RUN;
}

int Cmd_UpdateDTB(TCommand *ptCmd) {
    if (WriteDTB(&ptCmd->atSrc[0], 1) == -1 || WriteDTB(&ptCmd->atSrc[0], 0) == -1) {
        return -1;
    }
    return 0;
}
