// The verify result log, the known bad-block list and the verdict of the factory tests.
#include "factorytest/verifylog.h"

#include "factorytest/texts.h"
#include "flash/device.h"
#include "flash/region.h"
#include "flash/notify.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t VERIFY_MSG_MAX = 512;

// Set once, when the log fails or the list overflows; the test then ends with status 1.
bool g_bStopped = false;

int Stop() {
    g_bStopped = true;
    return -1;
}

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
int AppendBadBlock(TBadList *ptList, uint64_t ullBlock) {
    if (ptList->ullCount >= static_cast<uint64_t>(NANDKEEP_BAD_LIST_MAX)) {
        (void)Nandkeep_WriteVerifyResult(TXT_LOG_TOO_MANY_BAD, NANDKEEP_BAD_LIST_MAX);
        return Stop();
    }
    ptList->aullList[ptList->ullCount++] = ullBlock;
    return 0;
}

} // namespace

bool Nandkeep_VerifyStopped(void) {
    return g_bStopped;
}

// The log is opened and closed per message, so it is complete up to the last message even when
// the process is killed. A log that cannot be written stops the test at once: the message is
// flushed and the close checked, since a full RAM disk only shows there and the factory station
// must not collect a passed test with an empty log.
int Nandkeep_WriteVerifyResult(const char *pszFormat, int iValue) {
    const char *pszPath = Plat_VerifyResultPath();
    FILE *pFile = Plat_OpenAppend(pszPath);
    if (pFile == nullptr) {
        Nandkeep_Notify(TXT_LOG_FOPEN);
        Nandkeep_Print("%s", pszPath);
        return Stop();
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
    Nandkeep_Print("%s", szMsg);
    const size_t ulLen = strlen(szMsg);
    const bool bWritten = fwrite(szMsg, 1, ulLen, pFile) == ulLen && fflush(pFile) == 0;
    if (fclose(pFile) != 0 || !bWritten) {
        Nandkeep_Notify(TXT_LOG_FWRITE);
        return Stop();
    }
    return 0;
}

int Nandkeep_CheckBadBlockList(TBadList *ptList, uint64_t ullBlock, EBlock eState) {
    if (eState == EBlock::GOOD) {
        return 1;
    }
    for (uint64_t i = 0; i < ptList->ullCount; i++) {
        if (ptList->aullList[i] == ullBlock) {
            return 0;
        }
    }
    if (Nandkeep_WriteVerifyResult(TXT_LOG_NEW_BAD, static_cast<int>(ullBlock)) != 0 ||
        AppendBadBlock(ptList, ullBlock) != 0) {
        return -1;
    }
    return 0;
}

int Nandkeep_CollectBadBlocks(TBadList *ptList, uint64_t ullLen) {
    memset(ptList, 0, sizeof(*ptList));
    TRegion tRange = Region_Span(MTD0Fd(), 0, Nandkeep_WalkEnd(0, ullLen));
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    while (Region_NextBlock(&tRange, &ullBlock, &eState)) {
        if (eState != EBlock::GOOD &&
            (Nandkeep_WriteVerifyResult(TXT_LOG_CENSUS_BAD, static_cast<int>(ullBlock)) != 0 ||
             AppendBadBlock(ptList, ullBlock) != 0)) {
            return -1;
        }
    }
    return 0;
}

int Nandkeep_JudgeVerifyResult(uint64_t ullCount, uint64_t ullCensusCount, unsigned int uDiffCount,
                               int bTotalRule) {
    int iErrCnt = 0;
    if (bTotalRule) {
        const uint64_t ullBlocks = MTD0Size() / MTD0EraseSize();
        const auto ullAllowed = static_cast<uint64_t>(static_cast<double>(ullBlocks) * 0.02);
        if (ullAllowed < ullCount) {
            if (Nandkeep_WriteVerifyResult(TXT_LOG_TOTAL_RULE, static_cast<int>(ullCount)) != 0) {
                return -1;
            }
            iErrCnt = 1;
        }
    }
    if (ullCount != ullCensusCount) {
        const int iNew = static_cast<int>(ullCount - ullCensusCount);
        iErrCnt += iNew;
        if (Nandkeep_WriteVerifyResult(TXT_LOG_NEW_BAD_COUNT, iNew) != 0) {
            return -1;
        }
    }
    if (uDiffCount != 0) {
        iErrCnt += static_cast<int>(uDiffCount);
        if (Nandkeep_WriteVerifyResult(TXT_LOG_DIFF_COUNT, static_cast<int>(uDiffCount)) != 0) {
            return -1;
        }
    }
    const int iRet = iErrCnt != 0 ? Nandkeep_WriteVerifyResult(TXT_LOG_FAIL, iErrCnt)
                                  : Nandkeep_WriteVerifyResult(TXT_LOG_PASS, 0);
    return iRet == -1 ? -1 : iErrCnt;
}
