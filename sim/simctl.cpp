// nandkeep-simctl: creates, inspects and breaks the simulated NAND device.
#include "sim/sim_store.h"
#include "sim/simfacts.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int EXIT_USAGE = 2;
constexpr const char *TOOL = "nandkeep-simctl";

constexpr const char *USAGE =
    "usage: nandkeep-simctl [--dir DIR] COMMAND [ARGS]\n"
    "The device lives in DIR, else in $NANDKEEP_SIM_DIR, else in /tmp/nandkeep-sim.\n"
    "Commands:\n"
    "  create [--profile 128|256 | --blocks N | --size BYTES [--bbt N]] [--table FILE]\n"
    "         [--seed N] [--layout siblings|nested]\n"
    "                                    make a fresh, erased device (default: --profile 128)\n"
    "  info                              geometry and partition table\n"
    "  status                            everything below in one report\n"
    "  load FILE [OFFSET]                copy a raw image into the flash (no ECC, not counted)\n"
    "  save FILE [OFFSET [LENGTH]]       copy raw flash bytes into a file\n"
    "  fault add KIND BLOCK [N] [--page P]\n"
    "         KIND: bad, erase-fail, wear-out N, program-fail, program-lost,\n"
    "               stuck-bits [N], bitflip [N], uncorrectable, decay,\n"
    "               weak-page [N] (programs of page P fail after N more),\n"
    "               weak-block [N] (erases fail after N more, erasing all the same),\n"
    "               grave-page [N] (reads of programmed page P fail after N more)\n"
    "  fault add short-read N | short-write N | read-fail N | log-fail N\n"
    "           | ecc-fail N | powercut N\n"
    "  flip OFFSET N                     clear the lowest set bit of N bytes from OFFSET (one\n"
    "                                    page) behind the ECC's back, until the block is erased\n"
    "  fault list\n"
    "  fault clear [BLOCK | all]\n"
    "  bad                               blocks marked bad\n"
    "  mark BLOCK | unmark BLOCK         set or clear a bad-block mark\n"
    "  ecc [NODE]                        ECC counters of /dev/mtdNODE (default 0)\n"
    "  erasecounts                       erase count of every block erased so far\n"
    "  ops                               erase and program counts, programs over non-erased "
    "bytes\n"
    "  flashstatus [VALUE]               show or set the device parameter flashstatus\n"
    "  syslog                            system-log lines written so far\n"
    "  facts DEV0 PART PARTOFF STRENGTH  the MTD nodes' answers to the tool's calls, as the\n"
    "                                    real-kernel tool's mtdprobe facts prints them\n"
    "Numbers may be decimal or 0x-hexadecimal; BLOCK is an erase-block index.\n";

int UsageError(const char *pszFormat, const char *pszArg) {
    fprintf(stderr, "%s: ", TOOL);
    fprintf(stderr, pszFormat, pszArg);
    fprintf(stderr, "\nTry '%s --help'.\n", TOOL);
    return EXIT_USAGE;
}

int SimError() {
    fprintf(stderr, "%s: %s\n", TOOL, Sim_LastError());
    return EXIT_FAILURE;
}

bool ParseNumber(const char *pszWord, uint64_t *pullValue) {
    if (pszWord == nullptr || *pszWord == '\0' || *pszWord == '-' || *pszWord == '+') {
        return false;
    }
    char *pszEnd = nullptr;
    errno = 0;
    unsigned long long ullValue = strtoull(pszWord, &pszEnd, 0);
    if (errno != 0 || *pszEnd != '\0') {
        return false;
    }
    *pullValue = ullValue;
    return true;
}

bool ParseBlock(const TSimDevice *ptDev, const char *pszWord, uint32_t *pdwBlock) {
    uint64_t ullValue;
    if (!ParseNumber(pszWord, &ullValue) || ullValue >= Sim_BlockCount(ptDev)) {
        return false;
    }
    *pdwBlock = (uint32_t)ullValue;
    return true;
}

int BadBlock(const TSimDevice *ptDev, const char *pszWord) {
    fprintf(stderr, "%s: block '%s' is not a block index from 0 to %u\n", TOOL, pszWord,
            Sim_BlockCount(ptDev) - 1);
    return EXIT_USAGE;
}

