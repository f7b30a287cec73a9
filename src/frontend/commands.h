// The command entries the dispatcher routes to, and the argument conversions they share.
//
// Every entry takes the whole command line (word 0 the tool's name, word 1 the command) and
// returns the command's result, which becomes the exit status after Nandkeep_Deinit.
#ifndef NANDKEEP_COMMANDS_H
#define NANDKEEP_COMMANDS_H

using TCommandEntry = int (*)(int iArgc, char **ppArgv);

// Hexadecimal conversion of a numeric word (strtoul base 16: leading blanks, optional 0x, stops
// at the first non-digit). No warning.
unsigned long Nandkeep_ParseHex(const char *pszWord);
// The same, but when the conversion did not reach the end of the word, prints pszWarnFormat
// with the word and the value obtained, and goes on with that value.
unsigned long Nandkeep_ParseHexWarned(const char *pszWord, const char *pszWarnFormat);

// Warning formats of the warned arguments.
#define NANDKEEP_WARN_OFFSET "input offset [%s] (base hex), but get [%lX]\n"
#define NANDKEEP_WARN_LENGTH "input length [%s] (base hex), but get [%lX]\n"
#define NANDKEEP_WARN_SIZE "input size [%s] (base hex), but get [%lX]\n"
#define NANDKEEP_WARN_CYCLE "input cycle [%s] (base hex), but get [%lu]\n"

// Entries, by the subsystem that owns them.
int Cmd_Info(int iArgc, char **ppArgv);
int Cmd_SystemRecovery(int iArgc, char **ppArgv);

// Configuration record stores (src/image/configcmd.cpp). Every one of them needs records 3
// (flashfs2) and 4 (NFDI) of the partition table: with fewer than five records the command is
// refused with a notify and status 255 before the flash is read.
int Cmd_CheckTempConf(int iArgc, char **ppArgv);
int Cmd_ReadTempConf(int iArgc, char **ppArgv);
int Cmd_WriteTempConf(int iArgc, char **ppArgv);
int Cmd_CheckTempData(int iArgc, char **ppArgv);
int Cmd_ReadTempData(int iArgc, char **ppArgv);
int Cmd_WriteTempData(int iArgc, char **ppArgv);
int Cmd_CheckNFDI(int iArgc, char **ppArgv);
int Cmd_ReadNFDI(int iArgc, char **ppArgv);
int Cmd_WriteNFDI(int iArgc, char **ppArgv);

// Default configuration (src/image/defconfcmd.cpp).
int Cmd_CheckDefConf(int iArgc, char **ppArgv);
int Cmd_ReadDefConf(int iArgc, char **ppArgv);
int Cmd_WriteDefConf(int iArgc, char **ppArgv);

// Firmware upgrade (src/upgrade/upgrade.cpp).
//
// write <Image-file> <Offset> <Len> [HTTP]: writes one file into [Offset, Offset + Len) of the
// whole device. Offset and Len are hexadecimal (warned when a word does not convert completely).
// Offset must be a multiple of the erase block and the range must end inside the device;
// otherwise the command is refused with a notify and status 255 before anything is erased, since
// an unaligned erase request fails in the driver and would cost a good block. Len need not be a
// multiple of the erase block: the file may be up to Len bytes long, but the erase covers whole
// blocks, so the rest of the last block behind Len is erased too.
int Cmd_Write(int iArgc, char **ppArgv);
// upgradeFW checks all five files (readable regular files, each no larger than its area can
// take) before the first erase; a file that fails prints its notify and the line of the step
// that would have used it, and the flash stays as it was.
int Cmd_UpgradeFW(int iArgc, char **ppArgv);
int Cmd_UpdateBoot(int iArgc, char **ppArgv);
int Cmd_UpdateBst(int iArgc, char **ppArgv);
int Cmd_UpdateDTB(int iArgc, char **ppArgv);

// Raw maintenance (frontend/maintenance.cpp, frontend/bbmanage.cpp).
int Cmd_EraseAll(int iArgc, char **ppArgv);
int Cmd_EraseFlashfs1(int iArgc, char **ppArgv);
int Cmd_EraseFlashfs2(int iArgc, char **ppArgv);
int Cmd_EraseJFFS2(int iArgc, char **ppArgv);
int Cmd_EraseRootfs(int iArgc, char **ppArgv);
int Cmd_Erase(int iArgc, char **ppArgv);
int Cmd_BadBlockReport(int iArgc, char **ppArgv);
int Cmd_BadBlockRead(int iArgc, char **ppArgv);
int Cmd_BadBlockErase(int iArgc, char **ppArgv);
int Cmd_SetBadBlockToBBT(int iArgc, char **ppArgv);
int Cmd_EccStatus(int iArgc, char **ppArgv);
int Cmd_Flashfs2IsChange(int iArgc, char **ppArgv);
// Runs until the process is stopped from outside; returns only when it refuses to start.
int Cmd_BadBlockManagement(int iArgc, char **ppArgv);

// Factory tests (factorytest/).
int Cmd_FlashVerify(int iArgc, char **ppArgv);
int Cmd_LifeCycleTest(int iArgc, char **ppArgv);
int Cmd_UnstableBitsTestWrite(int iArgc, char **ppArgv);
int Cmd_UnstableBitsTestCheck(int iArgc, char **ppArgv);

#endif
