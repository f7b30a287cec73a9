// System recovery: the normal and backup copy of each region pair made to agree again, at image
// level from a valid twin, or block by block from the ECC results.
#include "upgrade/recovery.h"

#include "flash/compare.h"
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/mkimg.h"
#include "upgrade/writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// A block-level read that did not happen because the side ran past its region end, or its block
// does not lie whole inside the region.
constexpr int ECC_NO_READ = -2;

// Where the sub-image of the image heading [ulOffset, ulOffset + ulLen) starts and how much of
// the region is left for it. -1 when the image is invalid or leaves no room behind it.
int LocateSubImage(unsigned long ulOffset, unsigned long ulLen, unsigned long *pulSub,
                   unsigned long *pulSubLen) {
    if (Nandkeep_LocateSubImage(ulOffset, ulLen, pulSub) == -1) {
        return -1;
    }
    *pulSubLen = ulOffset + ulLen - *pulSub;
    return 0;
}

// Compares ulLen bytes of two bad-block-skipping ranges. -1 on failure, else 1 equal, 0 not.
int RangesEqual(unsigned long ulDest, unsigned long ulSrc, unsigned long ulDestLen,
                unsigned long ulSrcLen, unsigned long ulLen) {
    int iSame = 0;
    if (Nandkeep_CompareImageAndMTD(MTD0Fd(), ulDest, ulSrc, ulDestLen, ulSrcLen, ulLen, &iSame) ==
        -1) {
        return -1;
    }
    return iSame == 1 ? 1 : 0;
}

// Erase the destination range, copy ulLen bytes into it, compare again.
int RewriteRange(unsigned long ulDest, unsigned long ulSrc, unsigned long ulDestLen,
                 unsigned long ulSrcLen, unsigned long ulLen) {
    if (Nandkeep_EraseMTD(MTD0Fd(), ulDest, ulDestLen) == -1) {
        Nandkeep_Notify("erase fail");
        return -1;
    }
    if (Nandkeep_CopyMTD(MTD0Fd(), ulDest, ulSrc, ulDestLen, ulSrcLen, ulLen) == -1) {
        Nandkeep_Notify("recover image fail");
        return -1;
    }
    int iEqual = RangesEqual(ulDest, ulSrc, ulDestLen, ulSrcLen, ulLen);
    if (iEqual == -1) {
        return -1;
    }
    if (iEqual == 0) {
        Nandkeep_Notify("double check image fail");
        return -1;
    }
    return 0;
}

// Length of the sub-image of one copy: the DTB's image length or the record's length + 8.
int SubImageLen(unsigned long ulOffset, unsigned long ulLen, int iType, unsigned long *pulLen) {
    unsigned long ulSub = 0;
    unsigned long ulSubLen = 0;
    if (LocateSubImage(ulOffset, ulLen, &ulSub, &ulSubLen) == -1) {
        return -1;
    }
    if (iType == RECOVERY_SUB_DTB) {
        return Nandkeep_CheckImage(ulSub, ulSubLen, MKIMG_RESULT_IMAGE_LEN, pulLen);
    }
    return Nandkeep_GetConfigLen(MTD0Fd(), ulSub, ulSubLen, pulLen);
}

unsigned long BlocksFor(unsigned long ulBytes) {
    const unsigned long ulErase = MTD0EraseSize();
    return ulBytes / ulErase + (ulBytes % ulErase != 0 ? 1 : 0);
}

unsigned long GoodBlocks(unsigned long ulOffset, unsigned long ulLen) {
    unsigned long ulGood = ulLen / MTD0EraseSize();
    for (unsigned long ulPos = ulOffset; ulPos < ulOffset + ulLen; ulPos += MTD0EraseSize()) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulPos) == NANDKEEP_BAD_BLOCK) {
            ulGood--;
        }
    }
    return ulGood;
}

