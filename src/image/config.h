// The configuration record stores: small files kept in raw flash outside any file system, each
// as a record (image/record.h) in an area of its own.
//
// Three stores use the format (records 3 and 4 of the partition table are the flashfs2 and the
// NFDI partitions):
//   tempconf  two one-block copies taken from the top of the flashfs2 region downwards
//   tempdata  one record from the start of the flashfs2 region up to the lower tempconf copy
//   NFDI      two copies in the NFDI partition, which ends at the device end; its last
//             g_iBBTBlockNum blocks hold the flash bad-block table and are neither searched,
//             erased nor written by the store
// The default configuration (defconf.h) uses the same format behind each rootfs image.
#ifndef NANDKEEP_CONFIG_H
#define NANDKEEP_CONFIG_H

#include "image/record.h"
#include "image/source.h"

#include <cstdint>

// The partition table must reach record 4 for the tempconf, tempdata and NFDI stores.
constexpr int CONFIG_MIN_PARTITIONS = 5;

// Takes the source and checks that a record of it fits in ulMaxSize bytes. 0, or -1 after
// notifying (the source's fault, "size too large"). Touches no flash.
[[nodiscard]] int Nandkeep_CheckConfigSource(TSource *ptSrc, uint64_t ulMaxSize);
// Stores the source as a record in [ulMTDOffset, ulMTDOffset + ulMTDMaxSize). It is checked
// first (its fault, "size too large": -1 with the flash untouched); then the WHOLE area is erased
// (a block whose erase fails is marked bad and skipped) and the record written over its good
// blocks, no byte of it at or past the area's end. 0 on success; -1 on failure ("erase fail", and
// those of Record_Write). A failure after the erase leaves the area erased or partly written.
[[nodiscard]] int Nandkeep_WriteConfig(TSource *ptSrc, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize);
// 0 when a valid record starts in the area, -1 otherwise. Prints nothing of its own (a failing
// flash read reports through the primitives).
[[nodiscard]] int Nandkeep_CheckConfig(int iFd, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize);
// Writes the payload of the record in the area to szFileName (created or truncated once the
// length word has passed its check) and checks the record. 0 valid; -1 otherwise, after
// "size check fail", "fopen()" and the file name, "fwrite()" or "CRC check error" with the
// computed and stored values. A failed read leaves in the file what was appended before.
[[nodiscard]] int Nandkeep_ReadConfig(int iFd, const char *szFileName, uint64_t ulMTDOffset,
                                      uint64_t ulMTDMaxSize);
// The length (payload + 8) of the valid record in the area: 0, or -1 when there is none.
[[nodiscard]] int Nandkeep_GetConfigLen(int iFd, uint64_t ulMTDOffset, uint64_t ulMTDMaxSize,
                                        uint64_t *pulLen);

// Stores placement, for the commands. Nandkeep_CheckStoreTable answers 0 when the partition
// table has records 3 and 4 with usable erase sizes, else -1 after a notify.
[[nodiscard]] int Nandkeep_CheckStoreTable(void);
// Number of tempconf candidates, and the offset of candidate i: record 0's size minus
// e x (N + i), N being the NFDI partition's blocks. Candidate 1 is the block just below the NFDI
// partition; the candidates stop one block short of the flashfs2 partition's first block, where
// the temporary data record lives.
uint64_t Nandkeep_TempConfCount(void);
uint64_t Nandkeep_TempConfOffset(uint64_t ullIndex);
// Start S of the NFDI partition as seen from the flashfs2 partition (g_ulFlashfs2Offest +
// record 3's size), the number of NFDI candidate starts (S + j x e below the bad-block table),
// and the record area of candidate j (up to the bad-block table).
uint64_t Nandkeep_NFDIStart(void);
uint64_t Nandkeep_NFDICount(void);
uint64_t Nandkeep_NFDIAreaSize(uint64_t ullIndex);

#endif
