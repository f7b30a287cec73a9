// MTD device primitives.
#include "flash/mtdio.h"

#include "frontend/mtdinfo.h"
#include "frontend/notify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A write piece that still is not on the device after this many write calls has failed: a
// driver that keeps accepting nothing must not keep the tool calling for ever.
constexpr int WRITE_CALLS_MAX = 32;

// Fills one piece with at most two read calls that deliver data; a third call is made and fails
// the piece whatever it returns.
int ReadPieceCalls(int iFd, unsigned char *pucBuf, unsigned long ulSize) {
    unsigned long ulMissing = ulSize;
    int iCnt = 0;
    for (;;) {
        ssize_t lRet = Plat_Read(iFd, pucBuf + (ulSize - ulMissing), ulMissing);
        if (lRet < 0 || iCnt == 2) {
            printf("iCnt = %d\n", iCnt);
            Nandkeep_Notify("read fail");
            return -1;
        }
        if (static_cast<unsigned long>(lRet) > ulMissing) {
            printf("SYSTEM ERROR! read() function!");
            Nandkeep_SyslogErr("SYSTEM ERROR! read() function!");
            return -1;
        }
        ulMissing -= static_cast<unsigned long>(lRet);
        iCnt++;
        if (iCnt == 2) {
            printf("iCnt = %d, ulSize = %lu, iReturn = %d\n", iCnt, ulMissing,
                   static_cast<int>(lRet));
            Nandkeep_SyslogErr("SYSTEM WARNING! read() System too slow!");
        }
        if (ulMissing == 0) {
            return 0;
        }
    }
}

int SeekExact(int iFd, unsigned long ulOffset) {
    off_t lPos = Plat_Lseek(iFd, static_cast<off_t>(ulOffset), SEEK_SET);
    if (lPos < 0 || static_cast<unsigned long>(lPos) != ulOffset) {
        Nandkeep_Notify("lseek fail");
        return -1;
    }
    return 0;
}

// Sends one whole piece, however many write calls the driver needs. A write call the device
// refuses marks the block at ulOpOffset bad; *pbRetired tells whether that mark took.
int WritePieceCalls(int iFd, const unsigned char *pucPiece, unsigned long ulOpOffset,
                    bool *pbRetired) {
    unsigned long ulUnwritten = NANDKEEP_PIECE;
    int iCnt = 0;
    while (ulUnwritten > 0) {
        if (iCnt >= WRITE_CALLS_MAX) {
            return -1;
        }
        ssize_t lRet = Plat_Write(iFd, pucPiece + (NANDKEEP_PIECE - ulUnwritten), ulUnwritten);
        if (lRet < 0) {
            // A block whose marker page is the one that refuses programs fails the mark too,
            // while the driver's table holds it bad all the same.
            *pbRetired = SetBadBlockToBBT(iFd, ulOpOffset) == 0 ||
                         Plat_MemGetBadBlock(iFd, static_cast<int64_t>(ulOpOffset)) == 1;
            return -1;
        }
        if (iCnt >= 2) {
            printf("iCnt = %d, iReturn = %d\n", iCnt, static_cast<int>(lRet));
            Nandkeep_Notify("write fail");
        }
        if (static_cast<unsigned long>(lRet) > ulUnwritten) {
            printf("SYSTEM ERROR! write() function!");
            Nandkeep_SyslogErr("SYSTEM ERROR! write() function!");
            return -1;
        }
        ulUnwritten -= static_cast<unsigned long>(lRet);
        iCnt++;
        if (iCnt > 1) {
            printf("iCnt = %d, ulSize = %lu, iReturn = %d\n", iCnt, ulUnwritten,
                   static_cast<int>(lRet));
            Nandkeep_SyslogErr("SYSTEM WARNING! write() System too slow!");
        }
    }
    return 0;
}

