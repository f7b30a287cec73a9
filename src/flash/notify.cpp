// The message routines.
#include "flash/notify.h"

#include "flash/progress.h"
#include "platform/platform.h"

#include <cstdio>

void Nandkeep_Notify(const char *pszMsg) {
    Progress_Hide();
    printf("\n Nandkeep notify -> %s\n", pszMsg);
    fflush(stdout);
}

void Nandkeep_Debug(const char *pszFormat, ...) {
    (void)pszFormat;
}

void Nandkeep_SyslogErr(const char *pszMsg) {
    Plat_SyslogErr(pszMsg);
}
