// The simulated NAND chip.
#include "sim/nand_model.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t BLOCK_FAULT_MASK = ((1u << SIM_FAULT_SHORT_READ) - 1) | (1u << SIM_FAULT_DECAY) |
                                      (1u << SIM_FAULT_FLIP) | (1u << SIM_FAULT_WEAK_PAGE) |
                                      (1u << SIM_FAULT_WEAK_BLOCK) | (1u << SIM_FAULT_GRAVE_PAGE);
constexpr uint32_t UNCORRECTABLE_MASK = (1u << SIM_FAULT_UNCORRECTABLE) | (1u << SIM_FAULT_DECAY);
// The read faults of the affected page (wFaultPage); a flip keeps its own place.
constexpr uint32_t PAGE_FAULT_MASK = (1u << SIM_FAULT_BITFLIP) | UNCORRECTABLE_MASK;
constexpr uint32_t READ_FAULT_MASK =
    PAGE_FAULT_MASK | (1u << SIM_FAULT_FLIP) | (1u << SIM_FAULT_GRAVE_PAGE);
constexpr uint32_t FLIP_OFFSET_BITS = 17;
constexpr uint32_t FLIP_COUNT_BITS = 4;
constexpr uint32_t FLIP_BIT_SHIFT = FLIP_OFFSET_BITS + FLIP_COUNT_BITS;
static_assert(SIM_BLOCK_SIZE <= 1u << FLIP_OFFSET_BITS, "flip offset field");
static_assert(SIM_FLIP_MAX < 1u << FLIP_COUNT_BITS && FLIP_BIT_SHIFT + 3 * SIM_FLIP_MAX <= 64,
              "flip record fits 64 bits");
// Bits an uncorrectable read flips in the data it delivers.
constexpr uint32_t CORRUPT_BITS = 3;
constexpr uint64_t BYTE_LOW7 = 0x7F7F7F7F7F7F7F7Full;
constexpr uint64_t BYTE_HIGH = 0x8080808080808080ull;

const char *const g_apszFaultNames[SIM_FAULT_KIND_COUNT] = {
    "bad",        "erase-fail", "wear-out",      "program-fail", "program-lost",
    "stuck-bits", "bitflip",    "uncorrectable", "short-read",   "short-write",
    "powercut",   "decay",      "flip",          "weak-page",    "weak-block",
    "grave-page", "read-fail",  "log-fail",      "ecc-fail",
};

uint64_t Mix(uint64_t ullX) {
    ullX += 0x9E3779B97F4A7C15ull;
    ullX = (ullX ^ (ullX >> 30)) * 0xBF58476D1CE4E5B9ull;
    ullX = (ullX ^ (ullX >> 27)) * 0x94D049BB133111EBull;
    return ullX ^ (ullX >> 31);
}

// Bit position inside the affected page of the i-th pseudo-random choice of a block; salt
// keeps the stuck bits and the corrupted bits apart.
uint32_t ChosenBit(const TNand *ptNand, uint32_t dwBlock, uint64_t ullSalt, uint32_t i) {
    uint64_t ullH = Mix(ptNand->ptHdr->ullSeed ^ Mix((uint64_t)dwBlock << 32 | i) ^ ullSalt);
    return (uint32_t)(ullH % (SIM_PAGE_SIZE * 8));
}

uint64_t BlockStart(uint32_t dwBlock) {
    return (uint64_t)dwBlock * SIM_BLOCK_SIZE;
}

// The programmed bits of the pages that [ullOffset, +ulLen) inside one block touches.
uint64_t PageBits(uint64_t ullOffset, size_t ulLen) {
    if (ulLen == 0) {
        return 0;
    }
    uint32_t dwFirst = (uint32_t)(ullOffset % SIM_BLOCK_SIZE / SIM_PAGE_SIZE);
    uint32_t dwLast = (uint32_t)((ullOffset + ulLen - 1) % SIM_BLOCK_SIZE / SIM_PAGE_SIZE);
    uint64_t ullUpTo = dwLast == 63 ? ~0ull : (1ull << (dwLast + 1)) - 1;
    return ullUpTo & ~((1ull << dwFirst) - 1);
}

// The cells hold complements, so copying out is a complementing copy. Word by word, so that a
// clean read costs about what a memcpy does.
void CopyComplement(unsigned char *pucDst, const unsigned char *pucSrc, size_t ulLen) {
    size_t i = 0;
    for (; i + 32 <= ulLen; i += 32) {
        uint64_t aull[4];
        memcpy(aull, pucSrc + i, sizeof(aull));
        aull[0] = ~aull[0];
        aull[1] = ~aull[1];
        aull[2] = ~aull[2];
        aull[3] = ~aull[3];
        memcpy(pucDst + i, aull, sizeof(aull));
    }
    for (; i < ulLen; i++) {
        pucDst[i] = (unsigned char)~pucSrc[i];
    }
}

