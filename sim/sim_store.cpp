// The simulated device's state directory: opening, mapping and the chip behind it.
//
// Everything here runs in every simulated invocation, so it stays with plain C buffers (no C++
// library containers): the tool on the simulator then starts as lean as the production one.
#include "sim/sim_store.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The default tables; sim/tables/mtd128.txt and mtd256.txt hold the same values for the
// real-kernel tests, and a test keeps the two in step.
const TSimPartition g_atTable128[] = {
    {"linux", 0x0, 0x8000000},          {"kernel", 0x300000, 0x1200000},
    {"rootfs", 0x1500000, 0x4000000},   {"Flashfs-2", 0x5D00000, 0x2100000},
    {"NFDI", 0x7E00000, 0x200000},      {"flashfs1", 0x5500000, 0x800000},
    {"flashfs2", 0x5D00000, 0x2100000}, {"jffs2", 0x160000, 0x1A0000},
};
const TSimPartition g_atTable256[] = {
    {"linux", 0x0, 0x10000000},         {"kernel", 0x300000, 0x1200000},
    {"rootfs", 0x1500000, 0x4000000},   {"Flashfs-2", 0x6500000, 0x9300000},
    {"NFDI", 0xF800000, 0x800000},      {"flashfs1", 0x5500000, 0x1000000},
    {"flashfs2", 0x6500000, 0x9300000}, {"jffs2", 0x160000, 0x1A0000},
};

constexpr size_t TABLE_LINE_MAX = 512;
constexpr size_t TABLE_FILE_MAX = 0x10000;

char g_szLastError[PATH_MAX + 256];

// Strict hexadecimal conversion of a whole word ("0x" prefix optional).
bool ParseHexWord(const char *pszWord, uint64_t *pullValue) {
    if (*pszWord == '\0' || *pszWord == '-' || *pszWord == '+') {
        return false;
    }
    char *pszEnd = nullptr;
    errno = 0;
    unsigned long long ullValue = strtoull(pszWord, &pszEnd, 16);
    if (errno != 0 || *pszEnd != '\0') {
        return false;
    }
    *pullValue = ullValue;
    return true;
}

// Parses one table line (comment already cut). 1 partition, 0 blank, -1 malformed.
int ParseTableLine(const char *pszLine, int iLine, TSimPartition *ptPart) {
    char szName[TABLE_LINE_MAX];
    char szOffset[TABLE_LINE_MAX];
    char szSize[TABLE_LINE_MAX];
    char szExtra[TABLE_LINE_MAX];
    int iFields = sscanf(pszLine, "%511s %511s %511s %511s", szName, szOffset, szSize, szExtra);
    if (iFields <= 0) {
        return 0;
    }
    if (iFields != 3 || !ParseHexWord(szOffset, &ptPart->ullOffset) ||
        !ParseHexWord(szSize, &ptPart->ullSize)) {
        return Sim_Fail(EINVAL, "table line %d: want \"name offset size\" in hexadecimal", iLine);
    }
    if (strlen(szName) > SIM_NAME_MAX) {
        return Sim_Fail(EINVAL, "table line %d: name longer than %zu characters", iLine,
                        SIM_NAME_MAX);
    }
    memcpy(ptPart->szName, szName, strlen(szName) + 1);
    return 1;
}

void PathIn(char *pszOut, const char *pszDir, const char *pszName) {
    snprintf(pszOut, PATH_MAX, "%s/%s", pszDir, pszName);
}

} // namespace

int Sim_Fail(int iErrno, const char *pszFormat, ...) {
    va_list ap;
    va_start(ap, pszFormat);
    vsnprintf(g_szLastError, sizeof(g_szLastError), pszFormat, ap);
    va_end(ap);
    errno = iErrno;
    return -1;
}

const char *Sim_LastError(void) {
    return g_szLastError;
}

const TSimPartition *Sim_DefaultTable(int iProfileMiB, int *piCount) {
    if (iProfileMiB == 128) {
        *piCount = (int)(sizeof(g_atTable128) / sizeof(g_atTable128[0]));
        return g_atTable128;
    }
    if (iProfileMiB == 256) {
        *piCount = (int)(sizeof(g_atTable256) / sizeof(g_atTable256[0]));
        return g_atTable256;
    }
    *piCount = 0;
    return nullptr;
}