// The capacity notice of the block-level repair for copy iCopy (0 normal, 1 backup); the repair
// goes on either way.
void NoticeTooFewBlocks(unsigned long ulBlocks, unsigned long ulOffset, unsigned long ulLen,
                        int iCopy) {
    if (ulBlocks <= GoodBlocks(ulOffset, ulLen)) {
        return;
    }
    Nandkeep_Notify(iCopy == 0 ? "ECC Fail 0: normal block not enough"
                               : "ECC Fail 1: normal block not enough");
    if (g_b1BitECC == 1) {
        Nandkeep_Notify(iCopy == 0 ? "ECC Corrected 0: normal block not enough"
                                   : "ECC Corrected 1: normal block not enough");
    }
}

// One side of a block-level pass: the next good block at *pulPos, read with its ECC result. The
// part block that ends a region which is not a whole number of blocks is left alone: replacing it
// would erase and program past the region's end.
int ReadSideWithEcc(unsigned long *pulPos, unsigned long ulEnd, unsigned char *pucBuf) {
    *pulPos = Nandkeep_SkipBadBlocks(MTD0Fd(), *pulPos, ulEnd);
    if (*pulPos >= ulEnd || MTD0EraseSize() > ulEnd - *pulPos) {
        return ECC_NO_READ;
    }
    int iRet = Nandkeep_ReadMTDWithECC(MTD0Fd(), pucBuf, *pulPos, MTD0EraseSize());
    if (iRet == NANDKEEP_ECC_FAILED) {
        Nandkeep_Debug("Find a ECC fail at offset=0x%lx\n", *pulPos);
    } else if (iRet != -1 && g_b1BitECC == 1 && iRet > 99) {
        Nandkeep_Debug("Find a ECC corrected at offset=0x%lx\n", *pulPos);
    }
    return iRet;
}

// One pass over a region pair that reads every piece of both copies once: the source's checks
// (checksums of the main image and the sub-image) and the comparison with the destination are
// taken from the same reads. Every read follows the rules of all reads (a second call is reported
// with its warning, a failed read with its lines), and the ECC counters are read around it. A
// destination read with an ECC event is one the comparison would retire a block for; a source
// read is never watched by the comparison, but an event there still matters to the other
// direction.
enum EPassFailure {
    PASS_NO_FAILURE,
    PASS_SOURCE_UNREADABLE, // a read of the source's main image failed
    PASS_SUB_UNREADABLE,    // a read of the source's sub-image failed
};
struct TPairPass {
    unsigned char aucSrc[NANDKEEP_PIECE];
    unsigned char aucDest[NANDKEEP_PIECE];
    TEccStats tLast;      // counters after the last read
    bool bSrcEvent;       // an ECC event on a source read
    bool bWatchDest;      // an ECC event on a destination read makes the pair differ
    bool bInSub;          // the sub-images are being read
    EPassFailure eFailed; // what a failed source read stands for
};

// Reads one piece and the counters after it. 1 when the read had an ECC event, 0 when not, -1
// when the read or the counters failed.
int ReadWatched(TPairPass *ptPass, unsigned char *pucBuf, unsigned long ulOffset) {
    TEccStats tNow;
    if (Nandkeep_ReadMTD(MTD0Fd(), pucBuf, ulOffset, NANDKEEP_PIECE) == -1 ||
        Plat_EccGetStats(MTD0Fd(), &tNow) < 0) {
        return -1;
    }
    const bool bEvent = Nandkeep_IsEccEvent(ptPass->tLast, tNow);
    ptPass->tLast = tNow;
    return bEvent ? 1 : 0;
}

int ReadSrc(TPairPass *ptPass, unsigned long ulOffset) {
    int iRet = ReadWatched(ptPass, ptPass->aucSrc, ulOffset);
    if (iRet == 1) {
        ptPass->bSrcEvent = true;
    }
    if (iRet == -1) {
        ptPass->eFailed = ptPass->bInSub ? PASS_SUB_UNREADABLE : PASS_SOURCE_UNREADABLE;
        return -1;
    }
    return 0;
}

