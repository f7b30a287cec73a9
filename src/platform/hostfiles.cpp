// Source and destination files of the commands, opened so that neither a FIFO without a peer nor
// the flash itself can catch the tool: the platform seam's Plat_OpenSource and
// Plat_OpenDestination for both implementations, the verify log's Plat_OpenAppend, and the
// broken-pipe handler.
#include "platform/hostfiles.h"
#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Closes the descriptor of a failed open, if there is one, keeping errno.
FILE *CloseFailed(int iFd) {
    if (iFd >= 0) {
        int iErr = errno;
        close(iFd);
        errno = iErr;
    }
    return nullptr;
}

} // namespace

int Plat_OpenSource(const char *pszPath, FILE **ppFile, struct stat *ptStat) {
    const int iFd = open(pszPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (iFd < 0) {
        return PLAT_SOURCE_OPEN_FAILED;
    }
    if (fstat(iFd, ptStat) != 0) {
        (void)CloseFailed(iFd);
        return PLAT_SOURCE_STAT_FAILED;
    }
    const int iFlags = fcntl(iFd, F_GETFL);
    FILE *pFile = iFlags == -1 || fcntl(iFd, F_SETFL, iFlags & ~O_NONBLOCK) == -1
                      ? nullptr
                      : fdopen(iFd, "r");
    if (pFile == nullptr) {
        (void)CloseFailed(iFd);
        return PLAT_SOURCE_OPEN_FAILED;
    }
    *ppFile = pFile;
    return PLAT_SOURCE_OPENED;
}

FILE *Plat_OpenDestination(const char *pszPath, const char *pszMode, int *pbIsFlash) {
    *pbIsFlash = 0;
    const bool bUpdate = strcmp(pszMode, "w+") == 0;
    if (!bUpdate && strcmp(pszMode, "w") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    // Write-only and non-blocking first, without O_TRUNC: a FIFO without a reader fails with
    // ENXIO instead of hanging, and nothing is cut before the file is known not to be the flash.
    int iFd = open(pszPath, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat tStat;
    if (iFd < 0 || fstat(iFd, &tStat) != 0) {
        return CloseFailed(iFd);
    }
    if (HostFiles_IsFlash(tStat)) {
        close(iFd);
        *pbIsFlash = 1;
        return nullptr;
    }
    if (bUpdate) {
        // Read access too, on the same file: opened read-write at once, a FIFO would never fail.
        int iRw = open(pszPath, O_RDWR | O_CLOEXEC);
        struct stat tRw;
        if (iRw < 0 || fstat(iRw, &tRw) != 0 || tRw.st_dev != tStat.st_dev ||
            tRw.st_ino != tStat.st_ino) {
            (void)CloseFailed(iRw);
            return CloseFailed(iFd);
        }
        close(iFd);
        iFd = iRw;
    } else {
        int iFlags = fcntl(iFd, F_GETFL);
        if (iFlags < 0 || fcntl(iFd, F_SETFL, iFlags & ~O_NONBLOCK) != 0) {
            return CloseFailed(iFd);
        }
    }
    FILE *pFile = nullptr;
    if (!S_ISREG(tStat.st_mode) || ftruncate(iFd, 0) == 0) {
        pFile = fdopen(iFd, pszMode);
    }
    return pFile != nullptr ? pFile : CloseFailed(iFd);
}

FILE *Plat_OpenAppend(const char *pszPath) {
    return fopen(pszPath, "a");
}

void Plat_OnBrokenPipe(void (*pfnHandler)(int)) {
    (void)signal(SIGPIPE, pfnHandler);
}

namespace {

const char *g_pszStopText = "";

void ClearAndStop(int iSig) {
    // Only async-signal-safe calls here.
    (void)!write(STDERR_FILENO, g_pszStopText, strlen(g_pszStopText));
    (void)signal(iSig, SIG_DFL);
    (void)raise(iSig);
}

} // namespace

void Plat_ClearOnStop(const char *pszText) {
    g_pszStopText = pszText;
    constexpr int ASIGNALS[] = {SIGINT, SIGHUP, SIGTERM};
    for (int iSig : ASIGNALS) {
        struct sigaction tOld;
        // A signal the caller ignores (a command started in the background) stays ignored.
        if (sigaction(iSig, nullptr, &tOld) == 0 && tOld.sa_handler != SIG_IGN) {
            (void)signal(iSig, ClearAndStop);
        }
    }
}

bool Plat_StderrIsTerminal(void) {
    return isatty(STDERR_FILENO) == 1;
}

bool Plat_StdoutIsTerminal(void) {
    return isatty(STDOUT_FILENO) == 1;
}
