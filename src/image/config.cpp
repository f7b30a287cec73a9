// The configuration record store: writing, checking and reading one record, and the two stores
// whose write needs more than one record call (tempdata and NFDI).
#include "image/config.h"

#include "flash/mtdio.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char *MSG_FOPEN = "fopen()";
constexpr const char *MSG_TOO_LARGE = "size too large";
constexpr const char *MSG_ERASE_FAIL = "erase fail";
constexpr const char *MSG_FWRITE = "fwrite()";
constexpr const char *MSG_WRITE_FAIL = "write fail";
constexpr const char *MSG_NO_SPACE = "write fail: Not enought flash space";
constexpr const char *MSG_SIZE_CHECK = "size check fail";
constexpr const char *MSG_CRC = "CRC check error";

// Bytes of payload that share the first piece with the length word.
constexpr unsigned long FIRST_PAYLOAD = NANDKEEP_PIECE - CONFIG_LEN_SIZE;

void PutLE32(unsigned char *p, uint32_t dwValue) {
    p[0] = static_cast<unsigned char>(dwValue);
    p[1] = static_cast<unsigned char>(dwValue >> 8);
    p[2] = static_cast<unsigned char>(dwValue >> 16);
    p[3] = static_cast<unsigned char>(dwValue >> 24);
}

uint32_t GetLE32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

unsigned long CountGoodBlocks(unsigned long ulFrom, unsigned long ulTo) {
    unsigned long ulGood = 0;
    for (unsigned long ulPos = ulFrom; ulPos < ulTo; ulPos += MTD0EraseSize()) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulPos) == 0) {
            ulGood++;
        }
    }
    return ulGood;
}

// A last piece that overflows its block by the checksum word: the overflow (1 to 4 bytes, of
// which ulTailData are checksum bytes and the rest 0xFF fill) goes to the next good block on its
// own, and only where its checksum bytes lie below the area's end.
int WriteOverflow(const unsigned char *pucTail, unsigned long ulTailLen, unsigned long ulTailData,
                  unsigned long ulPos, unsigned long ulEnd) {
    ulPos = Nandkeep_SkipBadBlocks(MTD0Fd(), ulPos, ulEnd);
    if (ulPos >= ulEnd || ulTailData > ulEnd - ulPos) {
        Nandkeep_Notify(MSG_NO_SPACE);
        return -1;
    }
    unsigned char aucPiece[NANDKEEP_PIECE];
    memset(aucPiece, NANDKEEP_ERASED_BYTE, sizeof(aucPiece));
    memcpy(aucPiece, pucTail, ulTailLen);
    if (Nandkeep_WriteMTD(MTD0Fd(), aucPiece, ulPos, ulTailLen) == -1) {
        Nandkeep_Notify(MSG_WRITE_FAIL);
        return -1;
    }
    return 0;
}

