// The simulator's platform: the MTD character devices of one simulated chip, behaving like
// mtdchar over a NAND driver, and the rest of the platform seam inside the device directory.
//
// Like the store, this file keeps to plain C buffers: see sim_store.h.
//
// "/dev/mtdN" is partition N of the device's table. A descriptor is a real descriptor (on
// /dev/null) so that its number is unique in the process, plus a file position on its
// partition; every offset a descriptor sees is relative to its partition. Each node keeps its
// own ECC counters and bad-block mark count, as the kernel's partitions do.
//
// With NANDKEEP_SIM_TRACE set, every erase and program operation appends one line to that file
// as it happens, with one write() on an O_APPEND descriptor: a process killed by the power cut
// has written the line of the operation that killed it.
#include "platform/platform.h"
#include "platform/devlock.h"
#include "platform/hostfiles.h"
#include "sim/sim_store.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TSimFd {
    bool bUsed;
    int iFd;
    int iPart;
    uint64_t ullPos;
};

constexpr int FDS_MAX = 64;
constexpr const char *MTD_NODE_PREFIX = "/dev/mtd";

TSimFd g_atFds[FDS_MAX] = {};
TSimDevice g_tDev;
bool g_bDevOpen = false;
dev_t g_tStateDev = 0;
ino_t g_tStateIno = 0;
bool g_bDirSet = false;
char g_szDirSet[PATH_MAX];
char g_szDir[PATH_MAX];
char g_szVerifyPath[PATH_MAX + 32];
int g_iTraceFd = -1;
char g_szTracePath[PATH_MAX];
TNandOpHook g_pfnObserver = nullptr;
// The chip's clock: the time its operations took in this process, as a NAND chip of this size
// takes it (a page read 25 us, a page program 250 us, a block erase 2 ms). Progress is paced by
// it, so what a terminal shows of a command is the same at every run.
constexpr uint64_t READ_US = 25, PROGRAM_US = 250, ERASE_US = 2000;
uint64_t g_ullChipUs = 0;
uint64_t Pages(size_t ulLen) {
    return (ulLen + SIM_PAGE_SIZE - 1) / SIM_PAGE_SIZE;
}

// The operation hook of the platform's chip: one trace line per counted operation, and the
// in-process observer.
void TraceOperation(char cKind, uint32_t dwBlock) {
    if (g_pfnObserver != nullptr) {
        g_pfnObserver(cKind, dwBlock);
    }
    const char *pszPath = getenv(SIM_TRACE_ENV);
    if (pszPath == nullptr || *pszPath == '\0') {
        return;
    }
    if (strcmp(pszPath, g_szTracePath) != 0) {
        if (g_iTraceFd >= 0) {
            close(g_iTraceFd);
        }
        snprintf(g_szTracePath, sizeof(g_szTracePath), "%s", pszPath);
        g_iTraceFd = open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (g_iTraceFd < 0) {
            // Said once per name: the run goes on untraced.
            dprintf(STDERR_FILENO, "nandkeep-sim: cannot open the trace file %s: %s\n", pszPath,
                    strerror(errno));
        }
    }
    if (g_iTraceFd < 0) {
        return;
    }
    char acLine[16];
    int iLen = snprintf(acLine, sizeof(acLine), "%c %u\n", cKind, dwBlock);
    ssize_t lRet = write(g_iTraceFd, acLine, (size_t)iLen);
    (void)lRet;
}

void ResetFds() {
    for (TSimFd &tFd : g_atFds) {
        if (tFd.bUsed) {
            close(tFd.iFd);
        }
        tFd = TSimFd{};
    }
}

TSimFd *FindFd(int iFd) {
    if (iFd >= 0 && g_bDevOpen) {
        for (TSimFd &tFd : g_atFds) {
            if (tFd.bUsed && tFd.iFd == iFd) {
                return &tFd;
            }
        }
    }
    errno = EBADF;
    return nullptr;
}

// <dir>/<name> into pszOut (PATH_MAX bytes); false when it does not fit.
bool DirPath(char *pszOut, const char *pszName) {
    int iLen = snprintf(pszOut, PATH_MAX, "%s/%s", Sim_Dir(), pszName);
    return iLen >= 0 && iLen < PATH_MAX;
}

