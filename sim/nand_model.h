// The simulated NAND chip: geometry, NAND semantics, injected faults and counters.
//
// The model owns no memory. It works on a state record (header and one record per erase block,
// laid out as below) and on the cell array, both handed in by the caller: the store maps them
// from files so that every process sees the same chip, tests may hand in plain memory.
//
// The cell array holds the complement of every byte. NAND erases to all ones, so a zero-filled
// (sparse) file is a fully erased chip. Programming can only clear bits: new = old AND data,
// which on the complement is an OR. Erasing zero-fills only blocks that were written since
// their last erase, so cells nobody wrote stay holes in the file; written ones keep their disk
// space, which makes the next program of the block cheap.
//
// Offsets here are byte offsets on the whole chip; partitions are the platform layer's business.
// What the model keeps per device node (the ECC counters and the marks made through a node) is
// an array indexed by node number: which node a request came through is the caller's to say.
#ifndef NANDKEEP_SIM_NAND_MODEL_H
#define NANDKEEP_SIM_NAND_MODEL_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t SIM_PAGE_SIZE = 0x800;
// The driver programs sub-pages: a write starts and ends on this boundary.
constexpr uint32_t SIM_SUBPAGE_SIZE = 0x200;
constexpr uint32_t SIM_BLOCK_SIZE = 0x20000;
constexpr uint32_t SIM_PAGES_PER_BLOCK = SIM_BLOCK_SIZE / SIM_PAGE_SIZE;
constexpr unsigned char SIM_ERASED_BYTE = 0xFF;
// MEMERASE carries 32-bit fields: no simulated chip reaches 4 GiB.
constexpr uint64_t SIM_DEVICE_MAX = 0x100000000ull - SIM_BLOCK_SIZE;
constexpr uint32_t SIM_NO_BLOCK = 0xFFFFFFFFu;

constexpr char SIM_STATE_MAGIC[8] = {'N', 'K', 'S', 'I', 'M', 'S', 'T', '\0'};
constexpr uint32_t SIM_STATE_VERSION = 5;
// Device nodes that keep their own counters: one per partition of the table.
constexpr uint32_t SIM_NODES_MAX = 32;

// Injectable faults. The first eight, decay, flip and the three weak or grave kinds hit one block,
// the others the whole device.
enum TSimFaultKind : uint32_t {
    SIM_FAULT_BAD = 0,       // factory bad: marked bad in the bad-block table
    SIM_FAULT_ERASE_FAIL,    // every erase fails
    SIM_FAULT_WEAR_OUT,      // erases fail once N more have succeeded
    SIM_FAULT_PROGRAM_FAIL,  // every program fails
    SIM_FAULT_PROGRAM_LOST,  // programs report success and store nothing
    SIM_FAULT_STUCK_BITS,    // N bits of the affected page read back 1 whatever was programmed
    SIM_FAULT_BITFLIP,       // a read of the affected page corrects N bits: data right
    SIM_FAULT_UNCORRECTABLE, // a read of the affected page fails ECC: data wrong
    SIM_FAULT_SHORT_READ,    // the next N read calls return about half of what was asked
    SIM_FAULT_SHORT_WRITE,   // the next N write calls return about half of what was asked
    SIM_FAULT_POWERCUT,      // the N-th erase or program from now loses power half way
    SIM_FAULT_DECAY,         // the affected page has decayed: reads fail ECC as uncorrectable
                             // until the block is erased, which renews it
    SIM_FAULT_FLIP,          // bits cleared in stored bytes behind the ECC's back (Nand_Flip):
                             // corrected per ECC step up to the strength, else uncorrectable,
                             // until the block is erased
    SIM_FAULT_WEAK_PAGE,     // programs of one page fail once N more have succeeded; the page and
                             // those before it in the same request are programmed (nandsim's weak
                             // pages)
    SIM_FAULT_WEAK_BLOCK,    // erases fail once N more have succeeded, after erasing the cells
                             // all the same (nandsim's weak blocks)
    SIM_FAULT_GRAVE_PAGE,    // reads of one page holding programmed data fail once N more have
                             // worked: random bytes, every ECC step failed (nandsim's grave pages)
    SIM_FAULT_READ_FAIL,     // the N-th read call from now fails outright (EIO)
    SIM_FAULT_LOG_FAIL,      // the N-th message to the verify result log from now cannot be written
    SIM_FAULT_ECC_FAIL,      // the N-th request for the ECC counters from now fails (EIO)
    SIM_FAULT_KIND_COUNT
};
// The counted-failure faults are the last kinds, from SIM_FAULT_READ_FAIL on.
constexpr uint32_t SIM_COUNTED_FAULTS = SIM_FAULT_KIND_COUNT - SIM_FAULT_READ_FAIL;

