// The notify message.
#include "flash/notify.h"

#include "flash/progress.h"

#include <cstdio>

void Nandkeep_Notify(const char *pszMsg) {
    Progress_Hide();
    printf("\n Nandkeep notify -> %s\n", pszMsg);
    fflush(stdout);
}