// Opens the device of the current directory, or keeps the open one while it is the same.
int EnsureDevice() {
    struct stat tStat;
    char szState[PATH_MAX];
    if (!DirPath(szState, "state.bin") || stat(szState, &tStat) != 0) {
        Sim_ResetPlatform();
        errno = ENOENT;
        return -1;
    }
    const char *pszDir = Sim_Dir();
    if (g_bDevOpen && strcmp(g_tDev.szDir, pszDir) == 0 && g_tStateDev == tStat.st_dev &&
        g_tStateIno == tStat.st_ino) {
        return 0;
    }
    Sim_ResetPlatform();
    if (Sim_Open(&g_tDev, pszDir) != 0) {
        errno = ENOENT;
        return -1;
    }
    g_tDev.tNand.pfnOnOp = TraceOperation;
    g_bDevOpen = true;
    g_tStateDev = tStat.st_dev;
    g_tStateIno = tStat.st_ino;
    return 0;
}

// The partition number of "/dev/mtdN", or -1.
int NodeIndex(const char *pszPath) {
    size_t ulPrefix = strlen(MTD_NODE_PREFIX);
    if (strncmp(pszPath, MTD_NODE_PREFIX, ulPrefix) != 0) {
        return -1;
    }
    const char *pszNum = pszPath + ulPrefix;
    size_t ulDigits = strspn(pszNum, "0123456789");
    if (ulDigits == 0 || ulDigits > 3 || pszNum[ulDigits] != '\0' ||
        (pszNum[0] == '0' && ulDigits > 1)) {
        return -1;
    }
    return atoi(pszNum);
}

const TSimPartition &PartOf(const TSimFd *ptFd) {
    return g_tDev.atParts[ptFd->iPart];
}

// The driver's answer to a chip that lost power: the process dies on the spot.
void LosePower() {
    raise(SIGKILL);
    _exit(137);
}

int CheckBlockQuery(const TSimFd *ptFd, int64_t llOffset) {
    if (llOffset < 0 || (uint64_t)llOffset >= PartOf(ptFd).ullSize) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

TSimNodeCounters *NodeOf(const TSimFd *ptFd) {
    return &g_tDev.tNand.ptHdr->atNodes[ptFd->iPart];
}

uint32_t BlockOf(const TSimFd *ptFd, uint64_t ullOffset) {
    return (uint32_t)((PartOf(ptFd).ullOffset + ullOffset) / SIM_BLOCK_SIZE);
}

// True when tStat is one of the files in the directory pszSub of the state directory ("" for the
// directory itself).
bool IsFileIn(const struct stat &tStat, const char *pszSub) {
    char szDir[PATH_MAX];
    if (!DirPath(szDir, pszSub)) {
        return false;
    }
    DIR *ptDir = opendir(szDir);
    if (ptDir == nullptr) {
        return false;
    }
    bool bFound = false;
    for (struct dirent *ptEnt = readdir(ptDir); ptEnt != nullptr && !bFound;
         ptEnt = readdir(ptDir)) {
        struct stat tFile;
        bFound = fstatat(dirfd(ptDir), ptEnt->d_name, &tFile, 0) == 0 && S_ISREG(tFile.st_mode) &&
                 tFile.st_dev == tStat.st_dev && tFile.st_ino == tStat.st_ino;
    }
    closedir(ptDir);
    return bFound;
}

// The simulated device is its state directory: an output file that is one of its files (by name,
// link or symlink) would truncate the mapped chip under the process, or its partition list, its
// lock, its system log, its parameter store or the programs of the flashstatus command.
bool IsBacking(const struct stat &tStat) {
    return IsFileIn(tStat, "") || IsFileIn(tStat, "bin");
}

} // namespace

bool HostFiles_IsFlash(const struct stat &tStat) {
    return IsBacking(tStat);
}

void Sim_SetOperationObserver(TNandOpHook pfnObserver) {
    g_pfnObserver = pfnObserver;
}

