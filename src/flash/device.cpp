// Start-up: the partition table from "/proc/mtd", the device nodes and the geometry profile.
#include "flash/device.h"

#include "flash/texts.h"
#include "flash/notify.h"
#include "platform/platform.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

TMTDInfo *g_ptMTDInfo = nullptr;
int g_iPartitionNum = 0;
// The geometry profile, fixed at start-up before any command runs.
int g_iBBTBlockNum;
int g_b1BitECC;
uint64_t g_ulPhyFlashSize;
uint64_t g_ulNFDISize;
uint64_t g_ulFlashfs2Size;
uint64_t g_ulFlashfs2Offest;

namespace {

// One blank-separated token: the first ulRoom - 1 characters are kept, the rest is read past.
// 0, or EOF when the file ends before the token starts.
int ReadToken(FILE *pFile, char *szToken, size_t ulRoom) {
    int iChar = getc(pFile);
    while (iChar != EOF && isspace(iChar)) {
        iChar = getc(pFile);
    }
    if (iChar == EOF) {
        szToken[0] = '\0';
        return EOF;
    }
    size_t ulLen = 0;
    for (; iChar != EOF && !isspace(iChar); iChar = getc(pFile)) {
        if (ulLen + 1 < ulRoom) {
            szToken[ulLen++] = static_cast<char>(iChar);
        }
    }
    szToken[ulLen] = '\0';
    return 0;
}

// Copies at most ulRoom - 1 characters of pszFrom, ulLen of them, and ends the string.
void CopyCut(char *pszTo, size_t ulRoom, const char *pszFrom, size_t ulLen) {
    snprintf(pszTo, ulRoom, "%.*s", static_cast<int>(ulLen), pszFrom);
}

// Fills a record from its entry and opens its node; false after saying which node failed.
bool OpenRecord(TMTDInfo *ptInfo, const TMtdTokens &tTok) {
    ptInfo->ulSize = strtoull(tTok.szSize, nullptr, 16);
    // The name without its quotes; "/dev/" and the device token without its colon.
    const size_t ulNameLen = strlen(tTok.szName);
    CopyCut(ptInfo->szName, sizeof(ptInfo->szName), tTok.szName + (ulNameLen >= 2 ? 1 : 0),
            ulNameLen >= 2 ? ulNameLen - 2 : 0);
    const size_t ulDevLen = strlen(tTok.szDev);
    memcpy(ptInfo->szDevPath, "/dev/", 5);
    CopyCut(ptInfo->szDevPath + 5, sizeof(ptInfo->szDevPath) - 5, tTok.szDev,
            ulDevLen > 0 ? ulDevLen - 1 : 0);
    ptInfo->ulEraseSize = strtoull(tTok.szErase, nullptr, 16);
    ptInfo->iFd = Plat_OpenMtd(ptInfo->szDevPath);
    if (ptInfo->iFd < 0) {
        Nandkeep_Notify(TXT_NODE_OPEN);
        Nandkeep_Print("%s", ptInfo->szDevPath);
        return false;
    }
    return true;
}

struct TProfile {
    int iBBTBlockNum;
    int b1BitECC;
    uint64_t ulPhyFlashSize, ulNFDISize, ulFlashfs2Size, ulFlashfs2Offest;
};
constexpr TProfile PROFILE_128 = {4, 1, 0x8000000, 0x200000, 0x2100000, 0x5D00000};
constexpr TProfile PROFILE_256 = {52, 0, 0x10000000, 0x800000, 0x9300000, 0x6500000};
// In both profiles the flashfs2 region ends where the NFDI region begins, and that one ends at
// the end of the device.
constexpr bool Tiles(const TProfile &t) {
    return t.ulFlashfs2Offest + t.ulFlashfs2Size + t.ulNFDISize == t.ulPhyFlashSize;
}
static_assert(Tiles(PROFILE_128) && Tiles(PROFILE_256), "profile regions tile the device");

void SelectProfile() {
    const TProfile &tProfile =
        g_ptMTDInfo[0].ulSize <= NANDKEEP_SMALL_PROFILE_MAX ? PROFILE_128 : PROFILE_256;
    g_iBBTBlockNum = tProfile.iBBTBlockNum;
    g_b1BitECC = tProfile.b1BitECC;
    g_ulPhyFlashSize = tProfile.ulPhyFlashSize;
    g_ulNFDISize = tProfile.ulNFDISize;
    g_ulFlashfs2Size = tProfile.ulFlashfs2Size;
    g_ulFlashfs2Offest = tProfile.ulFlashfs2Offest;
}

// Reads the entries of "/proc/mtd" after its header; with bFill, into the records (at most
// g_iPartitionNum of them), opening their nodes. The number read, or -1 after saying why.
int ReadTable(bool bFill) {
    FILE *pFile = Plat_OpenProcMtd();
    if (pFile == nullptr) {
        Nandkeep_Notify(TXT_FOPEN);
        Nandkeep_Print("%s", TXT_PROC_MTD);
        return -1;
    }
    TMtdTokens tTok;
    (void)Nandkeep_ReadMtdEntry(pFile, &tTok);
    int iCount = 0;
    while ((!bFill || iCount < g_iPartitionNum) && Nandkeep_ReadMtdEntry(pFile, &tTok) != EOF) {
        if (bFill && !OpenRecord(&g_ptMTDInfo[iCount], tTok)) {
            fclose(pFile);
            return -1;
        }
        iCount++;
    }
    fclose(pFile);
    return iCount;
}

} // namespace

