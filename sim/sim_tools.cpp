// Creating a simulated device and looking into it: what the control tool and tests use.
#include "sim/sim_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *WHOLE_DEVICE_NAME = "linux";
constexpr uint64_t DEFAULT_SEED = 0x4E414E44;

constexpr const char *OVENCTL_SCRIPT = "#!/bin/sh\n"
                                       "# The simulated oven controller: engaging always works.\n"
                                       "case \"$1\" in\n"
                                       "engage) exit 0 ;;\n"
                                       "*) echo \"usage: ovenctl engage\" >&2; exit 2 ;;\n"
                                       "esac\n";
constexpr const char *CFGVAULT_SCRIPT =
    "#!/bin/sh\n"
    "# The simulated parameter vault: keeps flashstatus in the device directory.\n"
    "dir=$(cd \"$(dirname \"$0\")/..\" && pwd) || exit 1\n"
    "if [ $# -eq 3 ] && [ \"$1\" = set ] && [ \"$2\" = flashstatus ]; then\n"
    "    printf '%s\\n' \"$3\" > \"$dir/flashstatus\"\n"
    "elif [ $# -eq 2 ] && [ \"$1\" = get ] && [ \"$2\" = flashstatus ]; then\n"
    "    cat \"$dir/flashstatus\"\n"
    "else\n"
    "    echo \"usage: cfgvault set flashstatus VALUE | cfgvault get flashstatus\" >&2\n"
    "    exit 2\n"
    "fi\n";

std::string PathIn(const char *pszDir, const char *pszName) {
    return std::string(pszDir) + "/" + pszName;
}

int MakeDirs(const std::string &strDir) {
    for (size_t ulPos = 0; ulPos != std::string::npos;) {
        ulPos = strDir.find('/', ulPos + 1);
        std::string strPart = strDir.substr(0, ulPos);
        if (!strPart.empty() && mkdir(strPart.c_str(), 0755) != 0 && errno != EEXIST) {
            return Sim_Fail(errno, "cannot make directory %s: %s", strPart.c_str(),
                            strerror(errno));
        }
    }
    return 0;
}

int WriteFile(const std::string &strPath, const std::string &strData, mode_t mode) {
    int iFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (iFd < 0) {
        return Sim_Fail(errno, "cannot create %s: %s", strPath.c_str(), strerror(errno));
    }
    for (size_t ulDone = 0; ulDone < strData.size();) {
        ssize_t lRet = write(iFd, strData.data() + ulDone, strData.size() - ulDone);
        if (lRet < 0) {
            int iErr = errno;
            close(iFd);
            return Sim_Fail(iErr, "cannot write %s: %s", strPath.c_str(), strerror(iErr));
        }
        ulDone += (size_t)lRet;
    }
    if (fchmod(iFd, mode) != 0 || close(iFd) != 0) {
        return Sim_Fail(errno, "cannot write %s: %s", strPath.c_str(), strerror(errno));
    }
    return 0;
}

// Reads a whole regular file, at most ullCap bytes of it: 0; 1 when it holds more, with nothing
// more read than one chunk past the cap; 2 when it is no regular file (a FIFO without a writer
// is refused, not waited for); -1 with errno when it cannot be read.
int ReadCappedFile(const std::string &strPath, uint64_t ullCap, std::string *pstrOut) {
    pstrOut->clear();
    const int iFd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat tStat;
    if (iFd < 0 || fstat(iFd, &tStat) != 0) {
        const int iErr = errno;
        if (iFd >= 0) {
            close(iFd);
        }
        errno = iErr;
        return -1;
    }
    if (!S_ISREG(tStat.st_mode) || (uint64_t)tStat.st_size > ullCap) {
        close(iFd);
        return S_ISREG(tStat.st_mode) ? 1 : 2;
    }
    FILE *pFile = fdopen(iFd, "r");
    if (pFile == nullptr) {
        const int iErr = errno;
        close(iFd);
        errno = iErr;
        return -1;
    }
    std::vector<char> acBuf(SIM_BLOCK_SIZE);
    int iRet = 0;
    for (;;) {
        size_t ulWant = (size_t)std::min<uint64_t>(acBuf.size(), ullCap - pstrOut->size() + 1);
        size_t ulGot = fread(acBuf.data(), 1, ulWant, pFile);
        if (ulGot == 0) {
            break;
        }
        if (pstrOut->size() + ulGot > ullCap) {
            iRet = 1;
            break;
        }
        pstrOut->append(acBuf.data(), ulGot);
    }
    int iErr = errno;
    if (iRet == 0 && ferror(pFile)) {
        iRet = -1;
    }
    fclose(pFile);
    errno = iErr;
    return iRet;
}