// High bit of every byte set where the byte is not zero.
uint64_t NonZeroBytes(uint64_t ullX) {
    return (((ullX & BYTE_LOW7) + BYTE_LOW7) | ullX) & BYTE_HIGH;
}

// Programs ulLen bytes (at most one page) into the cells: new = old AND data. Returns whether
// data that clears bits met bytes that were no longer erased.
bool ProgramCells(unsigned char *pucCells, const unsigned char *pucData, size_t ulLen) {
    uint64_t ullClash = 0;
    size_t i = 0;
    for (; i + 8 <= ulLen; i += 8) {
        uint64_t ullCell;
        uint64_t ullData;
        memcpy(&ullCell, pucCells + i, 8);
        memcpy(&ullData, pucData + i, 8);
        ullClash |= NonZeroBytes(ullCell) & NonZeroBytes(~ullData);
        ullCell |= ~ullData;
        memcpy(pucCells + i, &ullCell, 8);
    }
    bool bClash = ullClash != 0;
    for (; i < ulLen; i++) {
        unsigned char ucClear = (unsigned char)~pucData[i];
        bClash = bClash || (pucCells[i] != 0 && ucClear != 0);
        pucCells[i] |= ucClear;
    }
    return bClash;
}

// Erases the first ulLen bytes of a block. A block not written since its last erase is all
// zero complements already; leaving it alone keeps its cells holes in the file.
void EraseCells(TNand *ptNand, uint32_t dwBlock, size_t ulLen) {
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    tBlk.ullProgrammed &= ~PageBits(BlockStart(dwBlock), ulLen);
    if (tBlk.bWritten) {
        memset(ptNand->pucCells + BlockStart(dwBlock), 0, ulLen);
        tBlk.bWritten = ulLen < SIM_BLOCK_SIZE;
    }
}

void ApplyStuckBits(TNand *ptNand, uint32_t dwBlock) {
    const TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    // Stuck bits read 1, as erased cells do anyway.
    if (!tBlk.bWritten) {
        return;
    }
    unsigned char *pucPage =
        ptNand->pucCells + BlockStart(dwBlock) + (uint64_t)tBlk.wFaultPage * SIM_PAGE_SIZE;
    for (uint32_t i = 0; i < tBlk.dwStuckBits; i++) {
        uint32_t dwBit = ChosenBit(ptNand, dwBlock, 0x57C4, i);
        // A cell that reads 1 holds a complement bit of 0.
        pucPage[dwBit / 8] &= (unsigned char)~(1u << (dwBit % 8));
    }
}

// Programs one block segment page by page (the first and last page may be partial: the driver
// pads a sub-page write with 0xFF, which leaves the other cells as they are); counts the pages
// whose program hit bytes not erased.
void ProgramSegment(TNand *ptNand, uint64_t ullOffset, const unsigned char *pucData, size_t ulLen) {
    TSimBlockState &tBlk = ptNand->ptBlocks[ullOffset / SIM_BLOCK_SIZE];
    tBlk.bWritten = 1;
    tBlk.ullProgrammed |= PageBits(ullOffset, ulLen);
    for (size_t ulDone = 0; ulDone < ulLen;) {
        uint64_t ullPos = ullOffset + ulDone;
        size_t ulPart =
            std::min<size_t>(SIM_PAGE_SIZE - (size_t)(ullPos % SIM_PAGE_SIZE), ulLen - ulDone);
        if (ProgramCells(ptNand->pucCells + ullPos, pucData + ulDone, ulPart)) {
            ptNand->ptHdr->ullNonErasedPrograms++;
        }
        ulDone += ulPart;
    }
}

// Counts one erase or program operation and tells the hook. Returns whether it is the one that
// loses power (and then clears the pending cut).
bool CountOperation(TNand *ptNand, char cKind, uint32_t dwBlock) {
    TSimStateHeader *ptHdr = ptNand->ptHdr;
    uint64_t ullOp = ++ptHdr->ullOps;
    if (cKind == 'E') {
        ptHdr->ullErases++;
    } else {
        ptHdr->ullPrograms++;
    }
    if (ptNand->pfnOnOp != nullptr) {
        ptNand->pfnOnOp(cKind, dwBlock);
    }
    if (ptHdr->ullPowerCutOp != ullOp) {
        return false;
    }
    ptHdr->ullPowerCutOp = 0;
    return true;
}

