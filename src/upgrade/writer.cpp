// The image writer and the flash-to-flash copy.
#include "upgrade/writer.h"

#include "flash/compare.h"
#include "flash/mtdio.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "image/mkimg.h"
#include "image/source.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char *MSG_TOO_LARGE = "size too large";
constexpr const char *MSG_COMPARE_FAIL = "Compare image and flash fail";
constexpr const char *MSG_ERASE_FAIL = "erase sector fail";
constexpr const char *MSG_FSEEK = "fseek()";
constexpr const char *MSG_FREAD = "fread()";
constexpr const char *MSG_NO_SPACE = "write fail: Not enought flash space";
constexpr const char *MSG_TOO_MANY_BAD = "Bad block is too much";

// The compact progress format breaks its line after this many steps.
constexpr unsigned int PROGRESS_STEPS_PER_LINE = 10;

struct TProgress {
    int bHTTP;
    unsigned long ulFileSize;
    unsigned long ulLastPercent;
    unsigned int uSteps;
};

void ReportProgress(TProgress *ptProgress, unsigned long ulWritten) {
    const unsigned long ulPercent =
        ptProgress->ulFileSize == 0 ? 0 : ulWritten * 100 / ptProgress->ulFileSize;
    if (ulPercent == ptProgress->ulLastPercent) {
        return;
    }
    ptProgress->ulLastPercent = ulPercent;
    ptProgress->uSteps++;
    if (ptProgress->bHTTP == 0) {
        Nandkeep_Debug("written %d %% ...\n", static_cast<int>(ulPercent));
        fflush(stdout);
        return;
    }
    Nandkeep_Debug("%3d %%   ", static_cast<int>(ulPercent));
    fflush(stdout);
    if (ptProgress->uSteps % PROGRESS_STEPS_PER_LINE == 0) {
        Nandkeep_Debug("\n");
    }
}

// Places one chunk at the first usable block at or after *pulPos where all of its bytes lie below
// ulEnd (a region that is not a whole number of blocks ends in a part block, too short for a whole
// chunk). A block that does not hold the chunk has been retired by the primitive and is stepped
// over like any bad block; with bRefusedRetires, so is a block whose program the device refused.
// 0 placed (at *pulPos); 1 no room left; -1 the primitive failed.
int PlaceChunk(int iFd, unsigned char *pucChunk, unsigned long ulLen, unsigned long *pulPos,
               unsigned long ulEnd, bool bRefusedRetires) {
    while (*pulPos < ulEnd && ulLen <= ulEnd - *pulPos) {
        if (Nandkeep_IsBadBlock(iFd, *pulPos) == NANDKEEP_BAD_BLOCK) {
            *pulPos += MTD0EraseSize();
            continue;
        }
        const int iRet =
            Nandkeep_CheckImageMatchRetiring(iFd, pucChunk, *pulPos, ulLen, bRefusedRetires);
        if (iRet == 0) {
            return 0;
        }
        if (iRet != NANDKEEP_BLOCK_RETIRED) {
            return -1;
        }
    }
    return 1;
}

// Compares the whole file with the region: 1 held, 0 not held, -1 failure (notified).
int FileHeldByRegion(FILE *pFile, unsigned long ulMTDOffset, unsigned long ulMaxSize) {
    int iSame = 0;
    if (Nandkeep_CompareFileAndMTD(pFile, ulMTDOffset, ulMaxSize, &iSame) == -1) {
        Nandkeep_Notify(MSG_COMPARE_FAIL);
        return -1;
    }
    return iSame == 1 ? 1 : 0;
}

// Writes the file's ulFileSize bytes from its current position over the good blocks from
// ulMTDOffset up to ulEnd, adding up what was written (*pulWritten) and its CRC-32 (*pdwCrc).
// Only the bytes counted at the opening are written: a file that grows meanwhile is not followed;
// one that shrank stops the writing early. 0, or -1 after notifying. The chunk buffer is this
// function's own, so that it is gone again when the region is compared with the file.
int WriteChunks(FILE *pFile, unsigned long ulFileSize, unsigned long ulMTDOffset,
                unsigned long ulEnd, int bHTTP, unsigned long *pulWritten, uint32_t *pdwCrc) {
    unsigned long ulPos = ulMTDOffset;
    TProgress tProgress = {bHTTP, ulFileSize, 0, 0};
    // One whole piece even for a short last chunk: the write pads it with 0xFF in place.
    unsigned char aucChunk[NANDKEEP_PIECE];
    while (*pulWritten < ulFileSize) {
        const unsigned long ulWant = std::min(NANDKEEP_PIECE, ulFileSize - *pulWritten);
        const unsigned long ulRead = fread(aucChunk, 1, ulWant, pFile);
        if (ferror(pFile)) {
            Nandkeep_Notify(MSG_FREAD);
            return -1;
        }
        if (ulRead != ulWant) {
            break; // the file shrank: the caller tells
        }
        const int iPlaced =
            ulPos < ulEnd ? PlaceChunk(MTD0Fd(), aucChunk, ulRead, &ulPos, ulEnd, false) : 1;
        if (iPlaced == -1) {
            return -1;
        }
        if (iPlaced == 1) {
            Nandkeep_Notify(MSG_NO_SPACE);
            return -1;
        }
        ulPos += ulRead;
        *pulWritten += ulRead;
        *pdwCrc = Nandkeep_Crc32(*pdwCrc, aucChunk, ulRead);
        ReportProgress(&tProgress, *pulWritten);
    }
    return 0;
}