int Sim_ParseTable(const char *pszText, TSimPartition *ptParts, int *piCount) {
    int iCount = 0;
    int iLine = 0;
    for (const char *pszPos = pszText; *pszPos != '\0';) {
        size_t ulLen = strcspn(pszPos, "\n");
        iLine++;
        if (ulLen >= TABLE_LINE_MAX) {
            return Sim_Fail(EINVAL, "table line %d is too long", iLine);
        }
        char szLine[TABLE_LINE_MAX];
        memcpy(szLine, pszPos, ulLen);
        szLine[ulLen] = '\0';
        pszPos += ulLen + (pszPos[ulLen] == '\n' ? 1 : 0);
        char *pszHash = strchr(szLine, '#');
        if (pszHash != nullptr) {
            *pszHash = '\0';
        }
        TSimPartition tPart{};
        int iRet = ParseTableLine(szLine, iLine, &tPart);
        if (iRet < 0) {
            return -1;
        }
        if (iRet == 0) {
            continue;
        }
        if (iCount == SIM_PARTITIONS_MAX) {
            return Sim_Fail(EINVAL, "table line %d: more than %d partitions", iLine,
                            SIM_PARTITIONS_MAX);
        }
        ptParts[iCount++] = tPart;
    }
    *piCount = iCount;
    return 0;
}

int Sim_ReadTableFile(const char *pszPath, TSimPartition *ptParts, int *piCount) {
    FILE *pFile = fopen(pszPath, "r");
    if (pFile == nullptr) {
        return Sim_Fail(errno, "cannot read %s: %s", pszPath, strerror(errno));
    }
    char *pszText = static_cast<char *>(malloc(TABLE_FILE_MAX + 1));
    size_t ulLen = pszText ? fread(pszText, 1, TABLE_FILE_MAX + 1, pFile) : 0;
    bool bError = pszText == nullptr || ferror(pFile);
    fclose(pFile);
    if (bError || ulLen > TABLE_FILE_MAX) {
        free(pszText);
        return Sim_Fail(EINVAL, "cannot read %s: too large or unreadable", pszPath);
    }
    pszText[ulLen] = '\0';
    int iRet = Sim_ParseTable(pszText, ptParts, piCount);
    free(pszText);
    if (iRet != 0) {
        char szWhy[sizeof(g_szLastError)];
        memcpy(szWhy, g_szLastError, sizeof(szWhy));
        return Sim_Fail(EINVAL, "%s: %s", pszPath, szWhy);
    }
    return 0;
}

int Sim_CheckTable(const TSimPartition *ptParts, int iCount, uint64_t ullDevSize) {
    if (iCount < 1 || iCount > SIM_PARTITIONS_MAX) {
        return Sim_Fail(EINVAL, "a table has 1 to %d partitions, not %d", SIM_PARTITIONS_MAX,
                        iCount);
    }
    for (int i = 0; i < iCount; i++) {
        const TSimPartition &tPart = ptParts[i];
        if (tPart.szName[0] == '\0' || strpbrk(tPart.szName, " \t\r\n\"") != nullptr) {
            return Sim_Fail(EINVAL, "partition %d: the name must be one word without quotes", i);
        }
        if (tPart.ullSize == 0 || tPart.ullOffset % SIM_BLOCK_SIZE != 0 ||
            tPart.ullSize % SIM_BLOCK_SIZE != 0) {
            return Sim_Fail(EINVAL, "partition %d (%s): offset and size must be whole erase blocks",
                            i, tPart.szName);
        }
        if (tPart.ullOffset > ullDevSize || tPart.ullSize > ullDevSize - tPart.ullOffset) {
            return Sim_Fail(EINVAL, "partition %d (%s) runs past the 0x%llx-byte device", i,
                            tPart.szName, (unsigned long long)ullDevSize);
        }
    }
    return 0;
}

