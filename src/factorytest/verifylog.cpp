// The verify result log, the known bad-block list and the verdict of the factory tests.
#include "factorytest/verifylog.h"

#include "flash/mtdio.h"
#include "frontend/mtdinfo.h"
#include "frontend/notify.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t VERIFY_MSG_MAX = 512;

// True when the format's conversion carries the 'l' length modifier ("%lx", "%lu"): the 32-bit
// value is then passed as an unsigned long, as such a conversion reads one.
bool HasLongConversion(const char *pszFormat) {
    const char *p = pszFormat;
    while ((p = strchr(p, '%')) != nullptr) {
        if (p[1] == '%') {
            p += 2;
            continue;
        }
        const char *q = p + 1;
        while (*q != '\0' && strchr("-+ #0123456789.", *q) != nullptr) {
            q++;
        }
        return *q == 'l';
    }
    return false;
}

// Appends a bad block to the known list. The list holds 256 blocks: a device this far gone
// fails the test rather than overrun it.
void AppendBadBlock(unsigned long ulOffset, unsigned long *pulCount, unsigned long *pulList) {
    if (*pulCount >= static_cast<unsigned long>(NANDKEEP_BAD_LIST_MAX)) {
        Nandkeep_WriteVerifyResult("FAIL: more than %d bad blocks, test stopped\n",
                                   NANDKEEP_BAD_LIST_MAX);
        exit(1);
    }
    pulList[*pulCount] = ulOffset;
    (*pulCount)++;
}

} // namespace

// The log is opened and closed per message, so it is complete up to the last message even when
// the process is killed. A log that cannot be written ends the process with status 1 at once:
// the message is flushed and the close checked, since a full RAM disk only shows there and the
// factory station must not collect a passed test with an empty log.
void Nandkeep_WriteVerifyResult(const char *pszFormat, int iValue) {
    const char *pszPath = Plat_VerifyResultPath();
    FILE *pFile = fopen(pszPath, "a");
    if (pFile == nullptr) {
        Nandkeep_Notify("fopen()");
        printf("%s", pszPath);
        exit(1);
    }
    char szMsg[VERIFY_MSG_MAX];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (HasLongConversion(pszFormat)) {
        snprintf(szMsg, sizeof(szMsg), pszFormat,
                 static_cast<unsigned long>(static_cast<uint32_t>(iValue)));
    } else {
        snprintf(szMsg, sizeof(szMsg), pszFormat, iValue);
    }
#pragma GCC diagnostic pop
    printf("%s", szMsg);
    size_t ulLen = strlen(szMsg);
    if (fwrite(szMsg, 1, ulLen, pFile) != ulLen || fflush(pFile) != 0) {
        Nandkeep_Notify("fwrite()");
        exit(1);
    }
    if (fclose(pFile) != 0) {
        Nandkeep_Notify("fwrite()");
        exit(1);
    }
}

int Nandkeep_CheckBadBlockList(unsigned long ulOffset, unsigned long *pulCount,
                               unsigned long *pulList) {
    if (Nandkeep_IsBadBlock(MTD0Fd(), ulOffset) != NANDKEEP_BAD_BLOCK) {
        return 0;
    }
    for (unsigned long i = 0; i < *pulCount; i++) {
        if (pulList[i] == ulOffset) {
            return -1;
        }
    }
    Nandkeep_WriteVerifyResult("Find a ## New ## bad block at offset = 0x%lx\n",
                               static_cast<int>(ulOffset));
    AppendBadBlock(ulOffset, pulCount, pulList);
    return -1;
}

void Nandkeep_CollectBadBlocks(unsigned long ulLen, unsigned long *pulCount,
                               unsigned long *pulList) {
    memset(pulList, 0, sizeof(unsigned long) * NANDKEEP_BAD_LIST_MAX);
    *pulCount = 0;
    const unsigned long ulEnd = Nandkeep_WalkEnd(0, ulLen);
    for (unsigned long ulOffset = 0; ulOffset < ulEnd; ulOffset += MTD0EraseSize()) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulOffset) != NANDKEEP_BAD_BLOCK) {
            continue;
        }
        Nandkeep_WriteVerifyResult("Find a bad block at offset=0x%lx\n",
                                   static_cast<int>(ulOffset));
        AppendBadBlock(ulOffset, pulCount, pulList);
    }
}

int Nandkeep_JudgeVerifyResult(unsigned long ulCount, unsigned long ulCensusCount,
                               unsigned int uDiffCount, int bTotalRule) {
    int iErrCnt = 0;
    if (bTotalRule) {
        unsigned long ulBlocks = MTD0Size() / MTD0EraseSize();
        unsigned long ulAllowed = static_cast<unsigned long>(static_cast<double>(ulBlocks) * 0.02);
        if (ulAllowed < ulCount) {
            Nandkeep_WriteVerifyResult("FAIL: Total Bad block Num ## %lu ## > 2%%\n",
                                       static_cast<int>(ulCount));
            iErrCnt = 1;
        }
    }
    if (ulCount != ulCensusCount) {
        int iNew = static_cast<int>(ulCount - ulCensusCount);
        iErrCnt += iNew;
        Nandkeep_WriteVerifyResult("FAIL: Find ## %d ## new bad block\n", iNew);
    }
    if (uDiffCount != 0) {
        iErrCnt += static_cast<int>(uDiffCount);
        Nandkeep_WriteVerifyResult("FAIL: Find ## %d ## diff block\n",
                                   static_cast<int>(uDiffCount));
    }
    if (iErrCnt != 0) {
        Nandkeep_WriteVerifyResult("\n\n\nTest Fail. Error Cnt = %d\n", iErrCnt);
    } else {
        Nandkeep_WriteVerifyResult("\n\n\nTest Pass.\n", 0);
    }
    return iErrCnt;
}
