// What the front end and the maintenance commands say, byte for byte: contract texts, the
// misspellings included ("blcok").
#ifndef NANDKEEP_FRONTEND_TEXTS_H
#define NANDKEEP_FRONTEND_TEXTS_H

#include <cinttypes>

// The dispatcher.
constexpr const char *TXT_WAITING = "nandkeep: waiting for another nandkeep to finish\n";
constexpr const char *TXT_CANNOT_LOCK = "cannot lock the flash device";
#define TXT_WARN_OFFSET "input offset [%s] (base hex), but get [%" PRIX64 "]\n"
#define TXT_WARN_LENGTH "input length [%s] (base hex), but get [%" PRIX64 "]\n"
#define TXT_WARN_SIZE "input size [%s] (base hex), but get [%" PRIX64 "]\n"
#define TXT_WARN_CYCLE "input cycle [%s] (base hex), but get [%" PRIu64 "]\n"

// Refusals of the maintenance commands, before any request reaches the driver.
constexpr const char *TXT_FEW_PARTITIONS = "too few partitions for this command";
constexpr const char *TXT_UNALIGNED_OFFSET = "offset is not on an erase block boundary";
constexpr const char *TXT_PAST_DEVICE_END = "length runs past the device end";

// The maintenance commands.
constexpr const char *TXT_MT_FOPEN = "fopen()";
constexpr const char *TXT_MT_LSEEK = "lseek()";
constexpr const char *TXT_MT_READ = "read()";
constexpr const char *TXT_MT_FWRITE = "fwrite()";
constexpr const char *TXT_MT_ERASE_FAIL = "erase fail";
constexpr const char *TXT_MT_PROC_MTD = "/proc/mtd";
#define TXT_BAD_AT "Find a bad block at offset = 0x%" PRIx64 "\n"
#define TXT_ROOTFS_TABLE "g_iPartitionNum = %d, size = %" PRIx64 "\n"
constexpr const char *TXT_SCAN_FAIL = "Bad block scan fail";
#define TXT_PATTERN "Pattern is %x\n"
#define TXT_PATTERN_BAD "Offset 0x%" PRIx64 " Is bad block\n"

#endif
