// The usage text, the version banner and the info command: contract texts, byte for byte.
#include "frontend/commands.h"
#include "flash/notify.h"

#include <cstdio>

namespace {

constexpr const char *VERSION = NANDKEEP_VERSION;
constexpr const char *BUILD_ID = "$Id: " NANDKEEP_VERSION ",nandkeep,2017/04/18 12:00:00 $";

constexpr const char *USAGE =
    "usage: write <Image-file> <Offset> <Len> | <HTTP/FTP>\n"
    "       checktempconf\n"
    "       readtempconf <DEST-file>\n"
    "       writetempconf <SOURCE-file>\n"
    "       checkdefconf\n"
    "       readdefconf <DEST-file>\n"
    "       writedefconf <SOURCE-file>\n"
    "       upgradeFW <Boot-file> <Kernel-file> <DTB-file> <Rootfs-file> <DefConf-file>\n"
    "       systemRecovery | <FlashStatus>\n"
    "       checktempdata\n"
    "       readtempdata <DEST-file>\n"
    "       writetempdata <SOURCE-file>\n"
    "       checkNFDI\n"
    "       readNFDI <DEST-file>\n"
    "       writeNFDI <SOURCE-file>\n"
    "       eraseflashfs1\n"
    "       eraseflashfs2\n"
    "       eraseflashfs\n"
    "       eraseJFFS2\n"
    "       updateBoot <SOURCE-file>\n"
    "       updateBst <SOURCE-file>\n"
    "       updateDTB <SOURCE-file>\n"
    "       eccStatus <Offset> <Len>\n"
    "       eraseRootfs\n"
    "       badBlockManagement\n"
    "       badBlockReport\n"
    "       badBlockRead <DEST-file> <Offset> <Len>\n"
    "       badBlockErase <Offset> <Len>\n"
    "       setBadBlockToBBT <Offset>\n"
    "       flashVerify ## please umount flashfs\n"
    "       lifeCycleTest | <Len> | <times> ## please umount flashfs\n"
    "       unstableBitsTestWrite <Pattern>\n"
    "       unstableBitsTestCheck <Pattern>\n"
    "       \tBasic pattern: 0x55 (0101), 0xAA (1010), 0x00 (0000), 0xFF (1111), rand\n"
    "       flashfs2IsChange\n"
    "       erase <Offset> <Len>\n"
    "       eraseAll\n"
    "       info\n";

} // namespace

void Nandkeep_PrintUsage(void) {
    fputs(USAGE, stderr);
    Nandkeep_Print("Nandkeep version: %s\nMade by the nandkeep flash tools team\n", VERSION);
}

int Cmd_Info(TCommand *) {
    Nandkeep_Print(
        "Build info: %s\n\nFeature include (+) or not (-):\n-_KVL_FW\nSOC Platform\n-_ORSEN\n"
        "-_KT724\n-_VELDRA3\n",
        BUILD_ID);
    return 0;
}
