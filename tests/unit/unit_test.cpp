// What no command shows: answers of flash primitives that no command prints or that no command
// uses, and the simulator's own physics that the case transcripts cannot see.
#include "flash/mtdio.h"
#include "flash/progress.h"
#include "platform/platform.h"
#include "support/support.h"
#include "image/record.h"
#include "image/source.h"
#include "upgrade/writer.h"

#include <algorithm>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr unsigned long BLOCK = SIM_BLOCK_SIZE;

// Whole 32-bit words are tested: a length that ends inside a word takes in all of it.
TEST(CheckErased, AnswersWhetherEveryWordIsErased) {
    Bytes aBuf(64, 0xFF);
    EXPECT_EQ(Nandkeep_CheckErased(aBuf.data(), 64), 0);
    aBuf[61] = 0xFE;
    EXPECT_EQ(Nandkeep_CheckErased(aBuf.data(), 64), 1);
    EXPECT_EQ(Nandkeep_CheckErased(aBuf.data(), 61), 1);
    EXPECT_EQ(Nandkeep_CheckErased(aBuf.data(), 60), 0);
}

// The time left of a count: from the pace of the units done, for the unit shown and those after.
TEST(Progress, CountEstimatesTheTimeLeftFromThePace) {
    char szFigure[96];
    const auto figure = [&szFigure](uint64_t ullDone, uint64_t ullTotal, bool bEstimate,
                                    uint64_t ullMs) {
        Progress_CountFigure(szFigure, sizeof(szFigure), "block", ullDone, ullTotal, bEstimate,
                             ullMs);
        return std::string(szFigure);
    };
    EXPECT_EQ(figure(3, 10, true, 2000), "block 3 of 10, about 0 min 08 s left");
    EXPECT_EQ(figure(2, 3601, true, 1000), "block 2 of 3601, about 60 min 00 s left");
    EXPECT_EQ(figure(10, 10, true, 9000), "block 10 of 10, about 0 min 01 s left");
    EXPECT_EQ(figure(1, 10, true, 5000), "block 1 of 10");
    EXPECT_EQ(figure(5, 10, false, 5000), "block 5 of 10");
    Progress_CountFigure(szFigure, 12, "block", 2, 3601, true, 1000);
    EXPECT_STREQ(szFigure, "block 2 of ");
}

// On a terminal a figure that stands unchanged is drawn once, however long it stands (a serial
// console is slow); a new one is drawn once 200 ms of the chip's time have passed since the last.
// Whether standard error is a terminal is asked once per process, at the first figure: this test
// comes before any other that draws one (and ctest runs each test in a process of its own).
TEST_F(SimTest, ProgressDrawsAStandingFigureOnce) {
    Create(Sim_ProfileSpec(128));
    ASSERT_EQ(Nandkeep_Init(), 0);
    const int iTerminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(iTerminal, 0);
    ASSERT_EQ(grantpt(iTerminal) | unlockpt(iTerminal), 0);
    const int iSide = open(ptsname(iTerminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(iSide, 0);
    const int iStderr = dup(2);
    ASSERT_EQ(dup2(iSide, 2), 2);
    Progress_Command("write");
    Progress_Percent("writing", 1, 100);
    for (const uint64_t ullPercent : {1, 2}) {
        EXPECT_EQ(Plat_MemErase(MTD0Fd(), 40 * BLOCK, 100 * BLOCK), 0); // 200 ms
        Progress_Percent("writing", ullPercent, 100);
    }
    Progress_Hide();
    dup2(iStderr, 2);
    close(iStderr);
    // What the terminal got, as far as the length of what it should have got.
    const std::string strDrawn = "\r\033[Kwrite: writing 1 %\r\r\033[Kwrite: writing 2 %\r\r\033[K";
    std::string strShown;
    char acBuf[256];
    for (pollfd tPoll{iTerminal, POLLIN, 0};
         strShown.size() < strDrawn.size() && poll(&tPoll, 1, 2000) > 0;) {
        const ssize_t lGot = read(iTerminal, acBuf, sizeof(acBuf));
        strShown.append(acBuf, static_cast<size_t>(std::max<ssize_t>(lGot, 0)));
    }
    close(iSide);
    close(iTerminal);
    EXPECT_EQ(strShown, strDrawn);
}

// 0 clean, 100 + the rise of corrected (not capped), 200 when failed rose; the bytes asked for
// come from the exact offset even when they end inside a piece, and nothing past them is written.
TEST_F(SimTest, EccReadAnswersTheRiseOfTheCounters) {
    Create(Sim_ProfileSpec(128));
    ASSERT_EQ(Nandkeep_Init(), 0);
    const Bytes aData = RandomBytes(2 * BLOCK, 1);
    ASSERT_EQ(Sim_WriteRaw(&m_tDev, 60 * BLOCK, aData.data(), aData.size()), 0);
    Bytes aBuf(BLOCK, 0xA5);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(MTD0Fd(), aBuf.data(), 60 * BLOCK + 24, 1000), 0);
    EXPECT_TRUE(std::equal(aBuf.begin(), aBuf.begin() + 1000, aData.begin() + 24));
    EXPECT_TRUE(std::all_of(aBuf.begin() + 1000, aBuf.end(), [](uint8_t c) { return c == 0xA5; }));
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BITFLIP, 61, 3), 0);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(MTD0Fd(), aBuf.data(), 61 * BLOCK, BLOCK), 103);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_UNCORRECTABLE, 61), 0);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(MTD0Fd(), aBuf.data(), 61 * BLOCK, BLOCK), 200);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_BITFLIP, 62, 150), 0);
    EXPECT_EQ(Nandkeep_ReadMTDWithECC(MTD0Fd(), aBuf.data(), 62 * BLOCK, BLOCK), 250);
}