// A file of the device directory, whole; a missing one reads as empty.
int ReadDirFile(const char *pszDir, const char *pszName, uint64_t ullCap, std::string *pstrOut) {
    std::string strPath = PathIn(pszDir, pszName);
    int iRet = ReadCappedFile(strPath, ullCap, pstrOut);
    if (iRet < 0 && errno == ENOENT) {
        pstrOut->clear();
        return 0;
    }
    if (iRet < 0) {
        return Sim_Fail(errno, "cannot read %s: %s", strPath.c_str(), strerror(errno));
    }
    if (iRet == 2) {
        return Sim_Fail(EINVAL, "cannot read %s: not a regular file", strPath.c_str());
    }
    if (iRet > 0) {
        return Sim_Fail(EFBIG, "%s holds more than %llu bytes; not read", strPath.c_str(),
                        (unsigned long long)ullCap);
    }
    return 0;
}

std::string TableText(const TSimPartition *ptParts, int iCount) {
    std::string strText = "# name offset size (hexadecimal)\n";
    char acLine[SIM_NAME_MAX + 96];
    for (int i = 0; i < iCount; i++) {
        snprintf(acLine, sizeof(acLine), "%.63s 0x%llX 0x%llX\n", ptParts[i].szName,
                 (unsigned long long)ptParts[i].ullOffset, (unsigned long long)ptParts[i].ullSize);
        strText += acLine;
    }
    return strText;
}

// What to create, made concrete: size, BBT blocks and table. nandsim keeps no bad-block table
// on the chip, so the profiles report no BBT blocks; a custom device may ask for some.
struct TResolvedSpec {
    uint64_t ullSize;
    uint32_t dwBBT;
    const TSimPartition *ptParts;
    int iCount;
    TSimPartition tWhole;
};

int ResolveSpec(const TSimSpec &tSpec, TResolvedSpec *ptOut) {
    *ptOut = TResolvedSpec{tSpec.ullSize, tSpec.dwBBTBlocks, tSpec.ptParts, tSpec.iPartCount, {}};
    if (tSpec.iProfileMiB == 128 || tSpec.iProfileMiB == 256) {
        ptOut->ullSize = tSpec.iProfileMiB == 128 ? SIM_SIZE_128 : SIM_SIZE_256;
        ptOut->dwBBT = 0;
        if (ptOut->ptParts == nullptr) {
            ptOut->ptParts = Sim_DefaultTable(tSpec.iProfileMiB, &ptOut->iCount);
        }
    } else if (tSpec.iProfileMiB != 0) {
        return Sim_Fail(EINVAL, "profile %d: the profiles are 128 and 256", tSpec.iProfileMiB);
    } else if (ptOut->ullSize == 0 || ptOut->ullSize % SIM_BLOCK_SIZE != 0 ||
               ptOut->ullSize > SIM_DEVICE_MAX) {
        return Sim_Fail(EINVAL, "device size 0x%llx: want whole 0x%x-byte blocks below 4 GiB",
                        (unsigned long long)ptOut->ullSize, SIM_BLOCK_SIZE);
    }
    uint32_t dwBlocks = (uint32_t)(ptOut->ullSize / SIM_BLOCK_SIZE);
    if (ptOut->dwBBT > dwBlocks) {
        return Sim_Fail(EINVAL, "%u BBT blocks on a %u-block device", ptOut->dwBBT, dwBlocks);
    }
    if (ptOut->ptParts == nullptr) {
        snprintf(ptOut->tWhole.szName, sizeof(ptOut->tWhole.szName), "%s", WHOLE_DEVICE_NAME);
        ptOut->tWhole.ullSize = ptOut->ullSize;
        ptOut->ptParts = &ptOut->tWhole;
        ptOut->iCount = 1;
    }
    return Sim_CheckTable(ptOut->ptParts, ptOut->iCount, ptOut->ullSize);
}

} // namespace