// The erase loop shared by Nandkeep_EraseMTD and Nandkeep_CleanBoot. bClean overwrites a block
// whose erase failed with zero bytes before it is marked.
int EraseRange(int iFd, unsigned long ulOffset, unsigned long ulLen, bool bClean) {
    const unsigned long ulErase = MTD0EraseSize();
    // The request carries 32-bit fields: a position at 4 GiB would be cut onto a block near 0.
    const unsigned long ulEnd = Nandkeep_WalkEnd(ulOffset, ulLen);
    for (unsigned long ulPos = ulOffset; ulPos < ulEnd; ulPos += ulErase) {
        Nandkeep_Debug("Erased offset=0x%.8lX size = 0x%.8lX\n", ulPos, ulErase);
        if (Nandkeep_IsBadBlock(iFd, ulPos) == NANDKEEP_BAD_BLOCK) {
            continue;
        }
        if (Plat_MemErase(iFd, static_cast<uint32_t>(ulPos), static_cast<uint32_t>(ulErase)) == 0) {
            continue;
        }
        printf("find a bad block");
        if (bClean) {
            static unsigned char aucZero[NANDKEEP_PIECE];
            memset(aucZero, 0, sizeof(aucZero));
            for (unsigned long ulDone = 0; ulDone < ulErase; ulDone += NANDKEEP_PIECE) {
                if (Nandkeep_WriteMTD(iFd, aucZero, ulPos + ulDone, NANDKEEP_PIECE) == -1) {
                    Nandkeep_Notify("clean boot fail");
                    break;
                }
            }
            if (SetBadBlockToBBT(iFd, ulPos) == -1) {
                Nandkeep_Notify("Boot set bad block fail");
                return -1;
            }
        } else if (Plat_MemSetBadBlock(iFd, static_cast<int64_t>(ulPos)) < 0) {
            Nandkeep_Notify("set bad block fail");
            return -1;
        }
        if (ulErase == ulLen) {
            return NANDKEEP_BLOCK_RETIRED;
        }
    }
    Nandkeep_Debug("Erased 0x%.8lX bytes from address 0x%.8lX in flash\n", ulLen, ulOffset);
    return 0;
}

} // namespace

int Nandkeep_GetEccStats(int iFd, TEccStats *ptStats) {
    if (Plat_EccGetStats(iFd, ptStats) < 0) {
        Nandkeep_Notify("ioctl(ECCGETSTATS)");
        return -1;
    }
    return 0;
}

int Nandkeep_ReadMTD(int iFd, void *pBuf, unsigned long ulOffset, unsigned long ulLen) {
    unsigned long ulLead = ulOffset % NANDKEEP_PIECE;
    if (SeekExact(iFd, ulOffset - ulLead) == -1) {
        return -1;
    }
    if (ulLead + ulLen == 0) {
        return 0;
    }
    unsigned char aucPiece[NANDKEEP_PIECE];
    unsigned char *pucDest = static_cast<unsigned char *>(pBuf);
    unsigned long ulRemaining = ulLen;
    do {
        // A whole piece the caller wants all of goes straight to its buffer; the same read
        // calls reach the device either way.
        if (ulLead == 0 && ulRemaining >= NANDKEEP_PIECE) {
            if (ReadPieceCalls(iFd, pucDest, NANDKEEP_PIECE) == -1) {
                return -1;
            }
            pucDest += NANDKEEP_PIECE;
            ulRemaining -= NANDKEEP_PIECE;
            continue;
        }
        if (ReadPieceCalls(iFd, aucPiece, NANDKEEP_PIECE) == -1) {
            return -1;
        }
        unsigned long ulTake = std::min(NANDKEEP_PIECE, ulLead + ulRemaining);
        unsigned long ulCopy = ulTake - ulLead;
        memcpy(pucDest, aucPiece + ulLead, ulCopy);
        pucDest += ulCopy;
        ulRemaining -= ulCopy;
        ulLead = 0;
    } while (ulRemaining > 0);
    return 0;
}

int Nandkeep_ReadMTDWithECC(int iFd, void *pBuf, unsigned long ulOffset, unsigned long ulLen) {
    if (SeekExact(iFd, ulOffset) == -1) {
        return -1;
    }
    TEccStats tBefore;
    if (Nandkeep_GetEccStats(iFd, &tBefore) == -1) {
        return -1;
    }
    unsigned char aucPiece[NANDKEEP_PIECE];
    unsigned char *pucDest = static_cast<unsigned char *>(pBuf);
    for (unsigned long ulDone = 0; ulDone < ulLen;) {
        unsigned long ulPiece = std::min(NANDKEEP_PIECE, ulLen - ulDone);
        if (ulPiece == NANDKEEP_PIECE) {
            if (ReadPieceCalls(iFd, pucDest + ulDone, NANDKEEP_PIECE) == -1) {
                return -1;
            }
        } else {
            if (ReadPieceCalls(iFd, aucPiece, NANDKEEP_PIECE) == -1) {
                return -1;
            }
            memcpy(pucDest + ulDone, aucPiece, ulPiece);
        }
        ulDone += ulPiece;
    }
    TEccStats tAfter;
    if (Nandkeep_GetEccStats(iFd, &tAfter) == -1) {
        return -1;
    }
    if (tAfter.failed != tBefore.failed) {
        return NANDKEEP_ECC_FAILED;
    }
    if (tAfter.corrected == tBefore.corrected) {
        return 0;
    }
    return NANDKEEP_ECC_CORRECTED + static_cast<int>(tAfter.corrected - tBefore.corrected);
}

