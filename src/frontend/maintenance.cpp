// Raw flash maintenance commands.
#include "frontend/maintenance.h"

#include "flash/compare.h"
#include "flash/device.h"
#include "flash/mtdio.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "flash/report.h"
#include "flash/workbuf.h"
#include "frontend/commands.h"
#include "frontend/texts.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The partition N-3 counted from the end of the table is the flashfs1 area that eraseRootfs
// scans (N-2 is the flashfs2 partition, N-1 the jffs2 partition).
constexpr int REC_FLASHFS1 = 3;

// The record iBack from the end of the table (0: record 0) for a command that erases by the
// erase size; nullptr (notified) when the table lacks it.
const TMTDInfo *ErasableRecord(int iBack) {
    if (iBack != 0 && g_iPartitionNum < REC_FLASHFS1) {
        Nandkeep_Notify(TXT_FEW_PARTITIONS);
        return nullptr;
    }
    return &g_ptMTDInfo[iBack == 0 ? 0 : g_iPartitionNum - iBack];
}

// Picks the size token of one "/proc/mtd" entry by the kind its name shows. The scan stops at
// the first NFDI entry; a later entry of the other kinds replaces an earlier one.
struct TLayout {
    uint64_t aullSize[3]; // the whole device, flashfs2, NFDI
    bool abSeen[3];
};

void ScanLayout(FILE *pFile, TLayout *ptLayout) {
    TMtdTokens tTok;
    // The header line is four words.
    if (Nandkeep_ReadMtdEntry(pFile, &tTok) != 4) {
        return;
    }
    while (Nandkeep_ReadMtdEntry(pFile, &tTok) == 4) {
        const char *szName = tTok.szName;
        const int iKind =
            strstr(szName, "Boot") != nullptr || strstr(szName, "linux") != nullptr           ? 0
            : strstr(szName, "Flashfs-2") != nullptr || strstr(szName, "flashfs2") != nullptr ? 1
            : strstr(szName, "NFDI") != nullptr                                               ? 2
                                                                                              : -1;
        if (iKind >= 0) {
            ptLayout->aullSize[iKind] = strtoull(tTok.szSize, nullptr, 16);
            ptLayout->abSeen[iKind] = true;
        }
        if (iKind == 2) {
            return;
        }
    }
}

} // namespace

int Nandkeep_ScanBadBlocks(int iFd, uint64_t ullOffset, uint64_t ullLen) {
    const uint64_t ullErase = MTD0EraseSize();
    if (Nandkeep_EraseMTD(iFd, ullOffset, ullLen) == -1) {
        return -1;
    }
    // Room up to the next whole piece: the write pads its last piece in the caller's buffer.
    TWorkBuf aucZero;
    if (!aucZero.assign((ullErase + NANDKEEP_PIECE - 1) / NANDKEEP_PIECE * NANDKEEP_PIECE, 0)) {
        return -1;
    }
    const uint64_t ullEnd = ullOffset + ullLen;
    for (uint64_t ullPos = ullOffset; ullPos < ullEnd; ullPos += ullErase) {
        if (Nandkeep_WriteMTD(iFd, aucZero.data(), ullPos, ullErase) != 0) {
            return -1;
        }
    }
    for (uint64_t ullPos = ullOffset; ullPos < ullEnd; ullPos += ullErase) {
        int iSame = 0;
        if (CompareBufAndMTD(iFd, aucZero.data(), ullPos, ullErase, &iSame) != 0 ||
            (iSame == 0 && SetBadBlockToBBT(iFd, ullPos) != 0)) {
            return -1;
        }
    }
    return 0;
}

int Nandkeep_Flashfs2IsChange(void) {
    FILE *pFile = Plat_OpenProcMtd();
    if (pFile == nullptr) {
        Nandkeep_Notify(TXT_MT_FOPEN);
        Nandkeep_Print("%s", TXT_MT_PROC_MTD);
        return -1;
    }
    TLayout tLayout = {};
    ScanLayout(pFile, &tLayout);
    fclose(pFile);
    if (!tLayout.abSeen[0] || !tLayout.abSeen[1] || !tLayout.abSeen[2] ||
        tLayout.aullSize[1] != g_ulFlashfs2Size ||
        tLayout.aullSize[0] - tLayout.aullSize[1] - tLayout.aullSize[2] != g_ulFlashfs2Offest) {
        return -1;
    }
    return 0;
}

int Cmd_ErasePartition(TCommand *ptCmd) {
    const TMTDInfo *ptRecord = ErasableRecord(ptCmd->iParam);
    return ptRecord == nullptr ? -1 : Nandkeep_EraseMTD(ptRecord->iFd, 0, ptRecord->ulSize);
}

int Cmd_EraseRootfs(TCommand *) {
    const TMTDInfo *ptRecord = ErasableRecord(REC_FLASHFS1);
    if (ptRecord == nullptr) {
        return -1;
    }
    Nandkeep_Print(TXT_ROOTFS_TABLE, g_iPartitionNum, ptRecord->ulSize);
    const int iRet = Nandkeep_ScanBadBlocks(ptRecord->iFd, 0, ptRecord->ulSize);
    if (iRet != 0) {
        Nandkeep_Print("%s\n", TXT_SCAN_FAIL);
        return iRet;
    }
    return Nandkeep_EraseMTD(ptRecord->iFd, 0, ptRecord->ulSize);
}