int Sim_Open(TSimDevice *ptDev, const char *pszDir) {
    memset(ptDev, 0, sizeof(*ptDev));
    ptDev->iFlashFd = -1;
    if (strlen(pszDir) + 32 >= sizeof(ptDev->szDir)) {
        return Sim_Fail(ENAMETOOLONG, "directory name too long");
    }
    snprintf(ptDev->szDir, sizeof(ptDev->szDir), "%s", pszDir);
    char szPath[PATH_MAX];
    PathIn(szPath, pszDir, "state.bin");
    int iFd = open(szPath, O_RDWR | O_CLOEXEC);
    if (iFd < 0) {
        return Sim_Fail(errno, "no simulated device in %s (%s): create one first", pszDir,
                        strerror(errno));
    }
    struct stat tStat;
    if (fstat(iFd, &tStat) != 0 || tStat.st_size < (off_t)sizeof(TSimStateHeader)) {
        close(iFd);
        return Sim_Fail(EINVAL, "%s is not a simulated device's state", szPath);
    }
    size_t ulLen = (size_t)tStat.st_size;
    void *pMap = mmap(nullptr, ulLen, PROT_READ | PROT_WRITE, MAP_SHARED, iFd, 0);
    close(iFd);
    if (pMap == MAP_FAILED) {
        return Sim_Fail(errno, "cannot map %s: %s", szPath, strerror(errno));
    }
    ptDev->pState = pMap;
    ptDev->ulStateLen = ulLen;
    if (Nand_Attach(&ptDev->tNand, pMap, ulLen) != 0) {
        const TSimStateHeader *ptHdr = static_cast<const TSimStateHeader *>(pMap);
        bool bOtherVersion = memcmp(ptHdr->acMagic, SIM_STATE_MAGIC, sizeof(ptHdr->acMagic)) == 0 &&
                             ptHdr->dwVersion != SIM_STATE_VERSION;
        uint32_t dwVersion = ptHdr->dwVersion;
        Sim_Close(ptDev);
        if (bOtherVersion) {
            return Sim_Fail(EINVAL,
                            "%s holds a device of state version %u; this simulator reads "
                            "version %u: create the device anew",
                            szPath, dwVersion, SIM_STATE_VERSION);
        }
        return Sim_Fail(EINVAL, "%s is not a simulated device's state", szPath);
    }
    PathIn(szPath, pszDir, "partitions");
    if (Sim_ReadTableFile(szPath, ptDev->atParts, &ptDev->iPartCount) != 0 ||
        Sim_CheckTable(ptDev->atParts, ptDev->iPartCount, Sim_DeviceSize(ptDev)) != 0) {
        int iErr = errno;
        Sim_Close(ptDev);
        errno = iErr;
        return -1;
    }
    PathIn(szPath, pszDir, "flash.bin");
    ptDev->iFlashFd = open(szPath, O_RDWR | O_CLOEXEC);
    if (ptDev->iFlashFd < 0) {
        int iErr = errno;
        Sim_Close(ptDev);
        return Sim_Fail(iErr, "cannot open %s: %s", szPath, strerror(iErr));
    }
    return 0;
}

int Sim_MapCells(TSimDevice *ptDev) {
    if (ptDev->tNand.pucCells != nullptr) {
        return 0;
    }
    struct stat tStat;
    uint64_t ullSize = Sim_DeviceSize(ptDev);
    if (fstat(ptDev->iFlashFd, &tStat) != 0 || (uint64_t)tStat.st_size != ullSize) {
        return Sim_Fail(EIO, "the flash of %s does not match its state", ptDev->szDir);
    }
    // Mapping touches nothing: only the pages a run reads or writes come in. A 32-bit host maps
    // less than 4 GiB.
    const size_t ulMap = static_cast<size_t>(ullSize);
    if (ulMap != ullSize) {
        return Sim_Fail(EFBIG, "the flash of %s is too large to map here", ptDev->szDir);
    }
    void *pMap = mmap(nullptr, ulMap, PROT_READ | PROT_WRITE, MAP_SHARED, ptDev->iFlashFd, 0);
    if (pMap == MAP_FAILED) {
        return Sim_Fail(errno, "cannot map the flash of %s: %s", ptDev->szDir, strerror(errno));
    }
    ptDev->tNand.pucCells = static_cast<unsigned char *>(pMap);
    return 0;
}