// --- create (works without an open device) ---------------------------------------------------

int CmdCreate(const char *pszDir, int iArgc, char **ppArgv) {
    TSimSpec tSpec = Sim_ProfileSpec(128);
    bool bProfile = false;
    bool bCustom = false;
    bool bBBT = false;
    const char *pszTable = nullptr;
    for (int i = 0; i < iArgc; i++) {
        const char *pszOpt = ppArgv[i];
        const char *const apszKnown[] = {"--profile", "--blocks", "--size",  "--bbt",
                                         "--seed",    "--table",  "--layout"};
        bool bKnown = false;
        for (const char *pszKnown : apszKnown) {
            bKnown = bKnown || strcmp(pszOpt, pszKnown) == 0;
        }
        if (!bKnown) {
            return UsageError("create: unknown option '%s'", pszOpt);
        }
        if (i + 1 >= iArgc) {
            return UsageError("create: option '%s' wants a value", pszOpt);
        }
        const char *pszVal = ppArgv[++i];
        uint64_t ullValue = 0;
        if (strcmp(pszOpt, "--table") == 0) {
            pszTable = pszVal;
            continue;
        }
        if (strcmp(pszOpt, "--layout") == 0) {
            if (strcmp(pszVal, "nested") != 0 && strcmp(pszVal, "siblings") != 0) {
                return UsageError("create: layout '%s': the layouts are siblings and nested",
                                  pszVal);
            }
            tSpec.bNested = strcmp(pszVal, "nested") == 0;
            continue;
        }
        if (!ParseNumber(pszVal, &ullValue)) {
            return UsageError("create: '%s' is not a number", pszVal);
        }
        if (strcmp(pszOpt, "--profile") == 0) {
            if (ullValue != 128 && ullValue != 256) {
                return UsageError("create: profile '%s': the profiles are 128 and 256", pszVal);
            }
            tSpec.iProfileMiB = (int)ullValue;
            bProfile = true;
        } else if (strcmp(pszOpt, "--blocks") == 0 || strcmp(pszOpt, "--size") == 0) {
            uint64_t ullUnit = strcmp(pszOpt, "--blocks") == 0 ? SIM_BLOCK_SIZE : 1;
            if (ullValue == 0 || ullValue > SIM_DEVICE_MAX / ullUnit ||
                (ullValue * ullUnit) % SIM_BLOCK_SIZE != 0) {
                return UsageError("create: device size '%s' is not a whole number of 128 KiB "
                                  "blocks below 4 GiB",
                                  pszVal);
            }
            tSpec.ullSize = ullValue * ullUnit;
            bCustom = true;
        } else if (strcmp(pszOpt, "--bbt") == 0) {
            tSpec.dwBBTBlocks = (uint32_t)std::min<uint64_t>(ullValue, UINT32_MAX);
            bBBT = true;
        } else {
            tSpec.ullSeed = ullValue;
        }
    }
    if (bProfile && bCustom) {
        return UsageError("create: %s", "give either a profile or a size, not both");
    }
    if (bBBT && !bCustom) {
        return UsageError("create: %s", "--bbt goes with --blocks or --size");
    }
    if (bCustom) {
        tSpec.iProfileMiB = 0;
    }
    TSimPartition atParts[SIM_PARTITIONS_MAX];
    if (pszTable != nullptr) {
        if (Sim_ReadTableFile(pszTable, atParts, &tSpec.iPartCount) != 0) {
            return SimError();
        }
        tSpec.ptParts = atParts;
    }
    if (Sim_Create(pszDir, tSpec) != 0) {
        return SimError();
    }
    TSimDevice tDev;
    if (Sim_Open(&tDev, pszDir) != 0) {
        return SimError();
    }
    printf("created a %" PRIu64 " KiB device (%u blocks, %d partitions) in %s\n",
           Sim_DeviceSize(&tDev) / 1024, Sim_BlockCount(&tDev), tDev.iPartCount, pszDir);
    Sim_Close(&tDev);
    return 0;
}

// --- reports -----------------------------------------------------------------------------

