// Flash comparison.
#include "flash/compare.h"

#include "factorytest/verifylog.h"
#include "flash/mtdio.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool Nandkeep_IsEccEvent(const TEccStats &tSnap, const TEccStats &tNow) {
    return tNow.failed != tSnap.failed || (g_b1BitECC == 1 && tNow.corrected != tSnap.corrected);
}

namespace {

constexpr const char *COMPARE_FAIL_LOG = "NANDKEEP ERROR! Compare image fail!";

// Reads the counters after a piece and applies the ECC event rule at ulOffset. 1 when the rule
// retired the block (flag set to 0), 0 when the bytes are to be compared, -1 on failure.
int RetireOnEccEvent(int iFd, const TEccStats &tSnap, unsigned long ulOffset, int *piSame) {
    TEccStats tNow;
    if (Nandkeep_GetEccStats(iFd, &tNow) == -1) {
        return -1;
    }
    if (!Nandkeep_IsEccEvent(tSnap, tNow)) {
        return 0;
    }
    if (SetBadBlockToBBT(iFd, ulOffset) == -1) {
        return -1;
    }
    *piSame = 0;
    return 1;
}

// Reads ulLen bytes (at most one piece) at ulOffset into a whole-piece buffer. The device is
// asked for the whole piece either way (for nothing when ulLen is 0); at a piece boundary it goes
// straight into pucPiece, which spares the second piece buffer that Nandkeep_ReadMTD takes for a
// part of a piece.
int ReadIntoPiece(int iFd, unsigned char *pucPiece, unsigned long ulOffset, unsigned long ulLen) {
    return Nandkeep_ReadMTD(iFd, pucPiece, ulOffset,
                            ulLen != 0 && ulOffset % NANDKEEP_PIECE == 0 ? NANDKEEP_PIECE : ulLen);
}

// True when the stream has at least one more byte; the byte is pushed back.
bool FileHasMore(FILE *pFile) {
    int iChar = fgetc(pFile);
    if (iChar == EOF) {
        return false;
    }
    ungetc(iChar, pFile);
    return true;
}

} // namespace

int CompareBufAndMTD(int iFd, const void *pBuf, unsigned long ulMTDOffset, unsigned long ulLen,
                     int *piSame) {
    TEccStats tSnap;
    if (Nandkeep_GetEccStats(iFd, &tSnap) == -1) {
        return -1;
    }
    const unsigned char *pucExpected = static_cast<const unsigned char *>(pBuf);
    unsigned char aucPiece[NANDKEEP_PIECE];
    for (unsigned long ulDone = 0; ulDone < ulLen;) {
        unsigned long ulPiece = std::min(NANDKEEP_PIECE, ulLen - ulDone);
        if (ReadIntoPiece(iFd, aucPiece, ulMTDOffset, ulPiece) == -1) {
            return -1;
        }
        int iEcc = RetireOnEccEvent(iFd, tSnap, ulMTDOffset, piSame);
        if (iEcc != 0) {
            return iEcc == -1 ? -1 : 0;
        }
        if (memcmp(aucPiece, pucExpected + ulDone, ulPiece) != 0) {
            Nandkeep_Debug("The image is differnet, ulMTDOffset = 0x%.8lX\n", ulMTDOffset);
            *piSame = 0;
            Nandkeep_SyslogErr(COMPARE_FAIL_LOG);
            return 0;
        }
        ulMTDOffset += ulPiece;
        ulDone += ulPiece;
    }
    Nandkeep_Debug("Is same image file\n");
    Nandkeep_Debug("CompareBufAndMTD MTDOffset + Len = 0x%.8lX\n", ulMTDOffset);
    *piSame = 1;
    return 0;
}

