// What the image and record layer says, byte for byte: contract texts, misspellings included.
#ifndef NANDKEEP_IMAGE_TEXTS_H
#define NANDKEEP_IMAGE_TEXTS_H

// The image check.
constexpr const char *TXT_NO_GOOD_BLOCK = "flash driver fail";
constexpr const char *TXT_BAD_MAGIC = "check Magic Num fail";
constexpr const char *TXT_BAD_HEADER_CRC = "Header CRC check fail";
constexpr const char *TXT_DTB_CRC = "DTB CRC check error";
#define TXT_DTB_CRC_VALUES "DTB Data CRC check error 0x%X / 0x%X \n"
constexpr const char *TXT_IMAGE_CRC = "Kernel/Rootfs CRC check error";
#define TXT_IMAGE_CRC_VALUES "Data CRC check error 0x%X / 0x%X \n"

// Source files.
constexpr const char *TXT_SRC_FOPEN = "fopen()";
constexpr const char *TXT_SRC_FSTAT = "fstat()";
constexpr const char *TXT_SRC_NOT_REGULAR = "not a regular file";
constexpr const char *TXT_SRC_TOO_LARGE = "size too large";
constexpr const char *TXT_SRC_FREAD = "fread()";
constexpr const char *TXT_SRC_MISMATCH = "source size does not match its contents";
constexpr const char *TXT_SRC_FSEEK = "fseek()";
constexpr const char *TXT_SRC_CHANGED = "source changed while it was written";

// Records.
constexpr const char *TXT_REC_ERASE_FAIL = "erase fail";
constexpr const char *TXT_REC_WRITE_FAIL = "write fail";
constexpr const char *TXT_REC_NO_SPACE = "write fail: Not enought flash space";
constexpr const char *TXT_REC_SIZE_CHECK = "size check fail";
constexpr const char *TXT_REC_FWRITE = "fwrite()";
constexpr const char *TXT_REC_CRC = "CRC check error";
#define TXT_REC_CRC_VALUES "CRC check error 0x%X / 0x%X \n"
constexpr const char *TXT_DEST_IS_FLASH = "destination is the flash device itself";
constexpr const char *TXT_FEW_RECORDS = "mtd partition table has fewer than 5 records";
constexpr const char *TXT_ERASE_SIZE_0 = "mtd partition with erase size 0";
constexpr const char *TXT_NFDI_MISMATCH =
    "NFDI partition does not match the flashfs2 partition, nothing written";

// Default configuration.
#define TXT_DEFCONF_OFFSET_FAIL "get Default Value %d offset fail\n"
#define TXT_DEFCONF_CHECK_FAIL "check Default Value %d fail\n"
#define TXT_DEFCONF_UPDATE_FAIL "update Default Value %d fail\n"
#define TXT_DEFCONF_READ "read Default Value %d\n"
constexpr const char *TXT_DEFCONF_RECOVER_FAIL = "recover image fail";
constexpr const char *TXT_DEFCONF_RECOVERY_FAIL = "recovery Default Value fail";

#endif
