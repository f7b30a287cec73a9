// The commands of the temporary configuration, temporary data and NFDI stores.
//
// Each needs records 3 (flashfs2) and 4 (NFDI) of the partition table: with fewer than five
// records, or an erase size of 0 among them, the command is refused with a notify and -1 before
// anything is read or written.
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/mtdinfo.h"
#include "image/config.h"

namespace {

// A tempconf file must fit one block as a record.
unsigned long TempConfAreaSize() {
    return MTD0EraseSize();
}

} // namespace

int Cmd_CheckTempConf(int iArgc, char **ppArgv) {
    (void)iArgc;
    (void)ppArgv;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    for (unsigned long i = 1; i <= Nandkeep_TempConfCount(); i++) {
        if (Nandkeep_CheckConfig(MTD0Fd(), Nandkeep_TempConfOffset(i), TempConfAreaSize()) == 0) {
            return 0;
        }
    }
    return -1;
}

// Bad candidates are passed over without counting; three failures on good blocks end the search,
// so a damaged store is not read block by block down the whole flashfs2 region.
int Cmd_ReadTempConf(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    constexpr int MAX_FAILURES = 3;
    int iFailures = 0;
    for (unsigned long i = 1; i <= Nandkeep_TempConfCount(); i++) {
        const unsigned long ulOffset = Nandkeep_TempConfOffset(i);
        if (Nandkeep_ReadConfig(MTD0Fd(), ppArgv[2], ulOffset, TempConfAreaSize()) == 0) {
            return 0;
        }
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulOffset) == NANDKEEP_BAD_BLOCK) {
            continue;
        }
        if (++iFailures == MAX_FAILURES) {
            return -1;
        }
    }
    return -1;
}

// Two copies in the first candidates that take a write, then a count of the valid records. The
// source is checked once first: a file that cannot be read or is too large for one block is
// refused with one message, and the old copies stay as they were.
int Cmd_WriteTempConf(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    const char *szSource = ppArgv[2];
    if (Nandkeep_CheckConfigSource(szSource, TempConfAreaSize()) == -1) {
        return -1;
    }
    int iWritten = 0;
    for (unsigned long i = 1; i <= Nandkeep_TempConfCount() && iWritten < 2; i++) {
        if (Nandkeep_WriteConfig(szSource, Nandkeep_TempConfOffset(i), TempConfAreaSize()) == 0) {
            iWritten++;
        }
    }
    int iValid = 0;
    for (unsigned long i = 1; i <= Nandkeep_TempConfCount(); i++) {
        if (Nandkeep_CheckConfig(MTD0Fd(), Nandkeep_TempConfOffset(i), TempConfAreaSize()) == 0 &&
            ++iValid == 2) {
            return 0;
        }
    }
    return -1;
}

int Cmd_CheckTempData(int iArgc, char **ppArgv) {
    (void)iArgc;
    (void)ppArgv;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    return Nandkeep_CheckConfig(MTD0Fd(), g_ulFlashfs2Offest, g_ptMTDInfo[3].ulSize);
}

int Cmd_ReadTempData(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    return Nandkeep_ReadConfig(MTD0Fd(), ppArgv[2], g_ulFlashfs2Offest, g_ptMTDInfo[3].ulSize);
}

int Cmd_WriteTempData(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    return Nandkeep_WriteTempData(ppArgv[2]);
}

int Cmd_CheckNFDI(int iArgc, char **ppArgv) {
    (void)iArgc;
    (void)ppArgv;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    for (unsigned long j = 0; j < Nandkeep_NFDICount(); j++) {
        const unsigned long ulStart = Nandkeep_NFDIStart() + j * MTD0EraseSize();
        if (Nandkeep_CheckConfig(MTD0Fd(), ulStart, Nandkeep_NFDIAreaSize(j)) == 0) {
            return 0;
        }
    }
    return -1;
}

int Cmd_ReadNFDI(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    for (unsigned long j = 0; j < Nandkeep_NFDICount(); j++) {
        const unsigned long ulStart = Nandkeep_NFDIStart() + j * MTD0EraseSize();
        if (Nandkeep_ReadConfig(MTD0Fd(), ppArgv[2], ulStart, Nandkeep_NFDIAreaSize(j)) == 0) {
            return 0;
        }
    }
    return -1;
}

int Cmd_WriteNFDI(int iArgc, char **ppArgv) {
    (void)iArgc;
    if (Nandkeep_CheckStoreTable() == -1) {
        return -1;
    }
    return Nandkeep_WriteNFDI(ppArgv[2]);
}
