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

int WriteRegion(const char *szFile, unsigned long ulOffset, unsigned long ulLen,
                const char *szFailLine) {
    if (Nandkeep_WriteImage(szFile, ulOffset, ulLen, 0) == -1) {
        puts(szFailLine);
        return -1;
    }
    return 0;
}

unsigned long KernelRegion(int iCopy) {
    return iCopy == 1 ? KERNEL1_OFFSET : KERNEL0_OFFSET;
}

// The DTB file, byte for byte, from the sub-image offset of kernel copy iCopy to the region end.
int WriteDTB(const char *szFile, int iCopy) {
    const unsigned long ulRegion = KernelRegion(iCopy);
    unsigned long ulSub = 0;
    if (Nandkeep_LocateSubImage(ulRegion, KERNEL_SIZE, &ulSub) == -1) {
        printf("get DTB %d offset fail\n", iCopy);
        return -1;
    }
    if (Nandkeep_WriteImage(szFile, ulSub, ulRegion + KERNEL_SIZE - ulSub, 0) == -1) {
        printf("update DTB %d fail\n", iCopy);
        return -1;
    }
    return 0;
}

// Room left behind the image that szImage will put at the start of a region without bad blocks:
// an upper bound of the sub-image's area, since bad blocks only push the sub-image further. A
// file that does not start with a plausible image header gives the whole region: its image
// check will fail on the flash.
unsigned long SubImageRoom(const char *szImage, unsigned long ulRegion, unsigned long ulLen) {
    unsigned long ulSize = 0;
    FILE *pFile = Nandkeep_OpenSourceFile(szImage, &ulSize, nullptr);
    if (pFile == nullptr) {
        return ulLen;
    }
    unsigned char aucHeader[MKIMG_HEADER_SIZE];
    const bool bHeader = fread(aucHeader, 1, sizeof(aucHeader), pFile) == sizeof(aucHeader);
    fclose(pFile);
    if (!bHeader || Nandkeep_GetBE32(aucHeader) != MKIMG_MAGIC) {
        return ulLen;
    }
    const unsigned long ulImageLen =
        MKIMG_HEADER_SIZE + Nandkeep_GetBE32(aucHeader + MKIMG_SIZE_OFFSET);
    if (ulImageLen > ulSize) {
        return ulLen;
    }
    const unsigned long ulEnd = ulRegion + ulImageLen;
    const unsigned long ulSub = Nandkeep_SubImageOffset(ulEnd);
    return ulSub < ulRegion + ulLen ? ulRegion + ulLen - ulSub : 0;
}