// An offset off an erase block is refused: the driver would fail the erase and the primitive
// would then retire a good block. Blocks past the end of the device (within 4 GiB) are skipped
// like bad ones: the driver rejects the query for them.
int Prepare_Erase(TCommand *ptCmd) {
    if (Nandkeep_CheckEraseSize() != 0) {
        return -1;
    }
    if (Nandkeep_ParseHex(ptCmd->ppArgv[2]) % MTD0EraseSize() != 0) {
        Nandkeep_Notify(TXT_UNALIGNED_OFFSET);
        return -1;
    }
    return Prepare_Range(ptCmd);
}

int Cmd_Erase(TCommand *ptCmd) {
    return Nandkeep_EraseMTD(MTD0Fd(), ptCmd->aulArg[0], ptCmd->aulArg[1]);
}

int Cmd_BadBlockReport(TCommand *) {
    TRegion tDevice = Region_Span(MTD0Fd(), 0, MTD0WalkEnd());
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    while (Region_NextBlock(&tDevice, &ullBlock, &eState)) {
        if (eState != EBlock::GOOD) {
            Nandkeep_Print(TXT_BAD_AT, ullBlock);
        }
    }
    return 0;
}

int Prepare_BadBlockRead(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHexWarned(ptCmd->ppArgv[3], TXT_WARN_OFFSET);
    ptCmd->aulArg[1] = Nandkeep_ParseHexWarned(ptCmd->ppArgv[4], TXT_WARN_LENGTH);
    return Nandkeep_CheckReach(ptCmd->aulArg[0], ptCmd->aulArg[1]) != 0 ? -1 : NANDKEEP_RUN;
}

// Copies whole 128 KiB pieces straight from the device, bad blocks included, with no ECC
// evaluation. A length that is not a whole number of pieces is taken up to the next one, so
// the copy always ends where the caller asked and never runs on to the end of the device.
int Cmd_BadBlockRead(TCommand *ptCmd) {
    const uint64_t ullOffset = ptCmd->aulArg[0];
    const uint64_t ullLen = ptCmd->aulArg[1];
    FILE *pFile = Nandkeep_OpenDestination(ptCmd->ppArgv[2], "w+");
    if (pFile == nullptr) {
        return -1;
    }
    const int iFd = MTD0Fd();
    const off_t lPos = Plat_Lseek(iFd, static_cast<off_t>(ullOffset), SEEK_SET);
    const char *pszFail =
        lPos < 0 || static_cast<uint64_t>(lPos) != ullOffset ? TXT_MT_LSEEK : nullptr;
    const uint64_t ullSteps = ullLen / NANDKEEP_PIECE + (ullLen % NANDKEEP_PIECE != 0 ? 1 : 0);
    unsigned char aucPiece[NANDKEEP_PIECE] = {};
    for (uint64_t ullStep = 0; pszFail == nullptr && ullStep < ullSteps; ullStep++) {
        if (Plat_Read(iFd, aucPiece, NANDKEEP_PIECE) != static_cast<ssize_t>(NANDKEEP_PIECE)) {
            pszFail = TXT_MT_READ;
        } else if (fwrite(aucPiece, 1, NANDKEEP_PIECE, pFile) != NANDKEEP_PIECE) {
            pszFail = TXT_MT_FWRITE;
        }
    }
    fclose(pFile);
    if (pszFail != nullptr) {
        Nandkeep_Notify(pszFail);
        return -1;
    }
    return 0;
}

// Both request fields are 32-bit: a length of 4 GiB would go out as 0.
int Prepare_BadBlockErase(TCommand *ptCmd) {
    if (Nandkeep_ParseHex(ptCmd->ppArgv[3]) >= NANDKEEP_REQUEST_REACH) {
        Nandkeep_Notify(TXT_RANGE_4G);
        return -1;
    }
    return Prepare_Range(ptCmd);
}

// One raw erase request, whether or not the blocks are marked bad; the driver judges alignment
// and range, and no block is ever marked by it. Nothing is written before it: the bootstrap at
// offset 0 is left alone.
int Cmd_BadBlockErase(TCommand *ptCmd) {
    if (Plat_MemErase(MTD0Fd(), static_cast<uint32_t>(ptCmd->aulArg[0]),
                      static_cast<uint32_t>(ptCmd->aulArg[1])) < 0) {
        Nandkeep_Notify(TXT_MT_ERASE_FAIL);
        return -1;
    }
    return 0;
}

// An offset inside a block (a page address from a kernel message) marks the block that holds
// it; an offset past the device is left to the driver to refuse.
int Cmd_SetBadBlockToBBT(TCommand *ptCmd) {
    const uint64_t ullOffset = Nandkeep_ParseHex(ptCmd->ppArgv[2]);
    return SetBadBlockToBBT(MTD0Fd(), ullOffset - ullOffset % MTD0EraseSize());
}

int Prepare_Range(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHex(ptCmd->ppArgv[2]);
    ptCmd->aulArg[1] = Nandkeep_ParseHex(ptCmd->ppArgv[3]);
    return Nandkeep_CheckReach(ptCmd->aulArg[0], ptCmd->aulArg[1]) != 0 ? -1 : NANDKEEP_RUN;
}

int Cmd_EccStatus(TCommand *ptCmd) {
    return Nandkeep_EccStatus(ptCmd->aulArg[0], ptCmd->aulArg[1]);
}

int Cmd_Flashfs2IsChange(TCommand *) {
    return Nandkeep_Flashfs2IsChange();
}