// Streams the record of an ulSize-byte file over the good blocks of an erased area, one piece
// per block; a piece goes only where all of its record bytes lie below the area's end. The buffer
// holds one piece plus the checksum word that may overflow it.
int WriteRecordPieces(const TSource *ptSrc, unsigned long ulPos, unsigned long ulEnd) {
    const int iFd = MTD0Fd();
    FILE *pFile = ptSrc->pFile;
    const unsigned long ulSize = ptSrc->ulSize;
    unsigned char aucBuf[NANDKEEP_PIECE + CONFIG_CRC_SIZE];
    PutLE32(aucBuf, static_cast<uint32_t>(ulSize));
    unsigned long ulFill = CONFIG_LEN_SIZE;
    unsigned long ulRemaining = ulSize;
    uint32_t dwCrc = 0;
    for (;;) {
        unsigned long ulWant = std::min(ulRemaining, NANDKEEP_PIECE - ulFill);
        const unsigned long ulGot = ulWant > 0 ? fread(aucBuf + ulFill, 1, ulWant, pFile) : 0;
        if (ulGot != ulWant) {
            // A file that shrank since it was counted cannot give the promised length.
            (void)Nandkeep_CheckSourceUnchanged(ptSrc, ulSize - ulRemaining + ulGot, dwCrc);
            return -1;
        }
        dwCrc = Nandkeep_Crc32(dwCrc, aucBuf + ulFill, ulWant);
        ulRemaining -= ulWant;
        unsigned long ulCount = ulFill + ulWant;
        // Record bytes in the buffer; the 0xFF fill behind the checksum word is not counted.
        unsigned long ulData = ulCount;
        const bool bLast = ulRemaining == 0;
        if (bLast) {
            // A file that changed since it was counted gets no checksum word, so no valid record.
            if (Nandkeep_CheckSourceUnchanged(ptSrc, ulSize, dwCrc) == -1) {
                return -1;
            }
            PutLE32(aucBuf + ulCount, dwCrc);
            ulCount += CONFIG_CRC_SIZE;
            ulData = ulCount;
            while (ulCount % 4 != 0) {
                aucBuf[ulCount++] = NANDKEEP_ERASED_BYTE;
            }
            Nandkeep_Debug("dwCRCSum = 0x%X \n", dwCrc);
        }
        ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos, ulEnd);
        if (ulPos >= ulEnd) {
            return -1;
        }
        if (std::min(ulData, NANDKEEP_PIECE) > ulEnd - ulPos) {
            Nandkeep_Notify(MSG_NO_SPACE);
            return -1;
        }
        const unsigned long ulHere = std::min(ulCount, NANDKEEP_PIECE);
        if (Nandkeep_WriteMTD(iFd, aucBuf, ulPos, ulHere) == -1) {
            Nandkeep_Notify(MSG_WRITE_FAIL);
            return -1;
        }
        if (ulCount > NANDKEEP_PIECE) {
            return WriteOverflow(aucBuf + NANDKEEP_PIECE, ulCount - NANDKEEP_PIECE,
                                 ulData - NANDKEEP_PIECE, ulPos + NANDKEEP_PIECE, ulEnd);
        }
        if (bLast) {
            return 0;
        }
        ulPos += ulCount;
        ulFill = 0;
        if (ulPos >= ulEnd) {
            Nandkeep_Notify(MSG_NO_SPACE);
            return -1;
        }
    }
}

// Reads the checksum word at ulPos, which may be split by an erase-block boundary: the bytes
// behind the boundary lie at the next good block. -1 when the area ends first or a read fails.
int ReadChecksum(int iFd, unsigned long ulPos, unsigned long ulEnd, uint32_t *pdwStored) {
    const unsigned long ulErase = MTD0EraseSize();
    unsigned char aucWord[CONFIG_CRC_SIZE];
    if (ulPos % ulErase == 0) {
        ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos, ulEnd);
    }
    unsigned long ulBefore = std::min(CONFIG_CRC_SIZE, ulErase - ulPos % ulErase);
    if (ulPos >= ulEnd || ulEnd - ulPos < ulBefore) {
        return -1;
    }
    if (Nandkeep_ReadMTD(iFd, aucWord, ulPos, ulBefore) == -1) {
        return -1;
    }
    if (ulBefore < CONFIG_CRC_SIZE) {
        const unsigned long ulAfter = CONFIG_CRC_SIZE - ulBefore;
        ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos + ulBefore, ulEnd);
        if (ulPos >= ulEnd || ulEnd - ulPos < ulAfter) {
            return -1;
        }
        if (Nandkeep_ReadMTD(iFd, aucWord + ulBefore, ulPos, ulAfter) == -1) {
            return -1;
        }
    }
    *pdwStored = GetLE32(aucWord);
    return 0;
}

// Closes the destination of a read; a flush that fails at close loses payload like a short write.
int CloseDest(FILE *pOut, bool bReport) {
    if (pOut != nullptr && fclose(pOut) != 0) {
        if (bReport) {
            Nandkeep_Notify(MSG_FWRITE);
        }
        return -1;
    }
    return 0;
}

