// The NAND model on plain memory: semantics, counters and each fault kind where it is defined.
#include "sim/nand_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t BLOCKS = 8;

class NandModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_aucState.resize(Nand_StateSize(BLOCKS));
        m_aucCells.assign((size_t)BLOCKS * SIM_BLOCK_SIZE, 0);
        Nand_Format(m_aucState.data(), (uint64_t)BLOCKS * SIM_BLOCK_SIZE, 2, 1234);
        ASSERT_EQ(Nand_Attach(&m_tNand, m_aucState.data(), m_aucState.size()), 0);
        m_tNand.pucCells = m_aucCells.data();
    }

    // Reads through node 0 unless told otherwise.
    std::vector<unsigned char> Read(uint64_t ullOffset, size_t ulLen, uint32_t dwNode = 0) {
        std::vector<unsigned char> auc(ulLen);
        Nand_Read(&m_tNand, ullOffset, auc.data(), ulLen, &m_tNand.ptHdr->atNodes[dwNode]);
        return auc;
    }

    TSimNodeCounters &Node(uint32_t dwNode) {
        return m_tNand.ptHdr->atNodes[dwNode];
    }

    std::vector<unsigned char> ReadRaw(uint64_t ullOffset, size_t ulLen) {
        std::vector<unsigned char> auc(ulLen);
        Nand_ReadRaw(&m_tNand, ullOffset, auc.data(), ulLen);
        return auc;
    }

    int Program(uint64_t ullOffset, unsigned char ucFill, size_t ulLen) {
        std::vector<unsigned char> auc(ulLen, ucFill);
        return Nand_Program(&m_tNand, ullOffset, auc.data(), ulLen);
    }

    static bool AllOf(const std::vector<unsigned char> &auc, unsigned char uc) {
        for (unsigned char ucByte : auc) {
            if (ucByte != uc) {
                return false;
            }
        }
        return true;
    }

    std::vector<unsigned char> m_aucState;
    std::vector<unsigned char> m_aucCells;
    TNand m_tNand{};
};

TEST_F(NandModelTest, FreshChipIsErasedAndClean) {
    EXPECT_TRUE(AllOf(Read(0, (size_t)BLOCKS * SIM_BLOCK_SIZE), 0xFF));
    EXPECT_EQ(m_tNand.ptHdr->dwBlockCount, BLOCKS);
    EXPECT_EQ(m_tNand.ptHdr->dwBBTBlocks, 2u);
    EXPECT_EQ(m_tNand.ptHdr->ullOps, 0u);
    EXPECT_EQ(Nand_ListFaults(&m_tNand, nullptr, 0), 0);
}

TEST_F(NandModelTest, AttachRejectsForeignOrInconsistentState) {
    TNand tNand;
    std::vector<unsigned char> aucCopy = m_aucState;
    EXPECT_EQ(Nand_Attach(&tNand, aucCopy.data(), aucCopy.size() - 1), -1);
    aucCopy[0] = 'X';
    EXPECT_EQ(Nand_Attach(&tNand, aucCopy.data(), aucCopy.size()), -1);
    aucCopy = m_aucState;
    reinterpret_cast<TSimStateHeader *>(aucCopy.data())->dwVersion = SIM_STATE_VERSION + 1;
    EXPECT_EQ(Nand_Attach(&tNand, aucCopy.data(), aucCopy.size()), -1);
    aucCopy = m_aucState;
    reinterpret_cast<TSimStateHeader *>(aucCopy.data())->dwBlockCount = BLOCKS + 1;
    EXPECT_EQ(Nand_Attach(&tNand, aucCopy.data(), aucCopy.size()), -1);
}

