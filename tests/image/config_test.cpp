// The configuration record: its exact layout, its placement over bad blocks, and how the check
// and the read judge what they find.
#include "flash/mtdio.h"
#include "image/config.h"
#include "image/store_fixture.h"

namespace {

// An area of four blocks in the stretch behind rootfs 1 that no fixed region uses.
constexpr unsigned long AREA = 0x5500000;
constexpr unsigned long AREA_LEN = 4 * BLOCK;

class RecordTest : public StoreTest {};

TEST_F(RecordTest, EmptyAndFiveByteFilesGiveTheExactRecords) {
    BeginSession();
    std::string strEmpty = WriteInput("empty", {});
    ASSERT_EQ(Nandkeep_WriteConfig(strEmpty.c_str(), AREA, AREA_LEN), 0);
    TBytes aWant(8, 0x00);
    aWant.resize(BLOCK, 0xFF);
    EXPECT_EQ(Raw(AREA, BLOCK), aWant);
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, AREA_LEN), 0);
    std::string strOut = Path("out");
    EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), 0);
    EXPECT_TRUE(ReadOutput(strOut).empty());

    TBytes aFive = {'h', 'e', 'l', 'l', 'o'};
    ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("five", aFive).c_str(), AREA, AREA_LEN), 0);
    const uint32_t dwCrc = Crc(aFive);
    TBytes aRecord = {5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
    for (int i = 0; i < 4; i++) {
        aRecord.push_back(static_cast<uint8_t>(dwCrc >> (8 * i)));
    }
    aRecord.insert(aRecord.end(), {0xFF, 0xFF, 0xFF});
    ASSERT_EQ(aRecord.size(), 16u);
    EXPECT_EQ(Raw(AREA, 16), aRecord);
    // The whole area was erased first: nothing of the empty record is left behind.
    EXPECT_EQ(Raw(AREA + 16, 16), TBytes(16, 0xFF));
    EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), 0);
    EXPECT_EQ(ReadOutput(strOut), aFive);
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullNonErasedPrograms, 0u);
}

TEST_F(RecordTest, OneBlockTakesExactly0x1FFF8Bytes) {
    BeginSession();
    TBytes aFits = PatternBytes(0x1FFF8, 1);
    ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("fits", aFits).c_str(), AREA, BLOCK), 0);
    EXPECT_EQ(Raw(AREA, BLOCK), RecordStream(aFits));
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, BLOCK), 0);

    // One byte more is refused before the erase: the old record survives.
    const uint64_t ullErases = Sim_OpCounts(&m_tDev).ullErases;
    BeginCapture();
    EXPECT_EQ(
        Nandkeep_WriteConfig(WriteInput("over", PatternBytes(0x1FFF9, 2)).c_str(), AREA, BLOCK),
        -1);
    EXPECT_EQ(EndCapture(), Notified("size too large"));
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullErases, ullErases);
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, BLOCK), 0);
}

// The checksum word lands at every split over the block boundary, with a bad block between the
// two pieces: writer and reader must skip it alike.
TEST_F(RecordTest, ChecksumWordSplitOverABadBlock) {
    MarkBad(AREA + BLOCK);
    BeginSession();
    for (unsigned long ulLen = 0x1FFF8; ulLen <= 0x1FFFD; ulLen++) {
        SCOPED_TRACE(ulLen);
        TBytes aPayload = PatternBytes(ulLen, ulLen);
        ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("in", aPayload).c_str(), AREA, AREA_LEN), 0);
        ExpectLaidOut(RecordStream(aPayload), AREA);
        EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, AREA_LEN), 0);
        std::string strOut = Path("out");
        EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), 0);
        EXPECT_EQ(ReadOutput(strOut), aPayload);
    }
    EXPECT_EQ(Erases(AREA + BLOCK), 0u);
}

