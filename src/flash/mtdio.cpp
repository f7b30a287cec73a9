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
        ssize_t lRet = Plat_Read(iFd, pucBuf + (ullSize - ullMissing), ullMissing);
        if (lRet < 0 || iCnt == 2) {
            Progress_Hide();
            printf(TXT_CALLS, iCnt);
            Nandkeep_Notify(TXT_READ_FAIL);
            return -1;
        }
        if (static_cast<uint64_t>(lRet) > ullMissing) {
            Progress_Hide();
            printf("%s", TXT_READ_OVERRUN);
            Nandkeep_SyslogErr(TXT_READ_OVERRUN);
            return -1;
        }
        ullMissing -= static_cast<uint64_t>(lRet);
        iCnt++;
        if (iCnt == 2) {
            Progress_Hide();
            printf(TXT_CALLS_LEFT, iCnt, ullMissing, static_cast<int>(lRet));
            Nandkeep_SyslogErr(TXT_READ_SLOW);
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
        ssize_t lRet = Plat_Write(iFd, pucPiece + (NANDKEEP_PIECE - ullUnwritten), ullUnwritten);
        if (lRet < 0) {
            // A block whose marker page is the one that refuses programs fails the mark too,
            // while the driver's table holds it bad all the same.
            const bool bMarked = SetBadBlockToBBT(iFd, ullOpOffset) == 0 ||
                                 Flash_Block(iFd, ullOpOffset) == EBlock::BAD;
            return bMarked ? EWrite::RETIRED : EWrite::FAILED;
        }
        if (iCnt >= 2) {
            Progress_Hide();
            printf(TXT_CALLS_RETURN, iCnt, static_cast<int>(lRet));
            Nandkeep_Notify(TXT_WRITE_FAIL);
        }
        if (static_cast<uint64_t>(lRet) > ullUnwritten) {
            Progress_Hide();
            printf("%s", TXT_WRITE_OVERRUN);
            Nandkeep_SyslogErr(TXT_WRITE_OVERRUN);
            return EWrite::FAILED;
        }
        ullUnwritten -= static_cast<uint64_t>(lRet);
        iCnt++;
        if (iCnt > 1) {
            Progress_Hide();
            printf(TXT_CALLS_LEFT, iCnt, ullUnwritten, static_cast<int>(lRet));
            Nandkeep_SyslogErr(TXT_WRITE_SLOW);
        }
    }
    return EWrite::WRITTEN;
}

// A block whose erase failed: overwritten with zero bytes first when bClean, then marked bad.
// false when marking failed (notified).
bool RetireUnerasable(int iFd, uint64_t ullPos, bool bClean) {
    if (!bClean) {
        if (Plat_MemSetBadBlock(iFd, static_cast<int64_t>(ullPos)) < 0) {
            Nandkeep_Notify(TXT_SET_BAD_FAIL);
            return false;
        }
        return true;
    }
    static unsigned char aucZero[NANDKEEP_PIECE];
    memset(aucZero, 0, sizeof(aucZero));
    for (uint64_t ullDone = 0; ullDone < MTD0EraseSize(); ullDone += NANDKEEP_PIECE) {
        if (Nandkeep_WriteMTD(iFd, aucZero, ullPos + ullDone, NANDKEEP_PIECE) == -1) {
            Nandkeep_Notify(TXT_CLEAN_BOOT_FAIL);
            break;
        }
    }
    if (SetBadBlockToBBT(iFd, ullPos) == -1) {
        Nandkeep_Notify(TXT_BOOT_SET_BAD_FAIL);
        return false;
    }
    return true;
}

// The erase loop of Flash_Erase and Nandkeep_CleanBoot.
EErase EraseRange(int iFd, uint64_t ullOffset, uint64_t ullLen, bool bClean) {
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
        Progress_Hide();
        printf("%s", TXT_FOUND_BAD);
        if (!RetireUnerasable(iFd, ullPos, bClean)) {
            return EErase::FAILED;
        }
        if (ullErase == ullLen) {
            return EErase::RETIRED;
        }
    }
    if (ullEnd - ullOffset > ullErase) {
        Progress_Percent("erasing", ullEnd - ullOffset, ullEnd - ullOffset);
    }
    return EErase::ERASED;
}