TEST_F(NandModelTest, ProgrammingOnlyClearsBitsAndEraseRestoresOnes) {
    ASSERT_EQ(Program(SIM_BLOCK_SIZE, 0xF0, SIM_PAGE_SIZE), NAND_OK);
    EXPECT_TRUE(AllOf(Read(SIM_BLOCK_SIZE, SIM_PAGE_SIZE), 0xF0));
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 0u);
    // Without an erase the second program ANDs into the first, and it is counted.
    ASSERT_EQ(Program(SIM_BLOCK_SIZE, 0x3C, SIM_PAGE_SIZE), NAND_OK);
    EXPECT_TRUE(AllOf(Read(SIM_BLOCK_SIZE, SIM_PAGE_SIZE), 0x30));
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 1u);
    // The neighbouring pages and blocks are untouched.
    EXPECT_TRUE(AllOf(Read(SIM_BLOCK_SIZE + SIM_PAGE_SIZE, SIM_BLOCK_SIZE - SIM_PAGE_SIZE), 0xFF));
    EXPECT_TRUE(AllOf(Read(0, SIM_BLOCK_SIZE), 0xFF));

    ASSERT_EQ(Nand_Erase(&m_tNand, 1), NAND_OK);
    EXPECT_TRUE(AllOf(Read(SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0xFF));
    EXPECT_EQ(m_tNand.ptBlocks[1].dwEraseCount, 1u);
    EXPECT_EQ(m_tNand.ptHdr->ullErases, 1u);
    EXPECT_EQ(m_tNand.ptHdr->ullPrograms, 2u);
    EXPECT_EQ(m_tNand.ptHdr->ullOps, 3u);
}

TEST_F(NandModelTest, OnlyBitClearingDataOverUnerasedBytesCountsAsNonErasedProgram) {
    std::vector<unsigned char> aucPage(SIM_PAGE_SIZE, 0xFF);
    aucPage[0] = 0x00;
    ASSERT_EQ(Nand_Program(&m_tNand, 0, aucPage.data(), SIM_PAGE_SIZE), NAND_OK);
    // 0xFF over the programmed byte and data over still erased bytes: both harmless.
    aucPage[0] = 0xFF;
    aucPage[1] = 0x12;
    ASSERT_EQ(Nand_Program(&m_tNand, 0, aucPage.data(), SIM_PAGE_SIZE), NAND_OK);
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 0u);
    // A clash in the last byte of the page alone counts too.
    aucPage.assign(SIM_PAGE_SIZE, 0xFF);
    aucPage[SIM_PAGE_SIZE - 1] = 0x00;
    ASSERT_EQ(Nand_Program(&m_tNand, 0, aucPage.data(), SIM_PAGE_SIZE), NAND_OK);
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 0u);
    ASSERT_EQ(Nand_Program(&m_tNand, 0, aucPage.data(), SIM_PAGE_SIZE), NAND_OK);
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 1u);
    std::vector<unsigned char> aucGot = Read(0, SIM_PAGE_SIZE);
    EXPECT_EQ(aucGot[0], 0x00);
    EXPECT_EQ(aucGot[1], 0x12);
    EXPECT_EQ(aucGot[SIM_PAGE_SIZE - 1], 0x00);
}

TEST_F(NandModelTest, SubPageProgramsTouchOnlyTheirBytesAndCountClashesPerPage) {
    // The last sub-page of page 0 and the first of page 1, in one program.
    ASSERT_EQ(Program(3 * SIM_SUBPAGE_SIZE, 0x00, 2 * SIM_SUBPAGE_SIZE), NAND_OK);
    EXPECT_TRUE(AllOf(Read(0, 3 * SIM_SUBPAGE_SIZE), 0xFF));
    EXPECT_TRUE(AllOf(Read(3 * SIM_SUBPAGE_SIZE, 2 * SIM_SUBPAGE_SIZE), 0x00));
    EXPECT_TRUE(AllOf(Read(5 * SIM_SUBPAGE_SIZE, SIM_BLOCK_SIZE - 5 * SIM_SUBPAGE_SIZE), 0xFF));
    EXPECT_EQ(m_tNand.ptHdr->ullPrograms, 1u);
    // The rest of page 0 is still erased: programming it is no clash.
    ASSERT_EQ(Program(0, 0x00, 3 * SIM_SUBPAGE_SIZE), NAND_OK);
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 0u);
    // Over both programmed pages again: one clash per page.
    ASSERT_EQ(Program(3 * SIM_SUBPAGE_SIZE, 0x00, 2 * SIM_SUBPAGE_SIZE), NAND_OK);
    EXPECT_EQ(m_tNand.ptHdr->ullNonErasedPrograms, 2u);
}

