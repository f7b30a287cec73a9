// Validating a firmware image in flash and locating the item behind it.
#include "image/mkimg.h"

#include "flash/mtdio.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "image/source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The verdict on an image's data: its CRC must match and all of the declared data must have been
// there. The failure is worded by the image's size class.
int DataVerdict(uint32_t dwDataSize, uint32_t dwCrc, uint32_t dwStored, bool bComplete) {
    if (bComplete && dwCrc == dwStored) {
        return 0;
    }
    if (dwDataSize < MKIMG_FIRST_DATA) {
        Nandkeep_Notify("DTB CRC check error");
        printf("DTB Data CRC check error 0x%X / 0x%X \n", dwCrc, dwStored);
    } else {
        Nandkeep_Notify("Kernel/Rootfs CRC check error");
        printf("Data CRC check error 0x%X / 0x%X \n", dwCrc, dwStored);
    }
    return -1;
}

} // namespace

uint32_t Nandkeep_GetBE32(const unsigned char *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// The sub-image starts at the first 128 KiB boundary strictly after the last data byte, so an
// image ending exactly on a boundary is followed by one empty block.
unsigned long Nandkeep_SubImageOffset(unsigned long ulEnd) {
    return ulEnd - ulEnd % NANDKEEP_PIECE + NANDKEEP_PIECE;
}

const char *Nandkeep_ImageHeaderFault(const unsigned char *pucHeader) {
    if (Nandkeep_GetBE32(pucHeader) != MKIMG_MAGIC) {
        return "check Magic Num fail";
    }
    unsigned char aucHeader[MKIMG_HEADER_SIZE];
    memcpy(aucHeader, pucHeader, sizeof(aucHeader));
    memset(aucHeader + MKIMG_HCRC_OFFSET, 0, 4);
    if (Nandkeep_Crc32(0, aucHeader, MKIMG_HEADER_SIZE) !=
        Nandkeep_GetBE32(pucHeader + MKIMG_HCRC_OFFSET)) {
        return "Header CRC check fail";
    }
    return nullptr;
}

int Nandkeep_CheckImageHeader(unsigned char *pucHeader) {
    const char *szFault = Nandkeep_ImageHeaderFault(pucHeader);
    if (szFault != nullptr) {
        Nandkeep_Notify(szFault);
        return -1;
    }
    Nandkeep_Debug("Magic NUM  = 0x%X\n", Nandkeep_GetBE32(pucHeader));
    memset(pucHeader + MKIMG_HCRC_OFFSET, 0, 4);
    return 0;
}

// A DTB-sized image (fewer than MKIMG_FIRST_DATA data bytes) asked for its sub-image offset
// answers by the same placement rule as any other image: the first 128 KiB boundary after its
// data, which is the block after its header block. Writers and readers of the sub-image call
// this function alike, so they always agree on the place, and no caller is left with an unset
// offset.
int Nandkeep_CheckImage(unsigned long ulMTDOffset, unsigned long ulMTDMaxSize, int iSubImage,
                        unsigned long *pulResult) {
    const int iFd = MTD0Fd();
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulEnd = ulMTDOffset + ulMTDMaxSize;
    unsigned char aucBuf[NANDKEEP_PIECE];
    memset(aucBuf, 0, sizeof(aucBuf));

    unsigned long ulPos = Nandkeep_SkipBadBlocks(iFd, ulMTDOffset, ulEnd);
    if (ulPos >= ulEnd) {
        Nandkeep_Notify("flash driver fail");
        return -1;
    }
    if (Nandkeep_ReadMTD(iFd, aucBuf, ulPos, NANDKEEP_PIECE) == -1) {
        return -1;
    }
    const unsigned long ulHeaderBlock = ulPos;

    if (Nandkeep_CheckImageHeader(aucBuf) == -1) {
        return -1;
    }

    uint32_t dwDataSize = Nandkeep_GetBE32(aucBuf + MKIMG_SIZE_OFFSET);
    uint32_t dwDataCrc = Nandkeep_GetBE32(aucBuf + MKIMG_DCRC_OFFSET);
    if (iSubImage == MKIMG_RESULT_IMAGE_LEN) {
        *pulResult = static_cast<uint32_t>(dwDataSize + MKIMG_HEADER_SIZE);
    }

    if (dwDataSize < MKIMG_FIRST_DATA) {
        uint32_t dwCrc = Nandkeep_Crc32(0, aucBuf + MKIMG_HEADER_SIZE, dwDataSize);
        if (DataVerdict(dwDataSize, dwCrc, dwDataCrc, true) == -1) {
            return -1;
        }
        if (iSubImage == MKIMG_RESULT_SUB_OFFSET) {
            *pulResult = Nandkeep_SubImageOffset(ulHeaderBlock + MKIMG_HEADER_SIZE + dwDataSize);
        }
        return 0;
    }

    uint32_t dwCrc = Nandkeep_Crc32(0, aucBuf + MKIMG_HEADER_SIZE, MKIMG_FIRST_DATA);
    unsigned long ulRemaining = dwDataSize - MKIMG_FIRST_DATA;
    ulPos = ulHeaderBlock + ulErase;
    while (ulRemaining > 0 && ulPos < ulEnd) {
        if (Nandkeep_IsBadBlock(iFd, ulPos) == NANDKEEP_BAD_BLOCK) {
            ulPos += ulErase;
            continue;
        }
        unsigned long ulChunk = std::min(ulRemaining, NANDKEEP_PIECE);
        if (Nandkeep_ReadMTD(iFd, aucBuf, ulPos, ulChunk) == -1) {
            return -1;
        }
        dwCrc = Nandkeep_Crc32(dwCrc, aucBuf, ulChunk);
        ulRemaining -= ulChunk;
        ulPos += ulChunk;
    }
    // Data cut short by the region's end never passes, whatever its checksum happens to be.
    if (DataVerdict(dwDataSize, dwCrc, dwDataCrc, ulRemaining == 0) == -1) {
        return -1;
    }
    if (iSubImage == MKIMG_RESULT_SUB_OFFSET) {
        *pulResult = Nandkeep_SubImageOffset(ulPos);
    }
    return 0;
}

int Nandkeep_CheckImageSource(TSource *ptSrc) {
    if (Nandkeep_TakeSource(ptSrc) == -1) {
        return -1;
    }
    FILE *pFile = ptSrc->pFile;
    unsigned char aucBuf[NANDKEEP_PIECE];
    // Header bytes the file lacks read as erased flash would after the write.
    memset(aucBuf, NANDKEEP_ERASED_BYTE, MKIMG_HEADER_SIZE);
    (void)fread(aucBuf, 1, MKIMG_HEADER_SIZE, pFile);
    if (ferror(pFile)) {
        Nandkeep_Notify("fread()");
        return -1;
    }
    if (Nandkeep_CheckImageHeader(aucBuf) == -1) {
        return -1;
    }
    const uint32_t dwDataSize = Nandkeep_GetBE32(aucBuf + MKIMG_SIZE_OFFSET);
    const uint32_t dwDataCrc = Nandkeep_GetBE32(aucBuf + MKIMG_DCRC_OFFSET);
    uint32_t dwCrc = 0;
    unsigned long ulRemaining = dwDataSize;
    while (ulRemaining > 0) {
        const unsigned long ulGot = fread(aucBuf, 1, std::min(ulRemaining, NANDKEEP_PIECE), pFile);
        if (ulGot == 0) {
            break;
        }
        dwCrc = Nandkeep_Crc32(dwCrc, aucBuf, ulGot);
        ulRemaining -= ulGot;
    }
    if (ferror(pFile)) {
        Nandkeep_Notify("fread()");
        return -1;
    }
    return DataVerdict(dwDataSize, dwCrc, dwDataCrc, ulRemaining == 0);
}
