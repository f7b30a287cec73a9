// Power-loss campaigns: an upgrade, or a recovery, cut at every erase or program it makes,
// followed by what the device's boot script does, must leave both copies of every item valid,
// equal and from one firmware set.
//
// NANDKEEP_POWERCUT_STRIDE sets the distance between cut points (default 5; 1 tries every
// operation). The first and last operations of every region are always tried.
#include "firmware.h"
#include "sim/sim_fixture.h"
#include "support/support.h"

#include "frontend/mtdinfo.h"

#include <cstdio>
#include <map>
#include <signal.h>

using firmware::TSet;
using testsupport::RunResult;

namespace {

constexpr uint64_t BLOCK = SIM_BLOCK_SIZE;

unsigned long Stride() {
    const char *p = getenv("NANDKEEP_POWERCUT_STRIDE");
    unsigned long s = p != nullptr ? strtoul(p, nullptr, 10) : 5;
    return s == 0 ? 1 : s;
}

// The outcome of one cut point after the boot script's recovery.
struct TOutcome {
    int iSet = -1;       // the set every item holds, -1 when they do not agree
    int iBoot = -1;      // the set the boot loader holds, -1 when it holds none
    bool bStable = true; // a second recovery erased and wrote nothing
    uint64_t ullErases = 0;   // erases the cut command made, the cut one included
    uint64_t ullPrograms = 0; // programs likewise
    std::string detail;
};

class PowerCutTest : public SimDirTest {
  protected:
    void SetUp() override {
        SimDirTest::SetUp();
        m_sets[0] = firmware::MakeSet(m_files.Path(), "A", {0x30000, 0x50000, 0x3000, 0xA0000, 3000}, 100);
        m_sets[1] = firmware::MakeSet(m_files.Path(), "B", {0x38000, 0x62000, 0x3400, 0xB3000, 2500}, 200);
    }

    RunResult Tool(const std::vector<std::string> &args) {
        std::vector<std::string> argv{testsupport::SimBinary()};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::Run(argv, {{"NANDKEEP_SIM_DIR", m_strDir}});
    }
    std::vector<std::string> UpgradeArgs(const TSet &s) {
        return {"upgradeFW", s.bootPath, s.kernelPath, s.dtbPath, s.rootfsPath, s.defconfPath};
    }
    uint64_t Ops() {
        return Sim_OpCounts(&m_tDev).ullOps;
    }

    // A device holding set A in both copies, flashstatus 0, saved as the baseline.
    void MakeBaseline(const TSimSpec &tSpec) {
        Create(tSpec);
        RunResult r = Tool(UpgradeArgs(m_sets[0]));
        ASSERT_EQ(r.status, 0) << r.out;
        ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
        Snapshot();
    }
    void Snapshot() {
        Sim_Close(&m_tDev);
        m_bOpen = false;
        std::string cmd = "rm -rf '" + m_baseline.Path() + "/dev' && cp -a --sparse=always '" +
                          m_strDir + "' '" + m_baseline.Path() + "/dev'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        Reopen();
    }
    void Restore() {
        Sim_Close(&m_tDev);
        m_bOpen = false;
        std::string cmd = "cp -a --sparse=always '" + m_baseline.Path() + "/dev/.' '" + m_strDir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        Reopen();
    }

    // What the boot script does after power comes back: recover in the direction flashstatus
    // tells, then, once the system is up, reset flashstatus.
    void BootScript(TOutcome *ptOut) {
        std::string status = Sim_FlashStatus(m_strDir.c_str());
        RunResult r = Tool({"systemRecovery", status == "1" ? "1" : "3"});
        ptOut->detail = "flashstatus " + status + ", recovery status " + std::to_string(r.status);
        ASSERT_EQ(Sim_SetFlashStatus(m_strDir.c_str(), "0"), 0);
        uint64_t before = Ops();
        (void)Tool({"systemRecovery", "3"});
        ptOut->bStable = Ops() == before;
    }

    void Judge(TOutcome *ptOut) {
        const int k0 = firmware::KernelCopy(&m_tDev, KERNEL0_OFFSET, KERNEL_SIZE, m_sets, 2);
        const int k1 = firmware::KernelCopy(&m_tDev, KERNEL1_OFFSET, KERNEL_SIZE, m_sets, 2);
        const int r0 = firmware::RootfsCopy(&m_tDev, ROOTFS0_OFFSET, ROOTFS_SIZE, m_sets, 2);
        const int r1 = firmware::RootfsCopy(&m_tDev, ROOTFS1_OFFSET, ROOTFS_SIZE, m_sets, 2);
        ptOut->iSet = (k0 == k1 && k1 == r0 && r0 == r1) ? k0 : -1;
        ptOut->iBoot = firmware::BootCopy(&m_tDev, m_sets, 2);
        char sz[96];
        snprintf(sz, sizeof(sz), "; kernel %d/%d rootfs %d/%d boot %d", k0, k1, r0, r1,
                 ptOut->iBoot);
        ptOut->detail += sz;
    }