// The bits Nand_Flip cleared in one block, as the driver's ECC sees them at a read of
// [ullOffset, +ulLen): every ECC step of the page is checked, whatever part of it was asked for;
// a step within the strength delivers the bytes as programmed and counts its bits, one beyond
// it delivers them as stored and counts one failure.
void ApplyFlip(TNand *ptNand, uint32_t dwBlock, uint64_t ullOffset, unsigned char *pucOut,
               size_t ulLen, TSimNodeCounters *ptNode) {
    uint64_t ullFlip = ptNand->ptBlocks[dwBlock].ullFlip;
    uint64_t ullFirst = BlockStart(dwBlock) + (ullFlip & ((1u << FLIP_OFFSET_BITS) - 1));
    uint32_t dwCount = (uint32_t)(ullFlip >> FLIP_OFFSET_BITS) & ((1u << FLIP_COUNT_BITS) - 1);
    uint64_t ullPage = ullFirst / SIM_PAGE_SIZE * SIM_PAGE_SIZE;
    if (ullOffset >= ullPage + SIM_PAGE_SIZE || ullOffset + ulLen <= ullPage) {
        return;
    }
    const TSimStateHeader *ptHdr = ptNand->ptHdr;
    uint32_t dwStep = ptHdr->wEccStep != 0 ? ptHdr->wEccStep : SIM_ECC_STEP_DEFAULT;
    uint32_t dwStrength = ptHdr->wEccStep != 0 ? ptHdr->wEccStrength : SIM_ECC_STRENGTH_DEFAULT;
    for (uint32_t i = 0; i < dwCount;) {
        uint64_t ullStepEnd = ((ullFirst + i) / dwStep + 1) * dwStep;
        uint32_t dwInStep = (uint32_t)std::min<uint64_t>(dwCount - i, ullStepEnd - ullFirst - i);
        if (dwInStep > dwStrength) {
            ptNode->dwFailed++;
            i += dwInStep;
            continue;
        }
        ptNode->dwCorrected += dwInStep;
        for (uint32_t dwEnd = i + dwInStep; i < dwEnd; i++) {
            uint64_t ullAt = ullFirst + i;
            if (ullAt >= ullOffset && ullAt < ullOffset + ulLen) {
                uint32_t dwBit = (uint32_t)(ullFlip >> (FLIP_BIT_SHIFT + 3 * i)) & 7;
                pucOut[ullAt - ullOffset] |= (unsigned char)(1u << dwBit);
            }
        }
    }
}

// A read of the grave page while it holds programmed data: once its working reads are used up,
// the chip delivers random bytes (random ECC bytes too, so every ECC step of the page fails).
// Reads of the page while it is erased count for nothing.
void ApplyGravePage(TNand *ptNand, uint32_t dwBlock, uint64_t ullOffset, unsigned char *pucOut,
                    size_t ulLen, TSimNodeCounters *ptNode) {
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    uint64_t ullPage = BlockStart(dwBlock) + (uint64_t)tBlk.wGravePage * SIM_PAGE_SIZE;
    uint64_t ullFrom = std::max(ullOffset, ullPage);
    uint64_t ullTo = std::min(ullOffset + ulLen, ullPage + SIM_PAGE_SIZE);
    if (ullFrom >= ullTo || (tBlk.ullProgrammed & (1ull << tBlk.wGravePage)) == 0) {
        return;
    }
    if (tBlk.dwGraveReads != 0) {
        tBlk.dwGraveReads--;
        return;
    }
    const TSimStateHeader *ptHdr = ptNand->ptHdr;
    uint32_t dwStep = ptHdr->wEccStep != 0 ? ptHdr->wEccStep : SIM_ECC_STEP_DEFAULT;
    ptNode->dwFailed += SIM_PAGE_SIZE / dwStep;
    uint64_t ullDraw = Mix(ptHdr->ullSeed ^ Mix(ullPage ^ ptHdr->ullOps << 32) ^ ptNode->dwFailed);
    for (uint64_t ullAt = ullFrom; ullAt < ullTo; ullAt++) {
        ullDraw = Mix(ullDraw);
        pucOut[ullAt - ullOffset] = (unsigned char)ullDraw;
    }
}

// Applies the read faults of one block to the bytes delivered for [ullOffset, +ulLen).
void ApplyReadFaults(TNand *ptNand, uint32_t dwBlock, uint64_t ullOffset, unsigned char *pucOut,
                     size_t ulLen, TSimNodeCounters *ptNode) {
    const TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    if (tBlk.dwFaults & (1u << SIM_FAULT_FLIP)) {
        ApplyFlip(ptNand, dwBlock, ullOffset, pucOut, ulLen, ptNode);
    }
    if (tBlk.dwFaults & (1u << SIM_FAULT_GRAVE_PAGE)) {
        ApplyGravePage(ptNand, dwBlock, ullOffset, pucOut, ulLen, ptNode);
    }
    if ((tBlk.dwFaults & PAGE_FAULT_MASK) == 0) {
        return;
    }
    uint64_t ullPage = BlockStart(dwBlock) + (uint64_t)tBlk.wFaultPage * SIM_PAGE_SIZE;
    uint64_t ullFrom = std::max(ullOffset, ullPage);
    uint64_t ullTo = std::min(ullOffset + ulLen, ullPage + SIM_PAGE_SIZE);
    if (ullFrom >= ullTo) {
        return;
    }
    if (tBlk.dwFaults & (1u << SIM_FAULT_BITFLIP)) {
        ptNode->dwCorrected += tBlk.dwBitflips;
    }
    if ((tBlk.dwFaults & UNCORRECTABLE_MASK) == 0) {
        return;
    }
    ptNode->dwFailed++;
    bool bHit = false;
    for (uint32_t i = 0; i < CORRUPT_BITS; i++) {
        uint32_t dwBit = ChosenBit(ptNand, dwBlock, 0xBAD0, i);
        uint64_t ullAt = ullPage + dwBit / 8;
        if (ullAt >= ullFrom && ullAt < ullTo) {
            pucOut[ullAt - ullOffset] ^= (unsigned char)(1u << (dwBit % 8));
            bHit = true;
        }
    }
    // Whatever part of the page was read, it comes out wrong.
    if (!bHit) {
        pucOut[ullFrom - ullOffset] ^= 0x01;
    }
}

} // namespace