// Walks the record of the area exactly as the writer laid it out. With szDest the payload goes to
// that file and failures are reported; without it nothing is printed.
int WalkRecord(int iFd, const char *szDest, unsigned long ulMTDOffset, unsigned long ulMTDMaxSize) {
    if (ulMTDMaxSize == 0 || MTD0EraseSize() == 0 || ulMTDMaxSize > ~0UL - ulMTDOffset) {
        return -1;
    }
    const unsigned long ulEnd = ulMTDOffset + ulMTDMaxSize;
    unsigned long ulPos = Nandkeep_SkipBadBlocks(iFd, ulMTDOffset, ulEnd);
    if (ulPos >= ulEnd) {
        return -1;
    }
    unsigned char aucBuf[NANDKEEP_PIECE];
    if (Nandkeep_ReadMTD(iFd, aucBuf, ulPos, CONFIG_LEN_SIZE) == -1) {
        return -1;
    }
    const uint32_t dwLen = GetLE32(aucBuf);
    if (dwLen == CONFIG_NO_RECORD || dwLen + CONFIG_OVERHEAD > ulMTDMaxSize) {
        if (szDest != nullptr) {
            Nandkeep_Notify(MSG_SIZE_CHECK);
        }
        return -1;
    }
    FILE *pOut = nullptr;
    if (szDest != nullptr) {
        // A destination that is the flash itself would have the payload programmed into the
        // device: it is refused before anything is truncated.
        int bIsFlash = 0;
        pOut = Plat_OpenDestination(szDest, "w", &bIsFlash);
        if (pOut == nullptr) {
            Nandkeep_Notify(bIsFlash ? "destination is the flash device itself" : MSG_FOPEN);
            printf("%s", szDest);
            return -1;
        }
    }
    ulPos += CONFIG_LEN_SIZE;
    unsigned long ulRemaining = dwLen;
    unsigned long ulChunk = std::min(ulRemaining, FIRST_PAYLOAD);
    uint32_t dwCrc = 0;
    while (ulRemaining > 0) {
        if (ulPos >= ulEnd || ulEnd - ulPos < ulChunk ||
            Nandkeep_ReadMTD(iFd, aucBuf, ulPos, ulChunk) == -1) {
            (void)CloseDest(pOut, false);
            return -1;
        }
        dwCrc = Nandkeep_Crc32(dwCrc, aucBuf, ulChunk);
        if (pOut != nullptr && fwrite(aucBuf, 1, ulChunk, pOut) != ulChunk) {
            (void)CloseDest(pOut, false);
            Nandkeep_Notify(MSG_FWRITE);
            return -1;
        }
        ulPos += ulChunk;
        ulRemaining -= ulChunk;
        if (ulRemaining > 0) {
            ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos, ulEnd);
            ulChunk = std::min(ulRemaining, NANDKEEP_PIECE);
        }
    }
    if (CloseDest(pOut, true) == -1) {
        return -1;
    }
    uint32_t dwStored = 0;
    if (ReadChecksum(iFd, ulPos, ulEnd, &dwStored) == -1) {
        return -1;
    }
    if (dwStored != dwCrc) {
        if (szDest != nullptr) {
            Nandkeep_Notify(MSG_CRC);
            printf("CRC check error 0x%X / 0x%X \n", dwCrc, dwStored);
        }
        return -1;
    }
    return 0;
}

// Offset of the k-th valid tempconf copy counted from candidate 1 (k = 1 or 2), or 0 when there
// are fewer. Block 0 of the device never is a candidate.
unsigned long FindTempConfCopy(int iWanted) {
    int iFound = 0;
    unsigned long ulLast = 0;
    for (unsigned long i = 1; i <= Nandkeep_TempConfCount() && iFound < iWanted; i++) {
        if (Nandkeep_CheckConfig(MTD0Fd(), Nandkeep_TempConfOffset(i), MTD0EraseSize()) == 0) {
            iFound++;
            ulLast = Nandkeep_TempConfOffset(i);
        }
    }
    return ulLast;
}

} // namespace

