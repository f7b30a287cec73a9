// The progress line.
#include "flash/progress.h"

#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Redrawn at most this often: a terminal on a serial console is slow.
constexpr uint64_t REDRAW_MS = 200;

struct TProgress {
    int iEnabled; // -1 not yet asked
    bool bShown;
    bool bFresh; // no figure drawn since the step began
    bool bHold;
    char szCommand[32];
    char szStep[64];
    uint64_t ullStepMs;
    uint64_t ullDrawnMs;
    char szLast[96];
};
TProgress g_tProgress = {-1, false, false, false, {}, {}, 0, 0, {}};

bool Enabled() {
    if (g_tProgress.iEnabled < 0) {
        const char *pszOpt = getenv("NANDKEEP_PROGRESS");
        const bool bOff = pszOpt != nullptr && strcmp(pszOpt, "off") == 0;
        g_tProgress.iEnabled = Plat_StderrIsTerminal() && !bOff ? 1 : 0;
        if (g_tProgress.iEnabled == 1) {
            Plat_ClearOnStop("\r\033[K");
        }
    }
    return g_tProgress.iEnabled == 1 && g_tProgress.szCommand[0] != '\0';
}

// Draws the figure when it is new and the line has stood long enough, or when it is the first
// of its step; the cursor goes back to the line's start.
void Draw(const char *pszFigure) {
    const uint64_t ullNow = Plat_Milliseconds();
    const bool bSame = strcmp(pszFigure, g_tProgress.szLast) == 0;
    if (!g_tProgress.bFresh && g_tProgress.bShown &&
        (bSame || ullNow - g_tProgress.ullDrawnMs < REDRAW_MS)) {
        return;
    }
    g_tProgress.bFresh = false;
    snprintf(g_tProgress.szLast, sizeof(g_tProgress.szLast), "%s", pszFigure);
    g_tProgress.ullDrawnMs = ullNow;
    g_tProgress.bShown = true;
    fprintf(stderr, "\r\033[K%s: %s%s%s\r", g_tProgress.szCommand, g_tProgress.szStep,
            g_tProgress.szStep[0] != '\0' ? ": " : "", pszFigure);
    fflush(stderr);
}

} // namespace

void Progress_Hide(void) {
    if (g_tProgress.bShown) {
        fflush(stdout);
        fputs("\r\033[K", stderr);
        fflush(stderr);
        g_tProgress.bShown = false;
    }
}

void Progress_Command(const char *pszCommand) {
    Progress_Hide();
    snprintf(g_tProgress.szCommand, sizeof(g_tProgress.szCommand), "%s",
             pszCommand != nullptr ? pszCommand : "");
    g_tProgress.bHold = false;
    Progress_Step(nullptr);
}

void Progress_Step(const char *pszFormat, ...) {
    g_tProgress.szStep[0] = '\0';
    if (pszFormat != nullptr) {
        va_list tArgs;
        va_start(tArgs, pszFormat);
        vsnprintf(g_tProgress.szStep, sizeof(g_tProgress.szStep), pszFormat, tArgs);
        va_end(tArgs);
    }
    g_tProgress.ullStepMs = Plat_Milliseconds();
    g_tProgress.bFresh = true;
}

void Progress_Hold(bool bHold) {
    g_tProgress.bHold = bHold;
}

void Progress_Percent(const char *pszPhase, uint64_t ullDone, uint64_t ullTotal) {
    if (!Enabled() || ullTotal == 0 || g_tProgress.bHold) {
        return;
    }
    // Offsets stay far below 2^57, so the product does not wrap.
    const uint64_t ullPercent = ullDone >= ullTotal ? 100 : ullDone * 100 / ullTotal;
    char szFigure[64];
    snprintf(szFigure, sizeof(szFigure), "%s %u %%", pszPhase,
             static_cast<unsigned int>(ullPercent));
    Draw(szFigure);
}

void Progress_CountFigure(char *pszOut, size_t ulSize, const char *pszPhase, uint64_t ullDone,
                          uint64_t ullTotal, bool bEstimate, uint64_t ullElapsedMs) {
    const int iLen = snprintf(pszOut, ulSize, "%s %llu of %llu", pszPhase,
                              static_cast<unsigned long long>(ullDone),
                              static_cast<unsigned long long>(ullTotal));
    // The unit shown is still running: the pace is known from the second on, and the time left
    // counts the one shown.
    if (bEstimate && ullDone > 1 && ullDone <= ullTotal && iLen > 0 &&
        static_cast<size_t>(iLen) < ulSize) {
        const uint64_t ullLeftS = ullElapsedMs * (ullTotal - ullDone + 1) / (ullDone - 1) / 1000;
        snprintf(pszOut + iLen, ulSize - static_cast<size_t>(iLen),
                 ", about %llu min %02llu s left", static_cast<unsigned long long>(ullLeftS / 60),
                 static_cast<unsigned long long>(ullLeftS % 60));
    }
}

void Progress_Count(const char *pszPhase, uint64_t ullDone, uint64_t ullTotal, bool bEstimate) {
    if (!Enabled()) {
        return;
    }
    char szFigure[96];
    Progress_CountFigure(szFigure, sizeof(szFigure), pszPhase, ullDone, ullTotal, bEstimate,
                         Plat_Milliseconds() - g_tProgress.ullStepMs);
    Draw(szFigure);
}