size_t Nand_StateSize(uint32_t dwBlockCount) {
    return sizeof(TSimStateHeader) + (size_t)dwBlockCount * sizeof(TSimBlockState);
}

void Nand_Format(void *pState, uint64_t ullDeviceSize, uint32_t dwBBTBlocks, uint64_t ullSeed) {
    uint32_t dwBlocks = (uint32_t)(ullDeviceSize / SIM_BLOCK_SIZE);
    memset(pState, 0, Nand_StateSize(dwBlocks));
    TSimStateHeader *ptHdr = static_cast<TSimStateHeader *>(pState);
    memcpy(ptHdr->acMagic, SIM_STATE_MAGIC, sizeof(ptHdr->acMagic));
    ptHdr->dwVersion = SIM_STATE_VERSION;
    ptHdr->dwHeaderSize = sizeof(TSimStateHeader);
    ptHdr->ullDeviceSize = ullDeviceSize;
    ptHdr->dwPageSize = SIM_PAGE_SIZE;
    ptHdr->dwBlockSize = SIM_BLOCK_SIZE;
    ptHdr->dwBlockCount = dwBlocks;
    ptHdr->dwBBTBlocks = dwBBTBlocks;
    ptHdr->ullSeed = ullSeed;
}

int Nand_Attach(TNand *ptNand, void *pState, size_t ulLen) {
    if (ulLen < sizeof(TSimStateHeader)) {
        return -1;
    }
    TSimStateHeader *ptHdr = static_cast<TSimStateHeader *>(pState);
    if (memcmp(ptHdr->acMagic, SIM_STATE_MAGIC, sizeof(ptHdr->acMagic)) != 0 ||
        ptHdr->dwVersion != SIM_STATE_VERSION || ptHdr->dwHeaderSize != sizeof(TSimStateHeader) ||
        ptHdr->dwPageSize != SIM_PAGE_SIZE || ptHdr->dwBlockSize != SIM_BLOCK_SIZE ||
        ptHdr->ullDeviceSize != (uint64_t)ptHdr->dwBlockCount * SIM_BLOCK_SIZE ||
        ptHdr->dwBlockCount == 0 || ptHdr->ullDeviceSize > SIM_DEVICE_MAX ||
        ulLen != Nand_StateSize(ptHdr->dwBlockCount)) {
        return -1;
    }
    ptNand->ptHdr = ptHdr;
    ptNand->ptBlocks =
        reinterpret_cast<TSimBlockState *>(static_cast<char *>(pState) + sizeof(TSimStateHeader));
    ptNand->pucCells = nullptr;
    ptNand->pfnOnOp = nullptr;
    return 0;
}

void Nand_Read(TNand *ptNand, uint64_t ullOffset, void *pBuf, size_t ulLen,
               TSimNodeCounters *ptNode) {
    unsigned char *pucOut = static_cast<unsigned char *>(pBuf);
    CopyComplement(pucOut, ptNand->pucCells + ullOffset, ulLen);
    uint64_t ullEnd = ullOffset + ulLen;
    for (uint64_t ullPos = ullOffset; ullPos < ullEnd;) {
        uint32_t dwBlock = (uint32_t)(ullPos / SIM_BLOCK_SIZE);
        uint64_t ullNext = std::min(BlockStart(dwBlock) + SIM_BLOCK_SIZE, ullEnd);
        if (ptNand->ptBlocks[dwBlock].dwFaults & READ_FAULT_MASK) {
            ApplyReadFaults(ptNand, dwBlock, ullPos, pucOut + (ullPos - ullOffset),
                            (size_t)(ullNext - ullPos), ptNode);
        }
        ullPos = ullNext;
    }
}