// FusionWrite passes the erase's 255 on without programming anything, and gives 0 for a block it
// replaced. CleanBoot, which no command uses, overwrites a block whose erase fails with zero bytes
// before marking it bad.
TEST_F(SimTest, BlockReplacementAndCleaningErase) {
    Create(Sim_ProfileSpec(128));
    ASSERT_EQ(Nandkeep_Init(), 0);
    Bytes aData = RandomBytes(BLOCK, 5), aRaw(BLOCK);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_ERASE_FAIL, 71), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_ERASE_FAIL, 81), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_ERASE_FAIL, 90), 0);
    const uint64_t ullPrograms = Sim_OpCounts(&m_tDev).ullPrograms;
    testing::internal::CaptureStdout();
    EXPECT_EQ(FusionWrite(MTD0Fd(), aData.data(), 71 * BLOCK), 255);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "find a bad block");
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullPrograms, ullPrograms);
    EXPECT_EQ(FusionWrite(MTD0Fd(), aData.data(), 72 * BLOCK), 0);
    ASSERT_EQ(Sim_ReadRaw(&m_tDev, 72 * BLOCK, aRaw.data(), BLOCK), 0);
    EXPECT_EQ(aRaw, aData);

    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_CleanBoot(MTD0Fd(), 80 * BLOCK, 3 * BLOCK), 0);
    EXPECT_EQ(Nandkeep_CleanBoot(MTD0Fd(), 90 * BLOCK, BLOCK), 255);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "find a bad blockfind a bad block");
    ASSERT_EQ(Sim_ReadRaw(&m_tDev, 81 * BLOCK, aRaw.data(), BLOCK), 0);
    EXPECT_EQ(aRaw, Bytes(BLOCK, 0x00));
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), (std::vector<uint32_t>{71, 81, 90}));
    EXPECT_EQ(Sim_EraseCount(&m_tDev, 80) + Sim_EraseCount(&m_tDev, 82), 2u);

    // A block that takes neither the erase nor the zero bytes is said so, and marked bad all the
    // same.
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_ERASE_FAIL, 95), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_PROGRAM_FAIL, 95), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Nandkeep_CleanBoot(MTD0Fd(), 95 * BLOCK, BLOCK), 255);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "find a bad block\n Nandkeep notify -> clean boot fail\n");
    EXPECT_EQ(Sim_BadBlocks(&m_tDev), (std::vector<uint32_t>{71, 81, 90, 95}));

    // One whose marker page takes the zero bytes but then no marker cannot be retired: the
    // erase stops there with -1, and says so.
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_ERASE_FAIL, 97), 0);
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_WEAK_PAGE, 97, 1, 0), 0);
    testing::internal::CaptureStdout();
    const int iRet = Nandkeep_CleanBoot(MTD0Fd(), 97 * BLOCK, BLOCK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "find a bad block\n Nandkeep notify -> set bad block fail\n\n Nandkeep notify -> "
              "Boot set bad block fail\n");
    EXPECT_EQ(iRet, -1);
}

