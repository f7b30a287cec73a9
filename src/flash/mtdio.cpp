// MTD device primitives.
#include "flash/mtdio.h"

#include "flash/device.h"
#include "flash/texts.h"
#include "flash/notify.h"
#include "flash/progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A write piece that still is not on the device after this many write calls has failed: a
// driver that keeps accepting nothing must not keep the tool calling for ever.
constexpr int WRITE_CALLS_MAX = 32;

// Fills one piece with at most two read calls that deliver data; a third call is made and fails
// the piece whatever it returns.
int ReadPieceCalls(int iFd, unsigned char *pucBuf, uint64_t ullSize) {
    uint64_t ullMissing = ullSize;
    int iCnt = 0;
    for (;;) {
        ssize_t lRet =
            Plat_Read(iFd, pucBuf + (ullSize - ullMissing), Nandkeep_PieceOf(ullMissing));
        if (lRet < 0 || iCnt == 2) {
            Nandkeep_Print(TXT_CALLS, iCnt);
            Nandkeep_Notify(TXT_READ_FAIL);
            return -1;
        }
        if (static_cast<uint64_t>(lRet) > ullMissing) {
            Nandkeep_Print("%s", TXT_READ_OVERRUN);
            Plat_SyslogErr(TXT_READ_OVERRUN);
            return -1;
        }
        ullMissing -= static_cast<uint64_t>(lRet);
        iCnt++;
        if (iCnt == 2) {
            Nandkeep_Print(TXT_CALLS_LEFT, iCnt, ullMissing, static_cast<int>(lRet));
            Plat_SyslogErr(TXT_READ_SLOW);
        }
        if (ullMissing == 0) {
            return 0;
        }
    }
}

int SeekExact(int iFd, uint64_t ullOffset) {
    off_t lPos = Plat_Lseek(iFd, static_cast<off_t>(ullOffset), SEEK_SET);
    if (lPos < 0 || static_cast<uint64_t>(lPos) != ullOffset) {
        Nandkeep_Notify(TXT_LSEEK_FAIL);
        return -1;
    }
    return 0;
}

// Sends one whole piece, however many write calls the driver needs. A write call the device
// refuses marks the block at ullOpOffset bad.
EWrite WritePieceCalls(int iFd, const unsigned char *pucPiece, uint64_t ullOpOffset) {
    uint64_t ullUnwritten = NANDKEEP_PIECE;
    int iCnt = 0;
    while (ullUnwritten > 0) {
        if (iCnt >= WRITE_CALLS_MAX) {
            return EWrite::FAILED;
        }
        ssize_t lRet = Plat_Write(iFd, pucPiece + (NANDKEEP_PIECE - ullUnwritten),
                                  Nandkeep_PieceOf(ullUnwritten));
        if (lRet < 0) {
            // A block whose marker page is the one that refuses programs fails the mark too,
            // while the driver's table holds it bad all the same.
            const bool bMarked = SetBadBlockToBBT(iFd, ullOpOffset) == 0 ||
                                 Flash_Block(iFd, ullOpOffset) == EBlock::BAD;
            return bMarked ? EWrite::RETIRED : EWrite::FAILED;
        }
        if (iCnt >= 2) {
            Nandkeep_Print(TXT_CALLS_RETURN, iCnt, static_cast<int>(lRet));
            Nandkeep_Notify(TXT_WRITE_FAIL);
        }
        if (static_cast<uint64_t>(lRet) > ullUnwritten) {
            Nandkeep_Print("%s", TXT_WRITE_OVERRUN);
            Plat_SyslogErr(TXT_WRITE_OVERRUN);
            return EWrite::FAILED;
        }
        ullUnwritten -= static_cast<uint64_t>(lRet);
        iCnt++;
        if (iCnt > 1) {
            Nandkeep_Print(TXT_CALLS_LEFT, iCnt, ullUnwritten, static_cast<int>(lRet));
            Plat_SyslogErr(TXT_WRITE_SLOW);
        }
    }
    return EWrite::WRITTEN;
}

