// What the flash layer says, byte for byte: the scripts and the operators' logs match these
// texts, so they are contract, the misspellings included.
#ifndef NANDKEEP_FLASH_TEXTS_H
#define NANDKEEP_FLASH_TEXTS_H

#include <cinttypes>

// Notify messages.
constexpr const char *TXT_READ_FAIL = "read fail";
constexpr const char *TXT_LSEEK_FAIL = "lseek fail";
constexpr const char *TXT_WRITE_FAIL = "write fail";
constexpr const char *TXT_SET_BAD_FAIL = "set bad block fail";
constexpr const char *TXT_FUSION_FAIL = "FusionWrite fail";
constexpr const char *TXT_CLEAN_BOOT_FAIL = "clean boot fail";
constexpr const char *TXT_BOOT_SET_BAD_FAIL = "Boot set bad block fail";
constexpr const char *TXT_ECC_STATS = "ioctl(ECCGETSTATS)";
constexpr const char *TXT_NOT_MATCH = "Image is not match.";
constexpr const char *TXT_TOO_MANY_BAD = "Bad block is too much";
constexpr const char *TXT_FOPEN = "fopen()";
constexpr const char *TXT_FREAD = "fread()";
constexpr const char *TXT_MALLOC_FAIL = "malloc fail";
constexpr const char *TXT_NO_PARTITION = "no mtd partition in /proc/mtd";
constexpr const char *TXT_NODE_OPEN = "open(), please check mtd node device";
constexpr const char *TXT_PROC_MTD = "/proc/mtd";

// Plain prints of the read and write rules, and of the erase.
#define TXT_CALLS "iCnt = %d\n"
#define TXT_CALLS_LEFT "iCnt = %d, ulSize = %" PRIu64 ", iReturn = %d\n"
#define TXT_CALLS_RETURN "iCnt = %d, iReturn = %d\n"
constexpr const char *TXT_FOUND_BAD = "find a bad block";
constexpr const char *TXT_READ_OVERRUN = "SYSTEM ERROR! read() function!";
constexpr const char *TXT_WRITE_OVERRUN = "SYSTEM ERROR! write() function!";
#define TXT_MALLOC_FAILED "%s: malloc(%#x) failed\n"

// The range and geometry checks, and the ECC report (the misspelling is contract).
constexpr const char *TXT_ERASE_SIZE_UNSUPPORTED = "erase size not supported";
constexpr const char *TXT_RANGE_4G = "range runs past 4 GiB";
#define TXT_ECC_CURRENT "Current ECC corrected = %d, failed = %d, badblocks = %d, bbtblocks = %d\n"
#define TXT_ECC_BAD_SKIP "At 0x%" PRIX64 " offset is bad blcok!!(skip)\n"
#define TXT_ECC_AT "At 0x%" PRIX64 " offset ECC corrected = %d, failed = %d\n"

// System-log lines (LOG_ERR).
constexpr const char *TXT_READ_SLOW = "SYSTEM WARNING! read() System too slow!";
constexpr const char *TXT_WRITE_SLOW = "SYSTEM WARNING! write() System too slow!";
constexpr const char *TXT_COMPARE_FAIL_LOG = "NANDKEEP ERROR! Compare image fail!";
constexpr const char *TXT_LOST_CONNECTION = "Lost connection while upgrading firmware!";

// Lines of the verify comparison, for the verify result log.
#define TXT_VERIFY_CORRECTED "Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = %d\n"
#define TXT_VERIFY_FAILED "Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = %d\n"
#define TXT_VERIFY_OFFSET "Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x%lX\n"
#define TXT_VERIFY_MARKED "Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = 0x%lX\n"
#define TXT_VERIFY_DIFFERENT "The image is differnet, ulMTDOffset = 0x%.8lX\n"
#define TXT_VERIFY_MEMCMP "The image memcmp = %d\n"

#endif
