// The simulated device's state directory, and the API tests use to set up and inspect it.
//
// Every command is a separate process, so the whole device lives in one directory (the
// environment variable NANDKEEP_SIM_DIR, default /tmp/nandkeep-sim):
//   flash.bin      the cells (sparse, mapped shared), see nand_model.h
//   state.bin      header, counters and one record per erase block (mapped shared): bad-block
//                  table, erase counts, faults. A process killed at any point loses nothing.
//   partitions     the partition table, "name offset size" per line, hexadecimal
//   proc_mtd       the kernel's partition list for that table (tests may edit it)
//   syslog         one line per message sent to the system log
//   flashstatus    the device parameter flashstatus
//   bin/           ovenctl and cfgvault, the device programs the upgrade runs through the shell
//   ramdisk/       the RAM disk (verify result log)
//
// sim_store.cpp keeps what every simulated run needs (opening, mapping, the chip); sim_tools.cpp
// what only the control tool and tests use (creating, images, listings), so that the tool on the
// simulator starts without the C++ runtime library.
#ifndef NANDKEEP_SIM_STORE_H
#define NANDKEEP_SIM_STORE_H

#include "platform/platform.h"
#include "sim/nand_model.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

constexpr const char *SIM_DIR_ENV = "NANDKEEP_SIM_DIR";
constexpr const char *SIM_DEFAULT_DIR = "/tmp/nandkeep-sim";
// Names a file that gets one line per erase ("E <block>") or program ("P <block>") the platform
// layer makes, appended as it happens.
constexpr const char *SIM_TRACE_ENV = "NANDKEEP_SIM_TRACE";
constexpr int SIM_PARTITIONS_MAX = (int)SIM_NODES_MAX;
constexpr size_t SIM_NAME_MAX = 63;
constexpr uint64_t SIM_SIZE_128 = 0x8000000;
constexpr uint64_t SIM_SIZE_256 = 0x10000000;

struct TSimPartition {
    char szName[SIM_NAME_MAX + 1];
    uint64_t ullOffset;
    uint64_t ullSize;
};

// What to create. Sim_ProfileSpec and Sim_CustomSpec give the usual ones.
struct TSimSpec {
    int iProfileMiB;              // 128 or 256: that profile's size and table; 0: custom
    uint64_t ullSize;             // custom: device size, a multiple of SIM_BLOCK_SIZE
    uint32_t dwBBTBlocks;         // custom: what ECCGETSTATS reports as bbtblocks (nandsim: 0)
    const TSimPartition *ptParts; // partition table; null: the profile's, or one whole-device
    int iPartCount;               // partition for a custom size
    uint64_t ullSeed;
    bool bNested; // the partitions are children of node 0 (see TSimStateHeader::ucNested)
};

// An open device. Plain record; Sim_Open fills it, Sim_Close releases it.
struct TSimDevice {
    char szDir[PATH_MAX];
    TNand tNand;
    void *pState;
    size_t ulStateLen;
    int iFlashFd;
    TSimPartition atParts[SIM_PARTITIONS_MAX];
    int iPartCount;
};

struct TSimOpCounts {
    uint64_t ullOps; // erases and programs, failed ones included
    uint64_t ullErases;
    uint64_t ullPrograms; // one per block a write request programs into
    uint64_t ullNonErasedPrograms;
};

// Every function that can fail returns -1 and leaves a message here (and errno).
const char *Sim_LastError(void);
// Records a failure: sets errno and the message. Returns -1.
int Sim_Fail(int iErrno, const char *pszFormat, ...) __attribute__((format(printf, 2, 3)));

// --- Tables ---------------------------------------------------------------------------------
// The compiled-in default table of a profile (128 or 256); null for any other.
const TSimPartition *Sim_DefaultTable(int iProfileMiB, int *piCount);
// Parses "name offset size" lines (hexadecimal, '#' comments and blank lines skipped).
// 0, or -1 for a malformed line or too many partitions.
[[nodiscard]] int Sim_ParseTable(const char *pszText, TSimPartition *ptParts, int *piCount);
[[nodiscard]] int Sim_ReadTableFile(const char *pszPath, TSimPartition *ptParts, int *piCount);
// Every partition block-aligned, not empty, inside the device; names without blanks or quotes.
[[nodiscard]] int Sim_CheckTable(const TSimPartition *ptParts, int iCount, uint64_t ullDevSize);
// The kernel's "/proc/mtd" text for a table.
std::string Sim_ProcMtdText(const TSimPartition *ptParts, int iCount);

// --- Creating and opening -------------------------------------------------------------------
TSimSpec Sim_ProfileSpec(int iProfileMiB);
TSimSpec Sim_CustomSpec(uint32_t dwBlocks);
// Creates (or replaces) a device in pszDir, making the directory as needed: erased flash,
// nothing bad, no faults, counters 0, empty system log, flashstatus "0". 0 or -1.
[[nodiscard]] int Sim_Create(const char *pszDir, const TSimSpec &tSpec);
[[nodiscard]] int Sim_Open(TSimDevice *ptDev, const char *pszDir);
void Sim_Close(TSimDevice *ptDev);
// Maps the cells if they are not yet (opening maps only the state). 0 or -1.
[[nodiscard]] int Sim_MapCells(TSimDevice *ptDev);

uint64_t Sim_DeviceSize(const TSimDevice *ptDev);
uint32_t Sim_BlockCount(const TSimDevice *ptDev);
// 0 when [ullOffset, ullOffset + ullLen) lies on the device / the block exists, else -1/EINVAL.
[[nodiscard]] int Sim_CheckRange(const TSimDevice *ptDev, uint64_t ullOffset, uint64_t ullLen);
[[nodiscard]] int Sim_CheckBlock(const TSimDevice *ptDev, uint32_t dwBlock);

