// The image parser, and the image check in flash and in a file.
#include "image/mkimg.h"

#include "flash/device.h"
#include "flash/region.h"
#include "flash/notify.h"
#include "image/texts.h"

#include <algorithm>
#include <cstring>

uint32_t Nandkeep_GetBE32(const unsigned char *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

const char *Image_HeaderFault(const unsigned char *pucHeader) {
    if (Nandkeep_GetBE32(pucHeader) != MKIMG_MAGIC) {
        return TXT_BAD_MAGIC;
    }
    unsigned char aucHeader[MKIMG_HEADER_SIZE];
    memcpy(aucHeader, pucHeader, sizeof(aucHeader));
    memset(aucHeader + MKIMG_HCRC_OFFSET, 0, 4);
    if (Nandkeep_Crc32(0, aucHeader, MKIMG_HEADER_SIZE) !=
        Nandkeep_GetBE32(pucHeader + MKIMG_HCRC_OFFSET)) {
        return TXT_BAD_HEADER_CRC;
    }
    return nullptr;
}

void Image_Begin(TImageParse *ptImage, const unsigned char *pucHeader) {
    ptImage->dwDataSize = Nandkeep_GetBE32(pucHeader + MKIMG_SIZE_OFFSET);
    ptImage->dwStoredCrc = Nandkeep_GetBE32(pucHeader + MKIMG_DCRC_OFFSET);
    ptImage->dwCrc = 0;
    ptImage->ullLeft = ptImage->dwDataSize;
}

size_t Image_Want(const TImageParse *ptImage) {
    return Nandkeep_PieceOf(ptImage->ullLeft);
}

void Image_Take(TImageParse *ptImage, const unsigned char *pucData, uint64_t ullLen) {
    ptImage->dwCrc = Nandkeep_Crc32(ptImage->dwCrc, pucData, ullLen);
    ptImage->ullLeft -= ullLen;
}

bool Image_Sound(const TImageParse *ptImage) {
    return ptImage->ullLeft == 0 && ptImage->dwCrc == ptImage->dwStoredCrc;
}

int Image_Verdict(const TImageParse *ptImage) {
    if (Image_Sound(ptImage)) {
        return 0;
    }
    const bool bDtb = Image_DtbSized(ptImage);
    Nandkeep_Notify(bDtb ? TXT_DTB_CRC : TXT_IMAGE_CRC);
    Nandkeep_Print(bDtb ? TXT_DTB_CRC_VALUES : TXT_IMAGE_CRC_VALUES, ptImage->dwCrc,
                   ptImage->dwStoredCrc);
    return -1;
}

uint64_t Nandkeep_SubImageOffset(uint64_t ullEnd) {
    return ullEnd - ullEnd % NANDKEEP_PIECE + NANDKEEP_PIECE;
}

// A DTB-sized image asked for its sub-image offset answers by the same placement rule as any
// other image: the first 128 KiB boundary after its data, the block after its header block.
// Writers and readers of the sub-image call this function alike, so they always agree.
int Nandkeep_CheckImage(uint64_t ulMTDOffset, uint64_t ulMTDMaxSize, int iSubImage,
                        uint64_t *pulResult) {
    TRegion tReg = Region_Of(MTD0Fd(), ulMTDOffset, ulMTDMaxSize);
    unsigned char aucBuf[NANDKEEP_PIECE];
    if (!Region_Good(&tReg)) {
        Nandkeep_Notify(TXT_NO_GOOD_BLOCK);
        return -1;
    }
    if (Region_ReadPiece(&tReg, aucBuf, NANDKEEP_PIECE) != 0) {
        return -1;
    }
    const char *pszFault = Image_HeaderFault(aucBuf);
    if (pszFault != nullptr) {
        Nandkeep_Notify(pszFault);
        return -1;
    }
    TImageParse tImage;
    Image_Begin(&tImage, aucBuf);
    if (iSubImage == MKIMG_RESULT_IMAGE_LEN) {
        *pulResult = static_cast<uint32_t>(tImage.dwDataSize + MKIMG_HEADER_SIZE);
    }
    // The data bytes the header's own block holds.
    const uint64_t ullFirst = std::min<uint64_t>(tImage.dwDataSize, MKIMG_FIRST_DATA);
    Image_Take(&tImage, aucBuf + MKIMG_HEADER_SIZE, ullFirst);
    // The data behind the header block follows from the next block on, over good blocks.
    uint64_t ullDataEnd = tReg.ullPos + MKIMG_HEADER_SIZE + ullFirst;
    if (!Image_DtbSized(&tImage)) {
        Region_Advance(&tReg, MTD0EraseSize());
        ullDataEnd = tReg.ullPos;
    }
    while (!Image_DtbSized(&tImage) && tImage.ullLeft > 0 && Region_Good(&tReg)) {
        const uint64_t ullChunk = Image_Want(&tImage);
        if (Region_ReadPiece(&tReg, aucBuf, ullChunk) != 0) {
            return -1;
        }
        Image_Take(&tImage, aucBuf, ullChunk);
        Region_Advance(&tReg, ullChunk);
        ullDataEnd = tReg.ullPos;
    }
    // Data cut short by the region's end never passes, whatever its checksum happens to be.
    if (Image_Verdict(&tImage) != 0) {
        return -1;
    }
    if (iSubImage == MKIMG_RESULT_SUB_OFFSET) {
        *pulResult = Nandkeep_SubImageOffset(ullDataEnd);
    }
    return 0;
}

int Nandkeep_LocateSubImage(uint64_t ullOffset, uint64_t ullLen, uint64_t *pullSub) {
    // Preset out of every region: an answer that the check did not store is never used.
    uint64_t ullSub = UINT64_MAX;
    if (Nandkeep_CheckImage(ullOffset, ullLen, MKIMG_RESULT_SUB_OFFSET, &ullSub) != 0) {
        return -1;
    }
    // An image whose data runs up to the region's end has its sub-image boundary outside it.
    if (ullSub <= ullOffset || ullSub - ullOffset >= ullLen) {
        return -1;
    }
    *pullSub = ullSub;
    return 0;
}

int Nandkeep_CheckImageSource(TSource *ptSrc) {
    if (Nandkeep_TakeSource(ptSrc) != 0) {
        return -1;
    }
    FILE *pFile = ptSrc->pFile;
    unsigned char aucBuf[NANDKEEP_PIECE];
    // Header bytes the file lacks read as erased flash would after the write.
    memset(aucBuf, NANDKEEP_ERASED_BYTE, MKIMG_HEADER_SIZE);
    (void)fread(aucBuf, 1, MKIMG_HEADER_SIZE, pFile);
    const char *pszFault = ferror(pFile) ? TXT_SRC_FREAD : Image_HeaderFault(aucBuf);
    if (pszFault != nullptr) {
        Nandkeep_Notify(pszFault);
        return -1;
    }
    TImageParse tImage;
    Image_Begin(&tImage, aucBuf);
    for (uint64_t ullGot = 1; tImage.ullLeft > 0 && ullGot > 0;) {
        ullGot = fread(aucBuf, 1, Image_Want(&tImage), pFile);
        Image_Take(&tImage, aucBuf, ullGot);
    }
    if (ferror(pFile)) {
        Nandkeep_Notify(TXT_SRC_FREAD);
        return -1;
    }
    return Image_Verdict(&tImage);
}
