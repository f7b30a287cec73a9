// The configuration record store: small files kept in raw flash outside any file system.
//
// A record always starts at the first good block of its area:
//
//   offset   size  field
//   0        4     length L of the payload, little-endian (the low 32 bits of the file size)
//   4        L     payload, the file's bytes unchanged
//   4 + L    4     CRC-32 of the payload only, little-endian, at whatever alignment 4 + L gives
//   8 + L    0..3  0xFF up to the next multiple of 4
//
// The record's byte stream is cut into 128 KiB pieces counted from its start; every piece lies at
// the next good block after the previous one, so the checksum word may be split over two blocks.
// A length word of 0xFFFFFFFF is erased flash: no record. All flash traffic goes through record
// 0's descriptor; bad blocks are stepped over by record 0's erase size.
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

#include "image/source.h"

#include <cstdint>
#include <cstdio>

constexpr unsigned long CONFIG_LEN_SIZE = 4;
constexpr unsigned long CONFIG_CRC_SIZE = 4;
// Length word and checksum: an empty file is stored as 8 zero bytes.
constexpr unsigned long CONFIG_OVERHEAD = CONFIG_LEN_SIZE + CONFIG_CRC_SIZE;
constexpr uint32_t CONFIG_NO_RECORD = 0xFFFFFFFFu;
// The partition table must reach record 4 for the tempconf, tempdata and NFDI stores.
constexpr int CONFIG_MIN_PARTITIONS = 5;

// Takes the source and checks that a record of it fits in ulMaxSize bytes. 0, or -1 after
// notifying (the source's fault, "size too large"). Touches no flash.
[[nodiscard]] int Nandkeep_CheckConfigSource(TSource *ptSrc, unsigned long ulMaxSize);

// Stores the source as a record in [ulMTDOffset, ulMTDOffset + ulMTDMaxSize). It is checked
// first (its fault, "size too large": -1 with the flash untouched);
// then the WHOLE area is erased (a block whose erase fails is marked bad and skipped) and the
// record written over its good blocks, no byte of it at or past the area's end. 0 on success; -1
// on failure ("erase fail", "fread()", "write fail", "write fail: Not enought flash space", or
// silently when only bad blocks are left where the next piece should go). A file whose contents
// differ from what was counted at the opening gets "source changed while it was written" and no
// checksum word, so the area holds no valid record. A failure after the erase leaves the area
// erased or partly written.
[[nodiscard]] int Nandkeep_WriteConfig(TSource *ptSrc, unsigned long ulMTDOffset,
                                       unsigned long ulMTDMaxSize);
// For a record whose first block was read into pucPiece, of which ulAvail bytes (at most one
// piece) lie inside the area: 0 when the whole record is among them and valid, with its length
// (payload + 8) in *pulRecordLen; -1 when it is invalid or does not lie wholly there. Prints
// nothing and reads no flash.
[[nodiscard]] int Nandkeep_CheckConfigInPiece(const unsigned char *pucPiece, unsigned long ulAvail,
                                              unsigned long *pulRecordLen);
// 0 when a valid record starts in the area, -1 otherwise. Prints nothing of its own (a failing
// flash read reports through the primitives).
[[nodiscard]] int Nandkeep_CheckConfig(int iFd, unsigned long ulMTDOffset,
                                       unsigned long ulMTDMaxSize);
// Writes the payload of the record in the area to szFileName (created or truncated once the
// length word has passed its check) and checks the record. 0 valid; -1 otherwise, after
// "size check fail", "fopen()" and the file name, "fwrite()" or "CRC check error" with the
// computed and stored values. A failed read leaves in the file what was appended before.
[[nodiscard]] int Nandkeep_ReadConfig(int iFd, const char *szFileName, unsigned long ulMTDOffset,
                                      unsigned long ulMTDMaxSize);

// The writetempdata work: the record goes from g_ulFlashfs2Offest up to the lower tempconf copy;
// the file must fit in the good blocks below it. Result of the check after the write (0 / -1).
[[nodiscard]] int Nandkeep_WriteTempData(TSource *ptSrc);
// The writeNFDI work: two copies split at the middle good block of the NFDI partition (bad-block
// table excluded). 0 when copy 1, or else copy 2, checks valid afterwards; -1 otherwise. Refused
// with -1 and nothing touched when the two ways of locating the NFDI partition disagree.
[[nodiscard]] int Nandkeep_WriteNFDI(TSource *ptSrc);

// Stores placement, for the commands. Nandkeep_CheckStoreTable answers 0 when the partition
// table has records 3 and 4 with usable erase sizes, else -1 after a notify.
[[nodiscard]] int Nandkeep_CheckStoreTable(void);
// Number of tempconf candidates, and the offset of candidate i: record 0's size minus
// e x (N + i), N being the NFDI partition's blocks. Candidate 1 is the block just below the NFDI
// partition; the candidates stop one block short of the flashfs2 partition's first block, where
// the temporary data record lives.
unsigned long Nandkeep_TempConfCount(void);
unsigned long Nandkeep_TempConfOffset(unsigned long ulIndex);
// Start S of the NFDI partition as seen from the flashfs2 partition (g_ulFlashfs2Offest +
// record 3's size), the number of NFDI candidate starts (S + j x e below the bad-block table),
// and the record area of candidate j (up to the bad-block table).
unsigned long Nandkeep_NFDIStart(void);
unsigned long Nandkeep_NFDICount(void);
unsigned long Nandkeep_NFDIAreaSize(unsigned long ulIndex);

#endif
