// The verify result log, the known bad-block list and the verdict of the factory tests.
//
// A log that cannot be written, or a device with more bad blocks than the list holds, stops the
// test: every operation here then answers -1 (after saying why), and the test unwinds at once and
// ends with status 1 (Nandkeep_VerifyStopped tells the two apart from a failing primitive).
#ifndef NANDKEEP_VERIFYLOG_H
#define NANDKEEP_VERIFYLOG_H

#include "flash/mtdio.h"
#include "flash/region.h"

#include <cstdint>

constexpr int NANDKEEP_BAD_LIST_MAX = 256;

// The known bad blocks of a run, in the order they were found bad; the count after the census
// tells the old from the new.
struct TBadList {
    uint64_t aullList[NANDKEEP_BAD_LIST_MAX];
    uint64_t ullCount;
};

// Appends one formatted message (at most one integer conversion) to the verify result log and
// prints it on standard output. 0; or -1 when the log cannot be written ("fopen()" and its path,
// or "fwrite()"), which stops the test.
[[nodiscard]] int Nandkeep_WriteVerifyResult(const char *pszFormat, int iValue);
// 1 when the block at ullBlock, whose state eState the driver gave, is usable; 0 when it is bad
// (a newly found one is logged and appended to the list); -1 when the test stopped.
[[nodiscard]] int Nandkeep_CheckBadBlockList(TBadList *ptList, uint64_t ullBlock, EBlock eState);
// Fills an emptied list with every bad block in [0, ullLen), logging each. 0, or -1 when the test
// stopped.
[[nodiscard]] int Nandkeep_CollectBadBlocks(TBadList *ptList, uint64_t ullLen);
// Writes the verdict and returns the error count, or -1 when the test stopped.
[[nodiscard]] int Nandkeep_JudgeVerifyResult(uint64_t ullCount, uint64_t ullCensusCount,
                                             unsigned int uDiffCount, int bTotalRule);
// True once the log failed or the list overflowed: the test's status is then 1.
bool Nandkeep_VerifyStopped(void);

// Calls fn(ullBlock) for every block of tReg but ullSkip that the list finds good at that moment
// (listing the ones newly turned bad). 0; -1 when fn answered -1 or the test stopped.
template <typename TFn>
int Nandkeep_EachGoodBlock(TBadList *ptList, TRegion tReg, uint64_t ullSkip, TFn fn) {
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    while (Region_NextBlock(&tReg, &ullBlock, &eState)) {
        if (ullBlock == ullSkip) {
            continue;
        }
        const int iGood = Nandkeep_CheckBadBlockList(ptList, ullBlock, eState);
        if (iGood == -1 || (iGood == 1 && fn(ullBlock) == -1)) {
            return -1;
        }
    }
    return 0;
}

#endif
