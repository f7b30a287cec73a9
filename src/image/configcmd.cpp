// The commands of the temporary configuration, temporary data and NFDI stores.
//
// Each needs records 3 (flashfs2) and 4 (NFDI) of the partition table: with fewer than five
// records, or an erase size of 0 among them, the command is refused with a notify and -1 before
// anything is read or written.
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "flash/device.h"
#include "image/config.h"

namespace {

// A tempconf file must fit one block as a record.
uint64_t TempConfAreaSize() {
    return MTD0EraseSize();
}

// The most a file can take as one record in partition record iRecord.
uint64_t StoreRoom(int iRecord) {
    const uint64_t ulSize = g_ptMTDInfo[iRecord].ulSize;
    return ulSize > CONFIG_OVERHEAD ? ulSize - CONFIG_OVERHEAD : 0;
}

} // namespace

// The stores need records 3 and 4 of the table: a refusal comes before the device is locked.
int Prepare_Store(TCommand *) {
    return Nandkeep_CheckStoreTable() == -1 ? -1 : NANDKEEP_RUN;
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
        if (Record_Walk(MTD0Fd(), pszDest, ullOffset, TempConfAreaSize()) == 0) {
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
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2],
                           TempConfAreaSize() - CONFIG_OVERHEAD);
    return Nandkeep_CheckConfigSource(&ptCmd->atSrc[0], TempConfAreaSize()) == -1 ? -1
                                                                                  : NANDKEEP_RUN;
}

int Cmd_WriteTempConf(TCommand *ptCmd) {
    int iWritten = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount() && iWritten < 2; i++) {
        if (Nandkeep_WriteConfig(&ptCmd->atSrc[0], Nandkeep_TempConfOffset(i),
                                 TempConfAreaSize()) == 0) {
            iWritten++;
        }
    }
    int iValid = 0;
    for (uint64_t i = 1; i <= Nandkeep_TempConfCount(); i++) {
        if (Nandkeep_CheckConfig(MTD0Fd(), Nandkeep_TempConfOffset(i), TempConfAreaSize()) == 0 &&
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
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], StoreRoom(3));
    return NANDKEEP_RUN;
}

int Cmd_WriteTempData(TCommand *ptCmd) {
    return Nandkeep_WriteTempData(&ptCmd->atSrc[0]);
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
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    Nandkeep_PrepareSource(&ptCmd->atSrc[0], ptCmd->ppArgv[2], StoreRoom(4) / 2);
    return NANDKEEP_RUN;
}

int Cmd_WriteNFDI(TCommand *ptCmd) {
    return Nandkeep_WriteNFDI(&ptCmd->atSrc[0]);
}