// A block whose erase failed: overwritten with zero bytes first when bClean, then marked bad.
// false when marking failed (notified).
bool RetireUnerasable(int iFd, uint64_t ullPos, bool bClean) {
    if (!bClean) {
        return SetBadBlockToBBT(iFd, ullPos) == 0;
    }
    static unsigned char aucZero[NANDKEEP_PIECE];
    memset(aucZero, 0, sizeof(aucZero));
    for (uint64_t ullDone = 0; ullDone < MTD0EraseSize(); ullDone += NANDKEEP_PIECE) {
        if (Nandkeep_WriteMTD(iFd, aucZero, ullPos + ullDone, NANDKEEP_PIECE) != 0) {
            Nandkeep_Notify(TXT_CLEAN_BOOT_FAIL);
            break;
        }
    }
    if (SetBadBlockToBBT(iFd, ullPos) != 0) {
        Nandkeep_Notify(TXT_BOOT_SET_BAD_FAIL);
        return false;
    }
    return true;
}

// The erase loop of Nandkeep_EraseMTD and Nandkeep_CleanBoot, with their result.
int EraseRange(int iFd, uint64_t ullOffset, uint64_t ullLen, bool bClean) {
    const uint64_t ullErase = MTD0EraseSize();
    // The request carries 32-bit fields: a position at 4 GiB would be cut onto a block near 0.
    const uint64_t ullEnd = Nandkeep_WalkEnd(ullOffset, ullLen);
    for (uint64_t ullPos = ullOffset; ullPos < ullEnd; ullPos += ullErase) {
        if (ullEnd - ullOffset > ullErase) {
            Progress_Percent("erasing", ullPos - ullOffset, ullEnd - ullOffset);
        }
        if (Flash_Block(iFd, ullPos) != EBlock::GOOD ||
            Plat_MemErase(iFd, static_cast<uint32_t>(ullPos), static_cast<uint32_t>(ullErase)) ==
                0) {
            continue;
        }
        Nandkeep_Print("%s", TXT_FOUND_BAD);
        if (!RetireUnerasable(iFd, ullPos, bClean)) {
            return -1;
        }
        if (ullErase == ullLen) {
            return NANDKEEP_BLOCK_RETIRED;
        }
    }
    if (ullEnd - ullOffset > ullErase) {
        Progress_Percent("erasing", ullEnd - ullOffset, ullEnd - ullOffset);
    }
    return 0;
}

// Reads ullLen bytes piece by piece into pucDest from the device position, which lies ullLead
// bytes into its piece. 0, or -1 (notified).
int ReadPieces(int iFd, unsigned char *pucDest, uint64_t ullLead, uint64_t ullLen) {
    while (ullLead + ullLen > 0) {
        const uint64_t ullCopy = std::min(NANDKEEP_PIECE, ullLead + ullLen) - ullLead;
        // A whole piece the caller wants all of goes straight to its buffer; the same read
        // calls reach the device either way.
        const bool bDirect = ullCopy == NANDKEEP_PIECE;
        unsigned char aucPiece[NANDKEEP_PIECE];
        if (ReadPieceCalls(iFd, bDirect ? pucDest : aucPiece, NANDKEEP_PIECE) != 0) {
            return -1;
        }
        if (!bDirect) {
            memcpy(pucDest, aucPiece + ullLead, Nandkeep_PieceOf(ullCopy));
        }
        pucDest += ullCopy;
        ullLen -= ullCopy;
        ullLead = 0;
    }
    return 0;
}

} // namespace

int Nandkeep_GetEccStats(int iFd, TEccStats *ptStats) {
    if (Plat_EccGetStats(iFd, ptStats) < 0) {
        Nandkeep_Notify(TXT_ECC_STATS);
        return -1;
    }
    return 0;
}

bool Nandkeep_IsEccEvent(const TEccStats &tSnap, const TEccStats &tNow) {
    return tNow.failed != tSnap.failed || (g_b1BitECC == 1 && tNow.corrected != tSnap.corrected);
}

int Nandkeep_ReadMTD(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    const uint64_t ullLead = ullOffset % NANDKEEP_PIECE;
    if (SeekExact(iFd, ullOffset - ullLead) != 0) {
        return -1;
    }
    return ReadPieces(iFd, static_cast<unsigned char *>(pBuf), ullLead, ullLen);
}

