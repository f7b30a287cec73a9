// The configuration record codec: writing a record over an area, walking one back.
#include "image/record.h"

#include "flash/device.h"
#include "flash/notify.h"
#include "image/texts.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes of payload that share the first piece with the length word.
constexpr uint64_t FIRST_PAYLOAD = NANDKEEP_PIECE - CONFIG_LEN_SIZE;

// The ullLen bytes at ullPos, which lie inside one piece: the piece is read whole into
// pucPiece, as a read of just those bytes asks the device for it. nullptr when the read failed.
const unsigned char *ReadWithin(int iFd, unsigned char *pucPiece, uint64_t ullPos) {
    const uint64_t ullLead = ullPos % NANDKEEP_PIECE;
    return Nandkeep_ReadMTD(iFd, pucPiece, ullPos - ullLead, NANDKEEP_PIECE) != 0
               ? nullptr
               : pucPiece + ullLead;
}

// Ends the record in the buffer after its last payload byte at ullCount: the checksum word, then
// 0xFF up to a whole word. The new count.
uint64_t CloseRecord(unsigned char *pucBuf, uint64_t ullCount, uint32_t dwCrc) {
    Record_PutLE32(pucBuf + ullCount, dwCrc);
    ullCount += CONFIG_CRC_SIZE;
    while (ullCount % 4 != 0) {
        pucBuf[ullCount++] = NANDKEEP_ERASED_BYTE;
    }
    return ullCount;
}

// A last piece that overflows its block by the checksum word: the overflow (1 to 4 bytes, of
// which ullTailData are checksum bytes and the rest 0xFF fill) goes to the next good block on its
// own, and only where its checksum bytes lie below the area's end.
int WriteOverflow(TRegion *ptArea, unsigned char *pucBuf, uint64_t ullTailLen,
                  uint64_t ullTailData) {
    Region_Advance(ptArea, NANDKEEP_PIECE);
    if (!Region_GoodFor(ptArea, ullTailData)) {
        Nandkeep_Notify(TXT_REC_NO_SPACE);
        return -1;
    }
    memmove(pucBuf, pucBuf + NANDKEEP_PIECE, Nandkeep_PieceOf(ullTailLen));
    if (Nandkeep_WriteMTD(ptArea->iFd, pucBuf, ptArea->ullPos, ullTailLen) != 0) {
        Nandkeep_Notify(TXT_REC_WRITE_FAIL);
        return -1;
    }
    return 0;
}

// Places one piece of ullCount buffer bytes, ullData of them record bytes (the 0xFF fill behind
// the checksum word is not). 0, or -1 (said, but for an area left without good blocks).
int WritePiece(TRegion *ptArea, unsigned char *pucBuf, uint64_t ullCount, uint64_t ullData) {
    if (!Region_Good(ptArea)) {
        return -1;
    }
    if (!Region_Fits(ptArea, std::min(ullData, NANDKEEP_PIECE))) {
        Nandkeep_Notify(TXT_REC_NO_SPACE);
        return -1;
    }
    if (Nandkeep_WriteMTD(ptArea->iFd, pucBuf, ptArea->ullPos,
                          std::min(ullCount, NANDKEEP_PIECE)) != 0) {
        Nandkeep_Notify(TXT_REC_WRITE_FAIL);
        return -1;
    }
    if (ullCount > NANDKEEP_PIECE) {
        return WriteOverflow(ptArea, pucBuf, ullCount - NANDKEEP_PIECE, ullData - NANDKEEP_PIECE);
    }
    return 0;
}