int EraseResult(EErase eErase) {
    return eErase == EErase::ERASED ? 0 : eErase == EErase::RETIRED ? NANDKEEP_BLOCK_RETIRED : -1;
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

int Flash_ReadPiece(int iFd, unsigned char *pucPiece, uint64_t ullOffset) {
    if (SeekExact(iFd, ullOffset - ullOffset % NANDKEEP_PIECE) == -1) {
        return -1;
    }
    return ReadPieceCalls(iFd, pucPiece, NANDKEEP_PIECE);
}

int Nandkeep_ReadMTD(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    uint64_t ullLead = ullOffset % NANDKEEP_PIECE;
    if (SeekExact(iFd, ullOffset - ullLead) == -1) {
        return -1;
    }
    unsigned char *pucDest = static_cast<unsigned char *>(pBuf);
    uint64_t ullRemaining = ullLen;
    while (ullLead + ullRemaining > 0) {
        // A whole piece the caller wants all of goes straight to its buffer; the same read
        // calls reach the device either way.
        if (ullLead == 0 && ullRemaining >= NANDKEEP_PIECE) {
            if (ReadPieceCalls(iFd, pucDest, NANDKEEP_PIECE) == -1) {
                return -1;
            }
            pucDest += NANDKEEP_PIECE;
            ullRemaining -= NANDKEEP_PIECE;
            continue;
        }
        unsigned char aucPiece[NANDKEEP_PIECE];
        if (ReadPieceCalls(iFd, aucPiece, NANDKEEP_PIECE) == -1) {
            return -1;
        }
        const uint64_t ullCopy = std::min(NANDKEEP_PIECE, ullLead + ullRemaining) - ullLead;
        memcpy(pucDest, aucPiece + ullLead, ullCopy);
        pucDest += ullCopy;
        ullRemaining -= ullCopy;
        ullLead = 0;
        if (ullRemaining == 0) {
            break;
        }
    }
    return 0;
}

int Flash_ReadEcc(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen, EEcc *peEcc,
                  uint32_t *pdwCorrected) {
    TEccStats tBefore;
    if (SeekExact(iFd, ullOffset) == -1 || Nandkeep_GetEccStats(iFd, &tBefore) == -1) {
        return -1;
    }
    unsigned char *pucDest = static_cast<unsigned char *>(pBuf);
    for (uint64_t ullDone = 0; ullDone < ullLen;) {
        const uint64_t ullPiece = std::min(NANDKEEP_PIECE, ullLen - ullDone);
        if (ullPiece == NANDKEEP_PIECE) {
            if (ReadPieceCalls(iFd, pucDest + ullDone, NANDKEEP_PIECE) == -1) {
                return -1;
            }
        } else {
            unsigned char aucPiece[NANDKEEP_PIECE];
            if (ReadPieceCalls(iFd, aucPiece, NANDKEEP_PIECE) == -1) {
                return -1;
            }
            memcpy(pucDest + ullDone, aucPiece, ullPiece);
        }
        ullDone += ullPiece;
    }
    TEccStats tAfter;
    if (Nandkeep_GetEccStats(iFd, &tAfter) == -1) {
        return -1;
    }
    *pdwCorrected = tAfter.corrected - tBefore.corrected;
    *peEcc = tAfter.failed != tBefore.failed ? EEcc::FAILED
             : *pdwCorrected != 0            ? EEcc::CORRECTED
                                             : EEcc::CLEAN;
    return 0;
}

int Nandkeep_ReadMTDWithECC(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    EEcc eEcc = EEcc::CLEAN;
    uint32_t dwCorrected = 0;
    if (Flash_ReadEcc(iFd, pBuf, ullOffset, ullLen, &eEcc, &dwCorrected) == -1) {
        return -1;
    }
    return eEcc == EEcc::FAILED      ? NANDKEEP_ECC_FAILED
           : eEcc == EEcc::CORRECTED ? NANDKEEP_ECC_CORRECTED + static_cast<int>(dwCorrected)
                                     : 0;
}

EWrite Flash_Write(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen) {
    if (SeekExact(iFd, ullOffset) == -1) {
        return EWrite::FAILED;
    }
    unsigned char *pucSrc = static_cast<unsigned char *>(pBuf);
    for (uint64_t ullDone = 0; ullDone < ullLen;) {
        const uint64_t ullPiece = std::min(NANDKEEP_PIECE, ullLen - ullDone);
        // A short last piece still goes out whole: 0xFF leaves erased NAND unprogrammed.
        if (ullPiece < NANDKEEP_PIECE) {
            memset(pucSrc + ullDone + ullPiece, NANDKEEP_ERASED_BYTE, NANDKEEP_PIECE - ullPiece);
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

EErase Flash_Erase(int iFd, uint64_t ullOffset, uint64_t ullLen) {
    return EraseRange(iFd, ullOffset, ullLen, false);
}

int Nandkeep_EraseMTD(int iFd, uint64_t ullOffset, uint64_t ullLen) {
    return EraseResult(EraseRange(iFd, ullOffset, ullLen, false));
}

int Nandkeep_CleanBoot(int iFd, uint64_t ullOffset, uint64_t ullLen) {
    return EraseResult(EraseRange(iFd, ullOffset, ullLen, true));
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
    if (Nandkeep_WriteMTD(iFd, pBuf, ullOffset, MTD0EraseSize()) == -1) {
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