// The erase and write passes of Nandkeep_WriteImageSource.
int EraseAndWrite(const TSource *ptSrc, unsigned long ulMTDOffset, unsigned long ulMaxSize,
                  int bHTTP) {
    FILE *pFile = ptSrc->pFile;
    Nandkeep_Debug("Erasing flash...\n");
    if (Nandkeep_EraseMTD(MTD0Fd(), ulMTDOffset, ulMaxSize) == -1) {
        Nandkeep_Notify(MSG_ERASE_FAIL);
        return -1;
    }
    if (fseek(pFile, 0, SEEK_SET) != 0) {
        Nandkeep_Notify(MSG_FSEEK);
        return -1;
    }
    Nandkeep_Debug("Writing new image...\n");
    unsigned long ulWritten = 0;
    uint32_t dwCrc = 0;
    if (WriteChunks(pFile, ptSrc->ulSize, ulMTDOffset, ulMTDOffset + ulMaxSize, bHTTP, &ulWritten,
                    &dwCrc) == -1) {
        return -1;
    }
    // What was written must be what was counted at the opening, and the file must end there: a
    // file changed in between could still match the flash when it is compared again.
    if (Nandkeep_CheckSourceUnchanged(ptSrc, ulWritten, dwCrc) == -1) {
        return -1;
    }
    Nandkeep_Debug("Checking Image\n");
    if (fseek(pFile, 0, SEEK_SET) != 0) {
        Nandkeep_Notify(MSG_FSEEK);
        return -1;
    }
    const int iHeld = FileHeldByRegion(pFile, ulMTDOffset, ulMaxSize);
    if (iHeld != 1) {
        if (iHeld == 0) {
            Nandkeep_Debug("Image check FAIL!\n");
            // The flash was written from the bytes counted at the opening: a file that no longer
            // holds them changed during the comparison, which is said.
            (void)Nandkeep_CheckSourceHolds(ptSrc);
        }
        return -1;
    }
    Nandkeep_Debug("Write new image complete\n");
    Nandkeep_Debug("Copied 0x%.8lX bytes to address 0x%.8lX in flash\n", ulWritten, ulMTDOffset);
    return 0;
}

} // namespace

int Nandkeep_WriteImageSource(TSource *ptSrc, unsigned long ulMTDOffset, unsigned long ulMaxSize,
                              int bHTTP) {
    if (Nandkeep_TakeSource(ptSrc) == -1) {
        return -1;
    }
    if (ptSrc->ulSize > ulMaxSize) {
        Nandkeep_Notify(MSG_TOO_LARGE);
        return -1;
    }
    Nandkeep_Debug("File size = 0x%.8lX, ulMaxSize = 0x%.8lX, ulEraseLen = 0x%.8lX\n",
                   ptSrc->ulSize, ulMaxSize, 0UL);
    // Skip-if-same: repeating an upgrade with unchanged files costs only reads.
    const int iHeld = FileHeldByRegion(ptSrc->pFile, ulMTDOffset, ulMaxSize);
    if (iHeld != 0) {
        if (iHeld == 1) {
            Nandkeep_Debug("check image OK!!\n");
            return 0;
        }
        return -1;
    }
    return EraseAndWrite(ptSrc, ulMTDOffset, ulMaxSize, bHTTP);
}

int Nandkeep_WriteImage(const char *szFileName, unsigned long ulMTDOffset, unsigned long ulMaxSize,
                        int bHTTP) {
    TSource tSrc;
    Nandkeep_PrepareSource(&tSrc, szFileName, ulMaxSize);
    const int iRet = Nandkeep_WriteImageSource(&tSrc, ulMTDOffset, ulMaxSize, bHTTP);
    Nandkeep_ReleaseSource(&tSrc);
    return iRet;
}

int Nandkeep_CopyMTD(int iFd, unsigned long ulDestOffset, unsigned long ulSrcOffset,
                     unsigned long ulDestMaxSize, unsigned long ulSrcMaxSize, unsigned long ulLen) {
    const unsigned long ulSrcEnd = ulSrcOffset + ulSrcMaxSize;
    const unsigned long ulDestEnd = ulDestOffset + ulDestMaxSize;
    unsigned long ulSrc = ulSrcOffset;
    unsigned long ulDest = ulDestOffset;
    unsigned char aucChunk[NANDKEEP_PIECE];
    while (ulLen > 0) {
        ulSrc = Nandkeep_SkipBadBlocks(iFd, ulSrc, ulSrcEnd);
        if (ulSrc >= ulSrcEnd || ulDest >= ulDestEnd) {
            Nandkeep_Notify(MSG_TOO_MANY_BAD);
            return -1;
        }
        const unsigned long ulChunk = std::min(ulLen, NANDKEEP_PIECE);
        if (Nandkeep_ReadMTD(iFd, aucChunk, ulSrc, ulChunk) == -1) {
            return -1;
        }
        // A repair runs at boot with nobody to run it again: a block that refuses its program is
        // retired and the chunk moves on, as for one that does not read back what was written.
        const int iPlaced = PlaceChunk(iFd, aucChunk, ulChunk, &ulDest, ulDestEnd, true);
        if (iPlaced == -1) {
            return -1;
        }
        if (iPlaced == 1) {
            Nandkeep_Notify(MSG_TOO_MANY_BAD);
            return -1;
        }
        ulSrc += ulChunk;
        ulDest += ulChunk;
        ulLen -= ulChunk;
    }
    return 0;
}
