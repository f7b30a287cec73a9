// The factory qualification tests of the whole device: flash verify, life cycle and unstable
// bits. All of them destroy the flash contents. Flash verify and life cycle record their
// findings in the verify result log (and on standard output) and end with a verdict whose error
// count is the exit status; the unstable-bits test prints only.
#ifndef NANDKEEP_FACTORYTESTS_H
#define NANDKEEP_FACTORYTESTS_H

#include <cstddef>
#include <cstdint>

// Fills every good block with seeded random reference data and checks it, then programs each
// good block in turn with 0x00 and 0xFF and re-reads every other good block after each (the
// disturb check). Returns the verdict's error count, or -1 when a primitive failed (no verdict).
//
// A block that turns bad between being programmed with a pattern and being read back is not
// read or compared: it already counts once as a new bad block, and is not programmed again. The
// disturb check for the programming that did happen still runs.
[[nodiscard]] int Nandkeep_FlashVerify(void);

// Runs ulCycles + 1 cycles over [0, ulLen): each erases the range 1001 times, then checks that
// every good block reads erased, takes all zeros and reads them back. Returns the verdict's
// error count (the total-bad-block rule only when ulLen is the device size), -1 when a primitive
// failed, or 1 when the test stopped (see Nandkeep_FlashVerify).
[[nodiscard]] int Nandkeep_LifeCycleTest(uint64_t ulLen, uint64_t ulCycles);

// Bytes of a reference buffer in which block k's contents are the erase-size bytes from byte
// 4 * k: 4 bytes per block of the device past one erase size, and at least two erase sizes, so
// that no device size makes a block's contents run past the buffer.
uint64_t Nandkeep_ReferenceBufferSize(void);
// Fills the buffer from the C library's generator as it stands: each byte is the top 8 of the
// 31 random bits of the next value.
void Nandkeep_FillRandom(unsigned char *pucBuf, uint64_t ulLen);

// Fills the pattern buffer from the pattern word: "rand..." draws every byte from the C
// library's generator in the state it has (never seeded here, so every process draws the same
// bytes); any other word is read as hexadecimal and its low 8 bits fill the buffer.
void Nandkeep_FillUnstablePattern(const char *pszPattern, unsigned char *pucPattern, size_t ulSize);
// With iWrite 1: erases the device, programs every good block with its reference contents and
// checks them; with iWrite 0: only the check. 0 when every good block matches, -1 when one
// differs or a primitive failed. pucPattern holds Nandkeep_ReferenceBufferSize() bytes.
[[nodiscard]] int Nandkeep_UnstableBitsTest(unsigned char *pucPattern, int iWrite);

// The status of a test that answered iRet: 1 when it was stopped by its log or its bad-block
// list, else iRet.
int Nandkeep_StopStatus(int iRet);

#endif
