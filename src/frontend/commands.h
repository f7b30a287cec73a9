// The command entries the dispatcher routes to, and the argument conversions they share.
//
// A command runs in two steps. Its preparation runs before the device is locked and does all that
// needs no flash: it converts and checks the arguments, answers with the usage text or a refusal,
// and reads the source files to their end. Its run holds the device lock. The result of the one
// that ends the command becomes the exit status after Nandkeep_Deinit.
#ifndef NANDKEEP_COMMANDS_H
#define NANDKEEP_COMMANDS_H

#include "image/source.h"

#include <cstdint>

constexpr int NANDKEEP_SOURCES_MAX = 5;

// One command line and what its preparation found (word 0 the tool's name, word 1 the command).
struct TCommand {
    int iArgc;
    char **ppArgv;
    uint64_t aulArg[2]; // numbers converted by the preparation
    int iFlag;          // a switch the preparation read
    int iParam;         // which of the kind, for an entry that serves several words
    TSource atSrc[NANDKEEP_SOURCES_MAX];
};

// A preparation's answer that the command goes on to its run under the device lock; any other
// answer is the command's result.
constexpr int NANDKEEP_RUN = 0x7FFFFFFF;

using TPrepareEntry = int (*)(TCommand *ptCmd);
using TCommandEntry = int (*)(TCommand *ptCmd);

// Hexadecimal conversion of a numeric word (strtoul base 16: leading blanks, optional 0x, stops
// at the first non-digit). No warning.
uint64_t Nandkeep_ParseHex(const char *pszWord);
// The same, but when the conversion did not reach the end of the word, prints pszWarnFormat
// with the word and the value obtained, and goes on with that value.
uint64_t Nandkeep_ParseHexWarned(const char *pszWord, const char *pszWarnFormat);

// Writes the usage text to standard error and the version banner to standard output.
void Nandkeep_PrintUsage(void);

// Entries, by the subsystem that owns them (src/frontend/usage.cpp: info).
int Cmd_Info(TCommand *ptCmd);

// Configuration record stores (src/image/configcmd.cpp). Every one of them needs records 3
// (flashfs2) and 4 (NFDI) of the partition table: with fewer than five records the command is
// refused with a notify and status 255 before the flash is read.
int Prepare_Store(TCommand *ptCmd);
// checktempconf, readtempconf (with a destination).
int Cmd_TempConf(TCommand *ptCmd);
int Prepare_WriteTempConf(TCommand *ptCmd);
int Cmd_WriteTempConf(TCommand *ptCmd);
// checktempdata, readtempdata (with a destination).
int Cmd_TempData(TCommand *ptCmd);
int Prepare_WriteTempData(TCommand *ptCmd);
int Cmd_WriteTempData(TCommand *ptCmd);
// checkNFDI, readNFDI (with a destination).
int Cmd_NFDI(TCommand *ptCmd);
int Prepare_WriteNFDI(TCommand *ptCmd);
int Cmd_WriteNFDI(TCommand *ptCmd);

// Default configuration (src/image/defconfcmd.cpp).
int Cmd_CheckDefConf(TCommand *ptCmd);
int Cmd_ReadDefConf(TCommand *ptCmd);
int Prepare_WriteDefConf(TCommand *ptCmd);
int Cmd_WriteDefConf(TCommand *ptCmd);

// Firmware upgrade and system recovery (src/upgrade/upgrade.cpp).
// systemRecovery with a FlashStatus other than 1 and 3 prints the usage, before any lock.
int Prepare_SystemRecovery(TCommand *ptCmd);
int Cmd_SystemRecovery(TCommand *ptCmd);
//
// write <Image-file> <Offset> <Len> [HTTP]: writes one file into [Offset, Offset + Len) of the
// whole device. Offset and Len are hexadecimal (warned when a word does not convert completely).
// Offset must be a multiple of the erase block and the range must end inside the device;
// otherwise the command is refused with a notify and status 255 before anything is erased, since
// an unaligned erase request fails in the driver and would cost a good block. Len need not be a
// multiple of the erase block: the file may be up to Len bytes long, but the erase covers whole
// blocks, so the rest of the last block behind Len is erased too.
int Prepare_Write(TCommand *ptCmd);
int Cmd_Write(TCommand *ptCmd);
// upgradeFW checks all five files (readable regular files, each no larger than its area can
// take) before the first erase; a file that fails prints its notify and the line of the step
// that would have used it, and the flash stays as it was.
int Prepare_UpgradeFW(TCommand *ptCmd);
int Cmd_UpgradeFW(TCommand *ptCmd);
// updateBoot (iParam 0), updateBst (1).
int Prepare_UpdateRegion(TCommand *ptCmd);
int Cmd_UpdateRegion(TCommand *ptCmd);
int Prepare_UpdateDTB(TCommand *ptCmd);
int Cmd_UpdateDTB(TCommand *ptCmd);

// Raw maintenance (frontend/maintenance.cpp, frontend/bbmanage.cpp).
// eraseAll (iParam 0: record 0), eraseflashfs1, eraseflashfs2 and eraseflashfs, eraseJFFS2
// (iParam 3, 2, 1: the record that many from the end).
int Cmd_ErasePartition(TCommand *ptCmd);
int Cmd_EraseRootfs(TCommand *ptCmd);
int Prepare_Erase(TCommand *ptCmd);
int Cmd_Erase(TCommand *ptCmd);
int Cmd_BadBlockReport(TCommand *ptCmd);
int Prepare_BadBlockRead(TCommand *ptCmd);
int Cmd_BadBlockRead(TCommand *ptCmd);
int Prepare_BadBlockErase(TCommand *ptCmd);
int Cmd_BadBlockErase(TCommand *ptCmd);
int Cmd_SetBadBlockToBBT(TCommand *ptCmd);
// The offset and the length of words 2 and 3, refused when the range runs past 4 GiB (eccStatus;
// erase and badBlockErase after their own checks).
int Prepare_Range(TCommand *ptCmd);
int Cmd_EccStatus(TCommand *ptCmd);
int Cmd_Flashfs2IsChange(TCommand *ptCmd);
// Runs until the process is stopped from outside; returns only when it refuses to start.
int Cmd_BadBlockManagement(TCommand *ptCmd);

// Factory tests (factorytest/factorycmd.cpp).
int Cmd_FlashVerify(TCommand *ptCmd);
int Prepare_LifeCycleTest(TCommand *ptCmd);
int Cmd_LifeCycleTest(TCommand *ptCmd);
// unstableBitsTestWrite (iParam 1), unstableBitsTestCheck (0).
int Cmd_UnstableBitsTest(TCommand *ptCmd);

#endif
