// The configuration record: the one codec of every record reader and writer.
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
// 0's descriptor.
#ifndef NANDKEEP_RECORD_H
#define NANDKEEP_RECORD_H

#include "flash/region.h"
#include "image/source.h"

#include <cstdint>

constexpr uint64_t CONFIG_LEN_SIZE = 4;
constexpr uint64_t CONFIG_CRC_SIZE = 4;
// Length word and checksum: an empty file is stored as 8 zero bytes.
constexpr uint64_t CONFIG_OVERHEAD = CONFIG_LEN_SIZE + CONFIG_CRC_SIZE;
constexpr uint32_t CONFIG_NO_RECORD = 0xFFFFFFFFu;

uint32_t Record_GetLE32(const unsigned char *p);
void Record_PutLE32(unsigned char *p, uint32_t dwValue);
// True when a length word of dwLen can head a record in an area of ullRoom bytes.
inline bool Record_Plausible(uint32_t dwLen, uint64_t ullRoom) {
    return dwLen != CONFIG_NO_RECORD && dwLen + CONFIG_OVERHEAD <= ullRoom;
}

// The length word of the record of the area, read at its first good block (its piece into the
// whole-piece buffer pucPiece), where the walk is left standing. 0, or -1 (silently) when the
// area has no good block or the read fails.
[[nodiscard]] int Record_LengthWord(TRegion *ptArea, unsigned char *pucPiece, uint32_t *pdwLen);
// Walks the record of the area exactly as the writer laid it out, the payload going to pOut when
// it is not nullptr. bReport: failures are told ("size check fail", "fwrite()", "CRC check
// error" with its values). 0 valid; -1 otherwise. With szDest the destination file is opened
// once the length word has passed ("destination is the flash device itself" or "fopen()", then
// the name) and closed on every path.
[[nodiscard]] int Record_Walk(int iFd, const char *szDest, uint64_t ullOffset, uint64_t ullMaxSize);
// Writes the source as a record over the good blocks of the erased area [ullPos, ullEnd), each
// piece only where all of its record bytes lie below the end. 0; -1 after "write fail", "write
// fail: Not enought flash space", or the source's "source changed while it was written" (no
// checksum word then), or silently when only bad blocks are left for the next piece.
[[nodiscard]] int Record_Write(const TSource *ptSrc, uint64_t ullPos, uint64_t ullEnd);
// For a record whose first block was read into pucPiece, of which ullAvail bytes (at most one
// piece) lie inside the area: 0 when the whole record is among them and valid, with its length
// (payload + 8) in *pullRecordLen; -1 otherwise. Prints nothing and reads no flash.
[[nodiscard]] int Record_CheckInPiece(const unsigned char *pucPiece, uint64_t ullAvail,
                                      uint64_t *pullRecordLen);

#endif