// The destination piece must hold the ulLen bytes of the source piece (and, when the pass watches
// it, read without an ECC event).
int ReadDestEqual(TPairPass *ptPass, unsigned long ulOffset, unsigned long ulLen) {
    const int iRet = ReadWatched(ptPass, ptPass->aucDest, ulOffset);
    if (iRet == -1 || (iRet == 1 && ptPass->bWatchDest)) {
        return -1;
    }
    return memcmp(ptPass->aucSrc, ptPass->aucDest, ulLen) == 0 ? 0 : -1;
}

// Both main images, piece by piece as the comparison pairs them (the k-th good piece of each
// region). 0 when the source image is valid and the destination holds it, with the sub-image
// offsets of both copies; -1 for anything else.
int PassMainImages(TPairPass *ptPass, unsigned long ulDest, unsigned long ulSrc,
                   unsigned long ulLen, unsigned long *pulDestSub, unsigned long *pulSrcSub) {
    const int iFd = MTD0Fd();
    const unsigned long ulSrcEnd = ulSrc + ulLen;
    const unsigned long ulDestEnd = ulDest + ulLen;
    unsigned long ulSrcPos = Nandkeep_SkipBadBlocks(iFd, ulSrc, ulSrcEnd);
    unsigned long ulDestPos = Nandkeep_SkipBadBlocks(iFd, ulDest, ulDestEnd);
    if (ulSrcPos >= ulSrcEnd || ulDestPos >= ulDestEnd || ReadSrc(ptPass, ulSrcPos) == -1 ||
        Nandkeep_ImageHeaderFault(ptPass->aucSrc) != nullptr) {
        return -1;
    }
    const uint32_t dwDataSize = Nandkeep_GetBE32(ptPass->aucSrc + MKIMG_SIZE_OFFSET);
    const uint32_t dwStored = Nandkeep_GetBE32(ptPass->aucSrc + MKIMG_DCRC_OFFSET);
    if (dwDataSize < MKIMG_FIRST_DATA || ReadDestEqual(ptPass, ulDestPos, NANDKEEP_PIECE) == -1) {
        return -1;
    }
    uint32_t dwCrc = Nandkeep_Crc32(0, ptPass->aucSrc + MKIMG_HEADER_SIZE, MKIMG_FIRST_DATA);
    unsigned long ulRemaining = dwDataSize - MKIMG_FIRST_DATA;
    ulSrcPos += NANDKEEP_PIECE;
    ulDestPos += NANDKEEP_PIECE;
    while (ulRemaining > 0) {
        ulSrcPos = Nandkeep_SkipBadBlocks(iFd, ulSrcPos, ulSrcEnd);
        ulDestPos = Nandkeep_SkipBadBlocks(iFd, ulDestPos, ulDestEnd);
        const unsigned long ulChunk = std::min(ulRemaining, NANDKEEP_PIECE);
        if (ulSrcPos >= ulSrcEnd || ulDestPos >= ulDestEnd || ReadSrc(ptPass, ulSrcPos) == -1 ||
            ReadDestEqual(ptPass, ulDestPos, ulChunk) == -1) {
            return -1;
        }
        dwCrc = Nandkeep_Crc32(dwCrc, ptPass->aucSrc, ulChunk);
        ulRemaining -= ulChunk;
        ulSrcPos += ulChunk;
        ulDestPos += ulChunk;
    }
    *pulSrcSub = Nandkeep_SubImageOffset(ulSrcPos);
    *pulDestSub = Nandkeep_SubImageOffset(ulDestPos);
    // The sub-image must start inside its region, as the image check requires.
    if (dwCrc != dwStored || *pulSrcSub >= ulSrcEnd || *pulDestSub >= ulDestEnd) {
        return -1;
    }
    return 0;
}