namespace {

// A program of [ullPos, ullPos + ulSeg) inside the block that covers its weak page fails once the
// page has taken its last working program; a program that still works is counted.
bool WeakPageFails(TNand *ptNand, uint32_t dwBlock, uint64_t ullPos, size_t ulSeg) {
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    const uint64_t ullWeak = BlockStart(dwBlock) + uint64_t{tBlk.wWeakPage} * SIM_PAGE_SIZE;
    if (ullWeak + SIM_PAGE_SIZE <= ullPos || ullWeak >= ullPos + ulSeg) {
        return false;
    }
    if (tBlk.dwWeakWrites == 0) {
        return true;
    }
    tBlk.dwWeakWrites--;
    return false;
}

} // namespace

int Nand_Program(TNand *ptNand, uint64_t ullOffset, const void *pBuf, size_t ulLen) {
    const unsigned char *pucData = static_cast<const unsigned char *>(pBuf);
    uint64_t ullEnd = ullOffset + ulLen;
    for (uint64_t ullPos = ullOffset; ullPos < ullEnd;) {
        uint32_t dwBlock = (uint32_t)(ullPos / SIM_BLOCK_SIZE);
        uint64_t ullNext = std::min(BlockStart(dwBlock) + SIM_BLOCK_SIZE, ullEnd);
        size_t ulSeg = (size_t)(ullNext - ullPos);
        const unsigned char *pucSeg = pucData + (ullPos - ullOffset);
        uint32_t dwFaults = ptNand->ptBlocks[dwBlock].dwFaults;
        if (CountOperation(ptNand, 'P', dwBlock)) {
            // Half the pages made it; a single page or less is cut half way through.
            size_t ulHalf =
                ulSeg >= 2 * SIM_PAGE_SIZE ? ulSeg / SIM_PAGE_SIZE / 2 * SIM_PAGE_SIZE : ulSeg / 2;
            ProgramSegment(ptNand, ullPos, pucSeg, ulHalf);
            return NAND_POWER_LOST;
        }
        if (dwFaults & (1u << SIM_FAULT_PROGRAM_FAIL)) {
            return NAND_FAILED;
        }
        if (dwFaults & (1u << SIM_FAULT_WEAK_PAGE) &&
            WeakPageFails(ptNand, dwBlock, ullPos, ulSeg)) {
            // The chip programs page by page and reports the failure of the weak page after
            // programming it: the weak page and the pages before it hold the data.
            const uint64_t ullWeakEnd =
                BlockStart(dwBlock) +
                uint64_t{ptNand->ptBlocks[dwBlock].wWeakPage + 1u} * SIM_PAGE_SIZE;
            ProgramSegment(ptNand, ullPos, pucSeg,
                           (size_t)(std::min<uint64_t>(ullWeakEnd, ullNext) - ullPos));
            return NAND_FAILED;
        }
        if ((dwFaults & (1u << SIM_FAULT_PROGRAM_LOST)) == 0) {
            ProgramSegment(ptNand, ullPos, pucSeg, ulSeg);
            if (dwFaults & (1u << SIM_FAULT_STUCK_BITS)) {
                ApplyStuckBits(ptNand, dwBlock);
            }
        }
        ullPos = ullNext;
    }
    return NAND_OK;
}

int Nand_Erase(TNand *ptNand, uint32_t dwBlock) {
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    // The driver refuses a bad block before the chip sees a command.
    if (tBlk.bBad) {
        return NAND_FAILED;
    }
    if (CountOperation(ptNand, 'E', dwBlock)) {
        EraseCells(ptNand, dwBlock, SIM_BLOCK_SIZE / 2);
        return NAND_POWER_LOST;
    }
    const bool bWorn = tBlk.dwEraseCount >= tBlk.dwWearLimit;
    if ((tBlk.dwFaults & (1u << SIM_FAULT_ERASE_FAIL)) ||
        ((tBlk.dwFaults & (1u << SIM_FAULT_WEAR_OUT)) && bWorn)) {
        return NAND_FAILED;
    }
    EraseCells(ptNand, dwBlock, SIM_BLOCK_SIZE);
    // nandsim erases a weak block and then reports the failure.
    if ((tBlk.dwFaults & (1u << SIM_FAULT_WEAK_BLOCK)) && bWorn) {
        tBlk.dwFaults &= ~((1u << SIM_FAULT_DECAY) | (1u << SIM_FAULT_FLIP));
        tBlk.ullFlip = 0;
        return NAND_FAILED;
    }
    tBlk.dwEraseCount++;
    tBlk.dwFaults &= ~((1u << SIM_FAULT_DECAY) | (1u << SIM_FAULT_FLIP));
    tBlk.ullFlip = 0;
    return NAND_OK;
}

size_t Nand_ClipRead(TNand *ptNand, size_t ulLen) {
    if (ulLen == 0 || ptNand->ptHdr->dwShortReads == 0) {
        return ulLen;
    }
    ptNand->ptHdr->dwShortReads--;
    return ulLen >= 2 ? ulLen / 2 : ulLen;
}

int Nand_CallFails(TNand *ptNand, TSimFaultKind eKind) {
    uint32_t &dwLeft = ptNand->ptHdr->adwFailIn[eKind - SIM_FAULT_READ_FAIL];
    return dwLeft != 0 && --dwLeft == 0 ? 1 : 0;
}

