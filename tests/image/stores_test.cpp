// The tempconf, tempdata and NFDI commands on the 128 MiB device: where the copies go, which
// candidates are tried, and what a failing copy or a strange partition table does.
#include "image/config.h"
#include "image/store_fixture.h"

#include <cstring>

namespace {

// 128 MiB profile: 16 NFDI blocks, 4 of them the bad-block table.
constexpr unsigned long DEVICE = 0x8000000;
constexpr unsigned long FLASHFS2 = 0x5D00000;
constexpr unsigned long NFDI = 0x7E00000;
constexpr unsigned long BBT = DEVICE - 4 * BLOCK;

constexpr unsigned long Candidate(unsigned long i) {
    return DEVICE - BLOCK * (16 + i);
}

class StoresTest : public StoreTest {
  protected:
    // A valid record put straight into one tempconf candidate.
    void PutTempConf(unsigned long i, const TBytes &aPayload) {
        BeginSession();
        ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("put", aPayload).c_str(), Candidate(i), BLOCK),
                  0);
        EndSession();
    }

    void CreateWithTable(const std::vector<TSimPartition> &atParts) {
        TSimSpec tSpec = Sim_ProfileSpec(128);
        tSpec.ptParts = atParts.data();
        tSpec.iPartCount = static_cast<int>(atParts.size());
        Create(tSpec);
    }
};

TEST_F(StoresTest, TempConfTwoCopiesFromTheTop) {
    TBytes aConf = PatternBytes(3000, 1);
    std::string strIn = WriteInput("conf", aConf);
    ASSERT_EQ(Command({"writetempconf", strIn}), 0) << m_strOut;
    EXPECT_EQ(m_strOut, "");
    EXPECT_EQ(Raw(Candidate(1), 3008), RecordStream(aConf));
    EXPECT_EQ(Raw(Candidate(2), 3008), RecordStream(aConf));
    EXPECT_EQ(Erases(Candidate(3)), 0u);
    EXPECT_EQ(Command({"checktempconf"}), 0);
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readtempconf", strOut}), 0);
    EXPECT_EQ(ReadOutput(strOut), aConf);
}

TEST_F(StoresTest, TempConfPassesOverABadFirstCandidate) {
    MarkBad(Candidate(1));
    TBytes aConf = PatternBytes(100, 2);
    ASSERT_EQ(Command({"writetempconf", WriteInput("conf", aConf)}), 0) << m_strOut;
    EXPECT_EQ(Erases(Candidate(1)), 0u);
    EXPECT_EQ(Raw(Candidate(2), 108), RecordStream(aConf));
    EXPECT_EQ(Raw(Candidate(3), 108), RecordStream(aConf));
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readtempconf", strOut}), 0);
    EXPECT_EQ(ReadOutput(strOut), aConf);
}

TEST_F(StoresTest, RefusedTempConfSourcesKeepTheOldCopies) {
    TBytes aOld = PatternBytes(10, 3);
    ASSERT_EQ(Command({"writetempconf", WriteInput("old", aOld)}), 0);
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    const std::pair<std::string, const char *> atCases[] = {
        {WriteInput("big", PatternBytes(0x1FFF9, 4)), "size too large"},
        {Path("missing"), "fopen()"},
        // Reports a size of 0 whatever it holds.
        {"/proc/self/status", "source size does not match its contents"},
    };
    for (const auto &tCase : atCases) {
        EXPECT_EQ(Command({"writetempconf", tCase.first}), -1);
        EXPECT_EQ(m_strOut, Notified(tCase.second));
    }
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readtempconf", strOut}), 0);
    EXPECT_EQ(ReadOutput(strOut), aOld);
}

// Bad candidates are passed over uncounted; the third failure on a good block ends the search.
TEST_F(StoresTest, ReadTempConfGivesUpAfterThreeFailuresOnGoodBlocks) {
    TBytes aConf = PatternBytes(50, 5);
    PutTempConf(5, aConf);
    MarkBad(Candidate(1));
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readtempconf", strOut}), -1); // failures at 2, 3, 4
    MarkBad(Candidate(2));
    EXPECT_EQ(Command({"readtempconf", strOut}), 0); // failures at 3, 4
    EXPECT_EQ(ReadOutput(strOut), aConf);
    EXPECT_EQ(Command({"checktempconf"}), 0);
}

TEST_F(StoresTest, TempDataStaysBelowTheLowerTempConfCopy) {
    ASSERT_EQ(Command({"writetempconf", WriteInput("conf", PatternBytes(10, 6))}), 0);
    const std::vector<uint32_t> aBefore = EraseMap();
    TBytes aData = PatternBytes(0x50000, 7);
    ASSERT_EQ(Command({"writetempdata", WriteInput("data", aData)}), 0) << m_strOut;
    const std::vector<uint32_t> aAfter = EraseMap();
    for (uint32_t i = 0; i < aAfter.size(); i++) {
        const unsigned long ulBlock = i * BLOCK;
        const bool bInArea = ulBlock >= FLASHFS2 && ulBlock < Candidate(2);
        EXPECT_EQ(aAfter[i] - aBefore[i], bInArea ? 1u : 0u) << "block " << i;
    }
    ExpectLaidOut(RecordStream(aData), FLASHFS2);
    EXPECT_EQ(Command({"checktempdata"}), 0);
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readtempdata", strOut}), 0);
    EXPECT_EQ(ReadOutput(strOut), aData);
    EXPECT_EQ(Command({"checktempconf"}), 0);

    // The area's good blocks below the bound decide, before anything is erased.
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    const unsigned long ulRoom = Candidate(2) - FLASHFS2;
    EXPECT_EQ(Command({"writetempdata", WriteInput("big", TBytes(ulRoom - 7, 0x5A))}), -1);
    EXPECT_EQ(m_strOut, Notified("size too large"));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    EXPECT_EQ(Command({"checktempdata"}), 0);
}