void Sim_Close(TSimDevice *ptDev) {
    if (ptDev->tNand.pucCells != nullptr) {
        munmap(ptDev->tNand.pucCells, static_cast<size_t>(Sim_DeviceSize(ptDev)));
    }
    if (ptDev->pState != nullptr) {
        munmap(ptDev->pState, ptDev->ulStateLen);
    }
    if (ptDev->iFlashFd >= 0) {
        close(ptDev->iFlashFd);
    }
    memset(ptDev, 0, sizeof(*ptDev));
    ptDev->iFlashFd = -1;
}

uint64_t Sim_DeviceSize(const TSimDevice *ptDev) {
    return ptDev->tNand.ptHdr ? ptDev->tNand.ptHdr->ullDeviceSize : 0;
}

uint32_t Sim_BlockCount(const TSimDevice *ptDev) {
    return ptDev->tNand.ptHdr ? ptDev->tNand.ptHdr->dwBlockCount : 0;
}

int Sim_CheckRange(const TSimDevice *ptDev, uint64_t ullOffset, uint64_t ullLen) {
    uint64_t ullSize = Sim_DeviceSize(ptDev);
    if (ullOffset > ullSize || ullLen > ullSize - ullOffset) {
        return Sim_Fail(EINVAL, "range 0x%llx+0x%llx lies outside the 0x%llx-byte device",
                        (unsigned long long)ullOffset, (unsigned long long)ullLen,
                        (unsigned long long)ullSize);
    }
    return 0;
}

int Sim_CheckBlock(const TSimDevice *ptDev, uint32_t dwBlock) {
    if (dwBlock >= Sim_BlockCount(ptDev)) {
        return Sim_Fail(EINVAL, "block %u past the last block %u", dwBlock,
                        Sim_BlockCount(ptDev) - 1);
    }
    return 0;
}