size_t Nand_ClipWrite(TNand *ptNand, size_t ulLen) {
    if (ulLen == 0 || ptNand->ptHdr->dwShortWrites == 0) {
        return ulLen;
    }
    ptNand->ptHdr->dwShortWrites--;
    size_t ulUnits = ulLen / SIM_SUBPAGE_SIZE;
    return ulUnits >= 2 ? ulUnits / 2 * SIM_SUBPAGE_SIZE : ulLen;
}

int Nand_Flip(TNand *ptNand, uint64_t ullOffset, uint32_t dwCount) {
    if (dwCount == 0 || dwCount > SIM_FLIP_MAX || ullOffset >= ptNand->ptHdr->ullDeviceSize ||
        ullOffset % SIM_PAGE_SIZE + dwCount > SIM_PAGE_SIZE) {
        return -1;
    }
    uint32_t dwBlock = (uint32_t)(ullOffset / SIM_BLOCK_SIZE);
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    unsigned char *pucCells = ptNand->pucCells + ullOffset;
    if (tBlk.dwFaults & (1u << SIM_FAULT_FLIP)) {
        return -1;
    }
    uint64_t ullFlip = (ullOffset - BlockStart(dwBlock)) | (uint64_t)dwCount << FLIP_OFFSET_BITS;
    for (uint32_t i = 0; i < dwCount; i++) {
        // A data bit that reads 1 is a complement bit of 0.
        unsigned char ucData = (unsigned char)~pucCells[i];
        if (ucData == 0) {
            return -1;
        }
        uint32_t dwBit = 0;
        while ((ucData & (1u << dwBit)) == 0) {
            dwBit++;
        }
        ullFlip |= (uint64_t)dwBit << (FLIP_BIT_SHIFT + 3 * i);
    }
    for (uint32_t i = 0; i < dwCount; i++) {
        pucCells[i] |= (unsigned char)(1u << ((ullFlip >> (FLIP_BIT_SHIFT + 3 * i)) & 7));
    }
    tBlk.bWritten = 1;
    tBlk.ullProgrammed |= PageBits(ullOffset, dwCount);
    tBlk.ullFlip = ullFlip;
    tBlk.dwFaults |= 1u << SIM_FAULT_FLIP;
    return 0;
}

void Nand_ReadRaw(const TNand *ptNand, uint64_t ullOffset, void *pBuf, size_t ulLen) {
    CopyComplement(static_cast<unsigned char *>(pBuf), ptNand->pucCells + ullOffset, ulLen);
}

void Nand_WriteRaw(TNand *ptNand, uint64_t ullOffset, const void *pBuf, size_t ulLen) {
    for (uint64_t ullPos = ullOffset; ullPos < ullOffset + ulLen;
         ullPos = BlockStart((uint32_t)(ullPos / SIM_BLOCK_SIZE)) + SIM_BLOCK_SIZE) {
        TSimBlockState &tBlk = ptNand->ptBlocks[ullPos / SIM_BLOCK_SIZE];
        uint64_t ullEnd = std::min(BlockStart((uint32_t)(ullPos / SIM_BLOCK_SIZE)) + SIM_BLOCK_SIZE,
                                   ullOffset + ulLen);
        tBlk.bWritten = 1;
        tBlk.ullProgrammed |= PageBits(ullPos, (size_t)(ullEnd - ullPos));
    }
    CopyComplement(ptNand->pucCells + ullOffset, static_cast<const unsigned char *>(pBuf), ulLen);
}

int Nand_IsBad(const TNand *ptNand, uint32_t dwBlock) {
    return ptNand->ptBlocks[dwBlock].bBad ? 1 : 0;
}

void Nand_MarkBad(TNand *ptNand, uint32_t dwBlock) {
    if (!ptNand->ptBlocks[dwBlock].bBad) {
        ptNand->ptBlocks[dwBlock].bBad = SIM_BAD_FACTORY;
    }
}

int Nand_MarkBadThrough(TNand *ptNand, uint32_t dwBlock, TSimNodeCounters *ptNode) {
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    if (!tBlk.bBad) {
        // The driver erases the block before it writes the marker into the spare area; a
        // failing erase does not stop the mark.
        if (Nand_Erase(ptNand, dwBlock) == NAND_POWER_LOST) {
            return NAND_POWER_LOST;
        }
        tBlk.bBad = SIM_BAD_MARKED;
        // The marker goes into the spare area of page 0: a weak page 0 that takes no more
        // programs fails the request, though the driver's table holds the mark all the same.
        if ((tBlk.dwFaults & (1u << SIM_FAULT_WEAK_PAGE)) && tBlk.wWeakPage == 0) {
            if (tBlk.dwWeakWrites == 0) {
                return NAND_FAILED;
            }
            tBlk.dwWeakWrites--;
        }
    }
    ptNode->dwMarks++;
    return NAND_OK;
}