// The counters one device node keeps, like the kernel's per-partition ecc_stats: a read moves
// the counters of the node it was made through, a bad-block mark those of the node it was made
// through.
struct TSimNodeCounters {
    uint32_t dwCorrected; // bits corrected so far
    uint32_t dwFailed;    // uncorrectable reads so far
    uint32_t dwMarks;     // successful MEMSETBADBLOCK requests, already bad blocks included
    uint32_t dwReserved;
};
static_assert(sizeof(TSimNodeCounters) == 16, "node counters layout");

// The state record's header. Native byte order: the state never leaves the machine.
struct TSimStateHeader {
    char acMagic[8];
    uint32_t dwVersion;
    uint32_t dwHeaderSize;
    uint64_t ullDeviceSize;
    uint32_t dwPageSize;
    uint32_t dwBlockSize;
    uint32_t dwBlockCount;
    uint32_t dwBBTBlocks; // reported as ECCGETSTATS' bbtblocks
    uint64_t ullSeed;     // every pseudo-random choice derives from it
    // Device-wide faults still pending.
    uint32_t dwShortReads;
    uint32_t dwShortWrites;
    uint64_t ullPowerCutOp; // the operation number that loses power; 0 none
    // Operation counts. One erase of one block, or the program of the pages one write request
    // puts into one block, is one operation, whether it succeeds or fails.
    uint64_t ullOps;
    uint64_t ullErases;
    uint64_t ullPrograms;
    uint64_t ullNonErasedPrograms; // page programs that hit bytes not erased since programmed
    // The ECC the driver computes: bytes per step and bits one step corrects (0: 256 and 1,
    // the 1-bit Hamming code).
    uint16_t wEccStep;
    uint16_t wEccStrength;
    // 1 when every partition is a child of node 0, the registered whole device: node 0 then
    // counts the reads and marks made through the others too. 0 when they are its siblings under
    // a master that is not a node (nandsim with the partitions laid over it).
    uint8_t ucNested;
    uint8_t aucPad[3];
    // Per counted-failure fault (read-fail, log-fail, ecc-fail, in that order): the calls left
    // until the one that fails; 0 none.
    uint32_t adwFailIn[SIM_COUNTED_FAULTS];
    unsigned char aucReserved[12];
    TSimNodeCounters atNodes[SIM_NODES_MAX];
};
static_assert(sizeof(TSimStateHeader) == 128 + 16 * SIM_NODES_MAX, "state header layout");

// How a block came to be bad. A block bad from the start (a factory-bad fault, or a mark set
// from outside the driver) counts in the badblocks of every node whose range holds it, as the
// kernel counts bad blocks when it creates a partition; a mark made through a node counts only
// in that node's dwMarks.
enum TSimBadKind : uint8_t {
    SIM_BAD_NONE = 0,
    SIM_BAD_FACTORY = 1,
    SIM_BAD_MARKED = 2,
};