// A program of data over bytes that were not erased is counted, so a missing erase shows; 0xFF
// over programmed bytes and data over erased bytes are not.
TEST_F(SimTest, SimulatorCountsProgramsOverUnerasedBytes) {
    Create(Sim_CustomSpec(4));
    Bytes aPage(SIM_PAGE_SIZE, 0xFF);
    aPage[SIM_PAGE_SIZE - 1] = 0x00;
    ASSERT_EQ(Sim_Program(&m_tDev, 0, aPage.data(), SIM_PAGE_SIZE), NAND_OK);
    aPage[SIM_PAGE_SIZE - 1] = 0xFF;
    aPage[0] = 0x12;
    ASSERT_EQ(Sim_Program(&m_tDev, 0, aPage.data(), SIM_PAGE_SIZE), NAND_OK);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
    ASSERT_EQ(Sim_Program(&m_tDev, 0, aPage.data(), SIM_PAGE_SIZE), NAND_OK);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 1u);
    ASSERT_EQ(Sim_Erase(&m_tDev, 0), NAND_OK);
    ASSERT_EQ(Sim_Program(&m_tDev, 0, aPage.data(), SIM_PAGE_SIZE), NAND_OK);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 1u);
}

// A source that changes after its last chunk was read and written: in place, or its reads or its
// seeks to the start fail from then on. The writer's end check of what it streamed cannot see it;
// the final comparison finds the flash different, or the source cannot be read again from its
// start, and the writer says why instead of failing without a word. A source whose seeks fail
// from the erase on is not written at all, and a source whose reads fail after its first chunk
// is not written further: both are failures too, each said once.
enum class ESourceChange { IN_PLACE, UNREADABLE, UNSEEKABLE, UNSEEKABLE_AT_ERASE, FAILING_READS };
std::string g_strChangedSource;
// Programs still to come before the source changes; 0 once it has changed (the last program, or
// the erase for a source whose seeks fail from then on).
unsigned g_uProgramsToChange = 0;
ESourceChange g_eChange = ESourceChange::IN_PLACE;

void ChangeSourceAtLastProgram(char cKind, uint32_t) {
    if (cKind == 'E' && g_eChange == ESourceChange::UNSEEKABLE_AT_ERASE) {
        g_uProgramsToChange = 0;
    }
    if (cKind == 'P' && g_uProgramsToChange > 0 && --g_uProgramsToChange == 0 &&
        g_eChange == ESourceChange::IN_PLACE) {
        Bytes aFile = ReadFile(g_strChangedSource);
        aFile.back() ^= 0xFF;
        WriteFile(g_strChangedSource, aFile);
    }
}

// The source's bytes behind a FILE that fails as g_eChange says once the source has changed.
struct TCookieFile {
    Bytes aData;
    size_t ulPos;
};
bool CookieFails(ESourceChange eChange) {
    return g_eChange == eChange && g_uProgramsToChange == 0;
}
ssize_t CookieRead(void *pCookie, char *pBuf, size_t ulLen) {
    auto *ptFile = static_cast<TCookieFile *>(pCookie);
    if ((CookieFails(ESourceChange::UNREADABLE) && ptFile->ulPos == 0) ||
        CookieFails(ESourceChange::FAILING_READS)) {
        errno = EIO;
        return -1;
    }
    ulLen = std::min(ulLen, ptFile->aData.size() - ptFile->ulPos);
    std::copy_n(ptFile->aData.begin() + static_cast<long>(ptFile->ulPos), ulLen, pBuf);
    ptFile->ulPos += ulLen;
    return static_cast<ssize_t>(ulLen);
}
int CookieSeek(void *pCookie, off64_t *plOffset, int iWhence) {
    auto *ptFile = static_cast<TCookieFile *>(pCookie);
    if (CookieFails(ESourceChange::UNSEEKABLE) || CookieFails(ESourceChange::UNSEEKABLE_AT_ERASE)) {
        errno = ESPIPE;
        return -1;
    }
    const off64_t lBase = iWhence == SEEK_SET   ? 0
                          : iWhence == SEEK_CUR ? static_cast<off64_t>(ptFile->ulPos)
                                                : static_cast<off64_t>(ptFile->aData.size());
    ptFile->ulPos = static_cast<size_t>(lBase + *plOffset);
    *plOffset = lBase + *plOffset;
    return 0;
}

