// The notify message every layer reports through, and the one way to standard output.
#ifndef NANDKEEP_NOTIFY_H
#define NANDKEEP_NOTIFY_H

// Prints "\n Nandkeep notify -> <msg>\n" on standard output and flushes at once.
void Nandkeep_Notify(const char *pszMsg);

// Prints on standard output as printf does. Every line the tool prints goes through here, so
// that on a terminal the progress line is cleared first and drawn again behind what was printed.
[[gnu::format(printf, 1, 2)]] void Nandkeep_Print(const char *pszFormat, ...);

#endif