// Reads the checksum word at the walk's position, which may be split by an erase-block boundary:
// the bytes behind the boundary lie at the next good block. -1 when the area ends first or a read
// fails.
int ReadChecksum(TRegion *ptArea, unsigned char *pucPiece, uint32_t *pdwStored) {
    const uint64_t ullErase = MTD0EraseSize();
    unsigned char aucWord[CONFIG_CRC_SIZE];
    if (ptArea->ullPos % ullErase == 0) {
        (void)Region_Good(ptArea);
    }
    const uint64_t ullBefore = std::min(CONFIG_CRC_SIZE, ullErase - ptArea->ullPos % ullErase);
    const unsigned char *pucAt = nullptr;
    if (!Region_Fits(ptArea, ullBefore) ||
        (pucAt = ReadWithin(ptArea->iFd, pucPiece, ptArea->ullPos)) == nullptr) {
        return -1;
    }
    memcpy(aucWord, pucAt, static_cast<size_t>(ullBefore));
    if (ullBefore < CONFIG_CRC_SIZE) {
        Region_Advance(ptArea, ullBefore);
        const uint64_t ullAfter = CONFIG_CRC_SIZE - ullBefore;
        if (!Region_GoodFor(ptArea, ullAfter) ||
            (pucAt = ReadWithin(ptArea->iFd, pucPiece, ptArea->ullPos)) == nullptr) {
            return -1;
        }
        memcpy(aucWord + ullBefore, pucAt, static_cast<size_t>(ullAfter));
    }
    *pdwStored = Record_GetLE32(aucWord);
    return 0;
}

// Closes the destination of a read; a flush that fails at close loses payload like a short write.
int CloseDest(FILE *pOut, bool bReport) {
    if (pOut != nullptr && fclose(pOut) != 0) {
        if (bReport) {
            Nandkeep_Notify(TXT_REC_FWRITE);
        }
        return -1;
    }
    return 0;
}

// The payload after the length word, chunk by chunk over the good blocks, into the CRC and pOut.
// 0, or -1 (the destination closed; a short write said).
int WalkPayload(TRegion *ptArea, unsigned char *pucPiece, uint32_t dwLen, FILE *pOut,
                uint32_t *pdwCrc) {
    uint64_t ullRemaining = dwLen;
    uint64_t ullChunk = std::min(ullRemaining, FIRST_PAYLOAD);
    while (ullRemaining > 0) {
        const unsigned char *pucAt = nullptr;
        if (!Region_Fits(ptArea, ullChunk) ||
            (pucAt = ReadWithin(ptArea->iFd, pucPiece, ptArea->ullPos)) == nullptr) {
            (void)CloseDest(pOut, false);
            return -1;
        }
        *pdwCrc = Nandkeep_Crc32(*pdwCrc, pucAt, ullChunk);
        if (pOut != nullptr && fwrite(pucAt, 1, Nandkeep_PieceOf(ullChunk), pOut) != ullChunk) {
            (void)CloseDest(pOut, false);
            Nandkeep_Notify(TXT_REC_FWRITE);
            return -1;
        }
        Region_Advance(ptArea, ullChunk);
        ullRemaining -= ullChunk;
        if (ullRemaining > 0) {
            (void)Region_Good(ptArea);
            ullChunk = std::min(ullRemaining, NANDKEEP_PIECE);
        }
    }
    return 0;
}

} // namespace

uint32_t Record_GetLE32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Record_PutLE32(unsigned char *p, uint32_t dwValue) {
    p[0] = static_cast<unsigned char>(dwValue);
    p[1] = static_cast<unsigned char>(dwValue >> 8);
    p[2] = static_cast<unsigned char>(dwValue >> 16);
    p[3] = static_cast<unsigned char>(dwValue >> 24);
}

int Record_LengthWord(TRegion *ptArea, unsigned char *pucPiece, uint32_t *pdwLen) {
    const unsigned char *pucAt = nullptr;
    if (!Region_Good(ptArea) ||
        (pucAt = ReadWithin(ptArea->iFd, pucPiece, ptArea->ullPos)) == nullptr) {
        return -1;
    }
    *pdwLen = Record_GetLE32(pucAt);
    return 0;
}

