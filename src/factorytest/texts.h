// What the factory tests print and log, byte for byte: contract texts (the factory station
// parses them).
#ifndef NANDKEEP_FACTORYTEST_TEXTS_H
#define NANDKEEP_FACTORYTEST_TEXTS_H

#include <cinttypes>

// Verify result log entries: one integer conversion each (offsets passed as their low 32 bits).
#define TXT_LOG_NEW_BAD "Find a ## New ## bad block at offset = 0x%lx\n"
#define TXT_LOG_CENSUS_BAD "Find a bad block at offset=0x%lx\n"
#define TXT_LOG_TOO_MANY_BAD "FAIL: more than %d bad blocks, test stopped\n"
#define TXT_LOG_TOTAL_RULE "FAIL: Total Bad block Num ## %lu ## > 2%%\n"
#define TXT_LOG_NEW_BAD_COUNT "FAIL: Find ## %d ## new bad block\n"
#define TXT_LOG_DIFF_COUNT "FAIL: Find ## %d ## diff block\n"
#define TXT_LOG_FAIL "\n\n\nTest Fail. Error Cnt = %d\n"
#define TXT_LOG_PASS "\n\n\nTest Pass.\n"
#define TXT_LOG_FIRST_DIFF                                                                         \
    "First image check Find diff sector and set bad block at address = 0x%lx\n"
#define TXT_LOG_OTHER_DIFF "CheckOtherSector Find diff sector at address = 0x%lx\n"
#define TXT_LOG_SUB_CASE "Sub pattern case %d, "
#define TXT_LOG_SUB_DIFF "Find diff sector and set bad block at address = 0x%lx\n"
#define TXT_LOG_ERASE_ALL "Erase all 1000 times Num. %d\n"
#define TXT_LOG_DIFF "Find diff sector at address = 0x%lx\n"
constexpr const char *TXT_LOG_FOPEN = "fopen()";
constexpr const char *TXT_LOG_FWRITE = "fwrite()";

// Printed only.
#define TXT_PROGRESS "Testing progress %d / 100 ...\n"
#define TXT_UB_BAD "Find a bad block at offset=0x%" PRIx64 "\n"
#define TXT_UB_BAD_COUNT "Find ## %" PRIu64 " ## bad block\n"
#define TXT_UB_DIFF "Find diff sector at address = 0x%" PRIx64 "\n"
#define TXT_UB_VERDICT "%s unstable bits pattern: %s %s\n"
constexpr const char *TXT_UB_ERASE_ALL = "erase all";
constexpr const char *TXT_UB_WRITE = "write image to flash";
constexpr const char *TXT_UB_CHECK = "check flash image";

#endif