TEST_F(NandModelTest, RawAccessBypassesFaultsAndCounters) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_UNCORRECTABLE, 0, 0, 0), 0);
    std::vector<unsigned char> aucData(100, 0x5A);
    Nand_WriteRaw(&m_tNand, 7, aucData.data(), aucData.size());
    EXPECT_EQ(ReadRaw(7, 100), aucData);
    EXPECT_EQ(ReadRaw(6, 1)[0], 0xFF);
    EXPECT_EQ(m_tNand.ptHdr->ullOps, 0u);
    EXPECT_EQ(Node(0).dwFailed, 0u);
}

TEST_F(NandModelTest, OutsideMarksAreBadFromTheStartAndRefuseErase) {
    ASSERT_EQ(Program(3 * SIM_BLOCK_SIZE, 0x00, SIM_PAGE_SIZE), NAND_OK);
    Nand_MarkBad(&m_tNand, 3);
    Nand_MarkBad(&m_tNand, 3);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 3), 1);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 2), 0);
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 0, BLOCKS), 1u);
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 0, 3), 0u);
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 3, 1), 1u);
    // No erase, nothing counted: the data stays.
    EXPECT_TRUE(AllOf(Read(3 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), 0x00));
    EXPECT_EQ(Nand_Erase(&m_tNand, 3), NAND_FAILED);
    // The driver refuses it: no operation reached the chip.
    EXPECT_EQ(m_tNand.ptHdr->ullOps, 1u);
    Nand_UnmarkBad(&m_tNand, 3);
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 0, BLOCKS), 0u);
    EXPECT_EQ(Nand_Erase(&m_tNand, 3), NAND_OK);
}

TEST_F(NandModelTest, MarkingThroughANodeErasesFirstAndCountsEveryRequest) {
    ASSERT_EQ(Program(2 * SIM_BLOCK_SIZE, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    ASSERT_EQ(Nand_MarkBadThrough(&m_tNand, 2, &Node(1)), NAND_OK);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 2), 1);
    EXPECT_TRUE(AllOf(Read(2 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0xFF));
    EXPECT_EQ(m_tNand.ptBlocks[2].dwEraseCount, 1u);
    EXPECT_EQ(m_tNand.ptHdr->ullErases, 1u);
    EXPECT_EQ(Node(1).dwMarks, 1u);
    EXPECT_EQ(Node(0).dwMarks, 0u);
    // A mark made through the driver is not bad from the start.
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 0, BLOCKS), 0u);
    // Already bad: no erase, and the node counts the request once more.
    ASSERT_EQ(Nand_MarkBadThrough(&m_tNand, 2, &Node(1)), NAND_OK);
    EXPECT_EQ(m_tNand.ptHdr->ullErases, 1u);
    EXPECT_EQ(Node(1).dwMarks, 2u);
    // A bad block still takes programs.
    ASSERT_EQ(Program(2 * SIM_BLOCK_SIZE, 0x0F, SIM_PAGE_SIZE), NAND_OK);
    EXPECT_TRUE(AllOf(Read(2 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), 0x0F));
    EXPECT_EQ(Nand_Erase(&m_tNand, 2), NAND_FAILED);
}

