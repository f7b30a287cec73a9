// The single pass over a region pair.
#include "upgrade/pass.h"

#include "flash/device.h"
#include "flash/progress.h"
#include "flash/region.h"
#include "image/mkimg.h"
#include "image/record.h"

#include <algorithm>
#include <cstring>

namespace {

struct TPass {
    unsigned char aucSrc[NANDKEEP_PIECE];
    unsigned char aucDest[NANDKEEP_PIECE];
    TRegion tSrc, tDest;
    TEccStats tLast;   // counters after the last read
    bool bSrcEvent;    // an ECC event on a source read
    bool bWatchDest;   // an ECC event on a destination read makes the pair differ
    EPass eUnreadable; // what a failed source read stands for in the part being read
    EPass eResult;     // DIFFERENT, or what a failed source read stood for
};

// Reads the piece at the walk's position and the counters after it. 1 when the read had an ECC
// event, 0 when not, -1 when the read or the counters failed.
int ReadWatched(TPass *ptPass, const TRegion &tAt, unsigned char *pucBuf) {
    TEccStats tNow;
    if (Nandkeep_ReadMTD(tAt.iFd, pucBuf, tAt.ullPos, NANDKEEP_PIECE) != 0 ||
        Plat_EccGetStats(tAt.iFd, &tNow) < 0) {
        return -1;
    }
    const bool bEvent = Nandkeep_IsEccEvent(ptPass->tLast, tNow);
    ptPass->tLast = tNow;
    return bEvent ? 1 : 0;
}

// The next good block of each copy, the source's piece read there. false when either copy is
// used up or the read failed (which is remembered).
bool ReadSrc(TPass *ptPass) {
    if (!Region_Good(&ptPass->tSrc) || !Region_Good(&ptPass->tDest)) {
        return false;
    }
    const int iRet = ReadWatched(ptPass, ptPass->tSrc, ptPass->aucSrc);
    ptPass->bSrcEvent = ptPass->bSrcEvent || iRet == 1;
    if (iRet == -1) {
        ptPass->eResult = ptPass->eUnreadable;
        return false;
    }
    return true;
}

// The destination piece must hold the ullLen bytes (a piece at most) of the source piece.
bool DestHolds(TPass *ptPass, uint64_t ullLen) {
    const int iRet = ReadWatched(ptPass, ptPass->tDest, ptPass->aucDest);
    if (iRet == -1 || (iRet == 1 && ptPass->bWatchDest)) {
        return false;
    }
    return memcmp(ptPass->aucSrc, ptPass->aucDest, Nandkeep_PieceOf(ullLen)) == 0;
}

// Both main images, piece by piece as the comparison pairs them (the k-th good piece of each
// region), the source's parsed on the way. true when it is valid and the destination holds it;
// the walks then stand where the sub-images begin.
bool PassMainImages(TPass *ptPass) {
    if (!ReadSrc(ptPass) || Image_HeaderFault(ptPass->aucSrc) != nullptr) {
        return false;
    }
    TImageParse tImage;
    Image_Begin(&tImage, ptPass->aucSrc);
    if (Image_DtbSized(&tImage) || !DestHolds(ptPass, NANDKEEP_PIECE)) {
        return false;
    }
    Image_Take(&tImage, ptPass->aucSrc + MKIMG_HEADER_SIZE, MKIMG_FIRST_DATA);
    Region_Advance(&ptPass->tSrc, NANDKEEP_PIECE);
    Region_Advance(&ptPass->tDest, NANDKEEP_PIECE);
    while (tImage.ullLeft > 0) {
        Progress_Percent("checking", tImage.dwDataSize - tImage.ullLeft, tImage.dwDataSize);
        const uint64_t ullChunk = Image_Want(&tImage);
        if (!ReadSrc(ptPass) || !DestHolds(ptPass, ullChunk)) {
            return false;
        }
        Image_Take(&tImage, ptPass->aucSrc, ullChunk);
        Region_Advance(&ptPass->tSrc, ullChunk);
        Region_Advance(&ptPass->tDest, ullChunk);
    }
    // The sub-image must start inside its region, as the image check requires.
    ptPass->tSrc.ullPos = Nandkeep_SubImageOffset(ptPass->tSrc.ullPos);
    ptPass->tDest.ullPos = Nandkeep_SubImageOffset(ptPass->tDest.ullPos);
    return Image_Sound(&tImage) && ptPass->tSrc.ullPos < ptPass->tSrc.ullEnd &&
           ptPass->tDest.ullPos < ptPass->tDest.ullEnd;
}

// Both sub-images: the source's must be valid (a DTB-sized image, or a configuration record
// within its first block) and the destination must hold its bytes.
bool PassSubImages(TPass *ptPass, int iSubImageType) {
    ptPass->eUnreadable = EPass::SUB_UNREADABLE;
    if (!ReadSrc(ptPass)) {
        return false;
    }
    uint64_t ullSubLen = 0;
    if (iSubImageType == RECOVERY_SUB_DTB) {
        if (Image_HeaderFault(ptPass->aucSrc) != nullptr) {
            return false;
        }
        TImageParse tImage;
        Image_Begin(&tImage, ptPass->aucSrc);
        if (!Image_DtbSized(&tImage)) {
            return false;
        }
        Image_Take(&tImage, ptPass->aucSrc + MKIMG_HEADER_SIZE, tImage.dwDataSize);
        if (!Image_Sound(&tImage)) {
            return false;
        }
        ullSubLen = tImage.dwDataSize + MKIMG_HEADER_SIZE;
    } else if (Record_CheckInPiece(
                   ptPass->aucSrc,
                   std::min(NANDKEEP_PIECE, ptPass->tSrc.ullEnd - ptPass->tSrc.ullPos),
                   &ullSubLen) != 0) {
        return false;
    }
    return DestHolds(ptPass, ullSubLen);
}

} // namespace

EPass Pass_Pair(uint64_t ullDest, uint64_t ullSrc, uint64_t ullLen, int iSubImageType,
                bool bWatchDest, bool *pbQuiet) {
    *pbQuiet = false;
    if (MTD0EraseSize() != NANDKEEP_PIECE) {
        return EPass::DIFFERENT;
    }
    TPass tPass;
    tPass.tSrc = Region_Of(MTD0Fd(), ullSrc, ullLen);
    tPass.tDest = Region_Of(MTD0Fd(), ullDest, ullLen);
    tPass.bSrcEvent = false;
    tPass.bWatchDest = bWatchDest;
    tPass.eUnreadable = EPass::SOURCE_UNREADABLE;
    tPass.eResult = EPass::DIFFERENT;
    if (Plat_EccGetStats(MTD0Fd(), &tPass.tLast) == 0 && PassMainImages(&tPass) &&
        PassSubImages(&tPass, iSubImageType)) {
        *pbQuiet = !tPass.bSrcEvent;
        return EPass::SAME;
    }
    return tPass.eResult;
}
