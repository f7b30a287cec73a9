// The firmware image format: a 64-byte legacy image header (big-endian fields, magic
// 0x27051956) followed by the data, with a sub-image at the next 128 KiB boundary behind it.
#ifndef NANDKEEP_MKIMG_H
#define NANDKEEP_MKIMG_H

#include "image/source.h"

#include <cstdint>

constexpr uint32_t MKIMG_MAGIC = 0x27051956;
constexpr unsigned long MKIMG_HEADER_SIZE = 64;
constexpr unsigned long MKIMG_HCRC_OFFSET = 4;
constexpr unsigned long MKIMG_SIZE_OFFSET = 12;
constexpr unsigned long MKIMG_DCRC_OFFSET = 24;
// Header and up to this many data bytes share the header block; an image with fewer data bytes
// than this is DTB-sized.
constexpr unsigned long MKIMG_FIRST_DATA = 0x1FFC0;

// What Nandkeep_CheckImage returns through pulResult.
constexpr int MKIMG_RESULT_NONE = 0;
constexpr int MKIMG_RESULT_IMAGE_LEN = 1;  // data size + 64
constexpr int MKIMG_RESULT_SUB_OFFSET = 2; // offset of the sub-image

uint32_t Nandkeep_GetBE32(const unsigned char *p);

// Where the sub-image of an image whose data ends at flash offset ulEnd starts.
unsigned long Nandkeep_SubImageOffset(unsigned long ulEnd);

// What is wrong with the 64 header bytes at pucHeader, as the check words it ("check Magic Num
// fail", "Header CRC check fail"); nullptr when magic and header CRC are right. Prints nothing.
const char *Nandkeep_ImageHeaderFault(const unsigned char *pucHeader);

// Checks the magic and the header CRC of the 64 header bytes at pucHeader (the CRC field is
// zeroed in the buffer for the computation). 0, or -1 after notifying "check Magic Num fail" or
// "Header CRC check fail".
[[nodiscard]] int Nandkeep_CheckImageHeader(unsigned char *pucHeader);

// Validates the image heading [ulMTDOffset, ulMTDOffset + ulMTDMaxSize) on record 0 (magic,
// header CRC, data CRC). 0 valid, -1 otherwise.
[[nodiscard]] int Nandkeep_CheckImage(unsigned long ulMTDOffset, unsigned long ulMTDMaxSize,
                                      int iSubImage, unsigned long *pulResult);

// Checks an image source before it is written: magic, header CRC, a file long enough for the data
// size its header declares, and the data CRC, with the messages the check in flash gives for the
// image's size class ("check Magic Num fail", "Header CRC check fail", "DTB CRC check error" or
// "Kernel/Rootfs CRC check error" with its value line), after the source's own fault. Touches no
// flash. 0 valid, -1 otherwise.
[[nodiscard]] int Nandkeep_CheckImageSource(TSource *ptSrc);

#endif
