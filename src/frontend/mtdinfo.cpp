// Start-up: the partition table from "/proc/mtd", the device nodes and the geometry profile.
#include "frontend/mtdinfo.h"

#include "frontend/notify.h"
#include "platform/platform.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

TMTDInfo *g_ptMTDInfo = nullptr;
int g_iPartitionNum = 0;
int g_iBBTBlockNum = 0;
int g_b1BitECC = 0;
unsigned long g_ulPhyFlashSize = 0;
unsigned long g_ulNFDISize = 0;
unsigned long g_ulFlashfs2Size = 0;
unsigned long g_ulFlashfs2Offest = 0;

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

[[noreturn]] void FailProcMtd() {
    Nandkeep_Notify("fopen()");
    printf("%s", "/proc/mtd");
    exit(-1);
}

FILE *OpenProcMtdSkippingHeader() {
    FILE *pFile = Plat_OpenProcMtd();
    if (pFile == nullptr) {
        FailProcMtd();
    }
    TMtdTokens tTok;
    (void)Nandkeep_ReadMtdEntry(pFile, &tTok);
    return pFile;
}

void FillRecord(TMTDInfo *ptInfo, const TMtdTokens &tTok) {
    ptInfo->ulSize = strtoul(tTok.szSize, nullptr, 16);
    size_t ulNameLen = strlen(tTok.szName);
    size_t ulCopy = ulNameLen >= 2 ? ulNameLen - 2 : 0;
    if (ulCopy > sizeof(ptInfo->szName) - 1) {
        ulCopy = sizeof(ptInfo->szName) - 1;
    }
    if (ulCopy > 0) {
        memcpy(ptInfo->szName, tTok.szName + 1, ulCopy);
    }
    ptInfo->szName[ulCopy] = '\0';
    // "/dev/" and the device token without its colon, cut to the field.
    size_t ulDevLen = strlen(tTok.szDev);
    size_t ulKeep = ulDevLen > 0 ? ulDevLen - 1 : 0;
    const size_t ulRoom = sizeof(ptInfo->szDevPath) - sizeof("/dev/");
    if (ulKeep > ulRoom) {
        ulKeep = ulRoom;
    }
    memcpy(ptInfo->szDevPath, "/dev/", 5);
    memcpy(ptInfo->szDevPath + 5, tTok.szDev, ulKeep);
    ptInfo->szDevPath[5 + ulKeep] = '\0';
    ptInfo->ulEraseSize = strtoul(tTok.szErase, nullptr, 16);
}

void SelectProfile() {
    if (g_ptMTDInfo[0].ulSize <= NANDKEEP_SMALL_PROFILE_MAX) {
        g_iBBTBlockNum = 4;
        g_b1BitECC = 1;
        g_ulPhyFlashSize = 0x8000000;
        g_ulNFDISize = 0x200000;
        g_ulFlashfs2Size = 0x2100000;
        g_ulFlashfs2Offest = 0x5D00000;
    } else {
        g_iBBTBlockNum = 52;
        g_b1BitECC = 0;
        g_ulPhyFlashSize = 0x10000000;
        g_ulNFDISize = 0x800000;
        g_ulFlashfs2Size = 0x9300000;
        g_ulFlashfs2Offest = 0x6500000;
    }
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
    Plat_SyslogErr("Lost connection while upgrading firmware!");
}

void Nandkeep_Init(void) {
    TMtdTokens tTok;
    FILE *pFile = OpenProcMtdSkippingHeader();
    int iCount = 0;
    while (Nandkeep_ReadMtdEntry(pFile, &tTok) != EOF) {
        iCount++;
    }
    fclose(pFile);

    // Without a record 0 there is no device to select a profile from or to work on.
    if (iCount == 0) {
        Nandkeep_Notify("no mtd partition in /proc/mtd");
        exit(-1);
    }
    g_iPartitionNum = iCount;
    size_t ulBytes = sizeof(TMTDInfo) * static_cast<size_t>(iCount);
    g_ptMTDInfo = static_cast<TMTDInfo *>(calloc(static_cast<size_t>(iCount), sizeof(TMTDInfo)));
    if (g_ptMTDInfo == nullptr) {
        fprintf(stderr, "%s: malloc(%#x) failed\n", "Nandkeep_Init",
                static_cast<unsigned int>(ulBytes));
        Nandkeep_Notify("malloc fail");
        exit(-1);
    }

    for (int i = 0; i < g_iPartitionNum; i++) {
        g_ptMTDInfo[i].iFd = -1;
    }
    pFile = OpenProcMtdSkippingHeader();
    for (int i = 0; i < g_iPartitionNum; i++) {
        if (Nandkeep_ReadMtdEntry(pFile, &tTok) == EOF) {
            break;
        }
        TMTDInfo *ptInfo = &g_ptMTDInfo[i];
        FillRecord(ptInfo, tTok);
        ptInfo->iFd = Plat_OpenMtd(ptInfo->szDevPath);
        if (ptInfo->iFd < 0) {
            Nandkeep_Notify("open(), please check mtd node device");
            printf("%s", ptInfo->szDevPath);
            exit(-1);
        }
    }
    fclose(pFile);

    Plat_OnBrokenPipe(Nandkeep_SigPipeHandler);
    SelectProfile();
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