// Both sub-images: the source's must be valid (a DTB-sized image, or a configuration record
// within its first block) and the destination must hold its bytes.
int PassSubImages(TPairPass *ptPass, unsigned long ulDestSub, unsigned long ulSrcSub,
                  unsigned long ulDestEnd, unsigned long ulSrcEnd, int iSubImageType) {
    const int iFd = MTD0Fd();
    ptPass->bInSub = true;
    const unsigned long ulSrcPos = Nandkeep_SkipBadBlocks(iFd, ulSrcSub, ulSrcEnd);
    const unsigned long ulDestPos = Nandkeep_SkipBadBlocks(iFd, ulDestSub, ulDestEnd);
    if (ulSrcPos >= ulSrcEnd || ulDestPos >= ulDestEnd || ReadSrc(ptPass, ulSrcPos) == -1) {
        return -1;
    }
    unsigned long ulSubLen = 0;
    if (iSubImageType == RECOVERY_SUB_DTB) {
        const unsigned char *pucImage = ptPass->aucSrc;
        if (Nandkeep_ImageHeaderFault(pucImage) != nullptr) {
            return -1;
        }
        const uint32_t dwDataSize = Nandkeep_GetBE32(pucImage + MKIMG_SIZE_OFFSET);
        if (dwDataSize >= MKIMG_FIRST_DATA ||
            Nandkeep_Crc32(0, pucImage + MKIMG_HEADER_SIZE, dwDataSize) !=
                Nandkeep_GetBE32(pucImage + MKIMG_DCRC_OFFSET)) {
            return -1;
        }
        ulSubLen = dwDataSize + MKIMG_HEADER_SIZE;
    } else if (Nandkeep_CheckConfigInPiece(ptPass->aucSrc,
                                           std::min(NANDKEEP_PIECE, ulSrcEnd - ulSrcPos),
                                           &ulSubLen) == -1) {
        return -1;
    }
    return ReadDestEqual(ptPass, ulDestPos, ulSubLen);
}

// One pass over the pair: true when it finds the source copy valid and the destination equal to
// it, so that the region recovery would change nothing and print nothing. *pbQuiet tells whether
// no read of either copy had an ECC event, so that the same answer holds with the roles swapped.
// Anything unusual (an ECC event on a watched destination, a failed read, an invalid or differing
// copy, an erase block that is not one piece) answers false; *peFailed then tells whether a source
// read failed.
bool PairUnchanged(unsigned long ulDest, unsigned long ulSrc, unsigned long ulLen,
                   int iSubImageType, bool bWatchDest, bool *pbQuiet, EPassFailure *peFailed) {
    *pbQuiet = false;
    *peFailed = PASS_NO_FAILURE;
    if (MTD0EraseSize() != NANDKEEP_PIECE) {
        return false;
    }
    TPairPass tPass;
    tPass.bSrcEvent = false;
    tPass.bWatchDest = bWatchDest;
    tPass.bInSub = false;
    tPass.eFailed = PASS_NO_FAILURE;
    unsigned long ulDestSub = 0;
    unsigned long ulSrcSub = 0;
    const bool bSame = Plat_EccGetStats(MTD0Fd(), &tPass.tLast) == 0 &&
                       PassMainImages(&tPass, ulDest, ulSrc, ulLen, &ulDestSub, &ulSrcSub) == 0 &&
                       PassSubImages(&tPass, ulDestSub, ulSrcSub, ulDest + ulLen, ulSrc + ulLen,
                                     iSubImageType) == 0;
    *peFailed = tPass.eFailed;
    *pbQuiet = bSame && !tPass.bSrcEvent;
    return bSame;
}

} // namespace

