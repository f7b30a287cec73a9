// Recovery campaign: from a device freshly upgraded with one firmware set, each row damages one
// byte of an item behind the tool's back, injects one fault into a copy's region and runs one form
// of systemRecovery. No row may lower the number of valid copies of any item; a status of 0 must
// mean that every copy is valid and each pair equal; a second recovery after a status of 0 must
// erase and program nothing (but for a weak block of a copy the first run read only as a source).
// Validity is judged here from the documented formats alone (support/formats.h).
//
// NANDKEEP_RECOVERY_STRIDE runs every STRIDE-th row of the table (default 11, prime to the 3
// forms and the 75 rows of a damage, so that every form, fault and damage comes up; 1: all of
// it); the 256 MiB profile runs one row in 16 of those.
#include "support/support.h"

#include <algorithm>
#include <array>

namespace {

constexpr uint32_t B = SIM_BLOCK_SIZE;
constexpr uint64_t REGION[2][2] = {{KERNEL0_OFFSET, KERNEL1_OFFSET},
                                   {ROOTFS0_OFFSET, ROOTFS1_OFFSET}};
constexpr uint64_t REGION_SIZE[2] = {KERNEL_SIZE, ROOTFS_SIZE};
constexpr int SET_SEED = 300; // the firmware set's data
// The faults of a row (SIM_FAULT_KIND_COUNT: none).
constexpr TSimFaultKind FAULTS[] = {
    SIM_FAULT_KIND_COUNT,    SIM_FAULT_PROGRAM_FAIL, SIM_FAULT_ERASE_FAIL, SIM_FAULT_BITFLIP,
    SIM_FAULT_UNCORRECTABLE, SIM_FAULT_BAD,          SIM_FAULT_POWERCUT};

// Every copy, index 4 x pair + 2 x (sub-image) + copy: its bytes when valid, else empty.
using TCopies = std::array<Bytes, 8>;

class RecoveryCampaign : public SimTest, public ::testing::WithParamInterface<int> {
  protected:
    // Each copy as a read of whole pages sees it: the region's good blocks in order (the first
    // 32, room enough for the images used here), raw where that is the same, through the ECC
    // where a page fails it (the page then comes back corrupted). The sub-image lies at the first
    // good block from the first block boundary strictly after the image's last byte, in physical
    // offsets.
    TCopies Copies() {
        TCopies a;
        for (int i = 0; i < 4; i++) {
            const uint64_t ullEnd = REGION[i / 2][i % 2] + REGION_SIZE[i / 2];
            Bytes aRead;
            std::vector<uint64_t> aPhys;
            for (uint64_t ullPos = REGION[i / 2][i % 2]; ullPos < ullEnd && aPhys.size() < 32;
                 ullPos += B) {
                if (Sim_IsBad(&m_tDev, uint32_t(ullPos / B)) != 0) {
                    continue;
                }
                bool bFails = false;
                for (const TSimFault &t : Sim_ListFaults(&m_tDev)) {
                    bFails |= t.dwBlock == ullPos / B && t.eKind == SIM_FAULT_UNCORRECTABLE;
                }
                aPhys.push_back(ullPos);
                aRead.resize(aRead.size() + B);
                EXPECT_EQ(
                    (bFails ? Sim_Read : Sim_ReadRaw)(&m_tDev, ullPos, &aRead[aRead.size() - B], B),
                    0);
            }
            const uint64_t l = ValidLen(aRead, 0, true, 0);
            uint64_t s = 0, ullSub = l ? (aPhys[(l - 1) / B] + (l - 1) % B + 1) / B * B + B : 0;
            while (s < aRead.size() && aPhys[s / B] < ullSub) {
                s += B;
            }
            a[4 * (i / 2) + i % 2].assign(aRead.begin(), aRead.begin() + long(l));
            const uint64_t m = l ? ValidLen(aRead, s, i < 2, ullEnd - ullSub) : 0;
            a[4 * (i / 2) + 2 + i % 2].assign(aRead.begin() + long(s), aRead.begin() + long(s + m));
        }
        return a;
    }

