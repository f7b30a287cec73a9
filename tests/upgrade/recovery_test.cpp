// System recovery on the simulated device, as whole processes: what it repairs, what it leaves
// alone, and the exit status of each form.
#include "sim/sim_fixture.h"
#include "support/firmware.h"
#include "support/support.h"

#include "frontend/mtdinfo.h"

using firmware::TSet;
using testsupport::Bytes;
using testsupport::RunResult;

namespace {

constexpr uint64_t BLOCK = SIM_BLOCK_SIZE;

class RecoveryTest : public SimDirTest {
  protected:
    void SetUp() override {
        SimDirTest::SetUp();
        m_sets[0] =
            firmware::MakeSet(m_files.Path(), "A", {0x20000, 0x50000, 0x3000, 0xA0000, 3000}, 300);
        m_sets[1] =
            firmware::MakeSet(m_files.Path(), "B", {0x28000, 0x62000, 0x3400, 0xB3000, 2500}, 400);
        Create(Sim_ProfileSpec(128));
        ASSERT_EQ(Tool(Upgrade(m_sets[0])).status, 0);
        ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
    }
    RunResult Tool(const std::vector<std::string> &args) {
        std::vector<std::string> argv{testsupport::SimBinary()};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::Run(argv, {{"NANDKEEP_SIM_DIR", m_strDir}});
    }
    std::vector<std::string> Upgrade(const TSet &s) {
        return {"upgradeFW", s.bootPath, s.kernelPath, s.dtbPath, s.rootfsPath, s.defconfPath};
    }
    int Kernel(uint64_t ullRegion) {
        return firmware::KernelCopy(&m_tDev, ullRegion, KERNEL_SIZE, m_sets, 2);
    }
    int Rootfs(uint64_t ullRegion) {
        return firmware::RootfsCopy(&m_tDev, ullRegion, ROOTFS_SIZE, m_sets, 2);
    }
    void ExpectAll(int iSet) {
        EXPECT_EQ(Kernel(KERNEL0_OFFSET), iSet);
        EXPECT_EQ(Kernel(KERNEL1_OFFSET), iSet);
        EXPECT_EQ(Rootfs(ROOTFS0_OFFSET), iSet);
        EXPECT_EQ(Rootfs(ROOTFS1_OFFSET), iSet);
    }
    uint64_t Ops() {
        return Sim_OpCounts(&m_tDev).ullOps;
    }
    // Flips bits of one byte in flash, as decay would.
    void Corrupt(uint64_t ullOffset) {
        Bytes b(1);
        Bytes cur(1);
        ASSERT_EQ(Sim_ReadRaw(&m_tDev, ullOffset, cur.data(), 1), 0);
        b[0] = static_cast<uint8_t>(cur[0] ^ 0x5A);
        ASSERT_EQ(Sim_WriteRaw(&m_tDev, ullOffset, b.data(), 1), 0);
    }

    testsupport::TempDir m_files;
    TSet m_sets[2];
};

TEST_F(RecoveryTest, EqualCopiesAreLeftAloneInEveryForm) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"systemRecovery"}, {"systemRecovery", "1"}, {"systemRecovery", "3"}}) {
        uint64_t before = Ops();
        RunResult r = Tool(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "recovered image\n");
        EXPECT_EQ(Ops(), before) << args.size();
    }
    ExpectAll(0);
}

TEST_F(RecoveryTest, InterruptedUpgradeIsCompletedWithFlashStatusOne) {
    // The backups hold B, the normal copies were being rewritten: kernel 0 is broken.
    ASSERT_EQ(Tool({"upgradeFW", m_sets[1].bootPath, m_sets[1].kernelPath, m_sets[1].dtbPath,
                    m_sets[1].rootfsPath, m_sets[1].defconfPath})
                  .status,
              0);
    Corrupt(KERNEL0_OFFSET + 0x30000);
    ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "1"), 0);
    RunResult r = Tool({"systemRecovery", "101"}); // only the low 8 bits count
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "recovered image\n");
    ExpectAll(1);
}