// One file of an upgrade checked before anything is erased: readable, regular, and no larger
// than the most its area can take (ulOverhead: what the store adds around the file).
int PreflightFile(const char *szFile, unsigned long ulRoom, unsigned long ulOverhead,
                  const char *szFailLine) {
    unsigned long ulSize = 0;
    FILE *pFile = Nandkeep_OpenSourceFile(szFile, &ulSize, nullptr);
    if (pFile != nullptr) {
        fclose(pFile);
        if (ulSize + ulOverhead <= ulRoom) {
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
int PreflightDTB(const char *szDTB) {
    if (Nandkeep_CheckImageFile(szDTB) == -1) {
        puts("update DTB 1 fail");
        return -1;
    }
    return 0;
}

// Every file of upgradeFW, in the order of the steps that use it, so that a missing or oversized
// file (or a DTB that is not an image) stops the upgrade before the first erase instead of half
// way.
int PreflightUpgrade(char **ppArgv) {
    const char *szBoot = ppArgv[2], *szKernel = ppArgv[3], *szDTB = ppArgv[4];
    const char *szRootfs = ppArgv[5], *szDefConf = ppArgv[6];
    if (PreflightFile(szBoot, BOOT_SIZE, 0, "update Boot fail") == -1 ||
        PreflightFile(szRootfs, ROOTFS_SIZE, 0, "update Rootfs 1 fail") == -1 ||
        PreflightFile(szDefConf, SubImageRoom(szRootfs, ROOTFS1_OFFSET, ROOTFS_SIZE),
                      CONFIG_OVERHEAD, "update Default Value 1 fail") == -1 ||
        PreflightFile(szKernel, KERNEL_SIZE, 0, "update Kernel 1 fail") == -1 ||
        PreflightFile(szDTB, SubImageRoom(szKernel, KERNEL1_OFFSET, KERNEL_SIZE), 0,
                      "update DTB 1 fail") == -1 ||
        PreflightDTB(szDTB) == -1) {
        return -1;
    }
    return 0;
}

} // namespace

int Cmd_Write(int iArgc, char **ppArgv) {
    const int bHTTP = (iArgc > 5 && strcmp(ppArgv[5], "HTTP") == 0) ? 1 : 0;
    const unsigned long ulOffset = Nandkeep_ParseHexWarned(ppArgv[3], NANDKEEP_WARN_OFFSET);
    const unsigned long ulLen = Nandkeep_ParseHexWarned(ppArgv[4], NANDKEEP_WARN_LENGTH);
    // An unaligned erase request fails in the driver and would retire a good block.
    if (MTD0EraseSize() == 0 || ulOffset % MTD0EraseSize() != 0) {
        Nandkeep_Notify("offset is not a multiple of the erase block");
        return -1;
    }
    // Within 4 GiB, blocks past the end of the device are stepped over like bad ones.
    if (Nandkeep_CheckReach(ulOffset, ulLen) == -1) {
        return -1;
    }
    return Nandkeep_WriteImage(ppArgv[2], ulOffset, ulLen, bHTTP);
}

// Backup copies first (rootfs 1 with Default Value 1, kernel 1 with DTB 1), then flashstatus 1,
// then the normal copies. Nothing is rolled back after a failure.
int Cmd_UpgradeFW(int iArgc, char **ppArgv) {
    (void)iArgc;
    const char *szBoot = ppArgv[2], *szKernel = ppArgv[3], *szDTB = ppArgv[4];
    const char *szRootfs = ppArgv[5], *szDefConf = ppArgv[6];
    if (PreflightUpgrade(ppArgv) == -1) {
        return -1;
    }
    if (WriteRegion(szBoot, BOOT_OFFSET, BOOT_SIZE, "update Boot fail") == -1 ||
        WriteRegion(szRootfs, ROOTFS1_OFFSET, ROOTFS_SIZE, "update Rootfs 1 fail") == -1 ||
        Nandkeep_WriteDefConfCopy(szDefConf, 1) == -1 ||
        WriteRegion(szKernel, KERNEL1_OFFSET, KERNEL_SIZE, "update Kernel 1 fail") == -1 ||
        WriteDTB(szDTB, 1) == -1) {
        return -1;
    }
    (void)Plat_System(FLASHSTATUS_COMMAND);
    if (WriteRegion(szKernel, KERNEL0_OFFSET, KERNEL_SIZE, "update Kernel 0 fail") == -1 ||
        WriteDTB(szDTB, 0) == -1 ||
        WriteRegion(szRootfs, ROOTFS0_OFFSET, ROOTFS_SIZE, "update Rootfs 0 fail") == -1 ||
        Nandkeep_WriteDefConfCopy(szDefConf, 0) == -1) {
        return -1;
    }
    return 0;
}

int Cmd_UpdateBoot(int iArgc, char **ppArgv) {
    (void)iArgc;
    return Nandkeep_WriteImage(ppArgv[2], BOOT_OFFSET, BOOT_SIZE, 0);
}

int Cmd_UpdateBst(int iArgc, char **ppArgv) {
    (void)iArgc;
    return Nandkeep_WriteImage(ppArgv[2], BST_OFFSET, BST_SIZE, 0);
}

int Cmd_UpdateDTB(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (PreflightDTB(ppArgv[2]) == -1 || WriteDTB(ppArgv[2], 1) == -1 ||
        WriteDTB(ppArgv[2], 0) == -1) {
        return -1;
    }
    return 0;
}
