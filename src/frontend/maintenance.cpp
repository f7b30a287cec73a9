// Raw flash maintenance commands.
#include "frontend/maintenance.h"

#include "flash/compare.h"
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "flash/workbuf.h"

namespace {

// Refusals: the command is rejected before any request reaches the driver.
constexpr const char *MSG_FEW_PARTITIONS = "too few partitions for this command";
constexpr const char *MSG_ERASE_SIZE = "erase size not supported";
constexpr const char *MSG_UNALIGNED_OFFSET = "offset is not on an erase block boundary";
constexpr const char *MSG_RANGE_PAST_4G = "range runs past 4 GiB";

// The partitions counted from the end of the table: N-3 is the flashfs1 area that eraseRootfs
// scans, N-2 the flashfs2 partition, N-1 the jffs2 partition.
constexpr int REC_FLASHFS1 = 3;
constexpr int REC_FLASHFS2 = 2;
constexpr int REC_JFFS2 = 1;

const TMTDInfo *RecordFromEnd(int iBack) {
    if (g_iPartitionNum < REC_FLASHFS1) {
        Nandkeep_Notify(MSG_FEW_PARTITIONS);
        return nullptr;
    }
    return &g_ptMTDInfo[g_iPartitionNum - iBack];
}

unsigned long RoundUp(unsigned long ulValue, unsigned long ulUnit) {
    return (ulValue + ulUnit - 1) / ulUnit * ulUnit;
}

int ErasePartition(const TMTDInfo *ptRecord) {
    if (ptRecord == nullptr || Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    return Nandkeep_EraseMTD(ptRecord->iFd, 0, ptRecord->ulSize);
}

// Reads ulLen bytes at ulOffset (at least one request, also for 0 bytes) into a piece buffer
// that is overwritten piece by piece: only what the reads do to the ECC counters matters.
int ReadDiscarding(unsigned long ulOffset, unsigned long ulLen) {
    unsigned char aucPiece[NANDKEEP_PIECE];
    unsigned long ulDone = 0;
    do {
        unsigned long ulPiece = std::min(NANDKEEP_PIECE, ulLen - ulDone);
        if (Nandkeep_ReadMTD(MTD0Fd(), aucPiece, ulOffset + ulDone, ulPiece) == -1) {
            return -1;
        }
        ulDone += ulPiece;
    } while (ulDone < ulLen);
    return 0;
}

constexpr const char *MSG_DEST_IS_FLASH = "destination is the flash device itself";

// Copies whole 128 KiB pieces straight from the device, bad blocks included, with no ECC
// evaluation. A length that is not a whole number of pieces is taken up to the next one, so
// the copy always ends where the caller asked and never runs on to the end of the device.
int BadBlockRead(const char *pszDest, unsigned long ulOffset, unsigned long ulLen) {
    // A destination that is the flash itself would have the copy programmed back into the device.
    int bIsFlash = 0;
    FILE *pFile = Plat_OpenDestination(pszDest, "w+", &bIsFlash);
    if (pFile == nullptr) {
        Nandkeep_Notify(bIsFlash ? MSG_DEST_IS_FLASH : "fopen()");
        printf("%s", pszDest);
        return -1;
    }
    const int iFd = MTD0Fd();
    off_t lPos = Plat_Lseek(iFd, static_cast<off_t>(ulOffset), SEEK_SET);
    if (lPos < 0 || static_cast<unsigned long>(lPos) != ulOffset) {
        fclose(pFile);
        Nandkeep_Notify("lseek()");
        return -1;
    }
    const unsigned long ulSteps = ulLen / NANDKEEP_PIECE + (ulLen % NANDKEEP_PIECE != 0 ? 1 : 0);
    unsigned char aucPiece[NANDKEEP_PIECE] = {};
    for (unsigned long ulStep = 0; ulStep < ulSteps; ulStep++) {
        if (Plat_Read(iFd, aucPiece, NANDKEEP_PIECE) != static_cast<ssize_t>(NANDKEEP_PIECE)) {
            fclose(pFile);
            Nandkeep_Notify("read()");
            return -1;
        }
        if (fwrite(aucPiece, 1, NANDKEEP_PIECE, pFile) != NANDKEEP_PIECE) {
            fclose(pFile);
            Nandkeep_Notify("fwrite()");
            return -1;
        }
    }
    fclose(pFile);
    return 0;
}

// One raw erase request, whether or not the blocks are marked bad; the driver judges alignment
// and range, and no block is ever marked by it. Nothing is written before it: the bootstrap at
// offset 0 is left alone.
int BadBlockErase(unsigned long ulOffset, unsigned long ulLen) {
    if (Plat_MemErase(MTD0Fd(), static_cast<uint32_t>(ulOffset), static_cast<uint32_t>(ulLen)) <
        0) {
        Nandkeep_Notify("erase fail");
        return -1;
    }
    return 0;
}

// Picks the size token of one "/proc/mtd" entry by the kind its name shows. The scan stops at
// the first NFDI entry; a later entry of the other kinds replaces an earlier one.
struct TLayout {
    unsigned long ulDevice;
    unsigned long ulFlashfs2;
    unsigned long ulNFDI;
    bool bDevice;
    bool bFlashfs2;
    bool bNFDI;
};

void ScanLayout(FILE *pFile, TLayout *ptLayout) {
    TMtdTokens tTok;
    // The header line is four words.
    if (Nandkeep_ReadMtdEntry(pFile, &tTok) != 4) {
        return;
    }
    while (Nandkeep_ReadMtdEntry(pFile, &tTok) == 4) {
        const char *szName = tTok.szName;
        unsigned long ulSize = strtoul(tTok.szSize, nullptr, 16);
        if (strstr(szName, "Boot") != nullptr || strstr(szName, "linux") != nullptr) {
            ptLayout->ulDevice = ulSize;
            ptLayout->bDevice = true;
        } else if (strstr(szName, "Flashfs-2") != nullptr ||
                   strstr(szName, "flashfs2") != nullptr) {
            ptLayout->ulFlashfs2 = ulSize;
            ptLayout->bFlashfs2 = true;
        } else if (strstr(szName, "NFDI") != nullptr) {
            ptLayout->ulNFDI = ulSize;
            ptLayout->bNFDI = true;
            return;
        }
    }
}

} // namespace

int Nandkeep_CheckEraseSize(void) {
    const unsigned long ulErase = MTD0EraseSize();
    if (ulErase == 0 || ulErase % NANDKEEP_PIECE != 0) {
        Nandkeep_Notify(MSG_ERASE_SIZE);
        return -1;
    }
    return 0;
}

int Nandkeep_CheckReach(unsigned long ulOffset, unsigned long ulLen) {
    if (ulOffset > NANDKEEP_REQUEST_REACH || ulLen > NANDKEEP_REQUEST_REACH - ulOffset) {
        Nandkeep_Notify(MSG_RANGE_PAST_4G);
        return -1;
    }
    return 0;
}

int Nandkeep_EccStatus(unsigned long ulMTDOffset, unsigned long ulReadLen) {
    const int iFd = MTD0Fd();
    const unsigned long ulErase = MTD0EraseSize();
    if (ulErase == 0) {
        Nandkeep_Notify(MSG_ERASE_SIZE);
        return -1;
    }
    TEccStats tStats;
    if (Nandkeep_GetEccStats(iFd, &tStats) == -1) {
        return -1;
    }
    printf("Current ECC corrected = %d, failed = %d, badblocks = %d, bbtblocks = %d\n",
           static_cast<int>(tStats.corrected), static_cast<int>(tStats.failed),
           static_cast<int>(tStats.badblocks), static_cast<int>(tStats.bbtblocks));
    unsigned long ulRemaining = ulReadLen;
    do {
        unsigned long ulChunk = std::min(ulErase, ulRemaining);
        ulRemaining -= ulChunk;
        if (Nandkeep_IsBadBlock(iFd, ulMTDOffset) == NANDKEEP_BAD_BLOCK) {
            printf("At 0x%lX offset is bad blcok!!(skip)\n", ulMTDOffset);
        } else {
            if (ReadDiscarding(ulMTDOffset, ulChunk) == -1) {
                return -1;
            }
            if (Nandkeep_GetEccStats(iFd, &tStats) == -1) {
                return -1;
            }
            printf("At 0x%lX offset ECC corrected = %d, failed = %d\n", ulMTDOffset,
                   static_cast<int>(tStats.corrected), static_cast<int>(tStats.failed));
        }
        ulMTDOffset += ulErase;
    } while (ulRemaining != 0);
    return 0;
}

int Nandkeep_ScanBadBlocks(int iFd, unsigned long ulOffset, unsigned long ulLen) {
    const unsigned long ulErase = MTD0EraseSize();
    if (Nandkeep_EraseMTD(iFd, ulOffset, ulLen) == -1) {
        return -1;
    }
    // Room up to the next whole piece: the write pads its last piece in the caller's buffer.
    TWorkBuf aucZero(RoundUp(ulErase, NANDKEEP_PIECE), 0);
    const unsigned long ulEnd = ulOffset + ulLen;
    for (unsigned long ulPos = ulOffset; ulPos < ulEnd; ulPos += ulErase) {
        if (Nandkeep_WriteMTD(iFd, aucZero.data(), ulPos, ulErase) == -1) {
            return -1;
        }
    }
    for (unsigned long ulPos = ulOffset; ulPos < ulEnd; ulPos += ulErase) {
        int iSame = 0;
        if (CompareBufAndMTD(iFd, aucZero.data(), ulPos, ulErase, &iSame) == -1) {
            return -1;
        }
        if (iSame == 0 && SetBadBlockToBBT(iFd, ulPos) == -1) {
            return -1;
        }
    }
    return 0;
}

int Nandkeep_Flashfs2IsChange(void) {
    FILE *pFile = Plat_OpenProcMtd();
    if (pFile == nullptr) {
        Nandkeep_Notify("fopen()");
        printf("%s", "/proc/mtd");
        return -1;
    }
    TLayout tLayout = {};
    ScanLayout(pFile, &tLayout);
    fclose(pFile);
    if (!tLayout.bDevice || !tLayout.bFlashfs2 || !tLayout.bNFDI) {
        return -1;
    }
    if (tLayout.ulFlashfs2 != g_ulFlashfs2Size) {
        return -1;
    }
    return tLayout.ulDevice - tLayout.ulFlashfs2 - tLayout.ulNFDI == g_ulFlashfs2Offest ? 0 : -1;
}

int Cmd_EraseAll(TCommand *ptCmd) {
    (void)ptCmd;
    return ErasePartition(&g_ptMTDInfo[0]);
}

int Cmd_EraseFlashfs1(TCommand *ptCmd) {
    (void)ptCmd;
    return ErasePartition(RecordFromEnd(REC_FLASHFS1));
}

int Cmd_EraseFlashfs2(TCommand *ptCmd) {
    (void)ptCmd;
    return ErasePartition(RecordFromEnd(REC_FLASHFS2));
}

int Cmd_EraseJFFS2(TCommand *ptCmd) {
    (void)ptCmd;
    return ErasePartition(RecordFromEnd(REC_JFFS2));
}

int Cmd_EraseRootfs(TCommand *ptCmd) {
    (void)ptCmd;
    const TMTDInfo *ptRecord = RecordFromEnd(REC_FLASHFS1);
    if (ptRecord == nullptr || Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    printf("g_iPartitionNum = %d, size = %lx\n", g_iPartitionNum, ptRecord->ulSize);
    int iRet = Nandkeep_ScanBadBlocks(ptRecord->iFd, 0, ptRecord->ulSize);
    if (iRet != 0) {
        puts("Bad block scan fail");
        return iRet;
    }
    return Nandkeep_EraseMTD(ptRecord->iFd, 0, ptRecord->ulSize);
}

// An offset off an erase block is refused: the driver would fail the erase and the primitive
// would then retire a good block. Blocks past the end of the device (within 4 GiB) are skipped
// like bad ones: the driver rejects the query for them.
int Prepare_Erase(TCommand *ptCmd) {
    const unsigned long ulOffset = Nandkeep_ParseHex(ptCmd->ppArgv[2]);
    const unsigned long ulLen = Nandkeep_ParseHex(ptCmd->ppArgv[3]);
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    if (ulOffset % MTD0EraseSize() != 0) {
        Nandkeep_Notify(MSG_UNALIGNED_OFFSET);
        return -1;
    }
    if (Nandkeep_CheckReach(ulOffset, ulLen) == -1) {
        return -1;
    }
    ptCmd->aulArg[0] = ulOffset;
    ptCmd->aulArg[1] = ulLen;
    return NANDKEEP_RUN;
}

int Cmd_Erase(TCommand *ptCmd) {
    return Nandkeep_EraseMTD(MTD0Fd(), ptCmd->aulArg[0], ptCmd->aulArg[1]);
}

int Cmd_BadBlockReport(TCommand *ptCmd) {
    (void)ptCmd;
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    const unsigned long ulEnd = MTD0WalkEnd();
    for (unsigned long ulPos = 0; ulPos < ulEnd; ulPos += MTD0EraseSize()) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulPos) == NANDKEEP_BAD_BLOCK) {
            printf("Find a bad block at offset = 0x%lx\n", ulPos);
        }
    }
    return 0;
}