TEST_F(RecordTest, PayloadCrossesBlocksAroundBadOnes) {
    MarkBad(AREA);
    MarkBad(AREA + 2 * BLOCK);
    BeginSession();
    // Two good blocks are left (1 and 3) and the record takes both.
    TBytes aPayload = PatternBytes(0x30000, 7);
    ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("in", aPayload).c_str(), AREA, AREA_LEN), 0);
    ExpectLaidOut(RecordStream(aPayload), AREA);
    std::string strOut = Path("out");
    EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), 0);
    EXPECT_EQ(ReadOutput(strOut), aPayload);
    // Bad blocks are neither erased nor written.
    EXPECT_EQ(Erases(AREA), 0u);
    EXPECT_EQ(Erases(AREA + 2 * BLOCK), 0u);
    EXPECT_EQ(Raw(AREA + 2 * BLOCK, 16), TBytes(16, 0xFF));
}

TEST_F(RecordTest, AreaTooShortOnceBadBlocksAreSkipped) {
    BeginSession();
    TBytes aPayload = PatternBytes(0x30000, 3);
    std::string strIn = WriteInput("in", aPayload);
    {
        // The first piece fills the only good block and reaches the area's end.
        MarkBad(AREA);
        BeginCapture();
        EXPECT_EQ(Nandkeep_WriteConfig(strIn.c_str(), AREA, 2 * BLOCK), -1);
        EXPECT_EQ(EndCapture(), Notified("write fail: Not enought flash space"));
    }
    {
        // Only a bad block is left where the second piece should go: no message.
        MarkBad(AREA + 3 * BLOCK);
        BeginCapture();
        EXPECT_EQ(Nandkeep_WriteConfig(strIn.c_str(), AREA + 2 * BLOCK, 2 * BLOCK), -1);
        EXPECT_EQ(EndCapture(), "");
    }
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, 2 * BLOCK), -1);
}

// An area that is not a whole number of blocks ends in a part block: a piece, or the checksum
// overflow, goes there only when all of its record bytes (the 0xFF fill aside) lie below the end.
TEST_F(RecordTest, NoRecordByteLandsAtOrPastTheAreaEnd) {
    MarkBad(AREA + BLOCK);
    BeginSession();
    struct TCase {
        unsigned long ulPayload, ulAreaLen;
        int iWant;
    } const atCases[] = {
        {0x2FFF8, 2 * BLOCK + BLOCK / 2, 0},  // the second piece fills the half block
        {0x30000, 2 * BLOCK + BLOCK / 2, -1}, // 8 bytes too many for it
        {0x1FFFA, 2 * BLOCK + 2, 0},          // 2 checksum bytes overflow into 2 bytes
        {0x1FFFB, 2 * BLOCK + 2, -1},         // 3 into 2
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.ulPayload);
        const std::string strIn = WriteInput("in", PatternBytes(tCase.ulPayload, 20));
        BeginCapture();
        EXPECT_EQ(Nandkeep_WriteConfig(strIn.c_str(), AREA, tCase.ulAreaLen), tCase.iWant);
        EXPECT_EQ(EndCapture(),
                  tCase.iWant == 0 ? "" : Notified("write fail: Not enought flash space"));
        EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, tCase.ulAreaLen), tCase.iWant);
        EXPECT_EQ(Raw(AREA + tCase.ulAreaLen, 16), TBytes(16, 0xFF));
    }
}

TEST_F(RecordTest, ErasedFlashHoldsNoRecord) {
    BeginSession();
    BeginCapture();
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, AREA_LEN), -1);
    EXPECT_EQ(EndCapture(), "");
    std::string strOut = Path("out");
    BeginCapture();
    EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), -1);
    EXPECT_EQ(EndCapture(), Notified("size check fail"));
    // The destination is only created once the length word has passed.
    EXPECT_NE(access(strOut.c_str(), F_OK), 0);
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, 0), -1);
}