    // Restores the baseline, runs the command with the power cut at its k-th operation, then
    // the boot script. bKilled tells whether the cut came before the command finished.
    TOutcome CutAt(const std::vector<std::string> &args, uint64_t k, bool *pbKilled) {
        TOutcome tOut;
        Restore();
        const TSimOpCounts tBefore = Sim_OpCounts(&m_tDev);
        EXPECT_EQ(Sim_AddFault(&m_tDev, SIM_FAULT_POWERCUT, SIM_NO_BLOCK, k), 0);
        RunResult r = Tool(args);
        *pbKilled = r.signal == SIGKILL;
        const TSimOpCounts tAfter = Sim_OpCounts(&m_tDev);
        tOut.ullErases = tAfter.ullErases - tBefore.ullErases;
        tOut.ullPrograms = tAfter.ullPrograms - tBefore.ullPrograms;
        Sim_ClearFaults(&m_tDev);
        BootScript(&tOut);
        Judge(&tOut);
        return tOut;
    }

    // Operations a full run of the command makes from the baseline, and where each region's
    // erases start and end (from the erase counts), so that the cut points cover both ends.
    uint64_t CountOps(const std::vector<std::string> &args) {
        Restore();
        uint64_t before = Ops();
        RunResult r = Tool(args);
        EXPECT_EQ(r.status, 0) << r.out;
        return Ops() - before;
    }

    // Runs the campaign: every Stride()-th operation, the last one, and then every operation
    // between two tried points whose counts show that the kind of operation changed in between
    // (an erase run gave way to a program run or back), so that both ends of every region's
    // erase and of every region's writes are tried whatever the stride.
    template <typename Visit>
    void Campaign(const std::vector<std::string> &args, uint64_t ullTotal, Visit visit) {
        std::map<uint64_t, TOutcome> done;
        auto run = [&](uint64_t k) {
            if (done.count(k) == 0) {
                bool killed = false;
                done[k] = CutAt(args, k, &killed);
                EXPECT_TRUE(killed || k == ullTotal) << "operation " << k << " did not cut";
                visit(k, done[k]);
            }
        };
        for (uint64_t k = 1; k <= ullTotal; k += Stride()) {
            run(k);
        }
        run(ullTotal);
        std::vector<uint64_t> tried;
        for (const auto &kv : done) {
            tried.push_back(kv.first);
        }
        for (size_t i = 1; i < tried.size(); i++) {
            const TOutcome &a = done[tried[i - 1]];
            const TOutcome &b = done[tried[i]];
            bool bothKinds = b.ullErases > a.ullErases && b.ullPrograms > a.ullPrograms;
            if (bothKinds) {
                for (uint64_t k = tried[i - 1] + 1; k < tried[i]; k++) {
                    run(k);
                }
            }
        }
    }

    testsupport::TempDir m_files;
    testsupport::TempDir m_baseline;
    TSet m_sets[2];
};

TEST_F(PowerCutTest, UpgradeCutAtAnyPointRecoversToOneSet) {
    MakeBaseline(Sim_ProfileSpec(128));
    const auto args = UpgradeArgs(m_sets[1]);
    const uint64_t total = CountOps(args);
    ASSERT_GT(total, 100u);
    unsigned tried = 0, held = 0, bootWindow = 0, mixedBoot = 0, toA = 0, toB = 0;
    Campaign(args, total, [&](uint64_t k, const TOutcome &o) {
        tried++;
        bool ok = o.iSet >= 0 && o.bStable;
        held += ok ? 1 : 0;
        toA += o.iSet == 0 ? 1 : 0;
        toB += o.iSet == 1 ? 1 : 0;
        bootWindow += o.iBoot < 0 ? 1 : 0;
        mixedBoot += (o.iBoot == 1 && o.iSet == 0) ? 1 : 0;
        EXPECT_TRUE(ok) << "cut at operation " << k << " of " << total << ": " << o.detail
                        << (o.bStable ? "" : "; second recovery still wrote");
    });
    printf("[ figures  ] upgrade: %u cut points tried, %u held (%u recovered to A, %u to B); "
           "boot loader invalid after %u; boot loader B with firmware A after %u\n",
           tried, held, toA, toB, bootWindow, mixedBoot);
}

} // namespace