int Nandkeep_WriteMTD(int iFd, void *pBuf, unsigned long ulOffset, unsigned long ulLen) {
    bool bRetired = false;
    return Nandkeep_WriteMTDRetiring(iFd, pBuf, ulOffset, ulLen, &bRetired);
}

int Nandkeep_WriteMTDRetiring(int iFd, void *pBuf, unsigned long ulOffset, unsigned long ulLen,
                              bool *pbRetired) {
    *pbRetired = false;
    if (SeekExact(iFd, ulOffset) == -1) {
        return -1;
    }
    unsigned char *pucSrc = static_cast<unsigned char *>(pBuf);
    for (unsigned long ulDone = 0; ulDone < ulLen;) {
        unsigned long ulPiece = std::min(NANDKEEP_PIECE, ulLen - ulDone);
        // A short last piece still goes out whole: 0xFF leaves erased NAND unprogrammed.
        if (ulPiece < NANDKEEP_PIECE) {
            memset(pucSrc + ulDone + ulPiece, NANDKEEP_ERASED_BYTE, NANDKEEP_PIECE - ulPiece);
        }
        if (WritePieceCalls(iFd, pucSrc + ulDone, ulOffset, pbRetired) == -1) {
            return -1;
        }
        ulDone += ulPiece;
    }
    return 0;
}

int Nandkeep_EraseMTD(int iFd, unsigned long ulOffset, unsigned long ulLen) {
    return EraseRange(iFd, ulOffset, ulLen, false);
}

int Nandkeep_CleanBoot(int iFd, unsigned long ulOffset, unsigned long ulLen) {
    return EraseRange(iFd, ulOffset, ulLen, true);
}

int Nandkeep_IsBadBlock(int iFd, unsigned long ulOffset) {
    if (Plat_MemGetBadBlock(iFd, static_cast<int64_t>(ulOffset)) == 0) {
        return 0;
    }
    Nandkeep_Debug("Find a bad block at offset = 0x%.8lX\n", ulOffset);
    return NANDKEEP_BAD_BLOCK;
}

unsigned long Nandkeep_SkipBadBlocks(int iFd, unsigned long ulPos, unsigned long ulEnd) {
    while (ulPos < ulEnd && Nandkeep_IsBadBlock(iFd, ulPos) == NANDKEEP_BAD_BLOCK) {
        ulPos += MTD0EraseSize();
    }
    return ulPos;
}

int SetBadBlockToBBT(int iFd, unsigned long ulOffset) {
    if (Plat_MemSetBadBlock(iFd, static_cast<int64_t>(ulOffset)) < 0) {
        Nandkeep_Notify("set bad block fail");
        return -1;
    }
    return 0;
}

int FusionWrite(int iFd, void *pBuf, unsigned long ulOffset) {
    int iRet = Nandkeep_EraseMTD(iFd, ulOffset, MTD0EraseSize());
    if (iRet != 0) {
        return iRet;
    }
    if (Nandkeep_WriteMTD(iFd, pBuf, ulOffset, MTD0EraseSize()) == -1) {
        Nandkeep_Notify("FusionWrite fail");
        return -1;
    }
    return 0;
}

int Nandkeep_CheckErased(const void *pBuf, unsigned long ulLen) {
    const unsigned char *pucBuf = static_cast<const unsigned char *>(pBuf);
    for (unsigned long ulPos = 0; ulPos < ulLen; ulPos += 4) {
        uint32_t dwWord;
        memcpy(&dwWord, pucBuf + ulPos, sizeof(dwWord));
        if (dwWord != 0xFFFFFFFFu) {
            return 1;
        }
    }
    return 0;
}