int Nandkeep_GetConfigLen(int iFd, unsigned long ulMTDOffset, unsigned long ulMTDMaxSize,
                          unsigned long *pulLen) {
    if (Nandkeep_CheckConfig(iFd, ulMTDOffset, ulMTDMaxSize) != 0) {
        return -1;
    }
    const unsigned long ulEnd = ulMTDOffset + ulMTDMaxSize;
    unsigned long ulPos = ulMTDOffset;
    ulPos = Nandkeep_SkipBadBlocks(iFd, ulPos, ulEnd);
    if (ulPos >= ulEnd) {
        return -1;
    }
    unsigned char aucWord[4];
    if (Nandkeep_ReadMTD(iFd, aucWord, ulPos, sizeof(aucWord)) == -1) {
        return -1;
    }
    uint32_t dwLen = static_cast<uint32_t>(aucWord[0]) | (static_cast<uint32_t>(aucWord[1]) << 8) |
                     (static_cast<uint32_t>(aucWord[2]) << 16) |
                     (static_cast<uint32_t>(aucWord[3]) << 24);
    if (dwLen == 0xFFFFFFFFu || static_cast<unsigned long>(dwLen) + 8 > ulMTDMaxSize) {
        return -1;
    }
    *pulLen = static_cast<unsigned long>(dwLen) + 8;
    return 0;
}

int Nandkeep_RecoveryMkimg(unsigned long ulDestOffset, unsigned long ulSrcOffset,
                           unsigned long ulLen) {
    unsigned long ulPos = Nandkeep_SkipBadBlocks(MTD0Fd(), ulSrcOffset, ulSrcOffset + ulLen);
    if (ulPos >= ulSrcOffset + ulLen) {
        Nandkeep_Notify("flash driver fail");
        return -1;
    }
    unsigned char aucBuf[NANDKEEP_PIECE];
    if (Nandkeep_ReadMTD(MTD0Fd(), aucBuf, ulPos, NANDKEEP_PIECE) == -1) {
        Nandkeep_Notify("read MTD fail");
        return -1;
    }
    if (Nandkeep_CheckImageHeader(aucBuf) == -1) {
        return -1;
    }
    unsigned long ulImageLen = Nandkeep_GetBE32(aucBuf + MKIMG_SIZE_OFFSET) + MKIMG_HEADER_SIZE;

    int iEqual = RangesEqual(ulDestOffset, ulSrcOffset, ulLen, ulLen, ulImageLen);
    if (iEqual == -1) {
        return -1;
    }
    if (iEqual == 1) {
        Nandkeep_Debug("Is same image\n");
        return 0;
    }
    return RewriteRange(ulDestOffset, ulSrcOffset, ulLen, ulLen, ulImageLen);
}