int Nandkeep_CheckConfigSource(TSource *ptSrc, unsigned long ulMaxSize) {
    if (Nandkeep_TakeSource(ptSrc) == -1) {
        return -1;
    }
    if (ptSrc->ulSize + CONFIG_OVERHEAD > ulMaxSize) {
        Nandkeep_Notify(MSG_TOO_LARGE);
        return -1;
    }
    return 0;
}

int Nandkeep_WriteConfig(TSource *ptSrc, unsigned long ulMTDOffset, unsigned long ulMTDMaxSize) {
    if (Nandkeep_CheckConfigSource(ptSrc, ulMTDMaxSize) == -1) {
        return -1;
    }
    // Erase before program: NAND only clears bits, and the rest of the area must read as 0xFF.
    if (Nandkeep_EraseMTD(MTD0Fd(), ulMTDOffset, ulMTDMaxSize) == -1) {
        Nandkeep_Notify(MSG_ERASE_FAIL);
        return -1;
    }
    const int iRet = WriteRecordPieces(ptSrc, ulMTDOffset, ulMTDOffset + ulMTDMaxSize);
    if (iRet == 0) {
        Nandkeep_Debug("Write tempory config complete\n");
    }
    return iRet;
}

int Nandkeep_CheckConfigInPiece(const unsigned char *pucPiece, unsigned long ulAvail,
                                unsigned long *pulRecordLen) {
    const uint32_t dwLen = GetLE32(pucPiece);
    if (dwLen == CONFIG_NO_RECORD || ulAvail > NANDKEEP_PIECE ||
        dwLen + CONFIG_OVERHEAD > ulAvail) {
        return -1;
    }
    const unsigned char *pucPayload = pucPiece + CONFIG_LEN_SIZE;
    if (Nandkeep_Crc32(0, pucPayload, dwLen) != GetLE32(pucPayload + dwLen)) {
        return -1;
    }
    *pulRecordLen = dwLen + CONFIG_OVERHEAD;
    return 0;
}

int Nandkeep_CheckConfig(int iFd, unsigned long ulMTDOffset, unsigned long ulMTDMaxSize) {
    return WalkRecord(iFd, nullptr, ulMTDOffset, ulMTDMaxSize);
}

int Nandkeep_ReadConfig(int iFd, const char *szFileName, unsigned long ulMTDOffset,
                        unsigned long ulMTDMaxSize) {
    return WalkRecord(iFd, szFileName, ulMTDOffset, ulMTDMaxSize);
}

int Nandkeep_CheckStoreTable(void) {
    if (g_iPartitionNum < CONFIG_MIN_PARTITIONS) {
        Nandkeep_Notify("mtd partition table has fewer than 5 records");
        return -1;
    }
    if (MTD0EraseSize() == 0 || g_ptMTDInfo[3].ulEraseSize == 0 ||
        g_ptMTDInfo[4].ulEraseSize == 0) {
        Nandkeep_Notify("mtd partition with erase size 0");
        return -1;
    }
    return 0;
}

unsigned long Nandkeep_TempConfCount(void) {
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulNFDIBlocks = g_ulNFDISize / g_ptMTDInfo[4].ulEraseSize;
    const unsigned long ulCount = g_ulFlashfs2Size / g_ptMTDInfo[3].ulEraseSize;
    // The candidates stop one block short of the flashfs2 partition's first block: the temporary
    // data record starts there and is no tempconf copy. Candidate i lies above that block while
    // e x (N + i) stays below the distance from it to the device end.
    if (MTD0Size() <= g_ulFlashfs2Offest) {
        return 0;
    }
    const unsigned long ulAbove = (MTD0Size() - g_ulFlashfs2Offest + ulErase - 1) / ulErase;
    if (ulAbove <= ulNFDIBlocks + 1) {
        return 0;
    }
    return std::min(ulCount, ulAbove - ulNFDIBlocks - 1);
}

