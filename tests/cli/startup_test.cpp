// Whole-process runs of the tool on the simulator: start-up, routing, usage, info and SIGPIPE.
#include "support/support.h"
#include "sim/sim_fixture.h"

#include <fstream>
#include <sys/stat.h>

using testsupport::Run;
using testsupport::RunResult;

namespace {

const char *const USAGE =
    "usage: write <Image-file> <Offset> <Len> | <HTTP/FTP>\n"
    "       checktempconf\n"
    "       readtempconf <DEST-file>\n"
    "       writetempconf <SOURCE-file>\n"
    "       checkdefconf\n"
    "       readdefconf <DEST-file>\n"
    "       writedefconf <SOURCE-file>\n"
    "       upgradeFW <Boot-file> <Kernel-file> <DTB-file> <Rootfs-file> <DefConf-file>\n"
    "       systemRecovery | <FlashStatus>\n"
    "       checktempdata\n"
    "       readtempdata <DEST-file>\n"
    "       writetempdata <SOURCE-file>\n"
    "       checkNFDI\n"
    "       readNFDI <DEST-file>\n"
    "       writeNFDI <SOURCE-file>\n"
    "       eraseflashfs1\n"
    "       eraseflashfs2\n"
    "       eraseflashfs\n"
    "       eraseJFFS2\n"
    "       updateBoot <SOURCE-file>\n"
    "       updateBst <SOURCE-file>\n"
    "       updateDTB <SOURCE-file>\n"
    "       eccStatus <Offset> <Len>\n"
    "       eraseRootfs\n"
    "       badBlockManagement\n"
    "       badBlockReport\n"
    "       badBlockRead <DEST-file> <Offset> <Len>\n"
    "       badBlockErase <Offset> <Len>\n"
    "       setBadBlockToBBT <Offset>\n"
    "       flashVerify ## please umount flashfs\n"
    "       lifeCycleTest | <Len> | <times> ## please umount flashfs\n"
    "       unstableBitsTestWrite <Pattern>\n"
    "       unstableBitsTestCheck <Pattern>\n"
    "       \tBasic pattern: 0x55 (0101), 0xAA (1010), 0x00 (0000), 0xFF (1111), rand\n"
    "       flashfs2IsChange\n"
    "       erase <Offset> <Len>\n"
    "       eraseAll\n"
    "       info\n";
const char *const BANNER_START = "Nandkeep version: 1.0.1.26\n";
const char *const INFO = "Build info: $Id: 1.0.1.26,nandkeep,2017/04/18 12:00:00 $\n"
                         "\n"
                         "Feature include (+) or not (-):\n"
                         "-_KVL_FW\n"
                         "SOC Platform\n"
                         "-_ORSEN\n"
                         "-_KT724\n"
                         "-_VELDRA3\n";

class StartupTest : public SimDirTest {
  protected:
    void SetUp() override {
        SimDirTest::SetUp();
        Create(Sim_ProfileSpec(128));
    }
    RunResult Tool(std::vector<std::string> args, size_t closeAfter = 0) {
        args.insert(args.begin(), testsupport::SimBinary());
        return testsupport::Run(args, {{"NANDKEEP_SIM_DIR", m_strDir}}, "", closeAfter);
    }
    void ExpectUsage(const RunResult &r) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, USAGE);
        EXPECT_EQ(r.out.rfind(BANNER_START, 0), 0u) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
    }
};

TEST_F(StartupTest, UsageIsExactAndGoesToStandardError) {
    RunResult r = Tool({});
    ExpectUsage(r);
    EXPECT_EQ(r.err.size(), 1247u);
}

TEST_F(StartupTest, InfoIsExact) {
    RunResult r = Tool({"info"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, INFO);
    EXPECT_EQ(r.err, "");
}

TEST_F(StartupTest, WrongWordOrArgumentCountGetsTheUsage) {
    for (const auto &args : std::vector<std::vector<std::string>>{{"nosuchcommand"},
                                                                  {"info", "extra"},
                                                                  {"eraseAll", "extra"},
                                                                  {"erase"},
                                                                  {"erase", "0", "20000", "x"},
                                                                  {"write", "file"},
                                                                  {"write", "file", "0"},
                                                                  {"upgradeFW", "a", "b", "c", "d"},
                                                                  {"systemRecovery", "2"},
                                                                  {"systemRecovery", "zz"},
                                                                  {"Info"}}) {
        SCOPED_TRACE(args[0] + " with " + std::to_string(args.size()) + " words");
        ExpectUsage(Tool(args));
    }
}

TEST_F(StartupTest, MissingProcMtdEndsStartUpWith255EvenForInfo) {
    ASSERT_EQ(unlink(Path("proc_mtd").c_str()), 0);
    for (const auto &args : std::vector<std::vector<std::string>>{{"info"}, {}}) {
        RunResult r = Tool(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "\n Nandkeep notify -> fopen()\n/proc/mtd");
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(StartupTest, MissingNodeEndsStartUpWith255EvenForTheUsage) {
    std::string text = testsupport::ReadText(Path("proc_mtd"));
    text += "mtd9: 00020000 00020000 \"ghost\"\n";
    testsupport::WriteText(Path("proc_mtd"), text);
    for (const auto &args : std::vector<std::vector<std::string>>{{"info"}, {}}) {
        RunResult r = Tool(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "\n Nandkeep notify -> open(), please check mtd node device\n/dev/mtd9");
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(StartupTest, ProcMtdWithoutPartitionsIsRefused) {
    testsupport::WriteText(Path("proc_mtd"), "dev:    size   erasesize  name\n");
    RunResult r = Tool({"info"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\n Nandkeep notify -> no mtd partition in /proc/mtd\n");
}

TEST_F(StartupTest, LostReaderIsLoggedAndTheStatusStands) {
    RunResult r = Tool({"info"}, testsupport::NO_READER);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);
    auto lines = Sim_SyslogLines(m_strDir.c_str());
    ASSERT_FALSE(lines.empty());
    for (const auto &line : lines) {
        EXPECT_EQ(line, "Lost connection while upgrading firmware!");
    }
}

// A device that cannot be locked runs no command; info, which never touches the flash, runs.
TEST_F(StartupTest, UnlockableDeviceIsRefusedExceptForInfo) {
    ASSERT_EQ(mkdir(Path("lock").c_str(), 0755), 0);
    RunResult r = Tool({"checktempconf"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\n Nandkeep notify -> cannot lock the flash device\n");
    EXPECT_EQ(Tool({"info"}).out, INFO);
}

} // namespace