int Nandkeep_ReadMTDWithECC(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    TEccStats tBefore;
    TEccStats tAfter;
    if (SeekExact(iFd, ullOffset) != 0 || Nandkeep_GetEccStats(iFd, &tBefore) != 0 ||
        ReadPieces(iFd, static_cast<unsigned char *>(pBuf), 0, ullLen) != 0 ||
        Nandkeep_GetEccStats(iFd, &tAfter) != 0) {
        return -1;
    }
    const uint32_t dwCorrected = tAfter.corrected - tBefore.corrected;
    return tAfter.failed != tBefore.failed ? NANDKEEP_ECC_FAILED
           : dwCorrected != 0              ? NANDKEEP_ECC_CORRECTED + static_cast<int>(dwCorrected)
                                           : 0;
}

EWrite Flash_Write(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    if (SeekExact(iFd, ullOffset) != 0) {
        return EWrite::FAILED;
    }
    unsigned char *pucSrc = static_cast<unsigned char *>(pBuf);
    for (uint64_t ullDone = 0; ullDone < ullLen;) {
        const uint64_t ullPiece = std::min(NANDKEEP_PIECE, ullLen - ullDone);
        // A short last piece still goes out whole: 0xFF leaves erased NAND unprogrammed.
        if (ullPiece < NANDKEEP_PIECE) {
            memset(pucSrc + ullDone + ullPiece, NANDKEEP_ERASED_BYTE,
                   Nandkeep_PieceOf(NANDKEEP_PIECE - ullPiece));
        }
        const EWrite eWrite = WritePieceCalls(iFd, pucSrc + ullDone, ullOffset);
        if (eWrite != EWrite::WRITTEN) {
            return eWrite;
        }
        ullDone += ullPiece;
    }
    return EWrite::WRITTEN;
}

int Nandkeep_WriteMTD(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    return Flash_Write(iFd, pBuf, ullOffset, ullLen) == EWrite::WRITTEN ? 0 : -1;
}

int Nandkeep_EraseMTD(int iFd, uint64_t ullOffset, uint64_t ullLen) {
    return EraseRange(iFd, ullOffset, ullLen, false);
}

int Nandkeep_CleanBoot(int iFd, uint64_t ullOffset, uint64_t ullLen) {
    return EraseRange(iFd, ullOffset, ullLen, true);
}

EBlock Flash_Block(int iFd, uint64_t ullOffset) {
    const int iRet = Plat_MemGetBadBlock(iFd, static_cast<int64_t>(ullOffset));
    return iRet == 0 ? EBlock::GOOD : iRet == 1 ? EBlock::BAD : EBlock::UNKNOWN;
}

int Nandkeep_IsBadBlock(int iFd, uint64_t ullOffset) {
    return Flash_Block(iFd, ullOffset) == EBlock::GOOD ? 0 : NANDKEEP_BAD_BLOCK;
}

int SetBadBlockToBBT(int iFd, uint64_t ullOffset) {
    if (Plat_MemSetBadBlock(iFd, static_cast<int64_t>(ullOffset)) < 0) {
        Nandkeep_Notify(TXT_SET_BAD_FAIL);
        return -1;
    }
    return 0;
}

int FusionWrite(int iFd, void *pBuf, uint64_t ullOffset) {
    const int iRet = Nandkeep_EraseMTD(iFd, ullOffset, MTD0EraseSize());
    if (iRet != 0) {
        return iRet;
    }
    if (Nandkeep_WriteMTD(iFd, pBuf, ullOffset, MTD0EraseSize()) != 0) {
        Nandkeep_Notify(TXT_FUSION_FAIL);
        return -1;
    }
    return 0;
}

int Nandkeep_CheckErased(const void *pBuf, uint64_t ullLen) {
    const unsigned char *pucBuf = static_cast<const unsigned char *>(pBuf);
    for (uint64_t ullPos = 0; ullPos < ullLen; ullPos += 4) {
        uint32_t dwWord;
        memcpy(&dwWord, pucBuf + ullPos, sizeof(dwWord));
        if (dwWord != 0xFFFFFFFFu) {
            return 1;
        }
    }
    return 0;
}