int Sim_Read(TSimDevice *ptDev, uint64_t ullOffset, void *pBuf, size_t ulLen) {
    if (Sim_CheckRange(ptDev, ullOffset, ulLen) != 0 || Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    Nand_Read(&ptDev->tNand, ullOffset, pBuf, ulLen, &ptDev->tNand.ptHdr->atNodes[0]);
    return NAND_OK;
}

int Sim_Program(TSimDevice *ptDev, uint64_t ullOffset, const void *pBuf, size_t ulLen) {
    if (Sim_CheckRange(ptDev, ullOffset, ulLen) != 0) {
        return -1;
    }
    if (ullOffset % SIM_SUBPAGE_SIZE != 0 || ulLen % SIM_SUBPAGE_SIZE != 0) {
        return Sim_Fail(EINVAL, "programs start and end on a 0x%x-byte sub-page boundary",
                        SIM_SUBPAGE_SIZE);
    }
    if (Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    int iRet = Nand_Program(&ptDev->tNand, ullOffset, pBuf, ulLen);
    if (iRet == NAND_FAILED) {
        Sim_Fail(EIO, "program failed");
    }
    return iRet;
}

int Sim_Erase(TSimDevice *ptDev, uint32_t dwBlock) {
    if (Sim_CheckBlock(ptDev, dwBlock) != 0 || Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    int iRet = Nand_Erase(&ptDev->tNand, dwBlock);
    if (iRet == NAND_FAILED) {
        Sim_Fail(EIO, "erase of block %u failed", dwBlock);
    }
    return iRet;
}

int Sim_ReadRaw(TSimDevice *ptDev, uint64_t ullOffset, void *pBuf, size_t ulLen) {
    if (Sim_CheckRange(ptDev, ullOffset, ulLen) != 0 || Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    Nand_ReadRaw(&ptDev->tNand, ullOffset, pBuf, ulLen);
    return 0;
}

int Sim_WriteRaw(TSimDevice *ptDev, uint64_t ullOffset, const void *pBuf, size_t ulLen) {
    if (Sim_CheckRange(ptDev, ullOffset, ulLen) != 0 || Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    Nand_WriteRaw(&ptDev->tNand, ullOffset, pBuf, ulLen);
    return 0;
}

int Sim_Flip(TSimDevice *ptDev, uint64_t ullOffset, uint32_t dwCount) {
    if (Sim_CheckRange(ptDev, ullOffset, dwCount) != 0 || Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    if (Nand_Flip(&ptDev->tNand, ullOffset, dwCount) != 0) {
        return Sim_Fail(EINVAL,
                        "cannot flip %u bytes at 0x%llx: 1 to %u bytes inside one page, each "
                        "with a bit set, in a block without flipped bits",
                        dwCount, (unsigned long long)ullOffset, SIM_FLIP_MAX);
    }
    return 0;
}

int Sim_AddFault(TSimDevice *ptDev, TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN,
                 uint32_t dwPage) {
    if (eKind >= SIM_FAULT_KIND_COUNT) {
        return Sim_Fail(EINVAL, "no such fault kind");
    }
    if (!Nand_IsDeviceFault(eKind) && Sim_CheckBlock(ptDev, dwBlock) != 0) {
        return -1;
    }
    // Stuck bits show at once in what is already programmed.
    if (eKind == SIM_FAULT_STUCK_BITS && Sim_MapCells(ptDev) != 0) {
        return -1;
    }
    if (Nand_AddFault(&ptDev->tNand, eKind, dwBlock, ullN, dwPage) != 0) {
        return Sim_Fail(EINVAL, "%s: count %llu or page %u out of range", Nand_FaultName(eKind),
                        (unsigned long long)ullN, dwPage);
    }
    return 0;
}

void Sim_ClearFaults(TSimDevice *ptDev, uint32_t dwBlock) {
    if (dwBlock == SIM_NO_BLOCK || dwBlock < Sim_BlockCount(ptDev)) {
        Nand_ClearFaults(&ptDev->tNand, dwBlock);
    }
}

int Sim_IsBad(const TSimDevice *ptDev, uint32_t dwBlock) {
    if (Sim_CheckBlock(ptDev, dwBlock) != 0) {
        return -1;
    }
    return Nand_IsBad(&ptDev->tNand, dwBlock);
}

int Sim_MarkBad(TSimDevice *ptDev, uint32_t dwBlock) {
    if (Sim_CheckBlock(ptDev, dwBlock) != 0) {
        return -1;
    }
    Nand_MarkBad(&ptDev->tNand, dwBlock);
    return 0;
}

int Sim_UnmarkBad(TSimDevice *ptDev, uint32_t dwBlock) {
    if (Sim_CheckBlock(ptDev, dwBlock) != 0) {
        return -1;
    }
    Nand_UnmarkBad(&ptDev->tNand, dwBlock);
    return 0;
}

uint32_t Sim_EraseCount(const TSimDevice *ptDev, uint32_t dwBlock) {
    return dwBlock < Sim_BlockCount(ptDev) ? ptDev->tNand.ptBlocks[dwBlock].dwEraseCount : 0;
}

TEccStats Sim_EccStatsOf(const TSimDevice *ptDev, int iNode) {
    if (iNode < 0 || iNode >= ptDev->iPartCount) {
        return TEccStats{0, 0, 0, 0};
    }
    const TSimStateHeader *ptHdr = ptDev->tNand.ptHdr;
    TSimNodeCounters tNode = ptHdr->atNodes[iNode];
    // The kernel adds what a partition counts to each of its parents.
    for (int i = 1; iNode == 0 && ptHdr->ucNested != 0 && i < ptDev->iPartCount; i++) {
        tNode.dwCorrected += ptHdr->atNodes[i].dwCorrected;
        tNode.dwFailed += ptHdr->atNodes[i].dwFailed;
        tNode.dwMarks += ptHdr->atNodes[i].dwMarks;
    }
    const TSimPartition &tPart = ptDev->atParts[iNode];
    uint32_t dwFactoryBad =
        Nand_FactoryBadIn(&ptDev->tNand, (uint32_t)(tPart.ullOffset / SIM_BLOCK_SIZE),
                          (uint32_t)(tPart.ullSize / SIM_BLOCK_SIZE));
    return TEccStats{tNode.dwCorrected, tNode.dwFailed, dwFactoryBad + tNode.dwMarks,
                     ptHdr->dwBBTBlocks};
}

TEccStats Sim_EccStats(const TSimDevice *ptDev) {
    return Sim_EccStatsOf(ptDev, 0);
}

TSimOpCounts Sim_OpCounts(const TSimDevice *ptDev) {
    const TSimStateHeader *ptHdr = ptDev->tNand.ptHdr;
    return TSimOpCounts{ptHdr->ullOps, ptHdr->ullErases, ptHdr->ullPrograms,
                        ptHdr->ullNonErasedPrograms};
}