unsigned long Nandkeep_TempConfOffset(unsigned long ulIndex) {
    const unsigned long ulNFDIBlocks = g_ulNFDISize / g_ptMTDInfo[4].ulEraseSize;
    return MTD0Size() - MTD0EraseSize() * (ulNFDIBlocks + ulIndex);
}

unsigned long Nandkeep_NFDIStart(void) {
    return g_ulFlashfs2Offest + g_ptMTDInfo[3].ulSize;
}

unsigned long Nandkeep_NFDICount(void) {
    const unsigned long ulBlocks = g_ptMTDInfo[4].ulSize / MTD0EraseSize();
    const unsigned long ulBBT = static_cast<unsigned long>(g_iBBTBlockNum);
    return ulBlocks > ulBBT ? ulBlocks - ulBBT : 0;
}

unsigned long Nandkeep_NFDIAreaSize(unsigned long ulIndex) {
    return (Nandkeep_NFDICount() - ulIndex) * MTD0EraseSize();
}

int Nandkeep_WriteTempData(TSource *ptSrc) {
    const unsigned long ulStart = g_ulFlashfs2Offest;
    unsigned long ulBound = FindTempConfCopy(2);
    if (ulBound == 0) {
        ulBound = FindTempConfCopy(1);
    }
    if (ulBound == 0) {
        ulBound = ulStart + g_ptMTDInfo[3].ulSize;
    }
    const unsigned long ulGood = ulBound > ulStart ? CountGoodBlocks(ulStart, ulBound) : 0;
    if (Nandkeep_CheckConfigSource(ptSrc, ulGood * MTD0EraseSize()) == -1) {
        return -1;
    }
    (void)Nandkeep_WriteConfig(ptSrc, ulStart, ulBound - ulStart);
    return Nandkeep_CheckConfig(MTD0Fd(), ulStart, ulBound - ulStart);
}

// The NFDI partition is found two ways: from the flashfs2 partition below it (S) and back from
// the device end (C1). Copy 1 is written at C1 and everything else is measured from S, so the
// write goes ahead only when both agree and the partition lies inside the device: otherwise an
// erase could reach into the partition below.
int Nandkeep_WriteNFDI(TSource *ptSrc) {
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulS = Nandkeep_NFDIStart();
    const unsigned long ulNFDISize = g_ptMTDInfo[4].ulSize;
    if (ulNFDISize > MTD0Size() || MTD0Size() - ulNFDISize != ulS) {
        Nandkeep_Notify("NFDI partition does not match the flashfs2 partition, nothing written");
        return -1;
    }
    const unsigned long ulC1 = ulS;
    const unsigned long ulTableStart = ulS + Nandkeep_NFDICount() * ulErase;
    const unsigned long ulGood = CountGoodBlocks(ulS, ulTableStart);

    if (Nandkeep_TakeSource(ptSrc) == -1) {
        return -1;
    }
    if (ulGood * ulErase < 2 * (ptSrc->ulSize + CONFIG_OVERHEAD)) {
        Nandkeep_Notify(MSG_TOO_LARGE);
        return -1;
    }

    // The split point lies just after the (G / 2)-th good block.
    unsigned long ulSplit = ulS;
    for (unsigned long ulPassed = 0; ulPassed < ulGood / 2 && ulSplit < ulTableStart;
         ulSplit += ulErase) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulSplit) == 0) {
            ulPassed++;
        }
    }
    const unsigned long ulLen1 = ulSplit - ulC1;
    (void)Nandkeep_WriteConfig(ptSrc, ulC1, ulLen1);
    const int iCopy1 = Nandkeep_CheckConfig(MTD0Fd(), ulC1, ulLen1);
    (void)Nandkeep_WriteConfig(ptSrc, ulSplit, ulTableStart - ulSplit);
    const int iCopy2 = Nandkeep_CheckConfig(MTD0Fd(), ulSplit, ulTableStart - ulSplit);
    return (iCopy1 == 0 || iCopy2 == 0) ? 0 : -1;
}