TEST_F(NandModelTest, MarkingABlockWhoseEraseFailsKeepsItsDataOrLosesPower) {
    ASSERT_EQ(Program(4 * SIM_BLOCK_SIZE, 0x00, SIM_PAGE_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_ERASE_FAIL, 4, 0, 0), 0);
    ASSERT_EQ(Nand_MarkBadThrough(&m_tNand, 4, &Node(0)), NAND_OK);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 4), 1);
    EXPECT_TRUE(AllOf(Read(4 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE), 0x00));
    EXPECT_EQ(m_tNand.ptHdr->ullErases, 1u);
    EXPECT_EQ(m_tNand.ptBlocks[4].dwEraseCount, 0u);

    // The power cut in the erase before the mark: nothing marked, nothing counted on the node.
    ASSERT_EQ(Program(5 * SIM_BLOCK_SIZE, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 1, 0), 0);
    EXPECT_EQ(Nand_MarkBadThrough(&m_tNand, 5, &Node(0)), NAND_POWER_LOST);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 5), 0);
    EXPECT_EQ(Node(0).dwMarks, 1u);
    EXPECT_FALSE(AllOf(Read(5 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0x00));
    EXPECT_FALSE(AllOf(Read(5 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0xFF));
}

TEST_F(NandModelTest, FactoryBadFaultMarksAndClearingUnmarks) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_BAD, 5, 0, 0), 0);
    ASSERT_EQ(Nand_MarkBadThrough(&m_tNand, 6, &Node(0)), NAND_OK);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 5), 1);
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 0, BLOCKS), 1u);
    Nand_ClearFaults(&m_tNand, SIM_NO_BLOCK);
    EXPECT_EQ(Nand_IsBad(&m_tNand, 5), 0);
    // A mark made through the driver is no fault and stays.
    EXPECT_EQ(Nand_IsBad(&m_tNand, 6), 1);
    EXPECT_EQ(Nand_FactoryBadIn(&m_tNand, 0, BLOCKS), 0u);
}

TEST_F(NandModelTest, EraseFailLeavesDataAndCountsTheAttempt) {
    ASSERT_EQ(Program(0, 0x00, SIM_PAGE_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_ERASE_FAIL, 0, 0, 0), 0);
    EXPECT_EQ(Nand_Erase(&m_tNand, 0), NAND_FAILED);
    EXPECT_TRUE(AllOf(Read(0, SIM_PAGE_SIZE), 0x00));
    EXPECT_EQ(m_tNand.ptBlocks[0].dwEraseCount, 0u);
    EXPECT_EQ(m_tNand.ptHdr->ullErases, 1u);
    // The chip marks nothing by itself.
    EXPECT_EQ(Nand_IsBad(&m_tNand, 0), 0);
}

TEST_F(NandModelTest, WearOutLetsNMoreErasesSucceed) {
    ASSERT_EQ(Nand_Erase(&m_tNand, 2), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_WEAR_OUT, 2, 3, 0), 0);
    TSimFault tFault;
    ASSERT_EQ(Nand_ListFaults(&m_tNand, &tFault, 1), 1);
    EXPECT_EQ(tFault.eKind, SIM_FAULT_WEAR_OUT);
    EXPECT_EQ(tFault.ullN, 3u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Nand_Erase(&m_tNand, 2), NAND_OK) << "erase " << i;
    }
    EXPECT_EQ(Nand_Erase(&m_tNand, 2), NAND_FAILED);
    EXPECT_EQ(Nand_Erase(&m_tNand, 2), NAND_FAILED);
    EXPECT_EQ(m_tNand.ptBlocks[2].dwEraseCount, 4u);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_WEAR_OUT, 1, 0, 0), 0);
    EXPECT_EQ(Nand_Erase(&m_tNand, 1), NAND_FAILED);
}

TEST_F(NandModelTest, ProgramFailStopsAtTheFailingBlock) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_PROGRAM_FAIL, 2, 0, 0), 0);
    // One request over blocks 1 and 2: block 1 is programmed, block 2 fails, 3 is not reached.
    EXPECT_EQ(Program(SIM_BLOCK_SIZE, 0x11, 3 * SIM_BLOCK_SIZE), NAND_FAILED);
    EXPECT_TRUE(AllOf(Read(SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0x11));
    EXPECT_TRUE(AllOf(Read(2 * SIM_BLOCK_SIZE, 2 * SIM_BLOCK_SIZE), 0xFF));
    EXPECT_EQ(m_tNand.ptHdr->ullPrograms, 2u);
}

