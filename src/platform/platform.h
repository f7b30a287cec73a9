// The platform seam: the only way the core reaches the operating system.
//
// Two implementations exist and one is chosen at link time: src/platform/linux, plain syscalls
// on the kernel's MTD character devices, for the production binary; and sim/, an in-process NAND
// model whose state persists in a directory, for the simulator build.
//
// Every wrapper behaves like the call it replaces: -1 with errno on failure, short counts included,
// so the retry and EIO paths of the flash access layer run unchanged on the simulator. There is
// one wrapper per MTD request; callers never see request numbers.
#ifndef NANDKEEP_PLATFORM_H
#define NANDKEEP_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>

// Offsets up to 4 GiB pass through Plat_Lseek and file sizes through stat: a build whose off_t is
// 32-bit (a 32-bit target without _FILE_OFFSET_BITS=64) would fail on the upper half of the chip.
static_assert(sizeof(off_t) == 8, "off_t must be 64-bit (_FILE_OFFSET_BITS=64)");

// The driver's ECC counters, in the order the ECCGETSTATS request returns them. They are running
// totals of the device node asked (reads through another partition's node do not show), not
// values for one read.
struct TEccStats {
    uint32_t corrected;
    uint32_t failed;
    uint32_t badblocks;
    uint32_t bbtblocks;
};

// Opens an MTD character device read-write and synchronous (O_RDWR | O_SYNC), close-on-exec.
[[nodiscard]] int Plat_OpenMtd(const char *pszPath);
int Plat_Close(int iFd);
[[nodiscard]] ssize_t Plat_Read(int iFd, void *pBuf, size_t ulLen);
[[nodiscard]] ssize_t Plat_Write(int iFd, const void *pBuf, size_t ulLen);
[[nodiscard]] off_t Plat_Lseek(int iFd, off_t lOffset, int iWhence);

// MEMERASE: erase [dwStart, dwStart + dwLength) of the descriptor's partition. 0 or -1/errno.
[[nodiscard]] int Plat_MemErase(int iFd, uint32_t dwStart, uint32_t dwLength);
// MEMGETBADBLOCK: 0 good, 1 bad, -1/errno when the driver rejects the query.
[[nodiscard]] int Plat_MemGetBadBlock(int iFd, int64_t llOffset);
// MEMSETBADBLOCK: 0 or -1/errno.
[[nodiscard]] int Plat_MemSetBadBlock(int iFd, int64_t llOffset);
// ECCGETSTATS: 0 or -1/errno.
[[nodiscard]] int Plat_EccGetStats(int iFd, TEccStats *ptStats);

// The kernel's partition list, opened for reading like fopen("/proc/mtd", "r").
[[nodiscard]] FILE *Plat_OpenProcMtd(void);

// One line to the system log at LOG_ERR, without openlog (default identity and facility).
void Plat_SyslogErr(const char *pszMsg);

// Runs one command line through the shell, like system(3), with two additions:
// - While it runs, the device lock (Plat_LockDevice), when held, passes to the processes it
//   starts: its descriptor stays open across exec and NANDKEEP_LOCK_FD names it, so that a
//   nandkeep the command starts works under this one's lock instead of waiting for it forever.
//   The lock is never released around the command.
// - When the command was ended by SIGINT or SIGQUIT (killed by it, or a shell exit status of 130
//   or 131), this process ends by that signal too, default action restored, before it returns:
//   system(3) ignores both signals meanwhile, and a Ctrl-C that stopped the command must also
//   stop what the caller would do next.
int Plat_System(const char *pszCommand);

// Path of the factory tests' verify result log ("/mnt/ramdisk/flashVerifyResult" on a device).
const char *Plat_VerifyResultPath(void);
// A log file opened for appending, like fopen(pszPath, "a"): nullptr with errno on failure.
[[nodiscard]] FILE *Plat_OpenAppend(const char *pszPath);
// The wall clock in seconds since the epoch, like time(2); the factory tests draw their random
// reference from it.
int64_t Plat_WallClock(void);

// A source file opened for reading: O_RDONLY | O_NONBLOCK | O_CLOEXEC, so that a FIFO nobody
// writes to cannot hold the open up, then fstat'ed and switched back to blocking reads. The caller
// decides from *ptStat whether it takes the file. PLAT_SOURCE_OPENED with *ppFile (closed with
// fclose) and *ptStat filled; PLAT_SOURCE_OPEN_FAILED or PLAT_SOURCE_STAT_FAILED (errno set,
// nothing left open) otherwise.
constexpr int PLAT_SOURCE_OPENED = 0;
constexpr int PLAT_SOURCE_OPEN_FAILED = -1;
constexpr int PLAT_SOURCE_STAT_FAILED = -2;
[[nodiscard]] int Plat_OpenSource(const char *pszPath, FILE **ppFile, struct stat *ptStat);
// Opens the file a command writes its output to, like fopen(pszPath, pszMode) for mode "w" or
// "w+", but first makes sure it is not the flash itself: a device node of the flash this process
// opened, or on the simulator the files that hold the device. Such a destination is refused
// before anything is truncated or written: nullptr with *pbIsFlash set to 1. A FIFO without a
// reader fails (ENXIO) rather than blocking. Other failures: nullptr, errno, *pbIsFlash 0.
[[nodiscard]] FILE *Plat_OpenDestination(const char *pszPath, const char *pszMode, int *pbIsFlash);

// The device lock: one exclusive advisory lock per device, so that two invocations never work
// on the flash at once. pszWholeDevice is the whole-device node (the simulator locks a file in
// its state directory instead). The lock is held until the process ends; a lock handed down by a
// parent through Plat_System is taken over when it is for the same device.
// bWait 0: 1 at once when another process holds the lock. bWait 1: waits for it.
// 0 once held; -1 with errno on any other failure.
[[nodiscard]] int Plat_LockDevice(const char *pszWholeDevice, int bWait);
// Gives up this process's hold: closes the lock descriptor. A lock handed down by a parent stays
// with the parent, which still holds its own descriptor.
void Plat_UnlockDevice(void);

// A write to a closed pipe calls the handler instead of ending the process.
void Plat_OnBrokenPipe(void (*pfnHandler)(int));

// True when standard error is a terminal: a person is watching, and may be shown progress.
bool Plat_StderrIsTerminal(void);
// True when standard output is a terminal.
bool Plat_StdoutIsTerminal(void);
// A monotonic clock in milliseconds, for the pace of a progress line.
uint64_t Plat_Milliseconds(void);
// From now on, an interrupt, hang-up or termination first writes pszText to standard error, then
// ends the process by the same signal: the line of progress is not left behind. The text is read
// when the signal comes, so the caller keeps it and may change it.
void Plat_ClearOnStop(const char *pszText);

#endif