void Sim_SetDir(const char *pszDir) {
    g_bDirSet = pszDir != nullptr;
    if (g_bDirSet) {
        snprintf(g_szDirSet, sizeof(g_szDirSet), "%s", pszDir);
    }
    Sim_ResetPlatform();
}

const char *Sim_Dir(void) {
    const char *pszEnv = getenv(SIM_DIR_ENV);
    const char *pszDir = g_bDirSet                                ? g_szDirSet
                         : (pszEnv != nullptr && *pszEnv != '\0') ? pszEnv
                                                                  : SIM_DEFAULT_DIR;
    snprintf(g_szDir, sizeof(g_szDir), "%s", pszDir);
    return g_szDir;
}

void Sim_ResetPlatform(void) {
    ResetFds();
    if (g_iTraceFd >= 0) {
        close(g_iTraceFd);
        g_iTraceFd = -1;
    }
    g_szTracePath[0] = '\0';
    if (g_bDevOpen) {
        Sim_Close(&g_tDev);
        g_bDevOpen = false;
    }
}

int Sim_OpenNodes(void) {
    return static_cast<int>(std::count_if(std::begin(g_atFds), std::end(g_atFds),
                                          [](const TSimFd &tFd) { return tFd.bUsed; }));
}

int Plat_OpenMtd(const char *pszPath) {
    if (EnsureDevice() != 0) {
        return -1;
    }
    int iPart = NodeIndex(pszPath);
    if (iPart < 0 || iPart >= g_tDev.iPartCount) {
        errno = ENOENT;
        return -1;
    }
    TSimFd *ptSlot = nullptr;
    for (TSimFd &tFd : g_atFds) {
        if (!tFd.bUsed) {
            ptSlot = &tFd;
            break;
        }
    }
    if (ptSlot == nullptr) {
        errno = EMFILE;
        return -1;
    }
    int iFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (iFd < 0) {
        return -1;
    }
    *ptSlot = TSimFd{true, iFd, iPart, 0};
    return iFd;
}

int Plat_Close(int iFd) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr) {
        return -1;
    }
    *ptFd = TSimFd{};
    return close(iFd);
}

ssize_t Plat_Read(int iFd, void *pBuf, size_t ulLen) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr) {
        return -1;
    }
    const TSimPartition &tPart = PartOf(ptFd);
    if (ptFd->ullPos >= tPart.ullSize || ulLen == 0) {
        return 0;
    }
    if (Sim_MapCells(&g_tDev) != 0 || Nand_CallFails(&g_tDev.tNand, SIM_FAULT_READ_FAIL) == 1) {
        errno = EIO;
        return -1;
    }
    size_t ulTake = (size_t)std::min<uint64_t>(ulLen, tPart.ullSize - ptFd->ullPos);
    ulTake = Nand_ClipRead(&g_tDev.tNand, ulTake);
    // An uncorrectable page still delivers its bytes with success; only the counters of the
    // node read through tell.
    Nand_Read(&g_tDev.tNand, tPart.ullOffset + ptFd->ullPos, pBuf, ulTake, NodeOf(ptFd));
    g_ullChipUs += Pages(ulTake) * READ_US;
    ptFd->ullPos += ulTake;
    return (ssize_t)ulTake;
}

ssize_t Plat_Write(int iFd, const void *pBuf, size_t ulLen) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr) {
        return -1;
    }
    const TSimPartition &tPart = PartOf(ptFd);
    if (ptFd->ullPos >= tPart.ullSize) {
        errno = ENOSPC;
        return -1;
    }
    size_t ulTake = (size_t)std::min<uint64_t>(ulLen, tPart.ullSize - ptFd->ullPos);
    if (ulTake == 0) {
        return 0;
    }
    // The driver programs whole sub-pages.
    if (ptFd->ullPos % SIM_SUBPAGE_SIZE != 0 || ulTake % SIM_SUBPAGE_SIZE != 0) {
        errno = EINVAL;
        return -1;
    }
    if (Sim_MapCells(&g_tDev) != 0) {
        errno = EIO;
        return -1;
    }
    ulTake = Nand_ClipWrite(&g_tDev.tNand, ulTake);
    int iRet = Nand_Program(&g_tDev.tNand, tPart.ullOffset + ptFd->ullPos, pBuf, ulTake);
    g_ullChipUs += Pages(ulTake) * PROGRAM_US;
    if (iRet == NAND_POWER_LOST) {
        LosePower();
    }
    if (iRet != NAND_OK) {
        errno = EIO;
        return -1;
    }
    ptFd->ullPos += ulTake;
    return (ssize_t)ulTake;
}

