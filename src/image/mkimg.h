// The firmware image format: a 64-byte legacy image header (big-endian fields, magic
// 0x27051956) followed by the data, with a sub-image at the next 128 KiB boundary behind it.
//
// One parser judges an image whatever holds it (a file, a piece in memory, a region of the
// flash): the header first, then the data pieces in order, then the verdict. The check of an
// image in flash, the check of a file before it is written and the recovery's pass over a pair of
// copies all feed it.
#ifndef NANDKEEP_MKIMG_H
#define NANDKEEP_MKIMG_H

#include "image/source.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t MKIMG_MAGIC = 0x27051956;
constexpr uint64_t MKIMG_HEADER_SIZE = 64;
constexpr uint64_t MKIMG_HCRC_OFFSET = 4;
constexpr uint64_t MKIMG_SIZE_OFFSET = 12;
constexpr uint64_t MKIMG_DCRC_OFFSET = 24;
// Header and up to this many data bytes share the header block; an image with fewer data bytes
// than this is DTB-sized.
constexpr uint64_t MKIMG_FIRST_DATA = 0x1FFC0;

// What Nandkeep_CheckImage returns through pulResult.
constexpr int MKIMG_RESULT_NONE = 0;
constexpr int MKIMG_RESULT_IMAGE_LEN = 1;  // data size + 64
constexpr int MKIMG_RESULT_SUB_OFFSET = 2; // offset of the sub-image

uint32_t Nandkeep_GetBE32(const unsigned char *p);

// An image being parsed.
struct TImageParse {
    uint32_t dwDataSize;  // from the header
    uint32_t dwStoredCrc; // from the header
    uint32_t dwCrc;       // of the data taken so far
    uint64_t ullLeft;     // data bytes still to come
};
// What is wrong with the 64 header bytes, as the check words it ("check Magic Num fail",
// "Header CRC check fail"); nullptr when magic and header CRC are right. Prints nothing.
const char *Image_HeaderFault(const unsigned char *pucHeader);
// Starts a parse from a sound header.
void Image_Begin(TImageParse *ptImage, const unsigned char *pucHeader);
inline bool Image_DtbSized(const TImageParse *ptImage) {
    return ptImage->dwDataSize < MKIMG_FIRST_DATA;
}
// The data bytes the next piece holds.
size_t Image_Want(const TImageParse *ptImage);
// Takes ullLen more data bytes.
void Image_Take(TImageParse *ptImage, const unsigned char *pucData, uint64_t ullLen);
// True when all of the data came and its CRC is the stored one.
bool Image_Sound(const TImageParse *ptImage);
// Image_Sound, or -1 after the lines of the image's size class ("DTB CRC check error" or
// "Kernel/Rootfs CRC check error", then the computed and stored values).
[[nodiscard]] int Image_Verdict(const TImageParse *ptImage);

// Where the sub-image of an image whose data ends at flash offset ullEnd starts: the first
// 128 KiB boundary strictly after it, so an image ending exactly on a boundary is followed by
// one empty block.
uint64_t Nandkeep_SubImageOffset(uint64_t ullEnd);

// Validates the image heading [ulMTDOffset, ulMTDOffset + ulMTDMaxSize) on record 0 (magic,
// header CRC, data CRC), with the messages of the check. 0 valid, -1 otherwise. iSubImage 1
// stores the image's length (data size + 64) in *pulResult as soon as the header is sound; 2
// stores the sub-image offset of a valid image, by the placement rule for every size class.
[[nodiscard]] int Nandkeep_CheckImage(uint64_t ulMTDOffset, uint64_t ulMTDMaxSize, int iSubImage,
                                      uint64_t *pulResult);
// Locates the sub-image behind the image heading the region [ullOffset, ullOffset + ullLen) (the
// DTB behind a kernel, the default configuration behind a rootfs). 0 with *pullSub set strictly
// inside the region; -1 when the image does not pass its check (its messages printed) or leaves
// no room behind it in the region. A sub-image is written or read only at an offset found here.
[[nodiscard]] int Nandkeep_LocateSubImage(uint64_t ullOffset, uint64_t ullLen, uint64_t *pullSub);

// Checks an image source before it is written: magic, header CRC, a file long enough for the data
// size its header declares, and the data CRC, with the messages the check in flash gives (after
// the source's own fault). Header bytes the file lacks count as erased flash. Touches no flash.
// 0 valid, -1 otherwise.
[[nodiscard]] int Nandkeep_CheckImageSource(TSource *ptSrc);

#endif