void PrintInfo(const TSimDevice *ptDev) {
    const TSimStateHeader *ptHdr = ptDev->tNand.ptHdr;
    printf("size 0x%08" PRIx64 " (%u blocks of 0x%x bytes, pages of 0x%x bytes)\n",
           ptHdr->ullDeviceSize, ptHdr->dwBlockCount, ptHdr->dwBlockSize, ptHdr->dwPageSize);
    printf("seed 0x%" PRIx64 "\n", ptHdr->ullSeed);
    printf("partitions:\n");
    for (int i = 0; i < ptDev->iPartCount; i++) {
        const TSimPartition &tPart = ptDev->atParts[i];
        printf("  mtd%d %-12s offset 0x%08" PRIx64 " size 0x%08" PRIx64 "\n", i, tPart.szName,
               tPart.ullOffset, tPart.ullSize);
    }
}

void PrintEcc(const TSimDevice *ptDev, int iNode) {
    TEccStats tStats = Sim_EccStatsOf(ptDev, iNode);
    printf("corrected %u\nfailed %u\nbadblocks %u\nbbtblocks %u\n", tStats.corrected, tStats.failed,
           tStats.badblocks, tStats.bbtblocks);
}

void PrintOps(const TSimDevice *ptDev) {
    TSimOpCounts tOps = Sim_OpCounts(ptDev);
    printf("ops %" PRIu64 "\nerases %" PRIu64 "\nprograms %" PRIu64 "\nnon-erased-programs %" PRIu64
           "\n",
           tOps.ullOps, tOps.ullErases, tOps.ullPrograms, tOps.ullNonErasedPrograms);
}

void PrintBad(const TSimDevice *ptDev) {
    for (uint32_t dwBlock : Sim_BadBlocks(ptDev)) {
        printf("%u 0x%08" PRIx64 "\n", dwBlock, (uint64_t)dwBlock * SIM_BLOCK_SIZE);
    }
}

void PrintFaults(const TSimDevice *ptDev) {
    for (const TSimFault &tFault : Sim_ListFaults(ptDev)) {
        if (tFault.dwBlock == SIM_NO_BLOCK) {
            printf("device %s %" PRIu64 "\n", Nand_FaultName(tFault.eKind), tFault.ullN);
            continue;
        }
        printf("block %u %s", tFault.dwBlock, Nand_FaultName(tFault.eKind));
        if (tFault.eKind == SIM_FAULT_WEAR_OUT || tFault.eKind == SIM_FAULT_STUCK_BITS ||
            tFault.eKind == SIM_FAULT_BITFLIP || tFault.eKind == SIM_FAULT_FLIP ||
            tFault.eKind == SIM_FAULT_WEAK_PAGE || tFault.eKind == SIM_FAULT_WEAK_BLOCK ||
            tFault.eKind == SIM_FAULT_GRAVE_PAGE) {
            printf(" %" PRIu64, tFault.ullN);
        }
        if (tFault.eKind == SIM_FAULT_STUCK_BITS || tFault.eKind == SIM_FAULT_BITFLIP ||
            tFault.eKind == SIM_FAULT_UNCORRECTABLE || tFault.eKind == SIM_FAULT_DECAY ||
            tFault.eKind == SIM_FAULT_FLIP || tFault.eKind == SIM_FAULT_WEAK_PAGE ||
            tFault.eKind == SIM_FAULT_GRAVE_PAGE) {
            printf(" page %u", tFault.dwPage);
        }
        printf("\n");
    }
}

void PrintEraseCounts(const TSimDevice *ptDev) {
    for (uint32_t b = 0; b < Sim_BlockCount(ptDev); b++) {
        if (Sim_EraseCount(ptDev, b) != 0) {
            printf("%u %u\n", b, Sim_EraseCount(ptDev, b));
        }
    }
}

// The log as it is, a last line without its end completed. A log longer than the tool reads
// is an error, reported before any of it is printed.
int PrintSyslog(const TSimDevice *ptDev) {
    std::string strText;
    if (Sim_ReadSyslog(ptDev->szDir, &strText) != 0) {
        return SimError();
    }
    fwrite(strText.data(), 1, strText.size(), stdout);
    if (!strText.empty() && strText.back() != '\n') {
        putchar('\n');
    }
    return 0;
}