int Prepare_BadBlockRead(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHexWarned(ptCmd->ppArgv[3], NANDKEEP_WARN_OFFSET);
    ptCmd->aulArg[1] = Nandkeep_ParseHexWarned(ptCmd->ppArgv[4], NANDKEEP_WARN_LENGTH);
    return Nandkeep_CheckReach(ptCmd->aulArg[0], ptCmd->aulArg[1]) == -1 ? -1 : NANDKEEP_RUN;
}

int Cmd_BadBlockRead(TCommand *ptCmd) {
    return BadBlockRead(ptCmd->ppArgv[2], ptCmd->aulArg[0], ptCmd->aulArg[1]);
}

// Both request fields are 32-bit: a length of 4 GiB would go out as 0.
int Prepare_BadBlockErase(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHex(ptCmd->ppArgv[2]);
    ptCmd->aulArg[1] = Nandkeep_ParseHex(ptCmd->ppArgv[3]);
    if (ptCmd->aulArg[1] >= NANDKEEP_REQUEST_REACH) {
        Nandkeep_Notify(MSG_RANGE_PAST_4G);
        return -1;
    }
    return Nandkeep_CheckReach(ptCmd->aulArg[0], ptCmd->aulArg[1]) == -1 ? -1 : NANDKEEP_RUN;
}