namespace {

// The source copy must be complete (main image and sub-image) before anything of the
// destination is touched. Rewriting the main image erases the whole destination region, its
// sub-image included, which is then restored from the source. A pair that one pass finds valid
// and equal is left at that; everything else goes through the checks, the comparison and the
// repair one after the other. *pbUnchanged tells that the pass found the pair valid, equal and
// free of ECC events, so that the other direction would find the same.
int RecoverRegionOnce(unsigned long ulDestOffset, unsigned long ulSrcOffset, unsigned long ulLen,
                      int iSubImageType, bool *pbUnchanged) {
    bool bQuiet = false;
    EPassFailure eFailed = PASS_NO_FAILURE;
    *pbUnchanged = false;
    if (PairUnchanged(ulDestOffset, ulSrcOffset, ulLen, iSubImageType, true, &bQuiet, &eFailed)) {
        *pbUnchanged = bQuiet;
        return 0;
    }
    // A source read that failed in the pass is the read the source's check makes: it ends the
    // region's recovery as the check would, instead of being taken again.
    if (eFailed == PASS_SOURCE_UNREADABLE) {
        Nandkeep_Notify("check Source mkimg fail");
        return -1;
    }
    if (eFailed == PASS_SUB_UNREADABLE) {
        Nandkeep_Notify(iSubImageType == RECOVERY_SUB_DTB ? "check Source DTB image fail"
                                                          : "check Source defconf image fail");
        return -1;
    }
    const int iFd = MTD0Fd();
    unsigned long ulSrcSub = 0;
    unsigned long ulSrcSubLen = 0;
    if (LocateSubImage(ulSrcOffset, ulLen, &ulSrcSub, &ulSrcSubLen) == -1) {
        Nandkeep_Notify("check Source mkimg fail");
        return -1;
    }
    unsigned long ulDtbLen = 0;
    if (iSubImageType == RECOVERY_SUB_DTB) {
        if (Nandkeep_CheckImage(ulSrcSub, ulSrcSubLen, MKIMG_RESULT_IMAGE_LEN, &ulDtbLen) == -1) {
            Nandkeep_Notify("check Source DTB image fail");
            return -1;
        }
    } else if (Nandkeep_CheckConfig(iFd, ulSrcSub, ulSrcSubLen) == -1) {
        Nandkeep_Notify("check Source defconf image fail");
        return -1;
    }

    if (Nandkeep_RecoveryMkimg(ulDestOffset, ulSrcOffset, ulLen) == -1) {
        Nandkeep_Notify("Nandkeep_RecoveryMkimg fail");
        return -1;
    }
    unsigned long ulDestSub = 0;
    unsigned long ulDestSubLen = 0;
    if (LocateSubImage(ulDestOffset, ulLen, &ulDestSub, &ulDestSubLen) == -1) {
        Nandkeep_Notify("get ulDestSubOffset fail");
        return -1;
    }

    if (iSubImageType != RECOVERY_SUB_DTB) {
        if (Nandkeep_RecoveryDefConf(iFd, ulDestSub, ulSrcSub, ulDestSubLen, ulSrcSubLen) == -1) {
            Nandkeep_Notify("update Default Value fail");
            return -1;
        }
        return 0;
    }
    if (Nandkeep_CheckImage(ulSrcSub, ulSrcSubLen, MKIMG_RESULT_IMAGE_LEN, &ulDtbLen) == -1) {
        Nandkeep_Notify("get ulImageLen fail");
        return -1;
    }
    int iEqual = RangesEqual(ulDestSub, ulSrcSub, ulDestSubLen, ulSrcSubLen, ulDtbLen);
    if (iEqual != 0) {
        return iEqual == 1 ? 0 : -1;
    }
    return RewriteRange(ulDestSub, ulSrcSub, ulDestSubLen, ulSrcSubLen, ulDtbLen);
}

} // namespace

int Nandkeep_RecoveryRegion(unsigned long ulDestOffset, unsigned long ulSrcOffset,
                            unsigned long ulLen, int iSubImageType) {
    bool bUnchanged = false;
    return RecoverRegionOnce(ulDestOffset, ulSrcOffset, ulLen, iSubImageType, &bUnchanged);
}