int Nandkeep_ReadMtdEntry(FILE *pFile, TMtdTokens *ptTok) {
    char *apszTokens[] = {ptTok->szDev, ptTok->szSize, ptTok->szErase, ptTok->szName};
    memset(ptTok, 0, sizeof(*ptTok));
    for (int i = 0; i < 4; i++) {
        if (ReadToken(pFile, apszTokens[i], sizeof(ptTok->szDev)) == EOF) {
            return i == 0 ? EOF : i;
        }
    }
    return 4;
}

void Nandkeep_SigPipeHandler(int iSig) {
    (void)iSig;
    Plat_SyslogErr(TXT_LOST_CONNECTION);
}

int Nandkeep_Init(void) {
    const int iCount = ReadTable(false);
    if (iCount < 0) {
        return -1;
    }
    // Without a record 0 there is no device to select a profile from or to work on.
    if (iCount == 0) {
        Nandkeep_Notify(TXT_NO_PARTITION);
        return -1;
    }
    g_ptMTDInfo = static_cast<TMTDInfo *>(calloc(static_cast<size_t>(iCount), sizeof(TMTDInfo)));
    if (g_ptMTDInfo == nullptr) {
        fprintf(stderr, TXT_MALLOC_FAILED, "Nandkeep_Init",
                static_cast<unsigned int>(sizeof(TMTDInfo) * static_cast<size_t>(iCount)));
        Nandkeep_Notify(TXT_MALLOC_FAIL);
        return -1;
    }
    g_iPartitionNum = iCount;
    for (int i = 0; i < g_iPartitionNum; i++) {
        g_ptMTDInfo[i].iFd = -1;
    }
    if (ReadTable(true) == -1) {
        return -1;
    }
    Plat_OnBrokenPipe(Nandkeep_SigPipeHandler);
    SelectProfile();
    return 0;
}

void Nandkeep_Deinit(void) {
    if (g_ptMTDInfo == nullptr) {
        return;
    }
    for (int i = 0; i < g_iPartitionNum; i++) {
        (void)Plat_Close(g_ptMTDInfo[i].iFd);
    }
    free(g_ptMTDInfo);
    g_ptMTDInfo = nullptr;
}

int Nandkeep_CheckEraseSize(void) {
    const uint64_t ullErase = MTD0EraseSize();
    // A chip is a whole number of erase blocks, and one erase request carries a block's length in
    // 32 bits. The chip's end is taken as the walks take it: at most 4 GiB.
    const uint64_t ullEnd = MTD0WalkEnd();
    if (ullErase == 0 || ullErase % NANDKEEP_PIECE != 0 || ullErase >= NANDKEEP_REQUEST_REACH ||
        ullErase > ullEnd || ullEnd % ullErase != 0) {
        Nandkeep_Notify(TXT_ERASE_SIZE_UNSUPPORTED);
        return -1;
    }
    return 0;
}

int Nandkeep_CheckReach(uint64_t ullOffset, uint64_t ullLen) {
    if (ullOffset > NANDKEEP_REQUEST_REACH || ullLen > NANDKEEP_REQUEST_REACH - ullOffset) {
        Nandkeep_Notify(TXT_RANGE_4G);
        return -1;
    }
    return 0;
}