int Record_Walk(int iFd, const char *szDest, uint64_t ullOffset, uint64_t ullMaxSize) {
    if (ullMaxSize == 0 || MTD0EraseSize() == 0 || ullMaxSize > UINT64_MAX - ullOffset) {
        return -1;
    }
    TRegion tArea = Region_Of(iFd, ullOffset, ullMaxSize);
    unsigned char aucPiece[NANDKEEP_PIECE];
    uint32_t dwLen{};
    if (Record_LengthWord(&tArea, aucPiece, &dwLen) != 0) {
        return -1;
    }
    if (!Record_Plausible(dwLen, ullMaxSize)) {
        if (szDest != nullptr) {
            Nandkeep_Notify(TXT_REC_SIZE_CHECK);
        }
        return -1;
    }
    FILE *pOut = szDest != nullptr ? Nandkeep_OpenDestination(szDest, "w") : nullptr;
    if (szDest != nullptr && pOut == nullptr) {
        return -1;
    }
    uint32_t dwCrc = 0;
    uint32_t dwStored{};
    Region_Advance(&tArea, CONFIG_LEN_SIZE);
    if (WalkPayload(&tArea, aucPiece, dwLen, pOut, &dwCrc) != 0 || CloseDest(pOut, true) != 0 ||
        ReadChecksum(&tArea, aucPiece, &dwStored) != 0) {
        return -1;
    }
    if (dwStored != dwCrc) {
        if (szDest != nullptr) {
            Nandkeep_Notify(TXT_REC_CRC);
            Nandkeep_Print(TXT_REC_CRC_VALUES, dwCrc, dwStored);
        }
        return -1;
    }
    return 0;
}

int Record_Write(const TSource *ptSrc, uint64_t ullPos, uint64_t ullEnd) {
    TRegion tArea = Region_Span(MTD0Fd(), ullPos, ullEnd);
    FILE *pFile = ptSrc->pFile;
    const uint64_t ullSize = ptSrc->ulSize;
    // One piece, and the checksum word that may overflow it.
    unsigned char aucBuf[NANDKEEP_PIECE + CONFIG_CRC_SIZE] = {};
    Record_PutLE32(aucBuf, static_cast<uint32_t>(ullSize));
    uint64_t ullFill = CONFIG_LEN_SIZE;
    uint64_t ullRemaining = ullSize;
    uint32_t dwCrc = 0;
    for (;;) {
        const uint64_t ullWant = std::min(ullRemaining, NANDKEEP_PIECE - ullFill);
        const uint64_t ullGot =
            ullWant > 0 ? fread(aucBuf + ullFill, 1, Nandkeep_PieceOf(ullWant), pFile) : 0;
        if (ullGot != ullWant) {
            // A file that shrank since it was counted cannot give the promised length.
            (void)Nandkeep_CheckSourceUnchanged(ptSrc, ullSize - ullRemaining + ullGot, dwCrc);
            return -1;
        }
        dwCrc = Nandkeep_Crc32(dwCrc, aucBuf + ullFill, ullWant);
        ullRemaining -= ullWant;
        uint64_t ullCount = ullFill + ullWant;
        const bool bLast = ullRemaining == 0;
        // A file that changed since it was counted gets no checksum word, so no valid record.
        if (bLast && Nandkeep_CheckSourceUnchanged(ptSrc, ullSize, dwCrc) != 0) {
            return -1;
        }
        const uint64_t ullData = bLast ? ullCount + CONFIG_CRC_SIZE : ullCount;
        ullCount = bLast ? CloseRecord(aucBuf, ullCount, dwCrc) : ullCount;
        if (WritePiece(&tArea, aucBuf, ullCount, ullData) != 0) {
            return -1;
        }
        if (bLast) {
            return 0;
        }
        Region_Advance(&tArea, ullCount);
        ullFill = 0;
        if (tArea.ullPos >= tArea.ullEnd) {
            Nandkeep_Notify(TXT_REC_NO_SPACE);
            return -1;
        }
    }
}

int Record_CheckInPiece(const unsigned char *pucPiece, uint64_t ullAvail, uint64_t *pullRecordLen) {
    const uint32_t dwLen = Record_GetLE32(pucPiece);
    if (!Record_Plausible(dwLen, ullAvail) || ullAvail > NANDKEEP_PIECE) {
        return -1;
    }
    const unsigned char *pucPayload = pucPiece + CONFIG_LEN_SIZE;
    if (Nandkeep_Crc32(0, pucPayload, dwLen) != Record_GetLE32(pucPayload + dwLen)) {
        return -1;
    }
    *pullRecordLen = dwLen + CONFIG_OVERHEAD;
    return 0;
}