// The k-th good piece of the source is compared with the k-th good piece of the destination.
// A region that runs out of good blocks before ulLen bytes were compared cannot hold them: the
// answer is then 0, and nothing is ever compared against a piece that was not read.
int Nandkeep_CompareImageAndMTD(int iFd, unsigned long ulDestOffset, unsigned long ulSrcOffset,
                                unsigned long ulDestMaxSize, unsigned long ulSrcMaxSize,
                                unsigned long ulLen, int *piSame) {
    if (ulLen == 0 || ulSrcMaxSize == 0 || ulDestMaxSize == 0) {
        return 0;
    }
    const unsigned long ulSrcEnd = ulSrcOffset + ulSrcMaxSize;
    const unsigned long ulDestEnd = ulDestOffset + ulDestMaxSize;
    unsigned long ulSrc = ulSrcOffset;
    unsigned long ulDest = ulDestOffset;
    unsigned char aucPiece[NANDKEEP_PIECE];
    while (ulLen > 0) {
        unsigned long ulPiece = std::min(NANDKEEP_PIECE, ulLen);
        ulSrc = Nandkeep_SkipBadBlocks(iFd, ulSrc, ulSrcEnd);
        ulDest = Nandkeep_SkipBadBlocks(iFd, ulDest, ulDestEnd);
        if (ulSrc >= ulSrcEnd || ulDest >= ulDestEnd) {
            Nandkeep_Debug("Compare image fail");
            *piSame = 0;
            return 0;
        }
        if (ReadIntoPiece(iFd, aucPiece, ulSrc, ulPiece) == -1) {
            return -1;
        }
        if (CompareBufAndMTD(iFd, aucPiece, ulDest, ulPiece, piSame) == -1) {
            return -1;
        }
        if (*piSame == 0) {
            Nandkeep_Debug("Compare image fail");
            return 0;
        }
        ulSrc += ulPiece;
        ulDest += ulPiece;
        ulLen -= ulPiece;
    }
    return 0;
}

// The file's bytes against the good blocks of [ulMTDOffset, ulMTDOffset + ulMTDMaxSize), read
// from the file's current position. The answer is 1 when the file ends, or when ulMTDMaxSize
// bytes compared equal. When bad blocks use the region up before that while the file still has
// bytes, the flash cannot hold them and the answer is 0.
int Nandkeep_CompareFileAndMTD(FILE *pFile, unsigned long ulMTDOffset, unsigned long ulMTDMaxSize,
                               int *piSame) {
    const int iFd = MTD0Fd();
    TEccStats tSnap;
    if (Nandkeep_GetEccStats(iFd, &tSnap) == -1) {
        return -1;
    }
    const unsigned long ulMTDMaxOffset = ulMTDOffset + ulMTDMaxSize;
    unsigned long ulPos = ulMTDOffset;
    unsigned long ulTotal = 0;
    unsigned char aucFile[NANDKEEP_PIECE];
    unsigned char aucFlash[NANDKEEP_PIECE];
    while (!feof(pFile)) {
        unsigned long ulReadLen = fread(aucFile, 1, NANDKEEP_PIECE, pFile);
        if (ferror(pFile)) {
            Nandkeep_Notify("fread()");
            return -1;
        }
        ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos, ulMTDMaxOffset);
        if (ulPos >= ulMTDMaxOffset) {
            if (ulReadLen > 0) {
                Nandkeep_Debug("The image is differnet, ulMTDOffset = 0x%.8lX\n", ulPos);
                *piSame = 0;
                return 0;
            }
            break;
        }
        if (ReadIntoPiece(iFd, aucFlash, ulPos, ulReadLen) == -1) {
            return -1;
        }
        int iEcc = RetireOnEccEvent(iFd, tSnap, ulPos, piSame);
        if (iEcc != 0) {
            return iEcc == -1 ? -1 : 0;
        }
        Nandkeep_Debug("%s: ulReadLen = 0x%.8lX\n", "Nandkeep_CompareFileAndMTD", ulReadLen);
        if (memcmp(aucFlash, aucFile, ulReadLen) != 0) {
            Nandkeep_Debug("The image is differnet, ulMTDOffset = 0x%.8lX\n", ulPos);
            *piSame = 0;
            return 0;
        }
        Nandkeep_Debug("The ulMTDOffset = 0x%.8lX\n", ulPos);
        ulPos += ulReadLen;
        ulTotal += ulReadLen;
        if (ulTotal == ulMTDMaxSize) {
            break;
        }
        if (ulPos >= ulMTDMaxOffset) {
            if (FileHasMore(pFile)) {
                *piSame = 0;
                return 0;
            }
            break;
        }
    }
    Nandkeep_Debug("Is same image file\n");
    Nandkeep_Debug("%s: ulMTDOffset = 0x%.8lX, ulMTDMaxSize = 0x%.8lX, ulMTDMaxOffset = 0x%.8lX\n",
                   "Nandkeep_CompareFileAndMTD", ulPos, ulMTDMaxSize, ulMTDMaxOffset);
    *piSame = 1;
    return 0;
}

