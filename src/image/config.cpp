// The configuration record stores: one record written, checked or read by the codec, and where
// the stores lie.
#include "image/config.h"

#include "flash/device.h"
#include "flash/region.h"
#include "flash/notify.h"
#include "image/texts.h"

#include <algorithm>

int Nandkeep_CheckConfigSource(TSource *ptSrc, uint64_t ulMaxSize) {
    if (Nandkeep_TakeSource(ptSrc) != 0) {
        return -1;
    }
    if (ptSrc->ulSize + CONFIG_OVERHEAD > ulMaxSize) {
        Nandkeep_Notify(TXT_SRC_TOO_LARGE);
        return -1;
    }
    return 0;
}

int Nandkeep_WriteConfig(TSource *ptSrc, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize) {
    if (Nandkeep_CheckConfigSource(ptSrc, ulMTDMaxSize) != 0) {
        return -1;
    }
    // Erase before program: NAND only clears bits, and the rest of the area must read as 0xFF.
    if (Nandkeep_EraseMTD(MTD0Fd(), ulMTDOffset, ulMTDMaxSize) == -1) {
        Nandkeep_Notify(TXT_REC_ERASE_FAIL);
        return -1;
    }
    return Record_Write(ptSrc, ulMTDOffset, ulMTDOffset + ulMTDMaxSize);
}

int Nandkeep_CheckConfig(int iFd, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize) {
    return Record_Walk(iFd, nullptr, ulMTDOffset, ulMTDMaxSize);
}

int Nandkeep_ReadConfig(int iFd, const char *szFileName, uint64_t ulMTDOffset,
                        uint64_t ulMTDMaxSize) {
    return Record_Walk(iFd, szFileName, ulMTDOffset, ulMTDMaxSize);
}

int Nandkeep_GetConfigLen(int iFd, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize, uint64_t *pulLen) {
    if (Nandkeep_CheckConfig(iFd, ulMTDOffset, ulMTDMaxSize) != 0) {
        return -1;
    }
    TRegion tArea = Region_Of(iFd, ulMTDOffset, ulMTDMaxSize);
    unsigned char aucPiece[NANDKEEP_PIECE];
    uint32_t dwLen{};
    if (Record_LengthWord(&tArea, aucPiece, &dwLen) != 0 ||
        !Record_Plausible(dwLen, ulMTDMaxSize)) {
        return -1;
    }
    *pulLen = dwLen + CONFIG_OVERHEAD;
    return 0;
}

int Nandkeep_CheckStoreTable(void) {
    if (g_iPartitionNum < CONFIG_MIN_PARTITIONS) {
        Nandkeep_Notify(TXT_FEW_RECORDS);
        return -1;
    }
    if (MTD0EraseSize() == 0 || g_ptMTDInfo[3].ulEraseSize == 0 ||
        g_ptMTDInfo[4].ulEraseSize == 0) {
        Nandkeep_Notify(TXT_ERASE_SIZE_0);
        return -1;
    }
    return 0;
}

uint64_t Nandkeep_TempConfCount(void) {
    const uint64_t ullErase = MTD0EraseSize();
    const uint64_t ullNFDIBlocks = g_ulNFDISize / g_ptMTDInfo[4].ulEraseSize;
    const uint64_t ullCount = g_ulFlashfs2Size / g_ptMTDInfo[3].ulEraseSize;
    // The candidates stop one block short of the flashfs2 partition's first block: the temporary
    // data record starts there and is no tempconf copy. Candidate i lies above that block while
    // e x (N + i) stays below the distance from it to the device end.
    if (MTD0Size() <= g_ulFlashfs2Offest) {
        return 0;
    }
    const uint64_t ullAbove = (MTD0Size() - g_ulFlashfs2Offest + ullErase - 1) / ullErase;
    if (ullAbove <= ullNFDIBlocks + 1) {
        return 0;
    }
    return std::min(ullCount, ullAbove - ullNFDIBlocks - 1);
}

uint64_t Nandkeep_TempConfOffset(uint64_t ullIndex) {
    const uint64_t ullNFDIBlocks = g_ulNFDISize / g_ptMTDInfo[4].ulEraseSize;
    return MTD0Size() - MTD0EraseSize() * (ullNFDIBlocks + ullIndex);
}

uint64_t Nandkeep_NFDIStart(void) {
    return g_ulFlashfs2Offest + g_ptMTDInfo[3].ulSize;
}

uint64_t Nandkeep_NFDICount(void) {
    const uint64_t ullBlocks = g_ptMTDInfo[4].ulSize / MTD0EraseSize();
    const uint64_t ullBBT = static_cast<uint64_t>(g_iBBTBlockNum);
    return ullBlocks > ullBBT ? ullBlocks - ullBBT : 0;
}

uint64_t Nandkeep_NFDIAreaSize(uint64_t ullIndex) {
    return (Nandkeep_NFDICount() - ullIndex) * MTD0EraseSize();
}
