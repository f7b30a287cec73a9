// The device lock: one flock(2) on a file that stands for the device, held from the moment a
// command is about to touch the flash until the process ends.
//
// A nandkeep started by the shell command of an upgrade (a parameter store kept in this tool's
// records) must not wait for its own parent. The parent's lock descriptor therefore stays open
// across exec for the duration of that command only, and NANDKEEP_LOCK_FD names it. The child
// takes it over when it is the same device and flock on it succeeds at once, which it does when
// it is the open file description that holds the lock; it never unlocks it, since that would
// unlock its parent. Every other descriptor of the tool is close-on-exec.
#include "platform/devlock.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char *LOCK_FD_ENV = "NANDKEEP_LOCK_FD";

int g_iLockFd = -1;
bool g_bLocked = false;

// Same device: the same device number for a device node, the same file otherwise.
bool SameDevice(const struct stat &tA, const struct stat &tB) {
    if (S_ISCHR(tA.st_mode) || S_ISCHR(tB.st_mode)) {
        return S_ISCHR(tA.st_mode) && S_ISCHR(tB.st_mode) && tA.st_rdev == tB.st_rdev;
    }
    return tA.st_dev == tB.st_dev && tA.st_ino == tB.st_ino;
}

// The descriptor a parent nandkeep handed down, when it locks the device of pszPath and is
// already locked for this process; else -1. The variable is dropped either way.
int InheritedLock(const char *pszPath) {
    const char *pszFd = getenv(LOCK_FD_ENV);
    if (pszFd == nullptr) {
        return -1;
    }
    char *pszEnd = nullptr;
    errno = 0;
    long lFd = strtol(pszFd, &pszEnd, 10);
    bool bNumber = errno == 0 && pszEnd != pszFd && *pszEnd == '\0' && lFd >= 0 && lFd <= INT_MAX;
    unsetenv(LOCK_FD_ENV);
    struct stat tHanded, tOwn;
    int iFd = bNumber ? static_cast<int>(lFd) : -1;
    if (iFd < 0 || fstat(iFd, &tHanded) != 0 || stat(pszPath, &tOwn) != 0 ||
        !SameDevice(tHanded, tOwn) || flock(iFd, LOCK_EX | LOCK_NB) != 0) {
        return -1;
    }
    (void)fcntl(iFd, F_SETFD, FD_CLOEXEC);
    return iFd;
}

// Ends the process by SIGINT or SIGQUIT when the shell command was ended by one: killed by it,
// or a shell that reports it as status 128 + signal.
void PassOnInterrupt(int iStatus) {
    int iSig = 0;
    if (WIFSIGNALED(iStatus) && (WTERMSIG(iStatus) == SIGINT || WTERMSIG(iStatus) == SIGQUIT)) {
        iSig = WTERMSIG(iStatus);
    } else if (WIFEXITED(iStatus) &&
               (WEXITSTATUS(iStatus) == 128 + SIGINT || WEXITSTATUS(iStatus) == 128 + SIGQUIT)) {
        iSig = WEXITSTATUS(iStatus) - 128;
    }
    if (iSig == 0) {
        return;
    }
    fflush(stdout);
    signal(iSig, SIG_DFL);
    sigset_t tSet;
    sigemptyset(&tSet);
    sigaddset(&tSet, iSig);
    sigprocmask(SIG_UNBLOCK, &tSet, nullptr);
    raise(iSig);
    _exit(128 + iSig);
}

} // namespace

int DevLock_Take(const char *pszPath, int iOpenFlags, int iMode, int bWait) {
    if (g_bLocked) {
        return 0;
    }
    if (g_iLockFd < 0) {
        g_iLockFd = InheritedLock(pszPath);
        if (g_iLockFd >= 0) {
            g_bLocked = true;
            return 0;
        }
        g_iLockFd = open(pszPath, iOpenFlags | O_CLOEXEC, iMode);
        if (g_iLockFd < 0) {
            return -1;
        }
    }
    int iRet;
    do {
        iRet = flock(g_iLockFd, bWait ? LOCK_EX : LOCK_EX | LOCK_NB);
    } while (iRet != 0 && errno == EINTR);
    if (iRet != 0) {
        return !bWait && errno == EWOULDBLOCK ? 1 : -1;
    }
    g_bLocked = true;
    return 0;
}

void DevLock_Release(void) {
    if (g_iLockFd >= 0) {
        close(g_iLockFd);
    }
    g_iLockFd = -1;
    g_bLocked = false;
}

int DevLock_System(const char *pszCommand) {
    const bool bHandDown = g_bLocked;
    if (bHandDown) {
        char szFd[16];
        snprintf(szFd, sizeof(szFd), "%d", g_iLockFd);
        if (setenv(LOCK_FD_ENV, szFd, 1) != 0) {
            return -1;
        }
        (void)fcntl(g_iLockFd, F_SETFD, 0);
    }
    int iRet = system(pszCommand);
    int iErr = errno;
    if (bHandDown) {
        (void)fcntl(g_iLockFd, F_SETFD, FD_CLOEXEC);
        unsetenv(LOCK_FD_ENV);
    }
    if (iRet != -1) {
        PassOnInterrupt(iRet);
    }
    errno = iErr;
    return iRet;
}