struct TSimBlockState {
    uint32_t dwFaults;      // bit (1 << kind) per block fault
    uint32_t dwEraseCount;  // successful erases
    uint32_t dwWearLimit;   // with SIM_FAULT_WEAR_OUT: erases fail once dwEraseCount reaches it
    uint32_t dwBitflips;    // corrections per read of the affected page
    uint32_t dwStuckBits;   // stuck bits in the affected page
    uint16_t wFaultPage;    // page of the block that read faults and stuck bits hit
    uint8_t bBad;           // TSimBadKind: marked bad, and how
    uint8_t bWritten;       // cells written since the last complete erase
    uint64_t ullFlip;       // with SIM_FAULT_FLIP: where and which bits, see SIM_FLIP_*
    uint32_t dwWeakWrites;  // with SIM_FAULT_WEAK_PAGE: programs of the weak page that still work
    uint16_t wWeakPage;     // with SIM_FAULT_WEAK_PAGE: the page whose programs fail
    uint16_t wGravePage;    // with SIM_FAULT_GRAVE_PAGE: the page whose reads fail
    uint64_t ullProgrammed; // bit per page: programmed since the block's last erase
    uint32_t dwGraveReads;  // with SIM_FAULT_GRAVE_PAGE: reads of the grave page that still work
    uint32_t dwReserved;
};
static_assert(sizeof(TSimBlockState) == 56, "block record layout");
static_assert(SIM_PAGES_PER_BLOCK <= 64, "one programmed bit per page");

// ullFlip: bits 0-16 the first flipped byte's offset in the block, bits 17-20 how many bytes
// follow on from it, then 3 bits per byte: which bit was cleared (the lowest one set).
constexpr uint32_t SIM_FLIP_MAX = 14;
constexpr uint32_t SIM_ECC_STEP_DEFAULT = 256;
constexpr uint32_t SIM_ECC_STRENGTH_DEFAULT = 1;

// Told of every erase ('E') or program ('P') operation as it is counted, before its outcome
// (so the operation that loses power is told too).
typedef void (*TNandOpHook)(char cKind, uint32_t dwBlock);

// One chip: the state record and the cell array.
struct TNand {
    TSimStateHeader *ptHdr;
    TSimBlockState *ptBlocks;
    unsigned char *pucCells; // complement of the chip's bytes; may be null until first needed
    TNandOpHook pfnOnOp;     // may be null
};

// Results of the operations that touch cells.
constexpr int NAND_OK = 0;
constexpr int NAND_FAILED = -1;    // the chip reported a failure (EIO)
constexpr int NAND_POWER_LOST = 1; // the power cut came: the block is left half done

// One injected fault as listed.
struct TSimFault {
    TSimFaultKind eKind;
    uint32_t dwBlock; // SIM_NO_BLOCK for device-wide kinds
    uint64_t ullN;    // count, limit or operations from now (0 where the kind takes none)
    uint32_t dwPage;  // affected page for stuck bits and read faults
};

// Size of the state record for a chip of so many blocks.
size_t Nand_StateSize(uint32_t dwBlockCount);
// Fills a state record of Nand_StateSize bytes for a fresh chip: no faults, nothing bad, all
// counters 0.
void Nand_Format(void *pState, uint64_t ullDeviceSize, uint32_t dwBBTBlocks, uint64_t ullSeed);
// Checks a state record of ulLen bytes and points ptNand at it. 0, or -1 when the record is not
// a state record of this version or does not fit its own geometry.
[[nodiscard]] int Nand_Attach(TNand *ptNand, void *pState, size_t ulLen);

// Reads like the chip behind the ECC engine: the bytes as programmed, the read faults of the
// covered pages applied to the data delivered and to the counters of ptNode (the node the read
// came through). Never fails.
void Nand_Read(TNand *ptNand, uint64_t ullOffset, void *pBuf, size_t ulLen,
               TSimNodeCounters *ptNode);
