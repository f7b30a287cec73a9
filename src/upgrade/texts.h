// What the writer, the upgrade commands and the recovery say, byte for byte: contract texts,
// misspellings included.
#ifndef NANDKEEP_UPGRADE_TEXTS_H
#define NANDKEEP_UPGRADE_TEXTS_H

// The image writer.
constexpr const char *TXT_WR_TOO_LARGE = "size too large";
constexpr const char *TXT_WR_COMPARE_FAIL = "Compare image and flash fail";
constexpr const char *TXT_WR_ERASE_FAIL = "erase sector fail";
constexpr const char *TXT_WR_FSEEK = "fseek()";
constexpr const char *TXT_WR_FREAD = "fread()";
constexpr const char *TXT_WR_NO_SPACE = "write fail: Not enought flash space";

// The upgrade commands: step lines, and the refusals of write.
constexpr const char *TXT_UP_BOOT_FAIL = "update Boot fail";
constexpr const char *TXT_UP_ROOTFS1_FAIL = "update Rootfs 1 fail";
constexpr const char *TXT_UP_ROOTFS0_FAIL = "update Rootfs 0 fail";
constexpr const char *TXT_UP_DEFCONF1_FAIL = "update Default Value 1 fail";
constexpr const char *TXT_UP_KERNEL1_FAIL = "update Kernel 1 fail";
constexpr const char *TXT_UP_KERNEL0_FAIL = "update Kernel 0 fail";
constexpr const char *TXT_UP_DTB1_FAIL = "update DTB 1 fail";
#define TXT_UP_DTB_FAIL "update DTB %d fail\n"
#define TXT_UP_DTB_OFFSET_FAIL "get DTB %d offset fail\n"
constexpr const char *TXT_UP_UNALIGNED = "offset is not a multiple of the erase block";
// Step 9 of upgradeFW: from here on the backup copies are complete and the normal copies are
// being rewritten; system recovery reads flashstatus 1 as "repair the normal copies first".
constexpr const char *TXT_FLASHSTATUS_COMMAND = "ovenctl engage && cfgvault set flashstatus 1";

// System recovery.
constexpr const char *TXT_RC_SOURCE_IMAGE = "check Source mkimg fail";
constexpr const char *TXT_RC_SOURCE_DTB = "check Source DTB image fail";
constexpr const char *TXT_RC_SOURCE_DEFCONF = "check Source defconf image fail";
constexpr const char *TXT_RC_MKIMG_FAIL = "Nandkeep_RecoveryMkimg fail";
constexpr const char *TXT_RC_DEST_SUB = "get ulDestSubOffset fail";
constexpr const char *TXT_RC_IMAGE_LEN = "get ulImageLen fail";
constexpr const char *TXT_RC_DEFCONF = "update Default Value fail";
constexpr const char *TXT_RC_NO_GOOD_BLOCK = "flash driver fail";
constexpr const char *TXT_RC_READ = "read MTD fail";
constexpr const char *TXT_RC_ERASE = "erase fail";
constexpr const char *TXT_RC_COPY = "recover image fail";
constexpr const char *TXT_RC_DOUBLE_CHECK = "double check image fail";
constexpr const char *TXT_RC_NORMAL_LEN = "get Normal image len fail";
constexpr const char *TXT_RC_BACKUP_LEN = "get Backup image len fail";
constexpr const char *TXT_RC_SUB_LEN = "get Sub image len fail";
constexpr const char *TXT_RC_FEW_BLOCKS[2] = {"ECC Fail 0: normal block not enough",
                                              "ECC Fail 1: normal block not enough"};
constexpr const char *TXT_RC_FEW_CORRECTED[2] = {"ECC Corrected 0: normal block not enough",
                                                 "ECC Corrected 1: normal block not enough"};
constexpr const char *TXT_RC_TO_BACKUP = "Normal -> Backup, recover image fail";
constexpr const char *TXT_RC_TO_NORMAL = "Backup -> Normal, recover image fail";
constexpr const char *TXT_RC_BIG_ERASE =
    "erase block larger than 128 KiB, block repair not possible";
constexpr const char *TXT_RC_DONE = "recovered image";

#endif