off_t Plat_Lseek(int iFd, off_t lOffset, int iWhence) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr) {
        return -1;
    }
    int64_t llBase;
    switch (iWhence) {
    case SEEK_SET:
        llBase = 0;
        break;
    case SEEK_CUR:
        llBase = (int64_t)ptFd->ullPos;
        break;
    case SEEK_END:
        llBase = (int64_t)PartOf(ptFd).ullSize;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    int64_t llPos = llBase + (int64_t)lOffset;
    if (llPos < 0 || (uint64_t)llPos > PartOf(ptFd).ullSize) {
        errno = EINVAL;
        return -1;
    }
    ptFd->ullPos = (uint64_t)llPos;
    return (off_t)llPos;
}

int Plat_MemErase(int iFd, uint32_t dwStart, uint32_t dwLength) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr) {
        return -1;
    }
    uint64_t ullSize = PartOf(ptFd).ullSize;
    if (dwStart >= ullSize || dwLength > ullSize - dwStart) {
        errno = EINVAL;
        return -1;
    }
    if (dwLength == 0) {
        return 0;
    }
    if (dwStart % SIM_BLOCK_SIZE != 0 || dwLength % SIM_BLOCK_SIZE != 0) {
        errno = EINVAL;
        return -1;
    }
    if (Sim_MapCells(&g_tDev) != 0) {
        errno = EIO;
        return -1;
    }
    // Block by block, stopping at the first that fails; the driver marks nothing by itself.
    for (uint64_t ullPos = dwStart; ullPos < (uint64_t)dwStart + dwLength;
         ullPos += SIM_BLOCK_SIZE) {
        int iRet = Nand_Erase(&g_tDev.tNand, BlockOf(ptFd, ullPos));
        g_ullChipUs += ERASE_US;
        if (iRet == NAND_POWER_LOST) {
            LosePower();
        }
        if (iRet != NAND_OK) {
            errno = EIO;
            return -1;
        }
    }
    return 0;
}

uint64_t Plat_Milliseconds(void) {
    return g_ullChipUs / 1000;
}

// The host's wall clock, as on a device: the chip's own clock above starts at 0 in every process.
int64_t Plat_WallClock(void) {
    return time(nullptr);
}

int Plat_MemGetBadBlock(int iFd, int64_t llOffset) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr || CheckBlockQuery(ptFd, llOffset) != 0) {
        return -1;
    }
    return Nand_IsBad(&g_tDev.tNand, BlockOf(ptFd, (uint64_t)llOffset));
}

int Plat_MemSetBadBlock(int iFd, int64_t llOffset) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr || CheckBlockQuery(ptFd, llOffset) != 0) {
        return -1;
    }
    // Marking a good block erases it first.
    if (Sim_MapCells(&g_tDev) != 0) {
        errno = EIO;
        return -1;
    }
    const int iRet =
        Nand_MarkBadThrough(&g_tDev.tNand, BlockOf(ptFd, (uint64_t)llOffset), NodeOf(ptFd));
    if (iRet == NAND_POWER_LOST) {
        LosePower();
    }
    if (iRet == NAND_FAILED) {
        errno = EIO;
        return -1;
    }
    return 0;
}

int Plat_EccGetStats(int iFd, TEccStats *ptStats) {
    TSimFd *ptFd = FindFd(iFd);
    if (ptFd == nullptr) {
        return -1;
    }
    if (Sim_MapCells(&g_tDev) != 0 || Nand_CallFails(&g_tDev.tNand, SIM_FAULT_ECC_FAIL) == 1) {
        errno = EIO;
        return -1;
    }
    *ptStats = Sim_EccStatsOf(&g_tDev, ptFd->iPart);
    return 0;
}

