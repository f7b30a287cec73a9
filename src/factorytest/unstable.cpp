// The unstable-bits test: a write step programs every good block with a pattern, a check step
// (typically after a reboot, a bake or a long wait) reads it back in another process.
//
// Block contents follow the good blocks only: the k-th good block holds the erase-size bytes
// from byte 4 * k of the pattern buffer. A block that turns bad between the two steps therefore
// shifts the contents expected of every later good block; a constant pattern does not notice,
// a random one fails at the next good block.
#include "factorytest/factorytests.h"

#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/maintenance.h"
#include "frontend/mtdinfo.h"

#include <cstdio>
#include <cstring>
#include "flash/workbuf.h"

namespace {

constexpr const char *RAND_WORD = "rand";

void PrintBadBlocks(void) {
    const unsigned long ulEnd = MTD0WalkEnd();
    unsigned long ulCount = 0;
    for (unsigned long ulPos = 0; ulPos < ulEnd; ulPos += MTD0EraseSize()) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulPos) == NANDKEEP_BAD_BLOCK) {
            printf("Find a bad block at offset=0x%lx\n", ulPos);
            ulCount++;
        }
    }
    printf("Find ## %lu ## bad block\n", ulCount);
}

int WriteGoodBlocks(unsigned char *pucPattern) {
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulEnd = MTD0WalkEnd();
    unsigned long ulGood = 0;
    for (unsigned long ulPos = 0; ulPos < ulEnd; ulPos += ulErase) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulPos) == NANDKEEP_BAD_BLOCK) {
            continue;
        }
        if (Nandkeep_WriteMTD(MTD0Fd(), pucPattern + 4 * ulGood, ulPos, ulErase) == -1) {
            return -1;
        }
        ulGood++;
    }
    return 0;
}

// Stops at the first block that differs.
int CheckGoodBlocks(const unsigned char *pucPattern) {
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulEnd = MTD0WalkEnd();
    TWorkBuf aucRead(ulErase, 0);
    unsigned long ulGood = 0;
    for (unsigned long ulPos = 0; ulPos < ulEnd; ulPos += ulErase) {
        if (Nandkeep_IsBadBlock(MTD0Fd(), ulPos) == NANDKEEP_BAD_BLOCK) {
            continue;
        }
        if (Nandkeep_ReadMTD(MTD0Fd(), aucRead.data(), ulPos, ulErase) == -1) {
            return -1;
        }
        if (memcmp(aucRead.data(), pucPattern + 4 * ulGood, ulErase) != 0) {
            printf("Find diff sector at address = 0x%lx\n", ulPos);
            return -1;
        }
        ulGood++;
    }
    return 0;
}

int RunUnstableCommand(char **ppArgv, int iWrite) {
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    const char *pszPattern = ppArgv[2];
    TWorkBuf aucPattern(Nandkeep_ReferenceBufferSize(), 0);
    Nandkeep_FillUnstablePattern(pszPattern, aucPattern.data(), aucPattern.size());
    int iRet = Nandkeep_UnstableBitsTest(aucPattern.data(), iWrite);
    printf("%s unstable bits pattern: %s %s\n", iWrite ? "Write" : "Check", pszPattern,
           iRet == 0 ? "Pass" : "Fail");
    // The verdict is the line above; the status tells only whether the ECC report could be made.
    return Nandkeep_EccStatus(0, MTD0WalkEnd());
}

} // namespace

void Nandkeep_FillUnstablePattern(const char *pszPattern, unsigned char *pucPattern,
                                  unsigned long ulSize) {
    if (strncmp(pszPattern, RAND_WORD, strlen(RAND_WORD)) == 0) {
        Nandkeep_FillRandom(pucPattern, ulSize);
        return;
    }
    memset(pucPattern, static_cast<unsigned char>(Nandkeep_ParseHex(pszPattern) & 0xFF), ulSize);
}

int Nandkeep_UnstableBitsTest(unsigned char *pucPattern, int iWrite) {
    if (iWrite) {
        puts("erase all");
        if (Nandkeep_EraseMTD(MTD0Fd(), 0, MTD0WalkEnd()) == -1) {
            return -1;
        }
    }
    PrintBadBlocks();
    if (iWrite) {
        puts("write image to flash");
        if (WriteGoodBlocks(pucPattern) == -1) {
            return -1;
        }
    }
    puts("check flash image");
    return CheckGoodBlocks(pucPattern);
}

int Cmd_UnstableBitsTestWrite(TCommand *ptCmd) {
    char **ppArgv = ptCmd->ppArgv;
    return RunUnstableCommand(ppArgv, 1);
}

int Cmd_UnstableBitsTestCheck(TCommand *ptCmd) {
    char **ppArgv = ptCmd->ppArgv;
    return RunUnstableCommand(ppArgv, 0);
}
