// Writing one default configuration copy, and repairing one copy from the other.
#include "image/defconf.h"

#include "flash/compare.h"
#include "flash/device.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "image/config.h"
#include "image/mkimg.h"
#include "image/texts.h"

#include <cstdio>

int Nandkeep_LocateDefConf(int iCopy, uint64_t *pullSub, uint64_t *pullRoom) {
    const uint64_t ullRegion = iCopy == 1 ? ROOTFS1_OFFSET : ROOTFS0_OFFSET;
    if (Nandkeep_LocateSubImage(ullRegion, ROOTFS_SIZE, pullSub) != 0) {
        return -1;
    }
    *pullRoom = ullRegion + ROOTFS_SIZE - *pullSub;
    return 0;
}

int Nandkeep_WriteDefConfCopy(TSource *ptSrc, int iCopy) {
    uint64_t ullSub{};
    uint64_t ullMax{};
    if (Nandkeep_LocateDefConf(iCopy, &ullSub, &ullMax) != 0) {
        Nandkeep_Print(TXT_DEFCONF_OFFSET_FAIL, iCopy);
        return -1;
    }
    // The check after the write decides; a file refused before the erase would leave the old
    // record to pass that check, so the refusal is taken here.
    if (Nandkeep_CheckConfigSource(ptSrc, ullMax) == 0) {
        (void)Nandkeep_WriteConfig(ptSrc, ullSub, ullMax);
        if (Nandkeep_CheckConfig(MTD0Fd(), ullSub, ullMax) == 0) {
            return 0;
        }
    }
    Nandkeep_Print(TXT_DEFCONF_UPDATE_FAIL, iCopy);
    return -1;
}

int Nandkeep_RecoveryDefConf(int iFd, uint64_t ulDestSubOffset, uint64_t ulSrcSubOffset,
                             uint64_t ulDestMaxSize, uint64_t ulSrcMaxSize) {
    if (ulSrcMaxSize == 0 || MTD0EraseSize() == 0) {
        return -1;
    }
    TRegion tSrc = Region_Of(iFd, ulSrcSubOffset, ulSrcMaxSize);
    uint32_t dwLen{};
    {
        unsigned char aucPiece[NANDKEEP_PIECE];
        if (Record_LengthWord(&tSrc, aucPiece, &dwLen) != 0 ||
            !Record_Plausible(dwLen, ulSrcMaxSize)) {
            return -1;
        }
    }
    // Length word, payload and checksum; the 0xFF fill comes back with the padding of the write.
    const uint64_t ullCopyLen = dwLen + CONFIG_OVERHEAD;
    const uint64_t ullSrcLeft = tSrc.ullEnd - tSrc.ullPos;
    int iSame = 0;
    if (Nandkeep_CompareImageAndMTD(iFd, ulDestSubOffset, tSrc.ullPos, ulDestMaxSize, ullSrcLeft,
                                    ullCopyLen, &iSame) != 0) {
        return -1;
    }
    if (iSame != 0) {
        return 0;
    }
    if (Nandkeep_EraseMTD(iFd, ulDestSubOffset, ulDestMaxSize) == -1) {
        Nandkeep_Notify(TXT_REC_ERASE_FAIL);
        return -1;
    }
    if (Nandkeep_CopyMTD(iFd, ulDestSubOffset, tSrc.ullPos, ulDestMaxSize, ullSrcLeft,
                         ullCopyLen) != 0) {
        Nandkeep_Notify(TXT_DEFCONF_RECOVER_FAIL);
        return -1;
    }
    if (Nandkeep_CheckConfig(iFd, ulDestSubOffset, ulDestMaxSize) != 0) {
        Nandkeep_Notify(TXT_DEFCONF_RECOVERY_FAIL);
        return -1;
    }
    return 0;
}
