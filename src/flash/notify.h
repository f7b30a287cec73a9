// The notify message every layer reports through.
#ifndef NANDKEEP_NOTIFY_H
#define NANDKEEP_NOTIFY_H

// Prints "\n Nandkeep notify -> <msg>\n" on standard output and flushes at once.
void Nandkeep_Notify(const char *pszMsg);

#endif