    // Where the power cut comes: in an uncut run (the simulator's trace), the first program of
    // the target block, else the middle operation in its region [dwFirst, +dwCount), else the
    // middle operation of the run; 0 when the run makes none.
    uint64_t CutPoint(const std::vector<std::string> &astrCommand, uint32_t dwBlock,
                      uint32_t dwFirst, uint32_t dwCount) {
        TRun tRun;
        const auto aOps = Traced(astrCommand, &tRun);
        std::vector<uint64_t> aullInRegion;
        for (uint64_t k = 1; k <= aOps.size(); k++) {
            if (aOps[k - 1].first == 'P' && aOps[k - 1].second == dwBlock) {
                return k;
            }
            if (aOps[k - 1].second - dwFirst < dwCount) {
                aullInRegion.push_back(k);
            }
        }
        return aullInRegion.empty() ? (aOps.size() + 1) / 2 : aullInRegion[aullInRegion.size() / 2];
    }
};

TEST_P(RecoveryCampaign, NoFormLosesTheLastValidCopy) {
    // The kernel image ends exactly on a block boundary (an empty block before its DTB), the
    // others inside a block.
    const TSet tSet =
        MakeSet(m_strDir + ".set", {0x30000, 0x60000 - 64, 0x3000, 0xA3000, 3000}, SET_SEED);
    Create(Sim_ProfileSpec(GetParam()));
    ASSERT_EQ(Tool(tSet.astrUpgrade).iStatus, 0);
    Snapshot(false);
    const TCopies aStart = Copies();
    ASSERT_EQ(aStart, (TCopies{tSet.aKernel, tSet.aKernel, tSet.aDtb, tSet.aDtb, tSet.aRootfs,
                               tSet.aRootfs, tSet.aDefconf, tSet.aDefconf}));

    // Row r: damage r / 75 (none, with the faults in the kernel or the rootfs pair; the header, a
    // data byte and the last byte of each image; the header and a data byte of each DTB; the
    // length word and a payload byte of each default configuration), fault r / 3 % 25 (none, or a
    // kind in either region of the pair at its first block and, when that differs, at the block
    // holding the damage counted from the region's start), form r % 3.
    const char *pszStride = getenv("NANDKEEP_RECOVERY_STRIDE");
    const size_t ulStride = std::max(pszStride ? strtoull(pszStride, nullptr, 10) : 11, 1ull) *
                            (GetParam() == 256 ? 16 : 1);
    const char *const apszDamage[2][5] = {
        {"kernel header", "kernel data byte", "kernel last byte", "DTB header", "DTB data byte"},
        {"rootfs header", "rootfs data byte", "rootfs last byte", "defconf length word",
         "defconf payload byte"}};
    unsigned uTried = 0, uHeld = 0;
    for (size_t r = 0; r < 22 * 75; r += ulStride) {
        const int d = int(r / 75) - 2, f = int(r / 3 % 25) - 1, p = d < 0 ? d + 2 : d / 10;
        const int iCopy = std::max(d, 0) / 5 % 2, iFaultCopy = std::max(f, 0) / 2 % 2;
        const int64_t llLen = int64_t(aStart[4 * p].size()), llSub = llLen / B * B + B;
        const int64_t allRel[5] = {16, llLen / 2, llLen - 1, llSub,
                                   llSub + int64_t(aStart[4 * p + 2].size() / 2)};
        const int64_t llRel = d < 0 ? -1 : allRel[d % 5];
        const uint32_t dwRel = f >= 0 && f % 2 ? uint32_t(llRel / B) : 0;
        if (f >= 0 && f % 2 && dwRel == 0) {
            continue; // the damage lies in the first block: the row before
        }
        const TSimFaultKind eFault = FAULTS[f < 0 ? 0 : f / 4 + 1];
        const uint32_t dwFirst = uint32_t(REGION[p][iFaultCopy] / B), dwBlock = dwFirst + dwRel;
        std::vector<std::string> astrCommand = {"systemRecovery", r % 3 == 1 ? "1" : "3"};
        astrCommand.resize(r % 3 ? 2 : 1);
        std::string strRow =
            "row " + std::to_string(r) + " (" + std::to_string(GetParam()) + " MiB): damage " +
            (d < 0 ? std::string("none")
                   : apszDamage[p][d % 5] + std::string(" of copy ") + char('0' + iCopy)) +
            ", fault " + (f < 0 ? "none" : Nand_FaultName(eFault)) + " at block " +
            std::to_string(dwBlock) + ", " +
            (r % 3 ? "systemRecovery " + astrCommand[1] : "plain systemRecovery");
        uint64_t k = 0;
        for (int iPass = eFault == SIM_FAULT_POWERCUT ? 0 : 1; iPass < 2; iPass++) {
            Snapshot(true);
            uint8_t ucByte = 0;
            const uint64_t ullAt = REGION[p][iCopy] + uint64_t(llRel);
            ASSERT_TRUE(d < 0 || (Sim_ReadRaw(&m_tDev, ullAt, &ucByte, 1) == 0 &&
                                  (ucByte ^= 0x5A, Sim_WriteRaw(&m_tDev, ullAt, &ucByte, 1) == 0)));
            k = iPass == 0 ? CutPoint(astrCommand, dwBlock, dwFirst, uint32_t(REGION_SIZE[p] / B))
                           : k;
        }
        // A read fault hits the page of the damage in its block, page 0 of a region's first block.
        ASSERT_TRUE(f < 0 || (eFault == SIM_FAULT_POWERCUT && k == 0) ||
                    Sim_AddFault(&m_tDev, eFault, dwBlock, std::max<uint64_t>(k, 1),
                                 dwRel ? uint32_t(llRel % B / SIM_PAGE_SIZE) : 0) == 0);
        const TCopies aBefore = Copies();
        TRun tRun = Tool(astrCommand);
        if (k > 0) {
            // Power comes back: the next recovery in the same form is judged.
            strRow +=
                ", cut at operation " + std::to_string(k) + (tRun.bKilled ? "" : " (not cut)");
            DefusePowerCut();
            tRun = Tool(astrCommand);
        }
        const TCopies aAfter = Copies();
        // The valid copies of the kernel, DTB, rootfs and default configuration, as digits.
        std::string strBefore, strAfter;
        bool bEqual = true, bFewer = false;
        for (int i = 0; i < 8; i += 2) {
            strBefore += char('0' + !aBefore[i].empty() + !aBefore[i + 1].empty());
            strAfter += char('0' + !aAfter[i].empty() + !aAfter[i + 1].empty());
            bEqual = bEqual && !aAfter[i].empty() && aAfter[i] == aAfter[i + 1];
            bFewer = bFewer || strAfter.back() < strBefore.back();
        }
        // A weak block of the normal copy that the plain form read only as the source of the
        // backup's repair is retired when the next run reads it as a destination.
        const bool bWeakSource = r % 3 == 0 && iFaultCopy == 0 &&
                                 (eFault == SIM_FAULT_BITFLIP || eFault == SIM_FAULT_UNCORRECTABLE);
        const uint64_t ullOps = Sim_OpCounts(&m_tDev).ullOps;
        const bool bWrote = tRun.iStatus == 0 && !bWeakSource &&
                            (Tool(astrCommand), Sim_OpCounts(&m_tDev).ullOps != ullOps);
        const bool bFalseSuccess = tRun.iStatus == 0 && !bEqual;
        uTried++;
        uHeld += !bFewer && !bFalseSuccess && !bWrote;
        EXPECT_TRUE(!bFewer && !bFalseSuccess && !bWrote)
            << strRow << ":" << (bFewer ? " fewer valid copies;" : "")
            << (bFalseSuccess ? " status 0 without every copy valid and each pair equal;" : "")
            << (bWrote ? " a second recovery erased or programmed;" : "") << " status "
            << tRun.iStatus << ", valid copies of kernel, DTB, rootfs, defconf " << strBefore
            << " before, " << strAfter << " after; output:\n"
            << tRun.strOut;
    }
    printf("[ figures  ] recovery_%d: %u rows tried, %u held (every %zu-th of %d; firmware set "
           "from seed %d)\n",
           GetParam(), uTried, uHeld, ulStride, 22 * 75, SET_SEED);
}

INSTANTIATE_TEST_SUITE_P(Profiles, RecoveryCampaign, ::testing::Values(128, 256));

} // namespace
