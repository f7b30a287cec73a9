// The device lock: one flock(2) on a file that stands for the device, held from the moment a
// command is about to touch the flash until the process ends.
//
// A nandkeep started by the shell command of an upgrade (a parameter store kept in this tool's
// records) must not wait for its own parent. The parent's lock descriptor therefore stays open
// across exec for the duration of that command only, and NANDKEEP_LOCK_FD names it together with
// the read end of a pipe whose write end only the parent holds, open while the command runs: the
// window. A child takes the lock over only while the window is open and only when the descriptor
// is the one that holds the lock (a fresh open of the same file cannot lock it, the descriptor
// can); it never unlocks it, since that would unlock its parent. A child that took it over also
// holds a shared flock on its own open of the pipe until it ends, and the parent, once the
// command has returned and the window is shut, waits for an exclusive one: a nandkeep the command
// leaves running in the background finishes before the upgrade goes on. Every other descriptor
// of the tool is close-on-exec.
#include "platform/devlock.h"
#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char *LOCK_FD_ENV = "NANDKEEP_LOCK_FD";

int g_iLockFd = -1;
bool g_bLocked = false;
bool g_bAdopted = false; // the lock was taken over from a parent, whose lock it stays
int g_iWindowHold = -1;  // a child's shared flock on its parent's window, held until it ends

// Same device: the same device number for a device node, the same file otherwise.
bool SameDevice(const struct stat &tA, const struct stat &tB) {
    if (S_ISCHR(tA.st_mode) || S_ISCHR(tB.st_mode)) {
        return S_ISCHR(tA.st_mode) && S_ISCHR(tB.st_mode) && tA.st_rdev == tB.st_rdev;
    }
    return tA.st_dev == tB.st_dev && tA.st_ino == tB.st_ino;
}

// A new open file description of the pipe end iFd, through /proc: flock(2) locks it apart
// from the description the pipe was created with. -1 when it cannot be had.
int ReopenPipe(int iFd) {
    char szPath[32];
    snprintf(szPath, sizeof(szPath), "/proc/self/fd/%d", iFd);
    return open(szPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// The window is open while its write end is: no hang-up on the read end.
bool WindowOpen(int iWindow) {
    struct pollfd tPoll = {iWindow, POLLIN, 0};
    return poll(&tPoll, 1, 0) == 0;
}

// True when iFd is the open file description that holds the lock on pszPath: a fresh open of the
// file cannot lock it, and iFd can.
bool HoldsLock(int iFd, const char *pszPath) {
    struct stat tHanded, tOwn;
    if (fstat(iFd, &tHanded) != 0 || stat(pszPath, &tOwn) != 0 || !SameDevice(tHanded, tOwn)) {
        return false;
    }
    const int iFresh = open(pszPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (iFresh < 0) {
        return false;
    }
    const bool bFreeElsewhere = flock(iFresh, LOCK_EX | LOCK_NB) == 0;
    close(iFresh);
    return !bFreeElsewhere && flock(iFd, LOCK_EX | LOCK_NB) == 0;
}

// Closes a handed-down descriptor of the lock file that is not taken over, so that this process
// never waits for a lock its own descriptor holds.
void DropHanded(int iFd, const char *pszPath) {
    struct stat tHanded, tOwn;
    if (fstat(iFd, &tHanded) == 0 && stat(pszPath, &tOwn) == 0 && SameDevice(tHanded, tOwn)) {
        close(iFd);
    }
}

// The lock descriptor a parent nandkeep handed down, when it holds the lock of the device of
// pszPath and the parent's window is open; else -1. The variable is dropped either way.
int InheritedLock(const char *pszPath) {
    const char *pszFds = getenv(LOCK_FD_ENV);
    if (pszFds == nullptr) {
        return -1;
    }
    int iFd = -1, iWindow = -1;
    char cEnd{};
    const bool bParsed = sscanf(pszFds, "%d,%d%c", &iFd, &iWindow, &cEnd) == 2 && iFd >= 0 &&
                         iWindow >= 0 && iFd != iWindow;
    unsetenv(LOCK_FD_ENV);
    if (!bParsed) {
        return -1;
    }
    if (!WindowOpen(iWindow) || !HoldsLock(iFd, pszPath)) {
        DropHanded(iFd, pszPath);
        return -1;
    }
    // Held before the window is looked at again: a parent that shuts the window from here on
    // waits for this process.
    const int iHold = ReopenPipe(iWindow);
    if (iHold < 0 || flock(iHold, LOCK_SH | LOCK_NB) != 0 || !WindowOpen(iWindow)) {
        if (iHold >= 0) {
            close(iHold);
        }
        DropHanded(iFd, pszPath);
        return -1;
    }
    g_iWindowHold = iHold;
    (void)fcntl(iFd, F_SETFD, FD_CLOEXEC);
    (void)fcntl(iWindow, F_SETFD, FD_CLOEXEC);
    return iFd;
}

// Shuts the window and waits until every nandkeep that took the lock over through it has ended.
void ShutWindow(int iRead, int iWrite) {
    close(iWrite);
    const int iWait = ReopenPipe(iRead);
    if (iWait >= 0) {
        while (flock(iWait, LOCK_EX) != 0 && errno == EINTR) {
        }
        close(iWait);
    }
    close(iRead);
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
    Plat_UnlockDevice();
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
            g_bAdopted = true;
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

// The owner unlocks before it closes: a process the shell command left running in the background
// still has the handed-down descriptor, and the lock must not live on in it.
void Plat_UnlockDevice(void) {
    if (g_iLockFd >= 0) {
        if (g_bLocked && !g_bAdopted) {
            (void)flock(g_iLockFd, LOCK_UN);
        }
        close(g_iLockFd);
    }
    g_iLockFd = -1;
    g_bLocked = false;
    g_bAdopted = false;
}

int DevLock_System(const char *pszCommand) {
    const bool bHandDown = g_bLocked;
    int aiWindow[2] = {-1, -1};
    if (bHandDown) {
        char szFds[32];
        if (pipe2(aiWindow, O_CLOEXEC) != 0) {
            return -1;
        }
        snprintf(szFds, sizeof(szFds), "%d,%d", g_iLockFd, aiWindow[0]);
        if (setenv(LOCK_FD_ENV, szFds, 1) != 0) {
            close(aiWindow[0]);
            close(aiWindow[1]);
            return -1;
        }
        (void)fcntl(g_iLockFd, F_SETFD, 0);
        (void)fcntl(aiWindow[0], F_SETFD, 0);
    }
    int iRet = system(pszCommand);
    int iErr = errno;
    if (bHandDown) {
        (void)fcntl(g_iLockFd, F_SETFD, FD_CLOEXEC);
        unsetenv(LOCK_FD_ENV);
        ShutWindow(aiWindow[0], aiWindow[1]);
    }
    if (iRet != -1) {
        PassOnInterrupt(iRet);
    }
    errno = iErr;
    return iRet;
}