void Nand_UnmarkBad(TNand *ptNand, uint32_t dwBlock) {
    ptNand->ptBlocks[dwBlock].bBad = SIM_BAD_NONE;
}

uint32_t Nand_FactoryBadIn(const TNand *ptNand, uint32_t dwFirst, uint32_t dwCount) {
    uint32_t dwBad = 0;
    for (uint32_t b = dwFirst; b < dwFirst + dwCount; b++) {
        dwBad += ptNand->ptBlocks[b].bBad == SIM_BAD_FACTORY ? 1 : 0;
    }
    return dwBad;
}

int Nand_AddFault(TNand *ptNand, TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN,
                  uint32_t dwPage) {
    TSimStateHeader *ptHdr = ptNand->ptHdr;
    // Flipped bits are made by Nand_Flip, from the stored bytes.
    if (eKind >= SIM_FAULT_KIND_COUNT || eKind == SIM_FAULT_FLIP) {
        return -1;
    }
    if (Nand_IsDeviceFault(eKind)) {
        if (ullN == 0 || ullN > UINT32_MAX) {
            return -1;
        }
        if (eKind == SIM_FAULT_SHORT_READ) {
            ptHdr->dwShortReads = (uint32_t)ullN;
        } else if (eKind == SIM_FAULT_SHORT_WRITE) {
            ptHdr->dwShortWrites = (uint32_t)ullN;
        } else if (eKind >= SIM_FAULT_READ_FAIL) {
            ptHdr->adwFailIn[eKind - SIM_FAULT_READ_FAIL] = (uint32_t)ullN;
        } else {
            ptHdr->ullPowerCutOp = ptHdr->ullOps + ullN;
        }
        return 0;
    }
    if (dwBlock >= ptHdr->dwBlockCount || dwPage >= SIM_PAGES_PER_BLOCK) {
        return -1;
    }
    TSimBlockState &tBlk = ptNand->ptBlocks[dwBlock];
    switch (eKind) {
    case SIM_FAULT_WEAR_OUT:
    case SIM_FAULT_WEAK_BLOCK:
        if (ullN > UINT32_MAX - tBlk.dwEraseCount) {
            return -1;
        }
        tBlk.dwWearLimit = tBlk.dwEraseCount + (uint32_t)ullN;
        break;
    case SIM_FAULT_STUCK_BITS:
        if (ullN == 0 || ullN > SIM_PAGE_SIZE * 8) {
            return -1;
        }
        tBlk.dwStuckBits = (uint32_t)ullN;
        break;
    case SIM_FAULT_BITFLIP:
        // A real page corrects one bit per ECC step at most; tests may ask for more to reach
        // the large rises the callers must cope with.
        if (ullN == 0 || ullN > 0xFFFF) {
            return -1;
        }
        tBlk.dwBitflips = (uint32_t)ullN;
        break;
    case SIM_FAULT_WEAK_PAGE:
        if (ullN > UINT32_MAX) {
            return -1;
        }
        tBlk.dwWeakWrites = (uint32_t)ullN;
        tBlk.wWeakPage = (uint16_t)dwPage;
        break;
    case SIM_FAULT_GRAVE_PAGE:
        if (ullN > UINT32_MAX) {
            return -1;
        }
        tBlk.dwGraveReads = (uint32_t)ullN;
        tBlk.wGravePage = (uint16_t)dwPage;
        break;
    default:
        break;
    }
    if (eKind == SIM_FAULT_STUCK_BITS || eKind == SIM_FAULT_BITFLIP ||
        eKind == SIM_FAULT_UNCORRECTABLE || eKind == SIM_FAULT_DECAY) {
        tBlk.wFaultPage = (uint16_t)dwPage;
    }
    tBlk.dwFaults |= 1u << eKind;
    if (eKind == SIM_FAULT_BAD) {
        Nand_MarkBad(ptNand, dwBlock);
    }
    if (eKind == SIM_FAULT_STUCK_BITS && ptNand->pucCells != nullptr) {
        ApplyStuckBits(ptNand, dwBlock);
    }
    return 0;
}

void Nand_ClearFaults(TNand *ptNand, uint32_t dwBlock) {
    uint32_t dwFirst = dwBlock == SIM_NO_BLOCK ? 0 : dwBlock;
    uint32_t dwLast = dwBlock == SIM_NO_BLOCK ? ptNand->ptHdr->dwBlockCount : dwBlock + 1;
    for (uint32_t b = dwFirst; b < dwLast; b++) {
        TSimBlockState &tBlk = ptNand->ptBlocks[b];
        if (tBlk.dwFaults & (1u << SIM_FAULT_BAD)) {
            Nand_UnmarkBad(ptNand, b);
        }
        tBlk.dwFaults = 0;
        tBlk.dwWearLimit = 0;
        tBlk.dwBitflips = 0;
        tBlk.dwStuckBits = 0;
        tBlk.wFaultPage = 0;
        tBlk.ullFlip = 0;
        tBlk.dwWeakWrites = 0;
        tBlk.wWeakPage = 0;
        tBlk.dwGraveReads = 0;
        tBlk.wGravePage = 0;
    }
    if (dwBlock == SIM_NO_BLOCK) {
        ptNand->ptHdr->dwShortReads = 0;
        ptNand->ptHdr->dwShortWrites = 0;
        memset(ptNand->ptHdr->adwFailIn, 0, sizeof(ptNand->ptHdr->adwFailIn));
        ptNand->ptHdr->ullPowerCutOp = 0;
    }
}