std::string Sim_ProcMtdText(const TSimPartition *ptParts, int iCount) {
    std::string strText = "dev:    size   erasesize  name\n";
    char acLine[SIM_NAME_MAX + 96];
    for (int i = 0; i < iCount; i++) {
        snprintf(acLine, sizeof(acLine), "mtd%d: %8.8llx %8.8x \"%.63s\"\n", i,
                 (unsigned long long)ptParts[i].ullSize, SIM_BLOCK_SIZE, ptParts[i].szName);
        strText += acLine;
    }
    return strText;
}

TSimSpec Sim_ProfileSpec(int iProfileMiB) {
    TSimSpec tSpec{};
    tSpec.iProfileMiB = iProfileMiB;
    tSpec.ullSeed = DEFAULT_SEED;
    return tSpec;
}

TSimSpec Sim_CustomSpec(uint32_t dwBlocks) {
    TSimSpec tSpec{};
    tSpec.ullSize = (uint64_t)dwBlocks * SIM_BLOCK_SIZE;
    tSpec.ullSeed = DEFAULT_SEED;
    return tSpec;
}

int Sim_Create(const char *pszDir, const TSimSpec &tSpec) {
    TResolvedSpec tRes;
    if (ResolveSpec(tSpec, &tRes) != 0 || MakeDirs(pszDir) != 0) {
        return -1;
    }
    // Replace, never reuse: a process that still maps the old files keeps its own copy, and
    // the platform layer notices the new files by their inode.
    std::string strFlash = PathIn(pszDir, "flash.bin");
    std::string strState = PathIn(pszDir, "state.bin");
    unlink(strFlash.c_str());
    unlink(strState.c_str());
    int iFd = open(strFlash.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (iFd < 0) {
        return Sim_Fail(errno, "cannot create %s: %s", strFlash.c_str(), strerror(errno));
    }
    // A sparse file of zero complements: a fully erased chip that takes no disk space.
    int iRet = ftruncate(iFd, (off_t)tRes.ullSize);
    int iErr = errno;
    close(iFd);
    if (iRet != 0) {
        return Sim_Fail(iErr, "cannot size %s: %s", strFlash.c_str(), strerror(iErr));
    }
    std::string strState0(Nand_StateSize((uint32_t)(tRes.ullSize / SIM_BLOCK_SIZE)), '\0');
    Nand_Format(&strState0[0], tRes.ullSize, tRes.dwBBT, tSpec.ullSeed);
    // The larger profile's chip corrects 4 bits per 512 bytes (BCH), the others 1 bit per 256
    // bytes (Hamming), as nandsim does with and without bch=4.
    TSimStateHeader *ptHdr = reinterpret_cast<TSimStateHeader *>(&strState0[0]);
    if (tSpec.iProfileMiB == 256) {
        ptHdr->wEccStep = 512;
        ptHdr->wEccStrength = 4;
    }
    ptHdr->ucNested = tSpec.bNested ? 1 : 0;
    std::string strRamdisk = PathIn(pszDir, "ramdisk");
    std::string strBin = PathIn(pszDir, "bin");
    if (WriteFile(strState, strState0, 0644) != 0 ||
        WriteFile(PathIn(pszDir, "partitions"), TableText(tRes.ptParts, tRes.iCount), 0644) != 0 ||
        WriteFile(PathIn(pszDir, "proc_mtd"), Sim_ProcMtdText(tRes.ptParts, tRes.iCount), 0644) !=
            0 ||
        WriteFile(PathIn(pszDir, "syslog"), "", 0644) != 0 ||
        WriteFile(PathIn(pszDir, "flashstatus"), "0\n", 0644) != 0 || MakeDirs(strRamdisk) != 0 ||
        MakeDirs(strBin) != 0 || WriteFile(strBin + "/ovenctl", OVENCTL_SCRIPT, 0755) != 0 ||
        WriteFile(strBin + "/cfgvault", CFGVAULT_SCRIPT, 0755) != 0) {
        return -1;
    }
    unlink((strRamdisk + "/flashVerifyResult").c_str());
    return 0;
}

int Sim_LoadImage(TSimDevice *ptDev, const char *pszFile, uint64_t ullOffset) {
    if (Sim_CheckRange(ptDev, ullOffset, 0) != 0) {
        return -1;
    }
    // At most what fits from the offset to the device end is read: a longer source, or one
    // without end, is refused before anything is loaded.
    const uint64_t ullRoom = Sim_DeviceSize(ptDev) - ullOffset;
    std::string strImage;
    int iRet = ReadCappedFile(pszFile, ullRoom, &strImage);
    if (iRet < 0) {
        return Sim_Fail(errno, "cannot read %s: %s", pszFile, strerror(errno));
    }
    if (iRet == 2) {
        return Sim_Fail(EINVAL, "cannot read %s: not a regular file", pszFile);
    }
    if (iRet > 0) {
        return Sim_Fail(EFBIG,
                        "%s holds more than the 0x%llx bytes from offset 0x%llx to the device end",
                        pszFile, (unsigned long long)ullRoom, (unsigned long long)ullOffset);
    }
    return Sim_WriteRaw(ptDev, ullOffset, strImage.data(), strImage.size());
}

int Sim_SaveImage(TSimDevice *ptDev, const char *pszFile, uint64_t ullOffset, uint64_t ullLen) {
    if (ullLen == 0 && ullOffset <= Sim_DeviceSize(ptDev)) {
        ullLen = Sim_DeviceSize(ptDev) - ullOffset;
    }
    if (Sim_CheckRange(ptDev, ullOffset, ullLen) != 0) {
        return -1;
    }
    FILE *pFile = fopen(pszFile, "wb");
    if (pFile == nullptr) {
        return Sim_Fail(errno, "cannot create %s: %s", pszFile, strerror(errno));
    }
    std::vector<unsigned char> aucBuf(SIM_BLOCK_SIZE);
    for (uint64_t ullDone = 0; ullDone < ullLen;) {
        size_t ulPart = (size_t)std::min<uint64_t>(aucBuf.size(), ullLen - ullDone);
        if (Sim_ReadRaw(ptDev, ullOffset + ullDone, aucBuf.data(), ulPart) != 0) {
            fclose(pFile);
            return -1;
        }
        if (fwrite(aucBuf.data(), 1, ulPart, pFile) != ulPart) {
            int iErr = errno;
            fclose(pFile);
            return Sim_Fail(iErr, "cannot write %s: %s", pszFile, strerror(iErr));
        }
        ullDone += ulPart;
    }
    if (fclose(pFile) != 0) {
        return Sim_Fail(errno, "cannot write %s: %s", pszFile, strerror(errno));
    }
    return 0;
}

std::vector<TSimFault> Sim_ListFaults(const TSimDevice *ptDev) {
    int iCount = Nand_ListFaults(&ptDev->tNand, nullptr, 0);
    std::vector<TSimFault> atFaults((size_t)iCount);
    Nand_ListFaults(&ptDev->tNand, atFaults.data(), iCount);
    return atFaults;
}

std::vector<uint32_t> Sim_BadBlocks(const TSimDevice *ptDev) {
    std::vector<uint32_t> adwBad;
    for (uint32_t b = 0; b < Sim_BlockCount(ptDev); b++) {
        if (Nand_IsBad(&ptDev->tNand, b)) {
            adwBad.push_back(b);
        }
    }
    return adwBad;
}

int Sim_ReadSyslog(const char *pszDir, std::string *pstrText) {
    return ReadDirFile(pszDir, "syslog", SIM_SYSLOG_MAX, pstrText);
}

std::vector<std::string> Sim_SyslogLines(const char *pszDir) {
    std::vector<std::string> astrLines;
    std::string strText;
    if (Sim_ReadSyslog(pszDir, &strText) != 0) {
        return astrLines;
    }
    for (size_t ulStart = 0; ulStart < strText.size();) {
        size_t ulEol = std::min(strText.find('\n', ulStart), strText.size());
        astrLines.push_back(strText.substr(ulStart, ulEol - ulStart));
        ulStart = ulEol + 1;
    }
    return astrLines;
}

int Sim_ReadFlashStatus(const char *pszDir, std::string *pstrValue) {
    if (ReadDirFile(pszDir, "flashstatus", SIM_FLASHSTATUS_MAX, pstrValue) != 0) {
        return -1;
    }
    while (!pstrValue->empty() && (pstrValue->back() == '\n' || pstrValue->back() == '\r')) {
        pstrValue->pop_back();
    }
    return 0;
}

std::string Sim_FlashStatus(const char *pszDir) {
    std::string strValue;
    return Sim_ReadFlashStatus(pszDir, &strValue) == 0 ? strValue : "";
}

int Sim_SetFlashStatus(const char *pszDir, const char *pszValue) {
    if (strchr(pszValue, '\n') != nullptr) {
        return Sim_Fail(EINVAL, "flashstatus is one line");
    }
    return WriteFile(PathIn(pszDir, "flashstatus"), std::string(pszValue) + "\n", 0644);
}
