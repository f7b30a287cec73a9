// The production platform: plain syscalls on the kernel's MTD character devices.
#include "platform/platform.h"
#include "platform/devlock.h"
#include "platform/hostfiles.h"

#include <ctime>
#include <fcntl.h>
#include <linux/major.h>
#include <mtd/mtd-abi.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <syslog.h>
#include <unistd.h>

static_assert(sizeof(TEccStats) == sizeof(struct mtd_ecc_stats), "ECC record layout");

namespace {

// The device numbers of the MTD nodes this process opened, so that an output file that is one
// of them is refused: writing a copy "into a file" there would program the flash.
constexpr int MTD_NODES_MAX = 64;
dev_t g_atMtdNodes[MTD_NODES_MAX];
int g_iMtdNodes = 0;
bool g_bMtdNodesFull = false;

void RememberMtdNode(int iFd) {
    struct stat tStat;
    if (fstat(iFd, &tStat) != 0 || !S_ISCHR(tStat.st_mode)) {
        return;
    }
    if (g_iMtdNodes < MTD_NODES_MAX) {
        g_atMtdNodes[g_iMtdNodes++] = tStat.st_rdev;
    } else {
        g_bMtdNodesFull = true;
    }
}

} // namespace

// A node the process opened, or the block device over the same partition: mtdchar numbers
// partition N's node 2N, the block layer numbers its mtdblock N. With more nodes than the list
// holds, every MTD node counts as the flash.
bool HostFiles_IsFlash(const struct stat &tStat) {
    if (S_ISCHR(tStat.st_mode) && g_bMtdNodesFull && major(tStat.st_rdev) == MTD_CHAR_MAJOR) {
        return true;
    }
    for (int i = 0; i < g_iMtdNodes; i++) {
        if (S_ISCHR(tStat.st_mode) && tStat.st_rdev == g_atMtdNodes[i]) {
            return true;
        }
        if (S_ISBLK(tStat.st_mode) && major(tStat.st_rdev) == MTD_BLOCK_MAJOR &&
            minor(tStat.st_rdev) == minor(g_atMtdNodes[i]) / 2) {
            return true;
        }
    }
    return false;
}

int Plat_OpenMtd(const char *pszPath) {
    int iFd = open(pszPath, O_RDWR | O_SYNC | O_CLOEXEC);
    if (iFd >= 0) {
        RememberMtdNode(iFd);
    }
    return iFd;
}

int Plat_Close(int iFd) {
    return close(iFd);
}

ssize_t Plat_Read(int iFd, void *pBuf, size_t ulLen) {
    return read(iFd, pBuf, ulLen);
}

ssize_t Plat_Write(int iFd, const void *pBuf, size_t ulLen) {
    return write(iFd, pBuf, ulLen);
}

off_t Plat_Lseek(int iFd, off_t lOffset, int iWhence) {
    return lseek(iFd, lOffset, iWhence);
}

int Plat_MemErase(int iFd, uint32_t dwStart, uint32_t dwLength) {
    struct erase_info_user stErase;
    stErase.start = dwStart;
    stErase.length = dwLength;
    return ioctl(iFd, MEMERASE, &stErase);
}

int Plat_MemGetBadBlock(int iFd, int64_t llOffset) {
    loff_t llPos = llOffset;
    return ioctl(iFd, MEMGETBADBLOCK, &llPos);
}

int Plat_MemSetBadBlock(int iFd, int64_t llOffset) {
    loff_t llPos = llOffset;
    return ioctl(iFd, MEMSETBADBLOCK, &llPos);
}

int Plat_EccGetStats(int iFd, TEccStats *ptStats) {
    struct mtd_ecc_stats stStats;
    if (ioctl(iFd, ECCGETSTATS, &stStats) < 0) {
        return -1;
    }
    ptStats->corrected = stStats.corrected;
    ptStats->failed = stStats.failed;
    ptStats->badblocks = stStats.badblocks;
    ptStats->bbtblocks = stStats.bbtblocks;
    return 0;
}

FILE *Plat_OpenProcMtd(void) {
    return fopen("/proc/mtd", "re");
}

void Plat_SyslogErr(const char *pszMsg) {
    syslog(LOG_ERR, "%s", pszMsg);
}

int Plat_System(const char *pszCommand) {
    return DevLock_System(pszCommand);
}

uint64_t Plat_Milliseconds(void) {
    struct timespec tNow;
    if (clock_gettime(CLOCK_MONOTONIC, &tNow) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(tNow.tv_sec) * 1000 +
           static_cast<uint64_t>(tNow.tv_nsec) / 1000000;
}

int64_t Plat_WallClock(void) {
    return time(nullptr);
}

const char *Plat_VerifyResultPath(void) {
    return "/mnt/ramdisk/flashVerifyResult";
}

// The whole-device node itself: no writable directory is needed, which an initramfs may lack.
// Opened read-only, apart from the descriptors that work on the flash.
int Plat_LockDevice(const char *pszWholeDevice, int bWait) {
    return DevLock_Take(pszWholeDevice, O_RDONLY, 0, bWait);
}
