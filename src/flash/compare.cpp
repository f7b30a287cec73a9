// Flash comparison.
#include "flash/compare.h"

#include "flash/device.h"
#include "flash/mtdio.h"
#include "flash/region.h"
#include "flash/texts.h"
#include "flash/notify.h"
#include "flash/progress.h"

#include <algorithm>
#include <cstring>

namespace {

TVerifyLogHook g_pfnVerifyLog = nullptr;

// The counters after a piece, and the ECC event rule at ullOffset. 1 when the rule retired the
// block (flag set to 0), 0 when the bytes are to be compared, -1 on failure.
int RetireOnEccEvent(const TEccWatch &tWatch, uint64_t ullOffset, int *piSame) {
    TEccStats tNow;
    const int iEvent = Watch_Event(&tWatch, &tNow);
    if (iEvent != 1) {
        return iEvent;
    }
    if (SetBadBlockToBBT(tWatch.iFd, ullOffset) != 0) {
        return -1;
    }
    *piSame = 0;
    return 1;
}

// A piece of the verify comparison: when the counters moved, the three lines, and for an
// uncorrectable read the block marked bad and its line. 1 when the piece ends the comparison
// (flag 0), 0 when its bytes are to be compared, -1 on failure.
int VerifyEccLines(const TEccWatch &tWatch, uint64_t ullOffset, int *piSame) {
    const int iFd = tWatch.iFd;
    const TEccStats &tSnap = tWatch.tSnap;
    TEccStats tNow;
    if (Nandkeep_GetEccStats(iFd, &tNow) != 0) {
        return -1;
    }
    const int iLogOffset = static_cast<int>(ullOffset);
    if (tNow.corrected == tSnap.corrected && tNow.failed == tSnap.failed) {
        return 0;
    }
    if (g_pfnVerifyLog(TXT_VERIFY_CORRECTED, static_cast<int>(tNow.corrected)) == -1 ||
        g_pfnVerifyLog(TXT_VERIFY_FAILED, static_cast<int>(tNow.failed)) == -1 ||
        g_pfnVerifyLog(TXT_VERIFY_OFFSET, iLogOffset) == -1) {
        return -1;
    }
    if (tNow.failed == tSnap.failed) {
        return 0;
    }
    if (SetBadBlockToBBT(iFd, ullOffset) != 0 ||
        g_pfnVerifyLog(TXT_VERIFY_MARKED, iLogOffset) == -1) {
        return -1;
    }
    *piSame = 0;
    return 1;
}

} // namespace

void Nandkeep_SetVerifyLog(TVerifyLogHook pfnLog) {
    g_pfnVerifyLog = pfnLog;
}

int CompareBufAndMTD(int iFd, const void *pBuf, uint64_t ullMTDOffset, uint64_t ullLen, int *piSame,
                     bool bVerify) {
    TEccWatch tWatch;
    if (Watch_Begin(&tWatch, iFd) != 0) {
        return -1;
    }
    const unsigned char *pucExpected = static_cast<const unsigned char *>(pBuf);
    unsigned char aucPiece[NANDKEEP_PIECE];
    TRegion tAt = Region_Of(iFd, ullMTDOffset, ullLen);
    for (uint64_t ullDone = 0; ullDone < ullLen;) {
        const size_t ulPiece = Nandkeep_PieceOf(ullLen - ullDone);
        if (Region_ReadPiece(&tAt, aucPiece, ulPiece) != 0) {
            return -1;
        }
        const int iEcc = bVerify ? VerifyEccLines(tWatch, tAt.ullPos, piSame)
                                 : RetireOnEccEvent(tWatch, tAt.ullPos, piSame);
        if (iEcc != 0) {
            return iEcc == -1 ? -1 : 0;
        }
        const int iCmp = memcmp(aucPiece, pucExpected + ullDone, ulPiece);
        if (iCmp != 0) {
            const int iLogOffset = static_cast<int>(tAt.ullPos);
            if (bVerify && (g_pfnVerifyLog(TXT_VERIFY_DIFFERENT, iLogOffset) == -1 ||
                            g_pfnVerifyLog(TXT_VERIFY_MEMCMP, iCmp) == -1)) {
                return -1;
            }
            *piSame = 0;
            Plat_SyslogErr(TXT_COMPARE_FAIL_LOG);
            return 0;
        }
        Region_Advance(&tAt, ulPiece);
        ullDone += ulPiece;
    }
    *piSame = 1;
    return 0;
}

