// The factory default configuration ("Default Value"), stored twice as a configuration record
// right behind each rootfs image: Default Value 1 behind the backup image in rootfs 1, Default
// Value 0 behind the normal image in rootfs 0. A copy is found through the image check of its
// rootfs region, so a copy whose rootfs image is damaged cannot be located. Default Value 1 is
// always written and verified before Default Value 0 is touched.
#ifndef NANDKEEP_DEFCONF_H
#define NANDKEEP_DEFCONF_H

#include "image/source.h"

#include <cstdint>

// Locates Default Value iCopy (1 the backup, 0 the normal copy) behind the image of its rootfs
// region: where it starts and the room up to the region's end. 0, or -1 when the image does not
// pass its check (its messages printed) or leaves no room behind it.
[[nodiscard]] int Nandkeep_LocateDefConf(int iCopy, uint64_t *pullSub, uint64_t *pullRoom);

// Stores the source as Default Value iCopy (1 or 0) behind the image of its rootfs region:
// locate, check that the file fits the area (nothing is erased otherwise), write, check. 0 when
// the copy checks valid afterwards; -1 after printing the line of the failing step ("get Default
// Value %d offset fail" or "update Default Value %d fail") behind the messages of the operation.
[[nodiscard]] int Nandkeep_WriteDefConfCopy(TSource *ptSrc, int iCopy);

// Repairs the record area (ulDestSubOffset, ulDestMaxSize) from the record in (ulSrcSubOffset,
// ulSrcMaxSize), on the whole-device descriptor iFd. Equal copies: 0 and nothing written.
// Otherwise the destination area is erased, the length word, payload and checksum are copied
// block by block through the write-and-verify path, and the destination is checked. -1 silently
// when the source holds no plausible record; -1 after "erase fail", "recover image fail" or
// "recovery Default Value fail".
[[nodiscard]] int Nandkeep_RecoveryDefConf(int iFd, uint64_t ulDestSubOffset,
                                           uint64_t ulSrcSubOffset, uint64_t ulDestMaxSize,
                                           uint64_t ulSrcMaxSize);

#endif
