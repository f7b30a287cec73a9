// Shared helpers for the test suites: temporary directories, running whole processes, and
// firmware images made with mkimage.
#ifndef NANDKEEP_TEST_SUPPORT_H
#define NANDKEEP_TEST_SUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// A fresh directory under $TMPDIR, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const {
        return m_path;
    }
    std::string operator/(const std::string &name) const {
        return m_path + "/" + name;
    }

  private:
    std::string m_path;
};

struct RunResult {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;  // the signal that killed the process, else 0
    std::string out; // standard output
    std::string err; // standard error
};

constexpr size_t NO_READER = static_cast<size_t>(-1);

// Runs argv[0] (a path) with the environment plus `env`, standard input from `in`.
// A nonzero closeStdoutAfter closes the reading end of standard output after that many bytes
// have been read, like a reader that gives up; NO_READER gives it a pipe nobody reads.
RunResult Run(const std::vector<std::string> &argv,
              const std::map<std::string, std::string> &env = {}, const std::string &in = "",
              size_t closeStdoutAfter = 0);

// The built tools: the simulator build, its control tool and the production binary.
std::string SimBinary();
std::string SimCtlBinary();
std::string ProdBinary();
// The words to put in front of a program so that it runs: the emulator named by
// NANDKEEP_TEST_LAUNCHER for the tools built here when the tests run under user-mode emulation
// (a cross build), nothing otherwise.
std::vector<std::string> LauncherFor(const std::string &program);

Bytes ReadFile(const std::string &path);
void WriteFile(const std::string &path, const Bytes &data);
void WriteText(const std::string &path, const std::string &text);
std::string ReadText(const std::string &path);

// Deterministic pseudo-random bytes (xorshift), so every failure can be replayed from its seed.
Bytes RandomBytes(size_t len, uint64_t seed);

// A legacy firmware image made by mkimage: type "kernel", "ramdisk" or "firmware" around `data`
// (mkimage turns "-T flat_dt" into a FIT image, so device-tree blobs are wrapped as "firmware").
// Returns the image file's bytes; the file is left at `path`.
Bytes MakeImage(const std::string &path, const std::string &type, const Bytes &data);

} // namespace testsupport

#endif