// --- commands on an open device ------------------------------------------------------------

int CmdInfo(TSimDevice *ptDev, int, char **) {
    PrintInfo(ptDev);
    return 0;
}

int CmdStatus(TSimDevice *ptDev, int, char **) {
    PrintInfo(ptDev);
    std::string strFlashStatus;
    if (Sim_ReadFlashStatus(ptDev->szDir, &strFlashStatus) != 0) {
        return SimError();
    }
    printf("flashstatus %s\n", strFlashStatus.c_str());
    printf("-- ecc\n");
    PrintEcc(ptDev, 0);
    printf("-- operations\n");
    PrintOps(ptDev);
    printf("-- bad blocks\n");
    PrintBad(ptDev);
    printf("-- faults\n");
    PrintFaults(ptDev);
    printf("-- erase counts\n");
    PrintEraseCounts(ptDev);
    printf("-- syslog\n");
    return PrintSyslog(ptDev);
}

int CmdLoad(TSimDevice *ptDev, int iArgc, char **ppArgv) {
    uint64_t ullOffset = 0;
    if (iArgc > 1 && !ParseNumber(ppArgv[1], &ullOffset)) {
        return UsageError("load: offset '%s' is not a number", ppArgv[1]);
    }
    return Sim_LoadImage(ptDev, ppArgv[0], ullOffset) == 0 ? 0 : SimError();
}

int CmdSave(TSimDevice *ptDev, int iArgc, char **ppArgv) {
    uint64_t ullOffset = 0;
    uint64_t ullLen = 0;
    if (iArgc > 1 && !ParseNumber(ppArgv[1], &ullOffset)) {
        return UsageError("save: offset '%s' is not a number", ppArgv[1]);
    }
    if (iArgc > 2 && (!ParseNumber(ppArgv[2], &ullLen) || ullLen == 0)) {
        return UsageError("save: length '%s' is not a positive number", ppArgv[2]);
    }
    return Sim_SaveImage(ptDev, ppArgv[0], ullOffset, ullLen) == 0 ? 0 : SimError();
}

int CmdFaultAdd(TSimDevice *ptDev, int iArgc, char **ppArgv) {
    uint64_t ullPage = 0;
    char *apszPos[4];
    int iPos = 0;
    for (int i = 0; i < iArgc; i++) {
        if (strcmp(ppArgv[i], "--page") == 0) {
            if (i + 1 >= iArgc || !ParseNumber(ppArgv[i + 1], &ullPage) ||
                ullPage >= SIM_PAGES_PER_BLOCK) {
                return UsageError("fault add: --page wants a page from 0 to 63%s", "");
            }
            i++;
        } else if (iPos < 4) {
            apszPos[iPos++] = ppArgv[i];
        } else {
            return UsageError("fault add: unexpected '%s'", ppArgv[i]);
        }
    }
    if (iPos == 0) {
        return UsageError("fault add: %s", "which kind?");
    }
    int iKind = Nand_FaultByName(apszPos[0]);
    if (iKind < 0) {
        return UsageError("fault add: unknown fault kind '%s'", apszPos[0]);
    }
    TSimFaultKind eKind = static_cast<TSimFaultKind>(iKind);
    if (eKind == SIM_FAULT_FLIP) {
        return UsageError("fault add %s: flipped bits come from 'flip OFFSET N'", apszPos[0]);
    }
    uint64_t ullN = 0;
    uint32_t dwBlock = SIM_NO_BLOCK;
    if (Nand_IsDeviceFault(eKind)) {
        if (iPos != 2 || !ParseNumber(apszPos[1], &ullN) || ullN == 0) {
            return UsageError("fault add %s: wants one count of at least 1", apszPos[0]);
        }
    } else {
        if (iPos < 2) {
            return UsageError("fault add %s: which block?", apszPos[0]);
        }
        if (!ParseBlock(ptDev, apszPos[1], &dwBlock)) {
            return BadBlock(ptDev, apszPos[1]);
        }
        // The weak and grave kinds count what still works: none unless given.
        const bool bCountsDown = eKind == SIM_FAULT_WEAK_PAGE || eKind == SIM_FAULT_WEAK_BLOCK ||
                                 eKind == SIM_FAULT_GRAVE_PAGE;
        bool bTakesN = eKind == SIM_FAULT_WEAR_OUT || eKind == SIM_FAULT_STUCK_BITS ||
                       eKind == SIM_FAULT_BITFLIP || bCountsDown;
        if (iPos > (bTakesN ? 3 : 2)) {
            return UsageError("fault add %s: too many arguments", apszPos[0]);
        }
        if (eKind == SIM_FAULT_WEAR_OUT && iPos != 3) {
            return UsageError("fault add %s: wants the number of erases that still work",
                              apszPos[0]);
        }
        ullN = bTakesN && eKind != SIM_FAULT_WEAR_OUT && !bCountsDown ? 1 : 0;
        if (iPos == 3 && !ParseNumber(apszPos[2], &ullN)) {
            return UsageError("fault add: count '%s' is not a number", apszPos[2]);
        }
    }
    if (Sim_AddFault(ptDev, eKind, dwBlock, ullN, (uint32_t)ullPage) != 0) {
        return SimError();
    }
    return 0;
}

