// The verify result log and the known bad-block list of the factory tests.
#ifndef NANDKEEP_VERIFYLOG_H
#define NANDKEEP_VERIFYLOG_H

constexpr int NANDKEEP_BAD_LIST_MAX = 256;

// Appends one formatted message (at most one integer conversion) to the verify result log and
// prints it on standard output. Ends the process with status 1 when the log cannot be written.
void Nandkeep_WriteVerifyResult(const char *pszFormat, int iValue);
// 0 when the block at ulOffset is usable; -1 when it is bad (a newly found one is logged and
// appended to the list).
[[nodiscard]] int Nandkeep_CheckBadBlockList(unsigned long ulOffset, unsigned long *pulCount,
                                             unsigned long *pulList);
// Fills an emptied list with every bad block in [0, ulLen).
void Nandkeep_CollectBadBlocks(unsigned long ulLen, unsigned long *pulCount,
                               unsigned long *pulList);
// Writes the verdict and returns the error count.
int Nandkeep_JudgeVerifyResult(unsigned long ulCount, unsigned long ulCensusCount,
                               unsigned int uDiffCount, int bTotalRule);

#endif