// Has the source read its bytes from tCookie instead of its file.
void ReadThroughCookie(TSource *ptSrc, TCookieFile *ptCookie) {
    fclose(ptSrc->pFile);
    ptSrc->pFile = fopencookie(ptCookie, "r", {CookieRead, nullptr, CookieSeek, nullptr});
}

TEST_F(SimTest, WriterTellsASourceThatChangesWhileItIsWritten) {
    Create(Sim_ProfileSpec(128));
    ASSERT_EQ(Nandkeep_Init(), 0);
    g_strChangedSource = m_strDir + "/source.bin";
    // The change, the programs before it, what the writer says.
    const std::tuple<ESourceChange, unsigned, const char *> atCases[] = {
        {ESourceChange::IN_PLACE, 3, "\n Nandkeep notify -> source changed while it was written\n"},
        {ESourceChange::UNREADABLE, 3,
         "\n Nandkeep notify -> fread()\n\n Nandkeep notify -> Compare image and flash fail\n"},
        {ESourceChange::UNSEEKABLE, 3, "\n Nandkeep notify -> fseek()\n"},
        {ESourceChange::UNSEEKABLE_AT_ERASE, 3, "\n Nandkeep notify -> fseek()\n"},
        {ESourceChange::FAILING_READS, 1, "\n Nandkeep notify -> fread()\n"}};
    uint64_t ullAt = 40 * BLOCK;
    for (const auto &[eChange, uPrograms, pszSays] : atCases) {
        SCOPED_TRACE(pszSays);
        WriteFile(g_strChangedSource, RandomBytes(3 * BLOCK - 100, 7));
        TSource tSrc{};
        Nandkeep_PrepareSource(&tSrc, g_strChangedSource.c_str(), 8 * BLOCK);
        ASSERT_EQ(tSrc.pszFault, nullptr);
        TCookieFile tCookie{ReadFile(g_strChangedSource), 0};
        if (eChange != ESourceChange::IN_PLACE) {
            ReadThroughCookie(&tSrc, &tCookie);
        }
        g_eChange = eChange;
        g_uProgramsToChange = uPrograms;
        Sim_SetOperationObserver(ChangeSourceAtLastProgram);
        testing::internal::CaptureStdout();
        const int iRet = Nandkeep_WriteImageSource(&tSrc, ullAt, 8 * BLOCK, 0);
        Sim_SetOperationObserver(nullptr);
        Nandkeep_ReleaseSource(&tSrc);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), pszSays);
        EXPECT_EQ(iRet, -1);
        EXPECT_EQ(g_uProgramsToChange, 0u);
        ullAt += 8 * BLOCK;
    }
    // Sources read through a cookie after this test read as they are.
    g_eChange = ESourceChange::IN_PLACE;
}

TEST_F(SimTest, RecordWriteFailsASourceThatComesUpShort) {
    Create(Sim_ProfileSpec(128));
    ASSERT_EQ(Nandkeep_Init(), 0);
    const std::string strFile = m_strDir + "/record.bin";
    WriteFile(strFile, RandomBytes(1000, 9));
    TSource tSrc{};
    Nandkeep_PrepareSource(&tSrc, strFile.c_str(), BLOCK);
    ASSERT_EQ(tSrc.pszFault, nullptr);
    // The file loses its last 100 bytes between the count and the write.
    TCookieFile tCookie{ReadFile(strFile), 0};
    tCookie.aData.resize(900);
    ReadThroughCookie(&tSrc, &tCookie);
    testing::internal::CaptureStdout();
    const int iRet = Record_Write(&tSrc, 1000 * BLOCK, 1001 * BLOCK);
    Nandkeep_ReleaseSource(&tSrc);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n Nandkeep notify -> source changed while it was written\n");
    EXPECT_EQ(iRet, -1);
}

} // namespace