int Nand_ListFaults(const TNand *ptNand, TSimFault *ptFaults, int iMax) {
    int iCount = 0;
    auto Add = [&](TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN, uint32_t dwPage) {
        if (iCount < iMax) {
            ptFaults[iCount] = TSimFault{eKind, dwBlock, ullN, dwPage};
        }
        iCount++;
    };
    const TSimStateHeader *ptHdr = ptNand->ptHdr;
    for (uint32_t b = 0; b < ptHdr->dwBlockCount; b++) {
        const TSimBlockState &tBlk = ptNand->ptBlocks[b];
        for (uint32_t k = 0; k < SIM_FAULT_KIND_COUNT; k++) {
            if ((BLOCK_FAULT_MASK & (1u << k)) == 0 || (tBlk.dwFaults & (1u << k)) == 0) {
                continue;
            }
            TSimFaultKind eKind = static_cast<TSimFaultKind>(k);
            uint64_t ullN = 0;
            if (eKind == SIM_FAULT_WEAR_OUT || eKind == SIM_FAULT_WEAK_BLOCK) {
                ullN =
                    tBlk.dwWearLimit > tBlk.dwEraseCount ? tBlk.dwWearLimit - tBlk.dwEraseCount : 0;
            } else if (eKind == SIM_FAULT_STUCK_BITS) {
                ullN = tBlk.dwStuckBits;
            } else if (eKind == SIM_FAULT_BITFLIP) {
                ullN = tBlk.dwBitflips;
            } else if (eKind == SIM_FAULT_WEAK_PAGE) {
                ullN = tBlk.dwWeakWrites;
            } else if (eKind == SIM_FAULT_GRAVE_PAGE) {
                ullN = tBlk.dwGraveReads;
            }
            uint32_t dwPage =
                (PAGE_FAULT_MASK | 1u << SIM_FAULT_STUCK_BITS) & (1u << k) ? tBlk.wFaultPage : 0;
            if (eKind == SIM_FAULT_WEAK_PAGE) {
                dwPage = tBlk.wWeakPage;
            }
            if (eKind == SIM_FAULT_GRAVE_PAGE) {
                dwPage = tBlk.wGravePage;
            }
            if (eKind == SIM_FAULT_FLIP) {
                ullN = (tBlk.ullFlip >> FLIP_OFFSET_BITS) & ((1u << FLIP_COUNT_BITS) - 1);
                dwPage = (uint32_t)(tBlk.ullFlip & ((1u << FLIP_OFFSET_BITS) - 1)) / SIM_PAGE_SIZE;
            }
            Add(eKind, b, ullN, dwPage);
        }
    }
    if (ptHdr->dwShortReads != 0) {
        Add(SIM_FAULT_SHORT_READ, SIM_NO_BLOCK, ptHdr->dwShortReads, 0);
    }
    if (ptHdr->dwShortWrites != 0) {
        Add(SIM_FAULT_SHORT_WRITE, SIM_NO_BLOCK, ptHdr->dwShortWrites, 0);
    }
    for (uint32_t i = 0; i < SIM_COUNTED_FAULTS; i++) {
        if (ptHdr->adwFailIn[i] != 0) {
            Add(static_cast<TSimFaultKind>(SIM_FAULT_READ_FAIL + i), SIM_NO_BLOCK,
                ptHdr->adwFailIn[i], 0);
        }
    }
    if (ptHdr->ullPowerCutOp != 0) {
        Add(SIM_FAULT_POWERCUT, SIM_NO_BLOCK, ptHdr->ullPowerCutOp - ptHdr->ullOps, 0);
    }
    return iCount;
}

int Nand_IsDeviceFault(TSimFaultKind eKind) {
    return (BLOCK_FAULT_MASK & (1u << eKind)) == 0 ? 1 : 0;
}

const char *Nand_FaultName(TSimFaultKind eKind) {
    return eKind < SIM_FAULT_KIND_COUNT ? g_apszFaultNames[eKind] : "?";
}

int Nand_FaultByName(const char *pszName) {
    for (uint32_t k = 0; k < SIM_FAULT_KIND_COUNT; k++) {
        if (strcmp(pszName, g_apszFaultNames[k]) == 0) {
            return (int)k;
        }
    }
    return -1;
}