// Block-level repair. Phase 1 replaces every block that the ECC could not correct with the
// other copy's block. A pass in which one side has stepped past its region end over bad blocks,
// or reached a part block at its end, makes no repair: there is nothing on that side to repair
// from or to, and nothing may be written outside either region. Phases 2 to 4 rewrite both copies
// from the merged normal copy, the backup first, when the merged normal copy is a valid image
// with its sub-image, or when neither copy is; when only the backup is, the normal copy alone is
// rewritten from it.
int Nandkeep_RecoveryByECC(unsigned long ulNormalOffset, unsigned long ulBackupOffset,
                           unsigned long ulLen, int iSubImageType) {
    const unsigned long ulErase = MTD0EraseSize();
    if (ulErase > NANDKEEP_PIECE) {
        Nandkeep_Notify("erase block larger than 128 KiB, block repair not possible");
        return -1;
    }
    unsigned char aucNormal[NANDKEEP_PIECE];
    unsigned char aucBackup[NANDKEEP_PIECE];
    const unsigned long ulNormalEnd = ulNormalOffset + ulLen;
    const unsigned long ulBackupEnd = ulBackupOffset + ulLen;
    unsigned long ulPosN = ulNormalOffset;
    unsigned long ulPosB = ulBackupOffset;
    while (ulPosN < ulNormalEnd && ulPosB < ulBackupEnd) {
        int iRetN = ReadSideWithEcc(&ulPosN, ulNormalEnd, aucNormal);
        if (iRetN == -1) {
            return -1;
        }
        int iRetB = ReadSideWithEcc(&ulPosB, ulBackupEnd, aucBackup);
        if (iRetB == -1) {
            return -1;
        }
        if (iRetN != ECC_NO_READ && iRetB != ECC_NO_READ) {
            if (iRetN == NANDKEEP_ECC_FAILED && iRetB <= 199) {
                (void)FusionWrite(MTD0Fd(), aucBackup, ulPosN);
            } else if (iRetB == NANDKEEP_ECC_FAILED && iRetN <= 199) {
                (void)FusionWrite(MTD0Fd(), aucNormal, ulPosB);
            }
        }
        ulPosN += ulErase;
        ulPosB += ulErase;
    }

    unsigned long ulImageLen = 0;
    if (Nandkeep_CheckImage(ulNormalOffset, ulLen, MKIMG_RESULT_IMAGE_LEN, &ulImageLen) == -1) {
        Nandkeep_Notify("get Normal image len fail");
        if (Nandkeep_CheckImage(ulBackupOffset, ulLen, MKIMG_RESULT_IMAGE_LEN, &ulImageLen) == -1) {
            Nandkeep_Notify("get Backup image len fail");
            return -1;
        }
    }
    unsigned long ulSubLen = 0;
    const bool bNormalValid = SubImageLen(ulNormalOffset, ulLen, iSubImageType, &ulSubLen) == 0;
    if (!bNormalValid && SubImageLen(ulBackupOffset, ulLen, iSubImageType, &ulSubLen) == -1) {
        Nandkeep_Notify("get Sub image len fail");
        return -1;
    }
    // A merged normal copy that is no valid image must never overwrite a backup that is one: the
    // backup is then the source, and it is left as it is.
    if (!bNormalValid &&
        Nandkeep_CheckImage(ulBackupOffset, ulLen, MKIMG_RESULT_IMAGE_LEN, &ulImageLen) == -1) {
        return -1;
    }
    // The sub-image begins at the first block boundary strictly after the image, so the blocks
    // up to it are the image's whole blocks plus one: an image ending exactly on a boundary is
    // followed by an empty block that must be counted, or the rewrite would cut the sub-image.
    const unsigned long ulBlocks =
        static_cast<uint32_t>(ulImageLen) / ulErase + 1 + BlocksFor(ulSubLen);
    NoticeTooFewBlocks(ulBlocks, ulNormalOffset, ulLen, 0);
    NoticeTooFewBlocks(ulBlocks, ulBackupOffset, ulLen, 1);

    const unsigned long ulCopyLen = ulBlocks * ulErase;
    if (bNormalValid) {
        if (Nandkeep_EraseMTD(MTD0Fd(), ulBackupOffset, ulLen) == -1) {
            Nandkeep_Notify("erase fail");
            return -1;
        }
        if (Nandkeep_CopyMTD(MTD0Fd(), ulBackupOffset, ulNormalOffset, ulLen, ulLen, ulCopyLen) ==
            -1) {
            Nandkeep_Notify("Normal -> Backup, recover image fail");
            return -1;
        }
    }
    if (Nandkeep_EraseMTD(MTD0Fd(), ulNormalOffset, ulLen) == -1) {
        Nandkeep_Notify("erase fail");
        return -1;
    }
    if (Nandkeep_CopyMTD(MTD0Fd(), ulNormalOffset, ulBackupOffset, ulLen, ulLen, ulCopyLen) == -1) {
        Nandkeep_Notify("Backup -> Normal, recover image fail");
        return -1;
    }
    return 0;
}