int CmdFault(TSimDevice *ptDev, int iArgc, char **ppArgv) {
    if (strcmp(ppArgv[0], "add") == 0) {
        return CmdFaultAdd(ptDev, iArgc - 1, ppArgv + 1);
    }
    if (strcmp(ppArgv[0], "list") == 0 && iArgc == 1) {
        PrintFaults(ptDev);
        return 0;
    }
    if (strcmp(ppArgv[0], "clear") == 0 && iArgc <= 2) {
        uint32_t dwBlock = SIM_NO_BLOCK;
        if (iArgc == 2 && strcmp(ppArgv[1], "all") != 0 &&
            !ParseBlock(ptDev, ppArgv[1], &dwBlock)) {
            return BadBlock(ptDev, ppArgv[1]);
        }
        Sim_ClearFaults(ptDev, dwBlock);
        return 0;
    }
    return UsageError("fault: want 'add', 'list' or 'clear', not '%s'", ppArgv[0]);
}

int CmdFlip(TSimDevice *ptDev, int, char **ppArgv) {
    uint64_t ullOffset;
    uint64_t ullCount;
    if (!ParseNumber(ppArgv[0], &ullOffset)) {
        return UsageError("flip: offset '%s' is not a number", ppArgv[0]);
    }
    if (!ParseNumber(ppArgv[1], &ullCount) || ullCount == 0 || ullCount > SIM_FLIP_MAX) {
        return UsageError("flip: count '%s' is not a number of bytes from 1 to 14", ppArgv[1]);
    }
    return Sim_Flip(ptDev, ullOffset, (uint32_t)ullCount) == 0 ? 0 : SimError();
}

int CmdBad(TSimDevice *ptDev, int, char **) {
    PrintBad(ptDev);
    return 0;
}

int CmdMark(TSimDevice *ptDev, int, char **ppArgv) {
    uint32_t dwBlock;
    if (!ParseBlock(ptDev, ppArgv[0], &dwBlock)) {
        return BadBlock(ptDev, ppArgv[0]);
    }
    return Sim_MarkBad(ptDev, dwBlock) == 0 ? 0 : SimError();
}

int CmdUnmark(TSimDevice *ptDev, int, char **ppArgv) {
    uint32_t dwBlock;
    if (!ParseBlock(ptDev, ppArgv[0], &dwBlock)) {
        return BadBlock(ptDev, ppArgv[0]);
    }
    return Sim_UnmarkBad(ptDev, dwBlock) == 0 ? 0 : SimError();
}

int CmdEcc(TSimDevice *ptDev, int iArgc, char **ppArgv) {
    uint64_t ullNode = 0;
    if (iArgc == 1 &&
        (!ParseNumber(ppArgv[0], &ullNode) || ullNode >= (uint64_t)ptDev->iPartCount)) {
        fprintf(stderr, "%s: node '%s' is not a node from 0 to %d\n", TOOL, ppArgv[0],
                ptDev->iPartCount - 1);
        return EXIT_USAGE;
    }
    PrintEcc(ptDev, (int)ullNode);
    return 0;
}