int Cmd_BadBlockErase(TCommand *ptCmd) {
    return BadBlockErase(ptCmd->aulArg[0], ptCmd->aulArg[1]);
}

// An offset inside a block (a page address from a kernel message) marks the block that holds
// it; an offset past the device is left to the driver to refuse.
int Cmd_SetBadBlockToBBT(TCommand *ptCmd) {
    unsigned long ulOffset = Nandkeep_ParseHex(ptCmd->ppArgv[2]);
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    return SetBadBlockToBBT(MTD0Fd(), ulOffset - ulOffset % MTD0EraseSize());
}

int Prepare_EccStatus(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHex(ptCmd->ppArgv[2]);
    ptCmd->aulArg[1] = Nandkeep_ParseHex(ptCmd->ppArgv[3]);
    return Nandkeep_CheckReach(ptCmd->aulArg[0], ptCmd->aulArg[1]) == -1 ? -1 : NANDKEEP_RUN;
}

int Cmd_EccStatus(TCommand *ptCmd) {
    return Nandkeep_EccStatus(ptCmd->aulArg[0], ptCmd->aulArg[1]);
}

int Cmd_Flashfs2IsChange(TCommand *ptCmd) {
    (void)ptCmd;
    return Nandkeep_Flashfs2IsChange();
}
