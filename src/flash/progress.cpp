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
// The line drawn is cut to the width of the narrowest console, so that it never wraps: a line that
// wrapped could not be cleared.
constexpr size_t LINE_ROOM = 80;

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
    // What standard output, when it is the same terminal, has printed of a line not yet ended:
    // the progress line is drawn behind it and clearing leaves it standing.
    int iOutTerminal; // -1 not yet asked
    char szTail[LINE_ROOM];
    bool bTailFull; // the tail leaves no room for a figure: nothing is drawn
    // What an interrupt writes: "\r\033[K" and the tail while the line is shown, else nothing.
    char szStop[LINE_ROOM + 4];
};
TProgress g_tProgress = {-1, false, false, false, {}, {}, 0, 0, {}, -1, {}, false, {}};

bool Enabled() {
    if (g_tProgress.iEnabled < 0) {
        const char *pszOpt = getenv("NANDKEEP_PROGRESS");
        const bool bOff = pszOpt != nullptr && strcmp(pszOpt, "off") == 0;
        g_tProgress.iEnabled = Plat_StderrIsTerminal() && !bOff ? 1 : 0;
        if (g_tProgress.iEnabled == 1) {
            Plat_ClearOnStop(g_tProgress.szStop);
        }
    }
    return g_tProgress.iEnabled == 1 && g_tProgress.szCommand[0] != '\0';
}

// Draws the figure when it is new and the line has stood long enough, or when it is the first
// of its step; the cursor goes back to the line's start.
void Draw(const char *pszFigure) {
    if (g_tProgress.bTailFull) {
        return;
    }
    const uint64_t ullNow = Plat_Milliseconds();
    const bool bSame = strcmp(pszFigure, g_tProgress.szLast) == 0;
    if (!g_tProgress.bFresh && g_tProgress.bShown &&
        (bSame || ullNow - g_tProgress.ullDrawnMs < REDRAW_MS)) {
        return;
    }
    g_tProgress.bFresh = false;
    snprintf(g_tProgress.szLast, sizeof(g_tProgress.szLast), "%s", pszFigure);
    g_tProgress.ullDrawnMs = ullNow;
    // Cut to the room; what is cut is the end of the figure.
    char szLine[LINE_ROOM];
    const char *pszTail = g_tProgress.szTail;
    if (snprintf(szLine, sizeof(szLine), "%s%s%s: %s%s%s", pszTail, pszTail[0] != '\0' ? " " : "",
                 g_tProgress.szCommand, g_tProgress.szStep,
                 g_tProgress.szStep[0] != '\0' ? ": " : "", pszFigure) < 0) {
        return;
    }
    snprintf(g_tProgress.szStop, sizeof(g_tProgress.szStop), "\r\033[K%s", pszTail);
    g_tProgress.bShown = true;
    // What standard output holds comes first: it stands where the cursor is.
    fflush(stdout);
    fprintf(stderr, "\r\033[K%s\r", szLine);
    fflush(stderr);
}

} // namespace

void Progress_Hide(void) {
    if (g_tProgress.bShown) {
        fflush(stdout);
        fprintf(stderr, "\r\033[K%s", g_tProgress.szTail);
        fflush(stderr);
        g_tProgress.szStop[0] = '\0';
        g_tProgress.bShown = false;
    }
}

void Progress_Printed(const char *pszText) {
    if (g_tProgress.iOutTerminal < 0) {
        g_tProgress.iOutTerminal = Plat_StdoutIsTerminal() ? 1 : 0;
    }
    if (g_tProgress.iOutTerminal == 0) {
        return;
    }
    if (pszText == nullptr) {
        g_tProgress.szTail[0] = '\0';
        g_tProgress.bTailFull = true;
        return;
    }
    const char *pszLineEnd = strrchr(pszText, '\n');
    const size_t ulKept = pszLineEnd != nullptr ? 0 : strlen(g_tProgress.szTail);
    const char *pszNew = pszLineEnd != nullptr ? pszLineEnd + 1 : pszText;
    // A tail too long to leave room for a figure is no place to draw one.
    snprintf(g_tProgress.szTail + ulKept, sizeof(g_tProgress.szTail) - ulKept, "%s", pszNew);
    g_tProgress.bTailFull = ulKept + strlen(pszNew) > LINE_ROOM / 2;
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
