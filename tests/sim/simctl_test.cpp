// nandkeep-simctl as a user runs it, and the tool on the simulator starting up over its device.
#include "sim_fixture.h"

#include <fstream>
#include <unistd.h>

namespace {

class SimctlTest : public SimDirTest {
  protected:
    // Runs the control tool on this test's directory; returns the exit status.
    int Ctl(const std::string &strArgs, std::string *pstrOut = nullptr) {
        std::string strOut;
        int iStatus =
            RunCommand(std::string(NANDKEEP_SIMCTL_BINARY) + " --dir '" + m_strDir + "' " + strArgs,
                       pstrOut ? pstrOut : &strOut);
        return iStatus;
    }

    static bool Contains(const std::string &strText, const std::string &strPart) {
        return strText.find(strPart) != std::string::npos;
    }
};

TEST_F(SimctlTest, BadArgumentsGiveAClearMessageAndStatus2) {
    ASSERT_EQ(Ctl("create --blocks 48"), 0);
    struct {
        const char *pszArgs;
        const char *pszMessage;
    } atCases[] = {
        {"", "usage: nandkeep-simctl"},
        {"frobnicate", "unknown command 'frobnicate'"},
        {"create --profile 64", "the profiles are 128 and 256"},
        {"create --blocks 0", "not a whole number of 128 KiB blocks"},
        {"create --size 0x30001", "not a whole number of 128 KiB blocks"},
        {"create --profile 128 --blocks 4", "either a profile or a size"},
        {"create --bbt 2", "--bbt goes with --blocks or --size"},
        {"create --blocks", "wants a value"},
        {"create --colour red", "unknown option '--colour'"},
        {"create --seed many", "'many' is not a number"},
        {"fault add nonsense 1", "unknown fault kind 'nonsense'"},
        {"fault add erase-fail 48", "block '48' is not a block index from 0 to 47"},
        {"fault add erase-fail -1", "block '-1'"},
        {"fault add wear-out 3", "wants the number of erases"},
        {"fault add bitflip 3 1 --page 64", "--page wants a page"},
        {"fault add program-fail 3 7", "too many arguments"},
        {"fault add powercut", "wants one count"},
        {"fault add short-read 0", "wants one count"},
        {"fault frob", "want 'add', 'list' or 'clear'"},
        {"mark x", "block 'x'"},
        {"unmark 12x", "block '12x'"},
        {"info extra", "wrong number of arguments for 'info'"},
        {"ecc 1", "node '1' is not a node from 0 to 0"},
        {"ecc x", "node 'x'"},
        {"ecc 0 1", "wrong number of arguments for 'ecc'"},
        {"save out.img 0 0", "not a positive number"},
        {"load in.img zz", "offset 'zz'"},
        {"--bogus info", "unknown option"},
    };
    for (const auto &tCase : atCases) {
        std::string strOut;
        EXPECT_EQ(Ctl(tCase.pszArgs, &strOut), 2) << tCase.pszArgs << ": " << strOut;
        EXPECT_TRUE(Contains(strOut, tCase.pszMessage)) << tCase.pszArgs << ": " << strOut;
    }
    // None of them changed the device.
    Reopen();
    EXPECT_EQ(Sim_BlockCount(&m_tDev), 48u);
    EXPECT_TRUE(Sim_ListFaults(&m_tDev).empty());
    EXPECT_TRUE(Sim_BadBlocks(&m_tDev).empty());
}

TEST_F(SimctlTest, FailuresOfTheDeviceOrFilesGiveStatus1) {
    std::string strOut;
    EXPECT_EQ(Ctl("info", &strOut), 1);
    EXPECT_TRUE(Contains(strOut, "no simulated device in")) << strOut;
    ASSERT_EQ(Ctl("create --blocks 4"), 0);
    EXPECT_EQ(Ctl("load '" + Path("missing.img") + "'", &strOut), 1);
    EXPECT_TRUE(Contains(strOut, "cannot read")) << strOut;
    EXPECT_EQ(Ctl("save '" + Path("x.img") + "' 0x80000", &strOut), 0) << strOut;
    EXPECT_EQ(Ctl("save '" + Path("x.img") + "' 0x80001", &strOut), 1);
    EXPECT_TRUE(Contains(strOut, "outside")) << strOut;
    // Sources and logs without end, or longer than what the command can use, are refused after
    // reading at most that much; the address-space limit keeps a regression from eating the
    // machine.
    std::ofstream(Path("big.img")) << std::string(0x10001, 'x');
    const std::string strLimit =
        testsupport::LauncherFor(NANDKEEP_SIMCTL_BINARY).empty() ? "ulimit -v 1000000; " : "";
    const struct {
        const char *pszEndless; // the file of the device directory replaced by /dev/zero first
        std::string strArgs;
        const char *pszMessage;
    } atEndless[] = {
        {nullptr, "load /dev/zero", "/dev/zero holds more than the 0x80000 bytes from offset 0x0"},
        {nullptr, "load '" + Path("big.img") + "' 0x70000", "holds more than the 0x10000 bytes"},
        {"syslog", "syslog", "/syslog holds more than 16777216 bytes"},
        {nullptr, "status", "/syslog holds more than 16777216 bytes"},
        {"flashstatus", "flashstatus", "/flashstatus holds more than 4096 bytes"},
    };
    for (const auto &tCase : atEndless) {
        if (tCase.pszEndless != nullptr) {
            ASSERT_EQ(unlink(Path(tCase.pszEndless).c_str()), 0);
            ASSERT_EQ(symlink("/dev/zero", Path(tCase.pszEndless).c_str()), 0);
        }
        EXPECT_EQ(RunCommand(strLimit + NANDKEEP_SIMCTL_BINARY + " --dir '" + m_strDir + "' " +
                                 tCase.strArgs,
                             &strOut),
                  1)
            << tCase.strArgs << ": " << strOut;
        EXPECT_TRUE(Contains(strOut, tCase.pszMessage)) << tCase.strArgs << ": " << strOut;
    }
    std::ofstream(Path("t.txt")) << "p 0x0 0x100000\n";
    EXPECT_EQ(Ctl("create --blocks 4 --table '" + Path("t.txt") + "'", &strOut), 1);
    EXPECT_TRUE(Contains(strOut, "runs past")) << strOut;
}

TEST_F(SimctlTest, CreateInjectInspectAndClear) {
    std::ofstream(Path("t.txt")) << "all 0 0x600000\nhigh 0x400000 0x200000\n";
    std::string strOut;
    ASSERT_EQ(Ctl("create --blocks 48 --bbt 2 --seed 7 --table '" + Path("t.txt") + "'", &strOut),
              0)
        << strOut;
    EXPECT_TRUE(Contains(strOut, "48 blocks, 2 partitions")) << strOut;
    ASSERT_EQ(Ctl("fault add bitflip 3 2 --page 5"), 0);
    ASSERT_EQ(Ctl("fault add wear-out 0x10 4"), 0);
    ASSERT_EQ(Ctl("fault add bad 7"), 0);
    ASSERT_EQ(Ctl("fault add uncorrectable 9"), 0);
    ASSERT_EQ(Ctl("fault add powercut 3"), 0);
    ASSERT_EQ(Ctl("fault list", &strOut), 0);
    EXPECT_EQ(strOut, "block 3 bitflip 2 page 5\n"
                      "block 7 bad\n"
                      "block 9 uncorrectable page 0\n"
                      "block 16 wear-out 4\n"
                      "device powercut 3\n");
    ASSERT_EQ(Ctl("mark 20"), 0);
    ASSERT_EQ(Ctl("bad", &strOut), 0);
    EXPECT_EQ(strOut, "7 0x000e0000\n20 0x00280000\n");
    ASSERT_EQ(Ctl("ecc", &strOut), 0);
    EXPECT_EQ(strOut, "corrected 0\nfailed 0\nbadblocks 2\nbbtblocks 2\n");
    // Node 1 holds neither bad block.
    ASSERT_EQ(Ctl("ecc 1", &strOut), 0);
    EXPECT_EQ(strOut, "corrected 0\nfailed 0\nbadblocks 0\nbbtblocks 2\n");
    ASSERT_EQ(Ctl("unmark 20"), 0);
    ASSERT_EQ(Ctl("fault clear 7"), 0);
    ASSERT_EQ(Ctl("bad", &strOut), 0);
    EXPECT_EQ(strOut, "");
    ASSERT_EQ(Ctl("fault clear"), 0);
    ASSERT_EQ(Ctl("fault list", &strOut), 0);
    EXPECT_EQ(strOut, "");

    ASSERT_EQ(Ctl("flashstatus 1"), 0);
    ASSERT_EQ(Ctl("flashstatus", &strOut), 0);
    EXPECT_EQ(strOut, "1\n");
    ASSERT_EQ(Ctl("ops", &strOut), 0);
    EXPECT_EQ(strOut, "ops 0\nerases 0\nprograms 0\nnon-erased-programs 0\n");
    ASSERT_EQ(Ctl("status", &strOut), 0);
    for (const char *pszPart : {"mtd1 high", "flashstatus 1", "-- ecc", "-- faults", "-- syslog"}) {
        EXPECT_TRUE(Contains(strOut, pszPart)) << pszPart;
    }
}

TEST_F(SimctlTest, LoadAndSaveRawBytes) {
    ASSERT_EQ(Ctl("create --blocks 4"), 0);
    std::ofstream(Path("in.img")) << "hello";
    ASSERT_EQ(Ctl("load '" + Path("in.img") + "' 0x20001"), 0);
    ASSERT_EQ(Ctl("save '" + Path("out.img") + "' 0x20000 7"), 0);
    std::ifstream tIn(Path("out.img"));
    std::string strGot((std::istreambuf_iterator<char>(tIn)), std::istreambuf_iterator<char>());
    EXPECT_EQ(strGot, "\xFFhello\xFF");
}

TEST_F(SimctlTest, ToolOnTheSimulatorStartsOverTheDevice) {
    ASSERT_EQ(Ctl("create"), 0);
    std::string strCmd = "NANDKEEP_SIM_DIR='" + m_strDir + "' " + NANDKEEP_SIM_BINARY + " info";
    std::string strOut;
    EXPECT_EQ(RunCommand(strCmd, &strOut), 0) << strOut;
    EXPECT_TRUE(Contains(strOut, "Build info: ")) << strOut;
    // A listed node that does not exist stops start-up, whatever the command.
    std::ofstream(Path("proc_mtd"), std::ios::app) << "mtd8: 00020000 00020000 \"ghost\"\n";
    EXPECT_EQ(RunCommand(strCmd, &strOut), 255) << strOut;
    EXPECT_TRUE(Contains(strOut, "open(), please check mtd node device")) << strOut;
    EXPECT_TRUE(Contains(strOut, "/dev/mtd8")) << strOut;
}

} // namespace