int Nandkeep_CompareVerifyBufAndMTD(int iFd, const void *pBuf, unsigned long ulMTDOffset,
                                    unsigned long ulLen, int *piSame) {
    TEccStats tSnap;
    if (Nandkeep_GetEccStats(iFd, &tSnap) == -1) {
        return -1;
    }
    const unsigned char *pucExpected = static_cast<const unsigned char *>(pBuf);
    unsigned char aucPiece[NANDKEEP_PIECE];
    for (unsigned long ulDone = 0; ulDone < ulLen;) {
        unsigned long ulPiece = std::min(NANDKEEP_PIECE, ulLen - ulDone);
        if (ReadIntoPiece(iFd, aucPiece, ulMTDOffset, ulPiece) == -1) {
            return -1;
        }
        TEccStats tNow;
        if (Nandkeep_GetEccStats(iFd, &tNow) == -1) {
            return -1;
        }
        const int iLogOffset = static_cast<int>(ulMTDOffset);
        if (tNow.corrected != tSnap.corrected || tNow.failed != tSnap.failed) {
            Nandkeep_WriteVerifyResult(
                "Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = %d\n",
                static_cast<int>(tNow.corrected));
            Nandkeep_WriteVerifyResult("Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = %d\n",
                                       static_cast<int>(tNow.failed));
            Nandkeep_WriteVerifyResult("Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x%lX\n",
                                       iLogOffset);
            if (tNow.failed != tSnap.failed) {
                if (SetBadBlockToBBT(iFd, ulMTDOffset) == -1) {
                    return -1;
                }
                Nandkeep_WriteVerifyResult(
                    "Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = 0x%lX\n",
                    iLogOffset);
                *piSame = 0;
                return 0;
            }
        }
        int iCmp = memcmp(aucPiece, pucExpected + ulDone, ulPiece);
        if (iCmp != 0) {
            Nandkeep_WriteVerifyResult("The image is differnet, ulMTDOffset = 0x%.8lX\n",
                                       iLogOffset);
            Nandkeep_WriteVerifyResult("The image memcmp = %d\n", iCmp);
            *piSame = 0;
            Nandkeep_SyslogErr(COMPARE_FAIL_LOG);
            return 0;
        }
        ulMTDOffset += ulPiece;
        ulDone += ulPiece;
    }
    Nandkeep_Debug("Is same image file\n");
    Nandkeep_Debug("CompareBufAndMTD MTDOffset + Len = 0x%.8lX\n", ulMTDOffset);
    *piSame = 1;
    return 0;
}

int Nandkeep_CheckImageMatch(int iFd, void *pBuf, unsigned long ulOffset, unsigned long ulLen) {
    return Nandkeep_CheckImageMatchRetiring(iFd, pBuf, ulOffset, ulLen, false);
}

int Nandkeep_CheckImageMatchRetiring(int iFd, void *pBuf, unsigned long ulOffset,
                                     unsigned long ulLen, bool bRefusedRetires) {
    bool bRetired = false;
    if (Nandkeep_WriteMTDRetiring(iFd, pBuf, ulOffset, ulLen, &bRetired) == -1) {
        return bRefusedRetires && bRetired ? NANDKEEP_BLOCK_RETIRED : -1;
    }
    int iSame = 0;
    if (CompareBufAndMTD(iFd, pBuf, ulOffset, ulLen, &iSame) == -1) {
        return -1;
    }
    if (iSame == 1) {
        return 0;
    }
    Nandkeep_Notify("Image is not match.");
    if (Nandkeep_EraseMTD(iFd, ulOffset, MTD0EraseSize()) == -1) {
        return -1;
    }
    if (Nandkeep_IsBadBlock(iFd, ulOffset) == NANDKEEP_BAD_BLOCK) {
        return NANDKEEP_BLOCK_RETIRED;
    }
    if (Plat_MemSetBadBlock(iFd, static_cast<int64_t>(ulOffset)) < 0) {
        Nandkeep_Notify("set bad block fail");
        return -1;
    }
    return NANDKEEP_BLOCK_RETIRED;
}
