// The image writer.
#include "upgrade/writer.h"

#include "flash/compare.h"
#include "flash/device.h"
#include "flash/region.h"
#include "flash/notify.h"
#include "flash/progress.h"
#include "upgrade/texts.h"

#include <algorithm>
#include <cstdio>

namespace {

// Compares the whole file with the region: 1 held, 0 not held, -1 failure (notified).
int FileHeldByRegion(FILE *pFile, uint64_t ullMTDOffset, uint64_t ullMaxSize) {
    int iSame = 0;
    if (Nandkeep_CompareFileAndMTD(pFile, ullMTDOffset, ullMaxSize, &iSame) != 0) {
        Nandkeep_Notify(TXT_WR_COMPARE_FAIL);
        return -1;
    }
    return iSame == 1 ? 1 : 0;
}

// Writes the source's bytes from its current position over the good blocks of the region, adding
// up what was written (*pullWritten) and its CRC-32 (*pdwCrc). Only the bytes counted at the
// opening are written: a file that grows meanwhile is not followed; one that shrank stops the
// writing early. Standard output is flushed after every chunk. 0, or -1 after notifying. The chunk
// buffer is this function's own, so that it is gone again when the region is compared with the
// file.
int WriteChunks(const TSource *ptSrc, TRegion *ptReg, uint64_t *pullWritten, uint32_t *pdwCrc) {
    const uint64_t ullFileSize = ptSrc->ulSize;
    // One whole piece even for a short last chunk: the write pads it with 0xFF in place.
    unsigned char aucChunk[NANDKEEP_PIECE];
    while (*pullWritten < ullFileSize) {
        const size_t ulWant = Nandkeep_PieceOf(ullFileSize - *pullWritten);
        const uint64_t ullRead = fread(aucChunk, 1, ulWant, ptSrc->pFile);
        if (ferror(ptSrc->pFile)) {
            Nandkeep_Notify(TXT_WR_FREAD);
            return -1;
        }
        if (ullRead != ulWant) {
            break; // the file shrank: the caller tells
        }
        const EPlace ePlace = Region_Place(ptReg, aucChunk, ullRead, false);
        if (ePlace != EPlace::PLACED) {
            if (ePlace == EPlace::NO_ROOM) {
                Nandkeep_Notify(TXT_WR_NO_SPACE);
            }
            return -1;
        }
        Region_Advance(ptReg, ullRead);
        *pullWritten += ullRead;
        *pdwCrc = Nandkeep_Crc32(*pdwCrc, aucChunk, ullRead);
        Progress_Percent("writing", *pullWritten, ullFileSize);
        fflush(stdout);
    }
    return 0;
}

// The erase and write passes of Nandkeep_WriteImageSource.
int EraseAndWrite(const TSource *ptSrc, uint64_t ullMTDOffset, uint64_t ullMaxSize) {
    FILE *pFile = ptSrc->pFile;
    if (Nandkeep_EraseMTD(MTD0Fd(), ullMTDOffset, ullMaxSize) == -1) {
        Nandkeep_Notify(TXT_WR_ERASE_FAIL);
        return -1;
    }
    if (fseek(pFile, 0, SEEK_SET) != 0) {
        Nandkeep_Notify(TXT_WR_FSEEK);
        return -1;
    }
    TRegion tReg = Region_Of(MTD0Fd(), ullMTDOffset, ullMaxSize);
    uint64_t ullWritten = 0;
    uint32_t dwCrc = 0;
    // What was written must be what was counted at the opening, and the file must end there: a
    // file changed in between could still match the flash when it is compared again.
    if (WriteChunks(ptSrc, &tReg, &ullWritten, &dwCrc) != 0 ||
        Nandkeep_CheckSourceUnchanged(ptSrc, ullWritten, dwCrc) != 0) {
        return -1;
    }
    if (fseek(pFile, 0, SEEK_SET) != 0) {
        Nandkeep_Notify(TXT_WR_FSEEK);
        return -1;
    }
    const int iHeld = FileHeldByRegion(pFile, ullMTDOffset, ullMaxSize);
    // The flash was written from the bytes counted at the opening: a file that no longer holds
    // them changed during the comparison, which is said.
    if (iHeld == 0) {
        (void)Nandkeep_CheckSourceHolds(ptSrc);
    }
    return iHeld == 1 ? 0 : -1;
}

} // namespace

int Nandkeep_WriteImageSource(TSource *ptSrc, uint64_t ulMTDOffset, uint64_t ulMaxSize, int bHTTP) {
    (void)bHTTP; // the progress formats only went to the trace routine, which prints nothing
    if (Nandkeep_TakeSource(ptSrc) != 0) {
        return -1;
    }
    if (ptSrc->ulSize > ulMaxSize) {
        Nandkeep_Notify(TXT_WR_TOO_LARGE);
        return -1;
    }
    // Skip-if-same: repeating an upgrade with unchanged files costs only reads.
    const int iHeld = FileHeldByRegion(ptSrc->pFile, ulMTDOffset, ulMaxSize);
    if (iHeld != 0) {
        return iHeld == 1 ? 0 : -1;
    }
    return EraseAndWrite(ptSrc, ulMTDOffset, ulMaxSize);
}

int Nandkeep_WriteImage(const char *szFileName, uint64_t ulMTDOffset, uint64_t ulMaxSize,
                        int bHTTP) {
    TSource tSrc;
    Nandkeep_PrepareSource(&tSrc, szFileName, ulMaxSize);
    const int iRet = Nandkeep_WriteImageSource(&tSrc, ulMTDOffset, ulMaxSize, bHTTP);
    Nandkeep_ReleaseSource(&tSrc);
    return iRet;
}
