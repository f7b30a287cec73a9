// System recovery: the normal and backup copy of each region pair made to agree again, at image
// level from a valid twin, or block by block from the ECC results.
#include "upgrade/recovery.h"

#include "flash/compare.h"
#include "flash/device.h"
#include "flash/region.h"
#include "flash/notify.h"
#include "flash/progress.h"
#include "image/config.h"
#include "image/defconf.h"
#include "image/mkimg.h"
#include "upgrade/texts.h"

#include <cstdio>

namespace {

// A copy's sub-image: where it starts and how much of the region is left for it.
struct TSub {
    uint64_t ullOffset;
    uint64_t ullLen;
};

// The sub-image of the image heading [ullOffset, ullOffset + ullLen). -1 when the image is
// invalid or leaves no room behind it (the check's messages printed).
int LocateSub(uint64_t ullOffset, uint64_t ullLen, TSub *ptSub) {
    if (Nandkeep_LocateSubImage(ullOffset, ullLen, &ptSub->ullOffset) != 0) {
        return -1;
    }
    ptSub->ullLen = ullOffset + ullLen - ptSub->ullOffset;
    return 0;
}

// Compares ullLen bytes of two bad-block-skipping ranges. -1 on failure, else 1 equal, 0 not.
int RangesEqual(uint64_t ullDest, uint64_t ullSrc, uint64_t ullDestLen, uint64_t ullSrcLen,
                uint64_t ullLen) {
    int iSame = 0;
    if (Nandkeep_CompareImageAndMTD(MTD0Fd(), ullDest, ullSrc, ullDestLen, ullSrcLen, ullLen,
                                    &iSame) != 0) {
        return -1;
    }
    return iSame == 1 ? 1 : 0;
}

// Erases the destination range and copies ullLen bytes into it from the source range.
int RewriteCopy(uint64_t ullDest, uint64_t ullSrc, uint64_t ullDestLen, uint64_t ullSrcLen,
                uint64_t ullLen, const char *pszCopyFail) {
    if (Nandkeep_EraseMTD(MTD0Fd(), ullDest, ullDestLen) == -1) {
        Nandkeep_Notify(TXT_RC_ERASE);
        return -1;
    }
    if (Nandkeep_CopyMTD(MTD0Fd(), ullDest, ullSrc, ullDestLen, ullSrcLen, ullLen) != 0) {
        Nandkeep_Notify(pszCopyFail);
        return -1;
    }
    return 0;
}

// Equal ranges are left alone; else the destination range is rewritten and compared again.
int RepairRange(uint64_t ullDest, uint64_t ullSrc, uint64_t ullDestLen, uint64_t ullSrcLen,
                uint64_t ullLen) {
    const int iEqual = RangesEqual(ullDest, ullSrc, ullDestLen, ullSrcLen, ullLen);
    if (iEqual != 0) {
        return iEqual == 1 ? 0 : -1;
    }
    if (RewriteCopy(ullDest, ullSrc, ullDestLen, ullSrcLen, ullLen, TXT_RC_COPY) != 0) {
        return -1;
    }
    const int iAgain = RangesEqual(ullDest, ullSrc, ullDestLen, ullSrcLen, ullLen);
    if (iAgain == 0) {
        Nandkeep_Notify(TXT_RC_DOUBLE_CHECK);
    }
    return iAgain == 1 ? 0 : -1;
}

// What the recovery says of a source copy whose sub-image does not pass.
const char *SourceSubFault(int iSubImageType) {
    return iSubImageType == RECOVERY_SUB_DTB ? TXT_RC_SOURCE_DTB : TXT_RC_SOURCE_DEFCONF;
}

// The source copy, main image and sub-image, checked with their messages. 0 with its sub-image.
int CheckSource(uint64_t ullSrc, uint64_t ullLen, int iSubImageType, TSub *ptSub) {
    if (LocateSub(ullSrc, ullLen, ptSub) != 0) {
        Nandkeep_Notify(TXT_RC_SOURCE_IMAGE);
        return -1;
    }
    uint64_t ullUnused{};
    const int iSub = iSubImageType == RECOVERY_SUB_DTB
                         ? Nandkeep_CheckImage(ptSub->ullOffset, ptSub->ullLen,
                                               MKIMG_RESULT_IMAGE_LEN, &ullUnused)
                         : Nandkeep_CheckConfig(MTD0Fd(), ptSub->ullOffset, ptSub->ullLen);
    if (iSub == -1) {
        Nandkeep_Notify(SourceSubFault(iSubImageType));
    }
    return iSub;
}

// The destination's sub-image from the source's, once the main images agree.
int RepairSub(uint64_t ullDest, uint64_t ullLen, const TSub &tSrcSub, int iSubImageType) {
    TSub tDestSub;
    if (LocateSub(ullDest, ullLen, &tDestSub) != 0) {
        Nandkeep_Notify(TXT_RC_DEST_SUB);
        return -1;
    }
    if (iSubImageType != RECOVERY_SUB_DTB) {
        if (Nandkeep_RecoveryDefConf(MTD0Fd(), tDestSub.ullOffset, tSrcSub.ullOffset,
                                     tDestSub.ullLen, tSrcSub.ullLen) != 0) {
            Nandkeep_Notify(TXT_RC_DEFCONF);
            return -1;
        }
        return 0;
    }
    uint64_t ullDtbLen{};
    if (Nandkeep_CheckImage(tSrcSub.ullOffset, tSrcSub.ullLen, MKIMG_RESULT_IMAGE_LEN,
                            &ullDtbLen) != 0) {
        Nandkeep_Notify(TXT_RC_IMAGE_LEN);
        return -1;
    }
    return RepairRange(tDestSub.ullOffset, tSrcSub.ullOffset, tDestSub.ullLen, tSrcSub.ullLen,
                       ullDtbLen);
}

// The source copy must be complete (main image and sub-image) before anything of the
// destination is touched. Rewriting the main image erases the whole destination region, its
// sub-image included, which is then restored from the source. A pair that one pass finds valid
// and equal is left at that; everything else goes through the checks, the comparison and the
// repair one after the other. *pbUnchanged tells that the pass found the pair valid, equal and
// free of ECC events, so that the other direction would find the same.
int RecoverRegionOnce(uint64_t ullDest, uint64_t ullSrc, uint64_t ullLen, int iSubImageType,
                      bool *pbUnchanged) {
    bool bQuiet = false;
    const EPass ePass = Pass_Pair(ullDest, ullSrc, ullLen, iSubImageType, true, &bQuiet);
    *pbUnchanged = ePass == EPass::SAME && bQuiet;
    if (ePass == EPass::SAME) {
        return 0;
    }
    // A source read that failed in the pass is the read the source's check makes: it ends the
    // region's recovery as the check would, instead of being taken again.
    if (ePass == EPass::SOURCE_UNREADABLE) {
        Nandkeep_Notify(TXT_RC_SOURCE_IMAGE);
        return -1;
    }
    if (ePass == EPass::SUB_UNREADABLE) {
        Nandkeep_Notify(SourceSubFault(iSubImageType));
        return -1;
    }
    TSub tSrcSub;
    if (CheckSource(ullSrc, ullLen, iSubImageType, &tSrcSub) == -1) {
        return -1;
    }
    if (Nandkeep_RecoveryMkimg(ullDest, ullSrc, ullLen) != 0) {
        Nandkeep_Notify(TXT_RC_MKIMG_FAIL);
        return -1;
    }
    return RepairSub(ullDest, ullLen, tSrcSub, iSubImageType);
}

// Length of the sub-image of one copy: the DTB's image length or the record's length + 8.
int SubImageLen(uint64_t ullOffset, uint64_t ullLen, int iType, uint64_t *pullLen) {
    TSub tSub;
    if (LocateSub(ullOffset, ullLen, &tSub) != 0) {
        return -1;
    }
    if (iType == RECOVERY_SUB_DTB) {
        return Nandkeep_CheckImage(tSub.ullOffset, tSub.ullLen, MKIMG_RESULT_IMAGE_LEN, pullLen);
    }
    return Nandkeep_GetConfigLen(MTD0Fd(), tSub.ullOffset, tSub.ullLen, pullLen);
}

// The capacity notice of the block-level repair for copy iCopy (0 normal, 1 backup); the repair
// goes on either way.
void NoticeTooFewBlocks(uint64_t ullBlocks, uint64_t ullOffset, uint64_t ullLen, int iCopy) {
    if (ullBlocks <= Region_CountGood(Region_Of(MTD0Fd(), ullOffset, ullLen))) {
        return;
    }
    Nandkeep_Notify(TXT_RC_FEW_BLOCKS[iCopy]);
    if (g_b1BitECC == 1) {
        Nandkeep_Notify(TXT_RC_FEW_CORRECTED[iCopy]);
    }
}

// One side of a block-level pass: the next good block of the walk that lies whole inside the
// region, read with its ECC result (Nandkeep_ReadMTDWithECC's). -2 when there is none: the part
// block that ends a region which is not a whole number of blocks is left alone, since replacing
// it would erase and program past the region's end.
constexpr int SIDE_NOT_READ = -2;
int ReadSide(TRegion *ptSide, unsigned char *pucBuf) {
    if (!Region_GoodFor(ptSide, MTD0EraseSize())) {
        return SIDE_NOT_READ;
    }
    return Nandkeep_ReadMTDWithECC(ptSide->iFd, pucBuf, ptSide->ullPos, MTD0EraseSize());
}

// Phase 1 of the block-level repair: every block that the ECC could not correct is replaced with
// the other copy's block. A pass in which one side has stepped past its region end over bad
// blocks, or reached a part block at its end, makes no repair: there is nothing on that side to
// repair from or to, and nothing may be written outside either region.
int MergeBlocks(uint64_t ullNormal, uint64_t ullBackup, uint64_t ullLen) {
    unsigned char aucNormal[NANDKEEP_PIECE];
    unsigned char aucBackup[NANDKEEP_PIECE];
    TRegion tNormal = Region_Of(MTD0Fd(), ullNormal, ullLen);
    TRegion tBackup = Region_Of(MTD0Fd(), ullBackup, ullLen);
    while (tNormal.ullPos < tNormal.ullEnd && tBackup.ullPos < tBackup.ullEnd) {
        const int iRetN = ReadSide(&tNormal, aucNormal);
        const int iRetB = iRetN == -1 ? -1 : ReadSide(&tBackup, aucBackup);
        if (iRetN == -1 || iRetB == -1) {
            return -1;
        }
        if (iRetN != SIDE_NOT_READ && iRetB != SIDE_NOT_READ) {
            if (iRetN == NANDKEEP_ECC_FAILED && iRetB < NANDKEEP_ECC_FAILED) {
                (void)FusionWrite(MTD0Fd(), aucBackup, tNormal.ullPos);
            } else if (iRetB == NANDKEEP_ECC_FAILED && iRetN < NANDKEEP_ECC_FAILED) {
                (void)FusionWrite(MTD0Fd(), aucNormal, tBackup.ullPos);
            }
        }
        Region_Advance(&tNormal, MTD0EraseSize());
        Region_Advance(&tBackup, MTD0EraseSize());
    }
    return 0;
}

// A region pair: the normal copy, the backup, their length, the kind of sub-image, and the name
// on the progress line.
struct TPair {
    uint64_t ullNormal;
    uint64_t ullBackup;
    uint64_t ullLen;
    int iSubImageType;
    const char *pszName;
};
constexpr TPair PAIRS[] = {
    {KERNEL0_OFFSET, KERNEL1_OFFSET, KERNEL_SIZE, RECOVERY_SUB_DTB, "kernel pair"},
    {ROOTFS0_OFFSET, ROOTFS1_OFFSET, ROOTFS_SIZE, RECOVERY_SUB_DEFCONF, "rootfs pair"},
};

// The pair toward the normal copy or toward the backup.
int RecoverPair(const TPair &tPair, bool bToNormal, bool *pbUnchanged) {
    Progress_Step("%s", tPair.pszName);
    return RecoverRegionOnce(bToNormal ? tPair.ullNormal : tPair.ullBackup,
                             bToNormal ? tPair.ullBackup : tPair.ullNormal, tPair.ullLen,
                             tPair.iSubImageType, pbUnchanged);
}

// The plain form's last step for one pair: the backup from the normal copy at image level, and
// when that fails the block-level repair. 0 when the pair ends valid and equal (both copies read
// once more, an ECC event alone not counting), -1 otherwise.
int RepairPair(const TPair &tPair) {
    bool bUnused = false;
    if (RecoverPair(tPair, false, &bUnused) == 0) {
        return 0;
    }
    (void)Nandkeep_RecoveryByECC(tPair.ullNormal, tPair.ullBackup, tPair.ullLen,
                                 tPair.iSubImageType);
    return Pass_Pair(tPair.ullBackup, tPair.ullNormal, tPair.ullLen, tPair.iSubImageType, false,
                     &bUnused) == EPass::SAME
               ? 0
               : -1;
}

} // namespace