FILE *Plat_OpenProcMtd(void) {
    char szPath[PATH_MAX];
    if (!DirPath(szPath, "proc_mtd")) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return fopen(szPath, "re");
}

void Plat_SyslogErr(const char *pszMsg) {
    char szPath[PATH_MAX];
    int iFd = DirPath(szPath, "syslog")
                  ? open(szPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)
                  : -1;
    if (iFd < 0) {
        return;
    }
    // One write per line, so that lines of different processes never interleave. The line says
    // what a system logger writes after its time stamp: facility.priority and the identity.
    static const char s_acPrefix[] = "user.err nandkeep: ";
    const size_t ulPrefix = sizeof(s_acPrefix) - 1;
    size_t ulLen = ulPrefix + strlen(pszMsg);
    char *pszLine = static_cast<char *>(malloc(ulLen + 2));
    if (pszLine != nullptr) {
        memcpy(pszLine, s_acPrefix, ulPrefix);
        memcpy(pszLine + ulPrefix, pszMsg, ulLen - ulPrefix);
        pszLine[ulLen] = '\n';
        ssize_t lRet = write(iFd, pszLine, ulLen + 1);
        (void)lRet;
        free(pszLine);
    }
    close(iFd);
}

int Plat_System(const char *pszCommand) {
    char szDir[PATH_MAX];
    snprintf(szDir, sizeof(szDir), "%s", Sim_Dir());
    const char *pszOld = getenv("PATH");
    char *pszOldPath = pszOld ? strdup(pszOld) : nullptr;
    const char *pszOldEnvDir = getenv(SIM_DIR_ENV);
    char *pszOldDir = pszOldEnvDir ? strdup(pszOldEnvDir) : nullptr;
    // The device programs live in <dir>/bin, searched after the caller's PATH: a stand-in that a
    // test puts in a directory of its own, first in PATH, is found first, as on a real device.
    size_t ulPathLen = strlen(szDir) + 6 + (pszOldPath ? strlen(pszOldPath) : 0);
    char *pszPath = static_cast<char *>(malloc(ulPathLen + 1));
    if (pszPath == nullptr) {
        free(pszOldPath);
        free(pszOldDir);
        errno = ENOMEM;
        return -1;
    }
    snprintf(pszPath, ulPathLen + 1, "%s%s%s/bin", pszOldPath ? pszOldPath : "",
             pszOldPath ? ":" : "", szDir);
    setenv("PATH", pszPath, 1);
    setenv(SIM_DIR_ENV, szDir, 1);
    int iRet = DevLock_System(pszCommand);
    int iErr = errno;
    if (pszOldPath) {
        setenv("PATH", pszOldPath, 1);
    } else {
        unsetenv("PATH");
    }
    if (pszOldDir) {
        setenv(SIM_DIR_ENV, pszOldDir, 1);
    } else {
        unsetenv(SIM_DIR_ENV);
    }
    free(pszPath);
    free(pszOldPath);
    free(pszOldDir);
    errno = iErr;
    return iRet;
}

const char *Plat_VerifyResultPath(void) {
    // A message the log-fail fault fails goes where no byte can be written.
    if (Sim_MapCells(&g_tDev) == 0 && Nand_CallFails(&g_tDev.tNand, SIM_FAULT_LOG_FAIL) == 1) {
        return "/dev/full";
    }
    snprintf(g_szVerifyPath, sizeof(g_szVerifyPath), "%s/ramdisk/flashVerifyResult", Sim_Dir());
    return g_szVerifyPath;
}

// The device is its state directory: the lock is the file "lock" there (a node such as /dev/null
// would be shared by every device and every other program).
int Plat_LockDevice(const char *pszWholeDevice, int bWait) {
    (void)pszWholeDevice;
    char szPath[PATH_MAX];
    if (!DirPath(szPath, "lock")) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return DevLock_Take(szPath, O_RDWR | O_CREAT, 0644, bWait);
}