TEST_F(NandModelTest, ProgramLostReportsSuccessAndStoresNothing) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_PROGRAM_LOST, 4, 0, 0), 0);
    EXPECT_EQ(Program(4 * SIM_BLOCK_SIZE, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    EXPECT_TRUE(AllOf(Read(4 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0xFF));
    EXPECT_EQ(m_tNand.ptHdr->ullPrograms, 1u);
}

TEST_F(NandModelTest, StuckBitsReadOneWhateverIsProgrammedAndAreSeeded) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_STUCK_BITS, 1, 5, 3), 0);
    ASSERT_EQ(Program(SIM_BLOCK_SIZE, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    std::vector<unsigned char> aucGot = Read(SIM_BLOCK_SIZE, SIM_BLOCK_SIZE);
    int iOnes = 0;
    for (size_t i = 0; i < aucGot.size(); i++) {
        if (aucGot[i] != 0) {
            EXPECT_EQ(i / SIM_PAGE_SIZE, 3u) << "stuck bit outside the affected page";
            iOnes += __builtin_popcount(aucGot[i]);
        }
    }
    EXPECT_GE(iOnes, 1);
    EXPECT_LE(iOnes, 5);
    // The same seed gives the same bits on another chip.
    std::vector<unsigned char> aucState(Nand_StateSize(BLOCKS));
    std::vector<unsigned char> aucCells((size_t)BLOCKS * SIM_BLOCK_SIZE, 0);
    Nand_Format(aucState.data(), (uint64_t)BLOCKS * SIM_BLOCK_SIZE, 0, 1234);
    TNand tOther;
    ASSERT_EQ(Nand_Attach(&tOther, aucState.data(), aucState.size()), 0);
    tOther.pucCells = aucCells.data();
    ASSERT_EQ(Nand_AddFault(&tOther, SIM_FAULT_STUCK_BITS, 1, 5, 3), 0);
    std::vector<unsigned char> aucZero(SIM_BLOCK_SIZE, 0);
    ASSERT_EQ(Nand_Program(&tOther, SIM_BLOCK_SIZE, aucZero.data(), SIM_BLOCK_SIZE), NAND_OK);
    std::vector<unsigned char> aucOther(SIM_BLOCK_SIZE);
    Nand_Read(&tOther, SIM_BLOCK_SIZE, aucOther.data(), SIM_BLOCK_SIZE, &tOther.ptHdr->atNodes[0]);
    EXPECT_EQ(aucOther, aucGot);
}

TEST_F(NandModelTest, BitflipCountsCorrectionsPerReadOfTheAffectedPageOnTheNodeReadThrough) {
    ASSERT_EQ(Program(2 * SIM_BLOCK_SIZE, 0xA5, SIM_BLOCK_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_BITFLIP, 2, 3, 5), 0);
    uint64_t ullPage5 = 2 * SIM_BLOCK_SIZE + 5 * SIM_PAGE_SIZE;
    EXPECT_TRUE(AllOf(Read(2 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE), 0xA5));
    EXPECT_EQ(Node(0).dwCorrected, 3u);
    (void)Read(ullPage5 + SIM_PAGE_SIZE - 1, 1);
    EXPECT_EQ(Node(0).dwCorrected, 6u);
    // Reads that miss the page see nothing.
    (void)Read(ullPage5 - 16, 16);
    (void)Read(ullPage5 + SIM_PAGE_SIZE, 16);
    EXPECT_EQ(Node(0).dwCorrected, 6u);
    EXPECT_EQ(Node(0).dwFailed, 0u);
    // Another node's read moves that node's counter only.
    (void)Read(ullPage5, 16, 7);
    EXPECT_EQ(Node(7).dwCorrected, 3u);
    EXPECT_EQ(Node(0).dwCorrected, 6u);
}

TEST_F(NandModelTest, UncorrectableCorruptsDeliveredDataNotTheCells) {
    ASSERT_EQ(Program(0, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_UNCORRECTABLE, 0, 0, 0), 0);
    std::vector<unsigned char> aucGot = Read(0, SIM_BLOCK_SIZE);
    EXPECT_FALSE(AllOf(aucGot, 0x00));
    for (size_t i = SIM_PAGE_SIZE; i < aucGot.size(); i++) {
        ASSERT_EQ(aucGot[i], 0x00) << "corruption outside the affected page at " << i;
    }
    EXPECT_EQ(Node(0).dwFailed, 1u);
    EXPECT_TRUE(AllOf(ReadRaw(0, SIM_BLOCK_SIZE), 0x00));
    // Even a single byte of the page comes out wrong.
    EXPECT_NE(Read(100, 1, 2)[0], 0x00);
    EXPECT_EQ(Node(2).dwFailed, 1u);
    EXPECT_EQ(Node(0).dwFailed, 1u);
}

TEST_F(NandModelTest, DecayFailsReadsUntilTheBlockIsErased) {
    ASSERT_EQ(Program(0, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_DECAY, 0, 0, 0), 0);
    EXPECT_FALSE(AllOf(Read(0, SIM_PAGE_SIZE), 0x00));
    EXPECT_EQ(Node(0).dwFailed, 1u);
    ASSERT_EQ(Nand_Erase(&m_tNand, 0), NAND_OK);
    ASSERT_EQ(Program(0, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    EXPECT_TRUE(AllOf(Read(0, SIM_BLOCK_SIZE), 0x00));
    EXPECT_EQ(Node(0).dwFailed, 1u);
    TSimFault atFaults[4];
    EXPECT_EQ(Nand_ListFaults(&m_tNand, atFaults, 4), 0);
}

TEST_F(NandModelTest, ShortTransfersAreConsumedCallByCall) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_SHORT_READ, SIM_NO_BLOCK, 2, 0), 0);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_SHORT_WRITE, SIM_NO_BLOCK, 1, 0), 0);
    EXPECT_EQ(Nand_ClipRead(&m_tNand, 0x20000), 0x10000u);
    EXPECT_EQ(Nand_ClipRead(&m_tNand, 1), 1u);
    EXPECT_EQ(Nand_ClipRead(&m_tNand, 0x20000), 0x20000u);
    // Writes stay whole sub-pages.
    EXPECT_EQ(Nand_ClipWrite(&m_tNand, 3 * SIM_SUBPAGE_SIZE), SIM_SUBPAGE_SIZE);
    EXPECT_EQ(Nand_ClipWrite(&m_tNand, 3 * SIM_SUBPAGE_SIZE), 3 * SIM_SUBPAGE_SIZE);
}