// Programs [ullOffset, +ulLen) (sub-page aligned, inside the chip): new = old AND data, bad
// blocks included. NAND_OK, NAND_FAILED at the first block whose program fails (blocks before it
// are programmed), or NAND_POWER_LOST.
[[nodiscard]] int Nand_Program(TNand *ptNand, uint64_t ullOffset, const void *pBuf, size_t ulLen);
// Erases one block to all ones. NAND_FAILED when the block is marked bad (nothing counted) or
// its erase fails; NAND_POWER_LOST.
[[nodiscard]] int Nand_Erase(TNand *ptNand, uint32_t dwBlock);
// The length a read or write call actually moves while a short-transfer fault is pending
// (which it consumes); ulLen otherwise. Writes stay whole sub-pages.
size_t Nand_ClipRead(TNand *ptNand, size_t ulLen);
// Counts one call of the kind a counted-failure fault (SIM_FAULT_READ_FAIL, SIM_FAULT_LOG_FAIL or
// SIM_FAULT_ECC_FAIL) watches: 1 when it is the one the fault fails, else 0.
int Nand_CallFails(TNand *ptNand, TSimFaultKind eKind);
size_t Nand_ClipWrite(TNand *ptNand, size_t ulLen);

// Clears the lowest set bit of each of dwCount bytes from ullOffset on (one page, at most
// SIM_FLIP_MAX bytes) in the stored data, the ECC left as it was: every read of the page then
// corrects the cleared bits of each ECC step that holds no more than the ECC strength and fails
// the others, until the block is erased. No operation counted. 0; -1 for a range that is not
// inside one page, a byte without a set bit, or a block that holds flipped bits already.
[[nodiscard]] int Nand_Flip(TNand *ptNand, uint64_t ullOffset, uint32_t dwCount);

// Raw access: the bytes as they are, no faults, nothing counted.
void Nand_ReadRaw(const TNand *ptNand, uint64_t ullOffset, void *pBuf, size_t ulLen);
void Nand_WriteRaw(TNand *ptNand, uint64_t ullOffset, const void *pBuf, size_t ulLen);

// The bad-block table.
int Nand_IsBad(const TNand *ptNand, uint32_t dwBlock);
// Marks a block bad from outside the driver, as if it had been bad from the start; a bad block
// stays as it is.
void Nand_MarkBad(TNand *ptNand, uint32_t dwBlock);
// MEMSETBADBLOCK through a node: a good block is erased first (one erase operation, whose
// failure is ignored), then marked; the node's dwMarks rises by 1 even for a block already
// bad. NAND_OK, or NAND_POWER_LOST when the erase lost power (nothing marked, nothing counted).
[[nodiscard]] int Nand_MarkBadThrough(TNand *ptNand, uint32_t dwBlock, TSimNodeCounters *ptNode);
void Nand_UnmarkBad(TNand *ptNand, uint32_t dwBlock);
// Blocks of [dwFirst, dwFirst + dwCount) that are bad from the start (SIM_BAD_FACTORY).
uint32_t Nand_FactoryBadIn(const TNand *ptNand, uint32_t dwFirst, uint32_t dwCount);

// Injects a fault. Block kinds take the block, device kinds ignore it. ullN: wear-out and
// weak-block (erases that still succeed), weak-page (programs) and grave-page (reads of the page
// while programmed that still work), stuck-bits and bitflip (bits, at least 1), short-read,
// short-write and powercut (calls or operations from now, at least 1); dwPage: affected page for
// stuck bits and read faults. 0, or -1 when an argument is out of range.
[[nodiscard]] int Nand_AddFault(TNand *ptNand, TSimFaultKind eKind, uint32_t dwBlock, uint64_t ullN,
                                uint32_t dwPage);
// Removes every fault of one block (SIM_NO_BLOCK: of every block and the device). Clearing a
// factory-bad fault unmarks the block; bad marks made through the chip stay.
void Nand_ClearFaults(TNand *ptNand, uint32_t dwBlock);
// Lists the faults into ptFaults (at most iMax); returns how many there are.
int Nand_ListFaults(const TNand *ptNand, TSimFault *ptFaults, int iMax);

int Nand_IsDeviceFault(TSimFaultKind eKind);
const char *Nand_FaultName(TSimFaultKind eKind);
// The kind with this name; -1 when there is none.
int Nand_FaultByName(const char *pszName);

#endif
