// The files a command stores in the flash: counted once, before the device is locked, and
// checked again while they are written; and the files it copies flash contents into.
//
// Only regular files are sources: a directory, a pipe or a device has no size to check against an
// area (a FIFO nobody writes to is refused at once, not waited for). A source is read once to its
// end when it is prepared: what it holds must be exactly as long as its reported size, and that
// count and the CRC-32 of the contents are what every later write of it must find again. A file
// that reports more than its area can take is refused from its size, without being read.
#ifndef NANDKEEP_SOURCE_H
#define NANDKEEP_SOURCE_H

#include <cstdint>
#include <cstdio>

struct TSource {
    FILE *pFile;          // open until released; nullptr when it could not be used
    uint64_t ulSize;      // the bytes it held when it was counted
    uint32_t dwCrc;       // their CRC-32
    const char *pszFault; // the notify text of a source that cannot be used; nullptr when it can
};

// Opens and counts the source, printing nothing: a fault is told when the source is taken.
// ulRoom is the most its area can take: a file that reports more gets the fault "size too large"
// without being read. Other faults: "fopen()", "fstat()", "not a regular file", "fread()",
// "source size does not match its contents".
void Nandkeep_PrepareSource(TSource *ptSrc, const char *pszPath, uint64_t ulRoom);
// 0 with the source rewound to its start; -1 after notifying its fault (or "fseek()").
[[nodiscard]] int Nandkeep_TakeSource(TSource *ptSrc);
// Closes the file; the record may be prepared again.
void Nandkeep_ReleaseSource(TSource *ptSrc);

// For a writer that has streamed ulRead bytes of CRC-32 dwCrc from the source: 0 when they are
// the bytes counted at the preparation and the source ends with them; -1 after notifying
// "fread()" or "source changed while it was written".
[[nodiscard]] int Nandkeep_CheckSourceUnchanged(const TSource *ptSrc, uint64_t ulRead,
                                                uint32_t dwCrc);
// For a writer whose comparison found the flash without the source's bytes: reads the source
// again from its start; 0 when it still holds what was counted, -1 after notifying "fseek()",
// "fread()" or "source changed while it was written".
[[nodiscard]] int Nandkeep_CheckSourceHolds(const TSource *ptSrc);

// The file a command writes to (Plat_OpenDestination, mode "w" or "w+"), refused when it is the
// flash itself (what is copied would be programmed into the device) before anything is truncated.
// nullptr after notifying "destination is the flash device itself" or "fopen()", then the name.
[[nodiscard]] FILE *Nandkeep_OpenDestination(const char *pszPath, const char *pszMode);

// zlib's CRC-32, continued from dwCrc (0 to start).
uint32_t Nandkeep_Crc32(uint32_t dwCrc, const unsigned char *pucData, uint64_t ulLen);

#endif
