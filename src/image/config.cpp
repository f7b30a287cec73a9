// The configuration record stores: one record written, checked or read by the codec, and the
// stores whose write needs more than one record call (tempdata and NFDI).
#include "image/config.h"

#include "flash/device.h"
#include "flash/region.h"
#include "flash/notify.h"
#include "image/texts.h"

#include <algorithm>

namespace {

// Offset of the k-th valid tempconf copy counted from candidate 1 (k = 1 or 2), or 0 when there
// are fewer. Block 0 of the device never is a candidate.
uint64_t FindTempConfCopy(int iWanted) {
    int iFound = 0;
    uint64_t ullLast = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount() && iFound < iWanted; i++) {
        if (Nandkeep_CheckConfig(MTD0Fd(), Nandkeep_TempConfOffset(i), MTD0EraseSize()) == 0) {
            iFound++;
            ullLast = Nandkeep_TempConfOffset(i);
        }
    }
    return ullLast;
}

// The position just after the ullWanted-th good block from ullFrom on, not past ullTo.
uint64_t AfterGoodBlocks(uint64_t ullFrom, uint64_t ullTo, uint64_t ullWanted) {
    TRegion tReg = Region_Span(MTD0Fd(), ullFrom, ullTo);
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    for (uint64_t ullPassed = 0;
         ullPassed < ullWanted && Region_NextBlock(&tReg, &ullBlock, &eState);) {
        ullPassed += eState == EBlock::GOOD ? 1 : 0;
    }
    return tReg.ullPos;
}

} // namespace

int Nandkeep_CheckConfigSource(TSource *ptSrc, uint64_t ulMaxSize) {
    if (Nandkeep_TakeSource(ptSrc) == -1) {
        return -1;
    }
    if (ptSrc->ulSize + CONFIG_OVERHEAD > ulMaxSize) {
        Nandkeep_Notify(TXT_SRC_TOO_LARGE);
        return -1;
    }
    return 0;
}

int Nandkeep_WriteConfig(TSource *ptSrc, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize) {
    if (Nandkeep_CheckConfigSource(ptSrc, ulMTDMaxSize) == -1) {
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
    uint32_t dwLen = 0;
    if (Record_LengthWord(&tArea, aucPiece, &dwLen) == -1 ||
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

int Nandkeep_WriteTempData(TSource *ptSrc) {
    const uint64_t ullStart = g_ulFlashfs2Offest;
    uint64_t ullBound = FindTempConfCopy(2);
    if (ullBound == 0) {
        ullBound = FindTempConfCopy(1);
    }
    if (ullBound == 0) {
        ullBound = ullStart + g_ptMTDInfo[3].ulSize;
    }
    const uint64_t ullGood =
        ullBound > ullStart ? Region_CountGood(Region_Span(MTD0Fd(), ullStart, ullBound)) : 0;
    if (Nandkeep_CheckConfigSource(ptSrc, ullGood * MTD0EraseSize()) == -1) {
        return -1;
    }
    (void)Nandkeep_WriteConfig(ptSrc, ullStart, ullBound - ullStart);
    return Nandkeep_CheckConfig(MTD0Fd(), ullStart, ullBound - ullStart);
}

// The NFDI partition is found two ways: from the flashfs2 partition below it (S) and back from
// the device end (C1). Copy 1 is written at C1 and everything else is measured from S, so the
// write goes ahead only when both agree and the partition lies inside the device: otherwise an
// erase could reach into the partition below.
int Nandkeep_WriteNFDI(TSource *ptSrc) {
    const uint64_t ullErase = MTD0EraseSize();
    const uint64_t ullS = Nandkeep_NFDIStart();
    const uint64_t ullNFDISize = g_ptMTDInfo[4].ulSize;
    if (ullNFDISize > MTD0Size() || MTD0Size() - ullNFDISize != ullS) {
        Nandkeep_Notify(TXT_NFDI_MISMATCH);
        return -1;
    }
    const uint64_t ullTableStart = ullS + Nandkeep_NFDICount() * ullErase;
    const uint64_t ullGood = Region_CountGood(Region_Span(MTD0Fd(), ullS, ullTableStart));
    if (Nandkeep_TakeSource(ptSrc) == -1) {
        return -1;
    }
    if (ullGood * ullErase < 2 * (ptSrc->ulSize + CONFIG_OVERHEAD)) {
        Nandkeep_Notify(TXT_SRC_TOO_LARGE);
        return -1;
    }
    // The split point lies just after the (G / 2)-th good block.
    const uint64_t ullSplit = AfterGoodBlocks(ullS, ullTableStart, ullGood / 2);
    (void)Nandkeep_WriteConfig(ptSrc, ullS, ullSplit - ullS);
    const int iCopy1 = Nandkeep_CheckConfig(MTD0Fd(), ullS, ullSplit - ullS);
    (void)Nandkeep_WriteConfig(ptSrc, ullSplit, ullTableStart - ullSplit);
    const int iCopy2 = Nandkeep_CheckConfig(MTD0Fd(), ullSplit, ullTableStart - ullSplit);
    return (iCopy1 == 0 || iCopy2 == 0) ? 0 : -1;
}