int CmdEraseCounts(TSimDevice *ptDev, int, char **) {
    PrintEraseCounts(ptDev);
    return 0;
}

int CmdOps(TSimDevice *ptDev, int, char **) {
    PrintOps(ptDev);
    return 0;
}

int CmdFlashStatus(TSimDevice *ptDev, int iArgc, char **ppArgv) {
    if (iArgc == 0) {
        std::string strValue;
        if (Sim_ReadFlashStatus(ptDev->szDir, &strValue) != 0) {
            return SimError();
        }
        printf("%s\n", strValue.c_str());
        return 0;
    }
    return Sim_SetFlashStatus(ptDev->szDir, ppArgv[0]) == 0 ? 0 : SimError();
}

int CmdSyslog(TSimDevice *ptDev, int, char **) {
    return PrintSyslog(ptDev);
}

int CmdFacts(TSimDevice *ptDev, int, char **ppArgv) {
    uint64_t ullPartOff = 0;
    uint64_t ullStrength = 0;
    if (!ParseNumber(ppArgv[2], &ullPartOff) || !ParseNumber(ppArgv[3], &ullStrength) ||
        ullStrength == 0 || ullStrength > 8) {
        return UsageError("facts: %s", "wants DEV0 PART PARTOFF STRENGTH");
    }
    SimFacts_Run(ptDev, ppArgv[0], ppArgv[1], (long long)ullPartOff, (int)ullStrength);
    return 0;
}

struct TCommand {
    const char *pszWord;
    int iMinArgs;
    int iMaxArgs;
    int (*pfnRun)(TSimDevice *ptDev, int iArgc, char **ppArgv);
};

const TCommand g_atCommands[] = {
    {"info", 0, 0, CmdInfo},
    {"status", 0, 0, CmdStatus},
    {"load", 1, 2, CmdLoad},
    {"save", 1, 3, CmdSave},
    {"fault", 1, 7, CmdFault},
    {"flip", 2, 2, CmdFlip},
    {"bad", 0, 0, CmdBad},
    {"mark", 1, 1, CmdMark},
    {"unmark", 1, 1, CmdUnmark},
    {"ecc", 0, 1, CmdEcc},
    {"erasecounts", 0, 0, CmdEraseCounts},
    {"ops", 0, 0, CmdOps},
    {"flashstatus", 0, 1, CmdFlashStatus},
    {"syslog", 0, 0, CmdSyslog},
    {"facts", 4, 4, CmdFacts},
};

} // namespace

int main(int iArgc, char **ppArgv) {
    int iArg = 1;
    const char *pszDir = nullptr;
    while (iArg < iArgc && ppArgv[iArg][0] == '-') {
        if (strcmp(ppArgv[iArg], "--help") == 0 || strcmp(ppArgv[iArg], "-h") == 0) {
            fputs(USAGE, stdout);
            return 0;
        }
        if (strcmp(ppArgv[iArg], "--dir") != 0 || iArg + 1 >= iArgc || ppArgv[iArg + 1][0] == 0) {
            return UsageError("unknown option or missing directory: '%s'", ppArgv[iArg]);
        }
        pszDir = ppArgv[iArg + 1];
        iArg += 2;
    }
    if (iArg >= iArgc) {
        fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    if (pszDir == nullptr) {
        pszDir = Sim_Dir();
    }
    const char *pszWord = ppArgv[iArg];
    int iRest = iArgc - iArg - 1;
    char **ppRest = ppArgv + iArg + 1;
    if (strcmp(pszWord, "create") == 0) {
        return CmdCreate(pszDir, iRest, ppRest);
    }
    for (const TCommand &tCmd : g_atCommands) {
        if (strcmp(pszWord, tCmd.pszWord) != 0) {
            continue;
        }
        if (iRest < tCmd.iMinArgs || iRest > tCmd.iMaxArgs) {
            return UsageError("wrong number of arguments for '%s'", pszWord);
        }
        TSimDevice tDev;
        if (Sim_Open(&tDev, pszDir) != 0) {
            return SimError();
        }
        int iRet = tCmd.pfnRun(&tDev, iRest, ppRest);
        Sim_Close(&tDev);
        return iRet;
    }
    return UsageError("unknown command '%s'", pszWord);
}