TEST_F(RecoveryTest, BrokenBackupWithFlashStatusOneSumsTheFailedPass) {
    Corrupt(KERNEL1_OFFSET + 0x30000);
    RunResult r = Tool({"systemRecovery", "1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Kernel/Rootfs CRC check error"), std::string::npos);
    EXPECT_NE(r.out.find("\n Nandkeep notify -> check Source mkimg fail\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 16), "recovered image\n");
    ExpectAll(0);
}

TEST_F(RecoveryTest, BrokenNormalCopyWithFlashStatusThreeSumsBothPasses) {
    Corrupt(ROOTFS0_OFFSET + 0x40000);
    RunResult r = Tool({"systemRecovery", "3"});
    // First pass: kernel 1 from kernel 0 (equal, 0), rootfs 1 from the broken rootfs 0 (-1);
    // second pass: kernel 0 from kernel 1 (0), rootfs 0 from rootfs 1 (0).
    EXPECT_EQ(r.status, 255);
    ExpectAll(0);
}

TEST_F(RecoveryTest, InvalidSourceDtbLeavesTheDestinationAlone) {
    // Kernel 1's DTB broken, kernel 0 different: recovery of kernel 0 from kernel 1 must not
    // touch kernel 0.
    const uint64_t ullSub1 = KERNEL1_OFFSET + (m_sets[0].kernel.size() / BLOCK + 1) * BLOCK;
    Corrupt(ullSub1 + 100);
    Corrupt(KERNEL0_OFFSET + 0x30000);
    Bytes before(KERNEL_SIZE), after(KERNEL_SIZE);
    ASSERT_EQ(Sim_ReadRaw(&m_tDev, KERNEL0_OFFSET, before.data(), before.size()), 0);
    RunResult r = Tool({"systemRecovery", "1"});
    EXPECT_NE(r.out.find("\n Nandkeep notify -> check Source DTB image fail\n"), std::string::npos);
    // Kernel 0 is the source of the second pass, untouched by the first.
    ASSERT_EQ(Sim_ReadRaw(&m_tDev, KERNEL0_OFFSET, after.data(), after.size()), 0);
    EXPECT_EQ(before, after);
}

TEST_F(RecoveryTest, DifferentDtbOnlyRewritesTheDtbRange) {
    // Kernel 0 gets B's DTB behind A's kernel.
    ASSERT_EQ(Tool({"updateDTB", m_sets[1].dtbPath}).status, 0);
    // Restore A's DTB behind kernel 1 so that the two copies differ in the DTB only.
    const uint64_t ullSub1 = KERNEL1_OFFSET + (m_sets[0].kernel.size() / BLOCK + 1) * BLOCK;
    char szOffset[32], szLen[32];
    snprintf(szOffset, sizeof(szOffset), "%lx", static_cast<unsigned long>(ullSub1));
    snprintf(szLen, sizeof(szLen), "%lx",
             static_cast<unsigned long>(KERNEL1_OFFSET + KERNEL_SIZE - ullSub1));
    ASSERT_EQ(Tool({"write", m_sets[0].dtbPath, szOffset, szLen}).status, 0);
    std::vector<uint32_t> erasesBefore;
    for (uint32_t b = 0; b < 2 * KERNEL_SIZE / BLOCK; b++) {
        erasesBefore.push_back(
            Sim_EraseCount(&m_tDev, static_cast<uint32_t>(KERNEL0_OFFSET / BLOCK) + b));
    }
    RunResult r = Tool({"systemRecovery", "1"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Kernel(KERNEL0_OFFSET), 0);
    EXPECT_EQ(Kernel(KERNEL1_OFFSET), 0);
    const uint32_t dwSubBlock = static_cast<uint32_t>((ullSub1 - KERNEL1_OFFSET) / BLOCK);
    for (uint32_t b = 0; b < KERNEL_SIZE / BLOCK; b++) {
        uint32_t blk = static_cast<uint32_t>(KERNEL0_OFFSET / BLOCK) + b;
        EXPECT_EQ(Sim_EraseCount(&m_tDev, blk) - erasesBefore[b], b >= dwSubBlock ? 1u : 0u) << b;
    }
}

// Without FlashStatus, a normal kernel block that has decayed (uncorrectable reads) while the
// backup kernel cannot be validated either: the block-level repair takes the backup's block for
// it, then rewrites both copies from the merged normal copy, the backup first.
TEST_F(RecoveryTest, BlockLevelRepairTakesTheBackupsBlockForAFailedOne) {
    const uint32_t dwDecayed = static_cast<uint32_t>(KERNEL0_OFFSET / BLOCK) + 1;
    ASSERT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_DECAY, dwDecayed, 0, 5), 0);
    Corrupt(KERNEL1_OFFSET + 2 * BLOCK + 7); // backup data CRC broken in another block
    RunResult r = Tool({"systemRecovery"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\n Nandkeep notify -> check Source mkimg fail\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 16), "recovered image\n");
    ExpectAll(0);
    EXPECT_FALSE(Sim_IsBad(&m_tDev, dwDecayed) == 1);
    // The repaired set is stable.
    uint64_t before = Ops();
    EXPECT_EQ(Tool({"systemRecovery"}).status, 0);
    EXPECT_EQ(Ops(), before);
}

} // namespace