int Nandkeep_RecoveryMkimg(uint64_t ulDestOffset, uint64_t ulSrcOffset, uint64_t ulLen) {
    TRegion tSrc = Region_Of(MTD0Fd(), ulSrcOffset, ulLen);
    if (!Region_Good(&tSrc)) {
        Nandkeep_Notify(TXT_RC_NO_GOOD_BLOCK);
        return -1;
    }
    unsigned char aucBuf[NANDKEEP_PIECE];
    if (Region_ReadPiece(&tSrc, aucBuf, NANDKEEP_PIECE) != 0) {
        Nandkeep_Notify(TXT_RC_READ);
        return -1;
    }
    const char *pszFault = Image_HeaderFault(aucBuf);
    if (pszFault != nullptr) {
        Nandkeep_Notify(pszFault);
        return -1;
    }
    const uint64_t ullImageLen = Nandkeep_GetBE32(aucBuf + MKIMG_SIZE_OFFSET) + MKIMG_HEADER_SIZE;
    return RepairRange(ulDestOffset, ulSrcOffset, ulLen, ulLen, ullImageLen);
}

// Block-level repair. Phase 1 merges the copies block by block (MergeBlocks). Phases 2 to 4
// rewrite both copies from the merged normal copy, the backup first, when the merged normal copy
// is a valid image with its sub-image, or when neither copy is; when only the backup is, the
// normal copy alone is rewritten from it: a valid copy is never overwritten from one that is not.
int Nandkeep_RecoveryByECC(uint64_t ulNormalOffset, uint64_t ulBackupOffset, uint64_t ulLen,
                           int iSubImageType) {
    if (MTD0EraseSize() > NANDKEEP_PIECE) {
        Nandkeep_Notify(TXT_RC_BIG_ERASE);
        return -1;
    }
    if (MergeBlocks(ulNormalOffset, ulBackupOffset, ulLen) != 0) {
        return -1;
    }
    uint64_t ullImageLen{};
    if (Nandkeep_CheckImage(ulNormalOffset, ulLen, MKIMG_RESULT_IMAGE_LEN, &ullImageLen) != 0) {
        Nandkeep_Notify(TXT_RC_NORMAL_LEN);
        if (Nandkeep_CheckImage(ulBackupOffset, ulLen, MKIMG_RESULT_IMAGE_LEN, &ullImageLen) ==
            -1) {
            Nandkeep_Notify(TXT_RC_BACKUP_LEN);
            return -1;
        }
    }
    uint64_t ullSubLen = 0;
    const bool bNormalValid = SubImageLen(ulNormalOffset, ulLen, iSubImageType, &ullSubLen) == 0;
    if (!bNormalValid && SubImageLen(ulBackupOffset, ulLen, iSubImageType, &ullSubLen) != 0) {
        Nandkeep_Notify(TXT_RC_SUB_LEN);
        return -1;
    }
    if (!bNormalValid &&
        Nandkeep_CheckImage(ulBackupOffset, ulLen, MKIMG_RESULT_IMAGE_LEN, &ullImageLen) != 0) {
        return -1;
    }
    // The sub-image begins at the first block boundary strictly after the image, so the blocks
    // up to it are the image's whole blocks plus one: an image ending exactly on a boundary is
    // followed by an empty block that must be counted, or the rewrite would cut the sub-image.
    const uint64_t ullErase = MTD0EraseSize();
    const uint64_t ullBlocks =
        static_cast<uint32_t>(ullImageLen) / ullErase + 1 + (ullSubLen + ullErase - 1) / ullErase;
    NoticeTooFewBlocks(ullBlocks, ulNormalOffset, ulLen, 0);
    NoticeTooFewBlocks(ullBlocks, ulBackupOffset, ulLen, 1);
    const uint64_t ullCopyLen = ullBlocks * ullErase;
    if (bNormalValid && RewriteCopy(ulBackupOffset, ulNormalOffset, ulLen, ulLen, ullCopyLen,
                                    TXT_RC_TO_BACKUP) != 0) {
        return -1;
    }
    return RewriteCopy(ulNormalOffset, ulBackupOffset, ulLen, ulLen, ullCopyLen, TXT_RC_TO_NORMAL);
}