// Damage in each field of a valid record, in both directions of a bit flip.
TEST_F(RecordTest, DamageIsFoundInEveryField) {
    BeginSession();
    TBytes aPayload = PatternBytes(1000, 5);
    std::string strIn = WriteInput("in", aPayload);
    const TBytes aRecord = RecordStream(aPayload);
    struct TCase {
        size_t ulByte;
        uint8_t ucValue;
    } const atCases[] = {
        {0, 0x00},    // shorter length: the checksum is looked for inside the payload
        {1, 0xFF},    // longer length: the checksum is looked for in erased flash
        {3, 0x10},    // a length beyond the area
        {500, 0x00},  // payload
        {1004, 0x00}, // checksum, bits cleared
        {1007, 0xFF}, // checksum, bits set
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.ulByte);
        ASSERT_EQ(Nandkeep_WriteConfig(strIn.c_str(), AREA, AREA_LEN), 0);
        TBytes aDamaged = aRecord;
        ASSERT_NE(aDamaged[tCase.ulByte], tCase.ucValue);
        aDamaged[tCase.ulByte] = tCase.ucValue;
        ASSERT_EQ(Sim_Erase(&m_tDev, AREA / BLOCK), 0);
        PutRaw(AREA, aDamaged);
        EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, AREA_LEN), -1);
        std::string strOut = Path("out");
        BeginCapture();
        EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), -1);
        EXPECT_NE(EndCapture(), "");
    }
}

TEST_F(RecordTest, ChecksumMismatchIsReportedWithBothValues) {
    BeginSession();
    TBytes aPayload = PatternBytes(100, 9);
    ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("in", aPayload).c_str(), AREA, AREA_LEN), 0);
    TBytes aRecord = RecordStream(aPayload);
    aRecord[50] ^= 0x01;
    ASSERT_EQ(Sim_Erase(&m_tDev, AREA / BLOCK), 0);
    PutRaw(AREA, aRecord);
    TBytes aSeen(aPayload);
    aSeen[46] ^= 0x01;
    char szLine[64];
    snprintf(szLine, sizeof(szLine), "CRC check error 0x%X / 0x%X \n", Crc(aSeen), Crc(aPayload));
    std::string strOut = Path("out");
    BeginCapture();
    EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strOut.c_str(), AREA, AREA_LEN), -1);
    EXPECT_EQ(EndCapture(), Notified("CRC check error") + szLine);
    // What was read stays in the destination.
    EXPECT_EQ(ReadOutput(strOut), aSeen);
}

TEST_F(RecordTest, BadSourcesAndDestinationsTouchNothing) {
    BeginSession();
    TBytes aPayload = PatternBytes(64, 1);
    ASSERT_EQ(Nandkeep_WriteConfig(WriteInput("in", aPayload).c_str(), AREA, AREA_LEN), 0);
    const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
    struct TCase {
        std::string strPath;
        const char *pszMsg;
    } const atCases[] = {
        {Path("missing"), "fopen()"},
        {m_strDir, "not a regular file"},
        {"/dev/null", "not a regular file"},
    };
    for (const TCase &tCase : atCases) {
        SCOPED_TRACE(tCase.strPath);
        BeginCapture();
        EXPECT_EQ(Nandkeep_WriteConfig(tCase.strPath.c_str(), AREA, AREA_LEN), -1);
        EXPECT_EQ(EndCapture(), Notified(tCase.pszMsg));
    }
    EXPECT_EQ(Sim_OpCounts(&m_tDev).ullOps, ullOps);
    EXPECT_EQ(Nandkeep_CheckConfig(MTD0Fd(), AREA, AREA_LEN), 0);

    std::string strDest = m_strDir + "/no/such/dir";
    BeginCapture();
    EXPECT_EQ(Nandkeep_ReadConfig(MTD0Fd(), strDest.c_str(), AREA, AREA_LEN), -1);
    EXPECT_EQ(EndCapture(), Notified("fopen()") + strDest);
}

} // namespace