TEST_F(NandModelTest, PowerCutLeavesTheNthOperationHalfDone) {
    ASSERT_EQ(Program(0, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 2, 0), 0);
    ASSERT_EQ(Program(SIM_BLOCK_SIZE, 0x00, SIM_BLOCK_SIZE), NAND_OK);
    // The second operation from the fault on: half the pages reach the cells.
    EXPECT_EQ(Program(2 * SIM_BLOCK_SIZE, 0x00, SIM_BLOCK_SIZE), NAND_POWER_LOST);
    EXPECT_TRUE(AllOf(Read(2 * SIM_BLOCK_SIZE, SIM_BLOCK_SIZE / 2), 0x00));
    EXPECT_TRUE(AllOf(Read(2 * SIM_BLOCK_SIZE + SIM_BLOCK_SIZE / 2, SIM_BLOCK_SIZE / 2), 0xFF));
    EXPECT_EQ(Nand_ListFaults(&m_tNand, nullptr, 0), 0);

    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 1, 0), 0);
    EXPECT_EQ(Nand_Erase(&m_tNand, 0), NAND_POWER_LOST);
    std::vector<unsigned char> aucBlock = Read(0, SIM_BLOCK_SIZE);
    EXPECT_FALSE(AllOf(aucBlock, 0xFF));
    EXPECT_FALSE(AllOf(aucBlock, 0x00));
    EXPECT_EQ(m_tNand.ptBlocks[0].dwEraseCount, 0u);

    // A single page is cut half way through.
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 1, 0), 0);
    EXPECT_EQ(Program(3 * SIM_BLOCK_SIZE, 0x00, SIM_PAGE_SIZE), NAND_POWER_LOST);
    EXPECT_TRUE(AllOf(Read(3 * SIM_BLOCK_SIZE, SIM_PAGE_SIZE / 2), 0x00));
    EXPECT_TRUE(AllOf(Read(3 * SIM_BLOCK_SIZE + SIM_PAGE_SIZE / 2, SIM_PAGE_SIZE / 2), 0xFF));
}