// systemRecovery [FlashStatus]. Without FlashStatus the backups are preferred at image level
// and a backup the image level cannot repair gets the block-level repair; the status is 0 when
// both pairs end valid and equal, -1 for each pair that does not. A pair found valid, equal and
// without ECC events in the first direction is found so in the other one too: it is not read
// again. FlashStatus 1 repairs the normal copies first, 3 the backups first; the other direction
// is tried only when the first pass fails, and the status is the sum of the results.
int Nandkeep_SystemRecovery(int iFlashStatus) {
    int iStatus = 0;
    if (iFlashStatus == 0) {
        bool abUnchanged[2] = {false, false};
        for (int i = 0; i < 2; i++) {
            (void)RecoverPair(PAIRS[i], true, &abUnchanged[i]);
        }
        for (int i = 0; i < 2; i++) {
            iStatus += abUnchanged[i] ? 0 : RepairPair(PAIRS[i]);
        }
    } else {
        const bool bNormalFirst = iFlashStatus == 1;
        bool bUnused = false;
        iStatus = RecoverPair(PAIRS[0], bNormalFirst, &bUnused);
        iStatus += RecoverPair(PAIRS[1], bNormalFirst, &bUnused);
        if (iStatus != 0) {
            iStatus += RecoverPair(PAIRS[0], !bNormalFirst, &bUnused);
            iStatus += RecoverPair(PAIRS[1], !bNormalFirst, &bUnused);
        }
    }
    Nandkeep_Print("%s\n", TXT_RC_DONE);
    return iStatus;
}
