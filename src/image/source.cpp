// Source files: counted once before the device is locked, checked again while written. And the
// opening of a destination file.
#include "image/source.h"

#include "flash/device.h"
#include "image/texts.h"
#include "flash/notify.h"
#include "platform/platform.h"

#include <algorithm>
#include <sys/stat.h>
#include <zlib.h>

namespace {

// Reads from the current position to the end, but no further than one byte past ulLimit: the
// count and CRC-32 of what was there. false on a read error.
bool CountRest(FILE *pFile, uint64_t ulLimit, uint64_t *pulCount, uint32_t *pdwCrc) {
    unsigned char aucBuf[NANDKEEP_PIECE];
    *pulCount = 0;
    *pdwCrc = 0;
    while (*pulCount <= ulLimit) {
        const uint64_t ulGot = fread(aucBuf, 1, Nandkeep_PieceOf(ulLimit + 1 - *pulCount), pFile);
        if (ulGot == 0) {
            break;
        }
        *pdwCrc = Nandkeep_Crc32(*pdwCrc, aucBuf, ulGot);
        *pulCount += ulGot;
    }
    return ferror(pFile) == 0;
}

} // namespace

uint32_t Nandkeep_Crc32(uint32_t dwCrc, const unsigned char *pucData, uint64_t ulLen) {
    return static_cast<uint32_t>(crc32(dwCrc, pucData, static_cast<uInt>(ulLen)));
}

void Nandkeep_PrepareSource(TSource *ptSrc, const char *pszPath, uint64_t ulRoom) {
    *ptSrc = TSource{};
    FILE *pFile = nullptr;
    struct stat tStat;
    const int iOpened = Plat_OpenSource(pszPath, &pFile, &tStat);
    if (iOpened != PLAT_SOURCE_OPENED) {
        ptSrc->pszFault = iOpened == PLAT_SOURCE_STAT_FAILED ? TXT_SRC_FSTAT : TXT_SRC_FOPEN;
        return;
    }
    // Files under /proc and /sys report a size that has nothing to do with what they hold, so
    // the contents are counted before anything relies on the size; a file that keeps growing is
    // not followed past the size it claims.
    const uint64_t ulSize = static_cast<uint64_t>(tStat.st_size);
    uint64_t ulCount{};
    uint32_t dwCrc{};
    const char *pszFault = !S_ISREG(tStat.st_mode)                       ? TXT_SRC_NOT_REGULAR
                           : ulSize > ulRoom                             ? TXT_SRC_TOO_LARGE
                           : !CountRest(pFile, ulSize, &ulCount, &dwCrc) ? TXT_SRC_FREAD
                           : ulCount != ulSize                           ? TXT_SRC_MISMATCH
                                                                         : nullptr;
    if (pszFault != nullptr) {
        fclose(pFile);
        ptSrc->pszFault = pszFault;
        return;
    }
    *ptSrc = TSource{pFile, ulSize, dwCrc, nullptr};
}

int Nandkeep_TakeSource(TSource *ptSrc) {
    if (ptSrc->pszFault == nullptr && fseek(ptSrc->pFile, 0, SEEK_SET) != 0) {
        ptSrc->pszFault = TXT_SRC_FSEEK;
    }
    if (ptSrc->pszFault != nullptr) {
        Nandkeep_Notify(ptSrc->pszFault);
        return -1;
    }
    return 0;
}

void Nandkeep_ReleaseSource(TSource *ptSrc) {
    if (ptSrc->pFile != nullptr) {
        fclose(ptSrc->pFile);
    }
    *ptSrc = TSource{};
}

int Nandkeep_CheckSourceUnchanged(const TSource *ptSrc, uint64_t ulRead, uint32_t dwCrc) {
    unsigned char ucMore = 0;
    const bool bMore = ulRead == ptSrc->ulSize && fread(&ucMore, 1, 1, ptSrc->pFile) == 1;
    if (ferror(ptSrc->pFile)) {
        Nandkeep_Notify(TXT_SRC_FREAD);
        return -1;
    }
    if (bMore || ulRead != ptSrc->ulSize || dwCrc != ptSrc->dwCrc) {
        Nandkeep_Notify(TXT_SRC_CHANGED);
        return -1;
    }
    return 0;
}

int Nandkeep_CheckSourceHolds(const TSource *ptSrc) {
    if (fseek(ptSrc->pFile, 0, SEEK_SET) != 0) {
        Nandkeep_Notify(TXT_SRC_FSEEK);
        return -1;
    }
    uint64_t ulCount{};
    uint32_t dwCrc{};
    if (!CountRest(ptSrc->pFile, ptSrc->ulSize, &ulCount, &dwCrc)) {
        Nandkeep_Notify(TXT_SRC_FREAD);
        return -1;
    }
    return Nandkeep_CheckSourceUnchanged(ptSrc, ulCount, dwCrc);
}

FILE *Nandkeep_OpenDestination(const char *pszPath, const char *pszMode) {
    int bIsFlash = 0;
    FILE *pFile = Plat_OpenDestination(pszPath, pszMode, &bIsFlash);
    if (pFile == nullptr) {
        Nandkeep_Notify(bIsFlash ? TXT_DEST_IS_FLASH : TXT_SRC_FOPEN);
        Nandkeep_Print("%s", pszPath);
    }
    return pFile;
}