int Nandkeep_CompareImageAndMTD(int iFd, uint64_t ullDestOffset, uint64_t ullSrcOffset,
                                uint64_t ullDestMaxSize, uint64_t ullSrcMaxSize, uint64_t ullLen,
                                int *piSame) {
    if (ullLen == 0 || ullSrcMaxSize == 0 || ullDestMaxSize == 0) {
        return 0;
    }
    TRegion tSrc = Region_Of(iFd, ullSrcOffset, ullSrcMaxSize);
    TRegion tDest = Region_Of(iFd, ullDestOffset, ullDestMaxSize);
    unsigned char aucPiece[NANDKEEP_PIECE];
    while (ullLen > 0) {
        const uint64_t ullPiece = std::min(NANDKEEP_PIECE, ullLen);
        if (!Region_Good(&tSrc) || !Region_Good(&tDest)) {
            *piSame = 0;
            return 0;
        }
        if (Region_ReadPiece(&tSrc, aucPiece, ullPiece) != 0 ||
            CompareBufAndMTD(iFd, aucPiece, tDest.ullPos, ullPiece, piSame) != 0) {
            return -1;
        }
        if (*piSame == 0) {
            return 0;
        }
        Region_Advance(&tSrc, ullPiece);
        Region_Advance(&tDest, ullPiece);
        ullLen -= ullPiece;
    }
    return 0;
}

int Nandkeep_CompareFileAndMTD(FILE *pFile, uint64_t ullMTDOffset, uint64_t ullMTDMaxSize,
                               int *piSame) {
    TEccWatch tWatch;
    if (Watch_Begin(&tWatch, MTD0Fd()) != 0) {
        return -1;
    }
    TRegion tFlash = Region_Of(MTD0Fd(), ullMTDOffset, ullMTDMaxSize);
    uint64_t ullTotal = 0;
    unsigned char aucFile[NANDKEEP_PIECE];
    unsigned char aucFlash[NANDKEEP_PIECE];
    while (!feof(pFile)) {
        const size_t ulReadLen = fread(aucFile, 1, NANDKEEP_PIECE, pFile);
        if (ferror(pFile)) {
            Nandkeep_Notify(TXT_FREAD);
            return -1;
        }
        if (!Region_Good(&tFlash)) {
            if (ulReadLen > 0) {
                *piSame = 0;
                return 0;
            }
            break;
        }
        if (Region_ReadPiece(&tFlash, aucFlash, ulReadLen) != 0) {
            return -1;
        }
        const int iEcc = RetireOnEccEvent(tWatch, tFlash.ullPos, piSame);
        if (iEcc != 0) {
            return iEcc == -1 ? -1 : 0;
        }
        if (memcmp(aucFlash, aucFile, ulReadLen) != 0) {
            *piSame = 0;
            return 0;
        }
        Region_Advance(&tFlash, ulReadLen);
        ullTotal += ulReadLen;
        Progress_Percent("comparing", tFlash.ullPos - ullMTDOffset, ullMTDMaxSize);
        if (ullTotal == ullMTDMaxSize) {
            break;
        }
        if (tFlash.ullPos >= tFlash.ullEnd) {
            // Equal only when the file ends here too; a byte read to find out is pushed back.
            const int iChar = fgetc(pFile);
            if (iChar == EOF) {
                break;
            }
            ungetc(iChar, pFile);
            *piSame = 0;
            return 0;
        }
    }
    *piSame = 1;
    return 0;
}

int Nandkeep_CompareVerifyBufAndMTD(int iFd, const void *pBuf, uint64_t ullMTDOffset,
                                    uint64_t ullLen, int *piSame) {
    return CompareBufAndMTD(iFd, pBuf, ullMTDOffset, ullLen, piSame, true);
}

int Nandkeep_CheckImageMatch(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen,
                             bool bRefusedRetires) {
    const EWrite eWrite = Flash_Write(iFd, pBuf, ullOffset, ullLen);
    if (eWrite != EWrite::WRITTEN) {
        return bRefusedRetires && eWrite == EWrite::RETIRED ? NANDKEEP_BLOCK_RETIRED : -1;
    }
    int iSame = 0;
    if (CompareBufAndMTD(iFd, pBuf, ullOffset, ullLen, &iSame) != 0) {
        return -1;
    }
    if (iSame == 1) {
        return 0;
    }
    Nandkeep_Notify(TXT_NOT_MATCH);
    if (Nandkeep_EraseMTD(iFd, ullOffset, MTD0EraseSize()) == -1) {
        return -1;
    }
    if (Flash_Block(iFd, ullOffset) != EBlock::GOOD) {
        return NANDKEEP_BLOCK_RETIRED;
    }
    return SetBadBlockToBBT(iFd, ullOffset) != 0 ? -1 : NANDKEEP_BLOCK_RETIRED;
}