std::string g_strOps;

void RecordOp(char cKind, uint32_t dwBlock) {
    g_strOps += cKind + std::to_string(dwBlock) + " ";
}

TEST_F(NandModelTest, TheHookHearsEveryCountedOperationInOrderThePowerCutIncluded) {
    g_strOps.clear();
    m_tNand.pfnOnOp = RecordOp;
    Nand_MarkBad(&m_tNand, 6);
    ASSERT_EQ(Program(SIM_BLOCK_SIZE - SIM_PAGE_SIZE, 0x00, 3 * SIM_PAGE_SIZE), NAND_OK);
    ASSERT_EQ(Nand_Erase(&m_tNand, 3), NAND_OK);
    // Refused by the driver: the chip saw nothing.
    ASSERT_EQ(Nand_Erase(&m_tNand, 6), NAND_FAILED);
    ASSERT_EQ(Nand_MarkBadThrough(&m_tNand, 4, &Node(0)), NAND_OK);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_PROGRAM_FAIL, 5, 0, 0), 0);
    ASSERT_EQ(Program(5 * SIM_BLOCK_SIZE, 0x00, SIM_PAGE_SIZE), NAND_FAILED);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 2, 0), 0);
    ASSERT_EQ(Program(SIM_BLOCK_SIZE, 0x00, 2 * SIM_BLOCK_SIZE), NAND_POWER_LOST);
    EXPECT_EQ(g_strOps, "P0 P1 E3 E4 P5 P1 P2 ");
    EXPECT_EQ(m_tNand.ptHdr->ullOps, 7u);
}

TEST_F(NandModelTest, FaultArgumentsAreChecked) {
    EXPECT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_ERASE_FAIL, BLOCKS, 0, 0), -1);
    EXPECT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_BITFLIP, 0, 0, 0), -1);
    EXPECT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_BITFLIP, 0, 1, SIM_PAGES_PER_BLOCK), -1);
    EXPECT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_STUCK_BITS, 0, SIM_PAGE_SIZE * 8 + 1, 0), -1);
    EXPECT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, 0, 0), -1);
    EXPECT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_KIND_COUNT, 0, 1, 0), -1);
    EXPECT_EQ(Nand_ListFaults(&m_tNand, nullptr, 0), 0);
}

TEST_F(NandModelTest, FaultsAreListedAndClearedPerBlock) {
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_BITFLIP, 1, 2, 7), 0);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_PROGRAM_FAIL, 1, 0, 0), 0);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_ERASE_FAIL, 4, 0, 0), 0);
    ASSERT_EQ(Nand_AddFault(&m_tNand, SIM_FAULT_SHORT_READ, SIM_NO_BLOCK, 9, 0), 0);
    TSimFault atFaults[8];
    ASSERT_EQ(Nand_ListFaults(&m_tNand, atFaults, 8), 4);
    EXPECT_EQ(atFaults[0].eKind, SIM_FAULT_PROGRAM_FAIL);
    EXPECT_EQ(atFaults[1].eKind, SIM_FAULT_BITFLIP);
    EXPECT_EQ(atFaults[1].ullN, 2u);
    EXPECT_EQ(atFaults[1].dwPage, 7u);
    EXPECT_EQ(atFaults[2].dwBlock, 4u);
    EXPECT_EQ(atFaults[3].eKind, SIM_FAULT_SHORT_READ);
    EXPECT_EQ(atFaults[3].dwBlock, SIM_NO_BLOCK);
    Nand_ClearFaults(&m_tNand, 1);
    ASSERT_EQ(Nand_ListFaults(&m_tNand, atFaults, 8), 2);
    EXPECT_EQ(atFaults[0].dwBlock, 4u);
    EXPECT_EQ(Nand_FaultByName("wear-out"), (int)SIM_FAULT_WEAR_OUT);
    EXPECT_EQ(Nand_FaultByName("nonsense"), -1);
    EXPECT_STREQ(Nand_FaultName(SIM_FAULT_PROGRAM_LOST), "program-lost");
}

} // namespace