// The temporary data record starts in the flashfs2 partition's first block, which is no tempconf
// candidate: it neither stands in for a missing copy nor bounds the next tempdata write.
TEST_F(StoresTest, TheTempDataRecordIsNoTempConfCopy) {
    const std::string strData = WriteInput("data", PatternBytes(100, 10));
    ASSERT_EQ(Command({"writetempdata", strData}), 0) << m_strOut;
    EXPECT_EQ(Command({"checktempconf"}), -1);
    EXPECT_EQ(Command({"writetempdata", strData}), 0) << m_strOut;
    // The second copy does not take: one valid copy is not enough.
    Fault(SIM_FAULT_PROGRAM_LOST, Candidate(2));
    EXPECT_EQ(Command({"writetempconf", WriteInput("conf", PatternBytes(10, 11))}), -1);
    EXPECT_EQ(Command({"checktempdata"}), 0);
}

TEST_F(StoresTest, NFDICopiesSplitAtTheMiddleGoodBlock) {
    // Blocks 1 and 2 bad: 10 good blocks below the table, the fifth of them is block 6.
    MarkBad(NFDI + BLOCK);
    MarkBad(NFDI + 2 * BLOCK);
    TBytes aData = PatternBytes(0x30000, 8);
    ASSERT_EQ(Command({"writeNFDI", WriteInput("nfdi", aData)}), 0) << m_strOut;
    const unsigned long ulSplit = NFDI + 7 * BLOCK;
    ExpectLaidOut(RecordStream(aData), NFDI);
    ExpectLaidOut(RecordStream(aData), ulSplit);
    for (unsigned long ulPos = BBT; ulPos < DEVICE; ulPos += BLOCK) {
        EXPECT_EQ(Erases(ulPos), 0u) << "bad-block table block 0x" << std::hex << ulPos;
    }
    EXPECT_EQ(Command({"checkNFDI"}), 0);
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readNFDI", strOut}), 0);
    EXPECT_EQ(ReadOutput(strOut), aData);

    // Both copies must fit in half of the good blocks: 5 blocks each.
    EXPECT_EQ(Command({"writeNFDI", WriteInput("big", TBytes(5 * BLOCK - 7, 1))}), -1);
    EXPECT_EQ(m_strOut, Notified("size too large"));
}

// Program faults that store nothing: the copy's record is missing afterwards.
TEST_F(StoresTest, NFDIResultFollowsCopyOneThenCopyTwo) {
    const unsigned long ulSplit = NFDI + 6 * BLOCK;
    TBytes aData = PatternBytes(200, 9);
    std::string strIn = WriteInput("nfdi", aData);

    Fault(SIM_FAULT_PROGRAM_LOST, ulSplit);
    EXPECT_EQ(Command({"writeNFDI", strIn}), 0);
    BeginSession();
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), NFDI, 6 * BLOCK), 0);
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), ulSplit, 6 * BLOCK), -1);
    EndSession();

    Sim_ClearFaults(&m_tDev);
    Fault(SIM_FAULT_PROGRAM_LOST, NFDI);
    EXPECT_EQ(Command({"writeNFDI", strIn}), 0);
    std::string strOut = Path("out");
    EXPECT_EQ(Command({"readNFDI", strOut}), 0);
    EXPECT_EQ(ReadOutput(strOut), aData);

    Fault(SIM_FAULT_PROGRAM_LOST, ulSplit);
    EXPECT_EQ(Command({"writeNFDI", strIn}), -1);
    EXPECT_EQ(Command({"checkNFDI"}), -1);
}

TEST_F(StoresTest, NFDIWriteRefusedWhenThePartitionsDisagree) {
    int iCount = 0;
    const TSimPartition *ptDefault = Sim_DefaultTable(128, &iCount);
    std::vector<TSimPartition> atParts(ptDefault, ptDefault + iCount);
    // flashfs2 one block short: seen from below, NFDI would start a block early, inside
    // flashfs2.
    atParts[3].ullSize -= BLOCK;
    CreateWithTable(atParts);
    EXPECT_EQ(Command({"writeNFDI", WriteInput("nfdi", PatternBytes(10, 1))}), -1);
    EXPECT_EQ(m_strOut,
              Notified("NFDI partition does not match the flashfs2 partition, nothing written"));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, 0u);
}

TEST_F(StoresTest, StoresNeedFivePartitions) {
    int iCount = 0;
    const TSimPartition *ptDefault = Sim_DefaultTable(128, &iCount);
    CreateWithTable(std::vector<TSimPartition>(ptDefault, ptDefault + 4));
    std::string strIn = WriteInput("in", PatternBytes(10, 1));
    const std::vector<std::vector<std::string>> aCommands = {
        {"checktempconf"}, {"readtempconf", Path("o")}, {"writetempconf", strIn},
        {"checktempdata"}, {"readtempdata", Path("o")}, {"writetempdata", strIn},
        {"checkNFDI"},     {"readNFDI", Path("o")},     {"writeNFDI", strIn},
    };
    for (const auto &aWords : aCommands) {
        SCOPED_TRACE(aWords[0]);
        EXPECT_EQ(Command(aWords), -1);
        EXPECT_EQ(m_strOut, Notified("mtd partition table has fewer than 5 records"));
    }
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, 0u);
}

} // namespace