namespace {

int RecoverKernel(bool bToNormal, bool *pbUnchanged) {
    return bToNormal ? RecoverRegionOnce(KERNEL0_OFFSET, KERNEL1_OFFSET, KERNEL_SIZE,
                                         RECOVERY_SUB_DTB, pbUnchanged)
                     : RecoverRegionOnce(KERNEL1_OFFSET, KERNEL0_OFFSET, KERNEL_SIZE,
                                         RECOVERY_SUB_DTB, pbUnchanged);
}

int RecoverRootfs(bool bToNormal, bool *pbUnchanged) {
    return bToNormal ? RecoverRegionOnce(ROOTFS0_OFFSET, ROOTFS1_OFFSET, ROOTFS_SIZE,
                                         RECOVERY_SUB_DEFCONF, pbUnchanged)
                     : RecoverRegionOnce(ROOTFS1_OFFSET, ROOTFS0_OFFSET, ROOTFS_SIZE,
                                         RECOVERY_SUB_DEFCONF, pbUnchanged);
}

// True when both copies of the pair are valid images with their sub-images and hold the same
// bytes. Reads both once and prints nothing of its own; an ECC event alone does not count.
bool PairValidAndEqual(unsigned long ulNormal, unsigned long ulBackup, unsigned long ulLen,
                       int iSubImageType) {
    bool bQuiet = false;
    EPassFailure eFailed = PASS_NO_FAILURE;
    return PairUnchanged(ulBackup, ulNormal, ulLen, iSubImageType, false, &bQuiet, &eFailed);
}

// The plain form's last step for one pair: the backup from the normal copy at image level, and
// when that fails the block-level repair. 0 when the pair ends valid and equal, -1 otherwise.
int RepairPair(unsigned long ulNormal, unsigned long ulBackup, unsigned long ulLen,
               int iSubImageType) {
    bool bUnused = false;
    if (RecoverRegionOnce(ulBackup, ulNormal, ulLen, iSubImageType, &bUnused) == 0) {
        return 0;
    }
    (void)Nandkeep_RecoveryByECC(ulNormal, ulBackup, ulLen, iSubImageType);
    return PairValidAndEqual(ulNormal, ulBackup, ulLen, iSubImageType) ? 0 : -1;
}

} // namespace

// systemRecovery [FlashStatus]. Without FlashStatus the backups are preferred at image level
// and a backup the image level cannot repair gets the block-level repair; the status is 0 when
// both pairs end valid and equal, -1 for each pair that does not. FlashStatus 1 repairs the
// normal copies first, 3 the backups first; the other direction is tried only when the first pass
// fails, and the status is the sum of the results.
int Prepare_SystemRecovery(TCommand *ptCmd) {
    ptCmd->aulArg[0] = Nandkeep_ParseHex(ptCmd->ppArgv[2]) & 0xFF;
    if (ptCmd->aulArg[0] != 1 && ptCmd->aulArg[0] != 3) {
        Nandkeep_PrintUsage();
        return 0;
    }
    return NANDKEEP_RUN;
}

int Cmd_SystemRecovery(TCommand *ptCmd) {
    bool bKernelUnchanged = false;
    bool bRootfsUnchanged = false;
    bool bUnused = false;
    if (ptCmd->iArgc == 2) {
        // A pair found valid, equal and without ECC events in the first direction is found so in
        // the other one too: it is not read again.
        (void)RecoverKernel(true, &bKernelUnchanged);
        (void)RecoverRootfs(true, &bRootfsUnchanged);
        int iStatus = 0;
        if (!bKernelUnchanged) {
            iStatus += RepairPair(KERNEL0_OFFSET, KERNEL1_OFFSET, KERNEL_SIZE, RECOVERY_SUB_DTB);
        }
        if (!bRootfsUnchanged) {
            iStatus +=
                RepairPair(ROOTFS0_OFFSET, ROOTFS1_OFFSET, ROOTFS_SIZE, RECOVERY_SUB_DEFCONF);
        }
        puts("recovered image");
        return iStatus;
    }
    const bool bNormalFirst = ptCmd->aulArg[0] == 1;
    int iSum = RecoverKernel(bNormalFirst, &bUnused) + RecoverRootfs(bNormalFirst, &bUnused);
    if (iSum != 0) {
        iSum += RecoverKernel(!bNormalFirst, &bUnused) + RecoverRootfs(!bNormalFirst, &bUnused);
    }
    puts("recovered image");
    return iSum;
}
