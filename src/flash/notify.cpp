// The notify message and the print routine.
#include "flash/notify.h"

#include "flash/progress.h"

#include <cstdarg>
#include <cstdio>

void Nandkeep_Notify(const char *pszMsg) {
    Nandkeep_Print("\n Nandkeep notify -> %s\n", pszMsg);
    fflush(stdout);
}

void Nandkeep_Print(const char *pszFormat, ...) {
    va_list tArgs;
    va_start(tArgs, pszFormat);
    va_list tCopy;
    va_copy(tCopy, tArgs);
    char szText[256];
    const int iLen = vsnprintf(szText, sizeof(szText), pszFormat, tCopy);
    va_end(tCopy);
    Progress_Hide();
    if (iLen >= 0 && static_cast<size_t>(iLen) < sizeof(szText)) {
        fwrite(szText, 1, static_cast<size_t>(iLen), stdout);
        Progress_Printed(szText);
    } else {
        // Longer than the buffer (a long path): printed as it comes, and taken for a line that
        // leaves no room for a figure.
        vfprintf(stdout, pszFormat, tArgs);
        Progress_Printed(nullptr);
    }
    va_end(tArgs);
}
