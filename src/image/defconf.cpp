// Locating sub-images and repairing one default configuration copy from the other.
#include "image/defconf.h"

#include "flash/compare.h"
#include "flash/mtdio.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "image/config.h"
#include "image/mkimg.h"
#include "upgrade/writer.h"

#include <climits>
#include <cstdint>
#include <cstdio>

namespace {

unsigned long RootfsOffset(int iCopy) {
    return iCopy == 1 ? ROOTFS1_OFFSET : ROOTFS0_OFFSET;
}

} // namespace

int Nandkeep_LocateSubImage(unsigned long ulOffset, unsigned long ulLen, unsigned long *pulSub) {
    // Preset out of every region: an answer that the check did not store is never used.
    unsigned long ulSub = ULONG_MAX;
    if (Nandkeep_CheckImage(ulOffset, ulLen, MKIMG_RESULT_SUB_OFFSET, &ulSub) == -1) {
        return -1;
    }
    // An image whose data runs up to the region's end has its sub-image boundary outside it.
    if (ulSub <= ulOffset || ulSub - ulOffset >= ulLen) {
        return -1;
    }
    *pulSub = ulSub;
    return 0;
}

int Nandkeep_WriteDefConfCopy(TSource *ptSrc, int iCopy) {
    const unsigned long ulRegion = RootfsOffset(iCopy);
    unsigned long ulSub = 0;
    if (Nandkeep_LocateSubImage(ulRegion, ROOTFS_SIZE, &ulSub) == -1) {
        printf("get Default Value %d offset fail\n", iCopy);
        return -1;
    }
    const unsigned long ulMax = ulRegion + ROOTFS_SIZE - ulSub;
    // The check after the write decides; a file refused before the erase would leave the old
    // record to pass that check, so the refusal is taken here.
    if (Nandkeep_CheckConfigSource(ptSrc, ulMax) == -1) {
        printf("update Default Value %d fail\n", iCopy);
        return -1;
    }
    (void)Nandkeep_WriteConfig(ptSrc, ulSub, ulMax);
    if (Nandkeep_CheckConfig(MTD0Fd(), ulSub, ulMax) == -1) {
        printf("update Default Value %d fail\n", iCopy);
        return -1;
    }
    return 0;
}

int Nandkeep_RecoveryDefConf(int iFd, unsigned long ulDestSubOffset, unsigned long ulSrcSubOffset,
                             unsigned long ulDestMaxSize, unsigned long ulSrcMaxSize) {
    if (ulSrcMaxSize == 0 || MTD0EraseSize() == 0) {
        return -1;
    }
    const unsigned long ulSrcEnd = ulSrcSubOffset + ulSrcMaxSize;
    unsigned long ulPos = ulSrcSubOffset;
    ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos, ulSrcEnd);
    if (ulPos >= ulSrcEnd) {
        return -1;
    }
    unsigned char aucWord[CONFIG_LEN_SIZE];
    if (Nandkeep_ReadMTD(iFd, aucWord, ulPos, sizeof(aucWord)) == -1) {
        return -1;
    }
    const uint32_t dwLen =
        static_cast<uint32_t>(aucWord[0]) | (static_cast<uint32_t>(aucWord[1]) << 8) |
        (static_cast<uint32_t>(aucWord[2]) << 16) | (static_cast<uint32_t>(aucWord[3]) << 24);
    if (dwLen == CONFIG_NO_RECORD || dwLen + CONFIG_OVERHEAD > ulSrcMaxSize) {
        return -1;
    }
    // Length word, payload and checksum; the 0xFF fill comes back with the padding of the write.
    const unsigned long ulCopyLen = dwLen + CONFIG_OVERHEAD;
    const unsigned long ulSrcLeft = ulSrcEnd - ulPos;

    int iSame = 0;
    if (Nandkeep_CompareImageAndMTD(iFd, ulDestSubOffset, ulPos, ulDestMaxSize, ulSrcLeft,
                                    ulCopyLen, &iSame) == -1) {
        return -1;
    }
    if (iSame != 0) {
        return 0;
    }
    if (Nandkeep_EraseMTD(iFd, ulDestSubOffset, ulDestMaxSize) == -1) {
        Nandkeep_Notify("erase fail");
        return -1;
    }
    if (Nandkeep_CopyMTD(iFd, ulDestSubOffset, ulPos, ulDestMaxSize, ulSrcLeft, ulCopyLen) == -1) {
        Nandkeep_Notify("recover image fail");
        return -1;
    }
    if (Nandkeep_CheckConfig(iFd, ulDestSubOffset, ulDestMaxSize) == -1) {
        Nandkeep_Notify("recovery Default Value fail");
        return -1;
    }
    return 0;
}
