// The commands of the temporary configuration, temporary data and NFDI stores.
//
// Each needs records 3 (flashfs2) and 4 (NFDI) of the partition table: with fewer than five
// records, or an erase size of 0 among them, the command is refused with a notify and -1 before
// anything is read or written.
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "flash/device.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "image/config.h"
#include "image/texts.h"

namespace {

// The most a file can take as one record in partition record iRecord.
uint64_t StoreRoom(int iRecord) {
    const uint64_t ulSize = g_ptMTDInfo[iRecord].ulSize;
    return ulSize > CONFIG_OVERHEAD ? ulSize - CONFIG_OVERHEAD : 0;
}

// Offset of the lower tempconf copy: the second valid one counted from candidate 1, or the only
// one; 0 when there is none. One pass over the candidates, so each is read once (a candidate
// that reads with errors moves the ECC counters once). Block 0 of the device never is a
// candidate.
uint64_t LowerTempConfCopy() {
    int iFound = 0;
    uint64_t ullLast = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount() && iFound < 2; i++) {
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
    for (uint64_t ullPassed = 0; ullPassed < ullWanted && Region_Good(&tReg); ullPassed++) {
        Region_Advance(&tReg, MTD0EraseSize());
    }
    return tReg.ullPos;
}

} // namespace

// The stores need records 3 and 4 of the table: a refusal comes before the device is locked.
int Prepare_Store(TCommand *) {
    return Nandkeep_CheckStoreTable() != 0 ? -1 : NANDKEEP_RUN;
}

// checktempconf, and readtempconf with its destination. Bad candidates are passed over without
// counting; three failures on good blocks end a read, so a damaged store is not read block by
// block down the whole flashfs2 region.
int Cmd_TempConf(TCommand *ptCmd) {
    const char *pszDest = ptCmd->iArgc == 3 ? ptCmd->ppArgv[2] : nullptr;
    constexpr int MAX_FAILURES = 3;
    int iFailures = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount(); i++) {
        const uint64_t ullOffset = Nandkeep_TempConfOffset(i);
        if (Record_Walk(MTD0Fd(), pszDest, ullOffset, MTD0EraseSize()) == 0) {
            return 0;
        }
        if (pszDest != nullptr && Nandkeep_IsBadBlock(MTD0Fd(), ullOffset) == 0 &&
            ++iFailures == MAX_FAILURES) {
            return -1;
        }
    }
    return -1;
}

// Two copies in the first candidates that take a write, then a count of the valid records. The
// source is checked once first: a file that cannot be read or is too large for one block is
// refused with one message, and the old copies stay as they were.
int Prepare_WriteTempConf(TCommand *ptCmd) {
    if (Nandkeep_CheckStoreTable() != 0) {
        return -1;
    }
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], MTD0EraseSize() - CONFIG_OVERHEAD);
    return Nandkeep_CheckConfigSource(&ptCmd->atSrc[0], MTD0EraseSize()) != 0 ? -1 : NANDKEEP_RUN;
}

int Cmd_WriteTempConf(TCommand *ptCmd) {
    int iWritten = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount() && iWritten < 2; i++) {
        if (Nandkeep_WriteConfig(&ptCmd->atSrc[0], Nandkeep_TempConfOffset(i), MTD0EraseSize()) ==
            0) {
            iWritten++;
        }
    }
    int iValid = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount(); i++) {
        if (Nandkeep_CheckConfig(MTD0Fd(), Nandkeep_TempConfOffset(i), MTD0EraseSize()) == 0 &&
            ++iValid == 2) {
            return 0;
        }
    }
    return -1;
}

// checktempdata, and readtempdata with its destination.
int Cmd_TempData(TCommand *ptCmd) {
    return Record_Walk(MTD0Fd(), ptCmd->iArgc == 3 ? ptCmd->ppArgv[2] : nullptr, g_ulFlashfs2Offest,
                       g_ptMTDInfo[3].ulSize);
}

// The file is counted before the device is locked: at most the whole flashfs2 partition.
int Prepare_WriteTempData(TCommand *ptCmd) {
    if (Nandkeep_CheckStoreTable() != 0) {
        return -1;
    }
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], StoreRoom(3));
    return NANDKEEP_RUN;
}

// The record goes from the start of the flashfs2 region up to the lower tempconf copy; the file
// must fit in the good blocks below it. The result is that of the check after the write.
int Cmd_WriteTempData(TCommand *ptCmd) {
    TSource *ptSrc = &ptCmd->atSrc[0];
    const uint64_t ullStart = g_ulFlashfs2Offest;
    uint64_t ullBound = LowerTempConfCopy();
    if (ullBound == 0) {
        ullBound = ullStart + g_ptMTDInfo[3].ulSize;
    }
    const uint64_t ullGood =
        ullBound > ullStart ? Region_CountGood(Region_Span(MTD0Fd(), ullStart, ullBound)) : 0;
    if (Nandkeep_CheckConfigSource(ptSrc, ullGood * MTD0EraseSize()) != 0) {
        return -1;
    }
    (void)Nandkeep_WriteConfig(ptSrc, ullStart, ullBound - ullStart);
    return Nandkeep_CheckConfig(MTD0Fd(), ullStart, ullBound - ullStart);
}

// checkNFDI, and readNFDI with its destination: the first candidate that holds a record wins.
int Cmd_NFDI(TCommand *ptCmd) {
    const char *pszDest = ptCmd->iArgc == 3 ? ptCmd->ppArgv[2] : nullptr;
    for (uint64_t j = 0; j < Nandkeep_NFDICount(); j++) {
        if (Record_Walk(MTD0Fd(), pszDest, Nandkeep_NFDIStart() + j * MTD0EraseSize(),
                        Nandkeep_NFDIAreaSize(j)) == 0) {
            return 0;
        }
    }
    return -1;
}

// The file is counted before the device is locked: both copies must fit the NFDI partition.
int Prepare_WriteNFDI(TCommand *ptCmd) {
    if (Nandkeep_CheckStoreTable() != 0) {
        return -1;
    }
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], StoreRoom(4) / 2);
    return NANDKEEP_RUN;
}

// Two copies split at the middle good block of the NFDI partition (bad-block table excluded): 0
// when copy 1, or else copy 2, checks valid afterwards. The NFDI partition is found two ways: from
// the flashfs2 partition below it (S) and back from the device end (C1). Copy 1 is written at C1
// and everything else is measured from S, so the write goes ahead only when both agree and the
// partition lies inside the device: otherwise an erase could reach into the partition below.
int Cmd_WriteNFDI(TCommand *ptCmd) {
    TSource *ptSrc = &ptCmd->atSrc[0];
    const uint64_t ullErase = MTD0EraseSize();
    const uint64_t ullS = Nandkeep_NFDIStart();
    const uint64_t ullNFDISize = g_ptMTDInfo[4].ulSize;
    if (ullNFDISize > MTD0Size() || MTD0Size() - ullNFDISize != ullS) {
        Nandkeep_Notify(TXT_NFDI_MISMATCH);
        return -1;
    }
    const uint64_t ullTableStart = ullS + Nandkeep_NFDICount() * ullErase;
    const uint64_t ullGood = Region_CountGood(Region_Span(MTD0Fd(), ullS, ullTableStart));
    if (Nandkeep_TakeSource(ptSrc) != 0) {
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