// --- The chip through the model (whole-device offsets) ---------------------------------------
// As the driver sees it: faults apply, operations and ECC events are counted (ECC events on
// node 0's counters). Range errors, and programs off the sub-page grid, give -1/EINVAL;
// otherwise the NAND_* result of the model.
[[nodiscard]] int Sim_Read(TSimDevice *ptDev, uint64_t ullOffset, void *pBuf, size_t ulLen);
[[nodiscard]] int Sim_Program(TSimDevice *ptDev, uint64_t ullOffset, const void *pBuf,
                              size_t ulLen);
[[nodiscard]] int Sim_Erase(TSimDevice *ptDev, uint32_t dwBlock);
// Raw bytes: no faults, nothing counted. 0 or -1.
[[nodiscard]] int Sim_ReadRaw(TSimDevice *ptDev, uint64_t ullOffset, void *pBuf, size_t ulLen);
[[nodiscard]] int Sim_WriteRaw(TSimDevice *ptDev, uint64_t ullOffset, const void *pBuf,
                               size_t ulLen);
// Nand_Flip on the device: bits cleared behind the ECC's back. 0, or -1 with the reason.
[[nodiscard]] int Sim_Flip(TSimDevice *ptDev, uint64_t ullOffset, uint32_t dwCount);
// Raw image file in or out at an offset (ullLen 0 on save: up to the device end). 0 or -1; a
// load source that holds more than fits from the offset to the device end is refused.
[[nodiscard]] int Sim_LoadImage(TSimDevice *ptDev, const char *pszFile, uint64_t ullOffset);
[[nodiscard]] int Sim_SaveImage(TSimDevice *ptDev, const char *pszFile, uint64_t ullOffset,
                                uint64_t ullLen);

// --- Faults, bad blocks, counters -----------------------------------------------------------
[[nodiscard]] int Sim_AddFault(TSimDevice *ptDev, TSimFaultKind eKind, uint32_t dwBlock,
                               uint64_t ullN = 0, uint32_t dwPage = 0);
std::vector<TSimFault> Sim_ListFaults(const TSimDevice *ptDev);
void Sim_ClearFaults(TSimDevice *ptDev, uint32_t dwBlock = SIM_NO_BLOCK);

std::vector<uint32_t> Sim_BadBlocks(const TSimDevice *ptDev);
int Sim_IsBad(const TSimDevice *ptDev, uint32_t dwBlock); // 1, 0, or -1 past the end
// Marks from outside the driver: the block counts as bad from the start (in the badblocks of
// every node whose range holds it); no erase, nothing counted.
[[nodiscard]] int Sim_MarkBad(TSimDevice *ptDev, uint32_t dwBlock);
[[nodiscard]] int Sim_UnmarkBad(TSimDevice *ptDev, uint32_t dwBlock);
uint32_t Sim_EraseCount(const TSimDevice *ptDev, uint32_t dwBlock);
// ECCGETSTATS as node iNode (partition iNode of the table) answers it, as the kernel counts
// along the parent chain: on a nested device node 0 adds the reads and marks of every other node.
// Otherwise: its own corrected and
// failed counts, badblocks = the bad-from-the-start blocks in its range plus the marks made
// through it, bbtblocks as created. All zero for a node the table does not have.
TEccStats Sim_EccStatsOf(const TSimDevice *ptDev, int iNode);
// The whole-device node's (mtd0's) counters.
TEccStats Sim_EccStats(const TSimDevice *ptDev);
TSimOpCounts Sim_OpCounts(const TSimDevice *ptDev);

// --- The other files of the directory -------------------------------------------------------
// The most that is read of the system log and of flashstatus: a file that holds more, or one
// without end, is refused rather than read into memory.
constexpr uint64_t SIM_SYSLOG_MAX = 16u << 20;
constexpr uint64_t SIM_FLASHSTATUS_MAX = 4096;
// The system log's text ("" when the file is missing). 0, or -1 when it cannot be read or holds
// more than SIM_SYSLOG_MAX bytes.
[[nodiscard]] int Sim_ReadSyslog(const char *pszDir, std::string *pstrText);
// Its lines; none when it cannot be read.
std::vector<std::string> Sim_SyslogLines(const char *pszDir);
// flashstatus without its line end ("" when the file is missing). 0, or -1 when it cannot be
// read or holds more than SIM_FLASHSTATUS_MAX bytes.
[[nodiscard]] int Sim_ReadFlashStatus(const char *pszDir, std::string *pstrValue);
// The same, "" when it cannot be read.
std::string Sim_FlashStatus(const char *pszDir);
[[nodiscard]] int Sim_SetFlashStatus(const char *pszDir, const char *pszValue);

// --- The platform layer's device (sim_platform.cpp) ------------------------------------------
// The directory the platform works in: the one set here, else NANDKEEP_SIM_DIR, else the
// default. Sim_SetDir(nullptr) goes back to the environment.
void Sim_SetDir(const char *pszDir);
const char *Sim_Dir(void);
// Forgets the platform's open device and descriptors; the next open maps the directory anew.
// Opening a node also notices by itself when the directory or its device was replaced.
void Sim_ResetPlatform(void);
// The device nodes the platform layer has open (an in-process test checks that none is left).
int Sim_OpenNodes(void);
// Calls pfnObserver (nullptr: nobody) for every erase and program the platform layer makes, as
// it is counted, so that an in-process test can act at an exact moment of a command.
void Sim_SetOperationObserver(TNandOpHook pfnObserver);

#endif
