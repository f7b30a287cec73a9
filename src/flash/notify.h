// The message routines every layer reports through.
#ifndef NANDKEEP_NOTIFY_H
#define NANDKEEP_NOTIFY_H

// Prints "\n Nandkeep notify -> <msg>\n" on standard output and flushes at once.
void Nandkeep_Notify(const char *pszMsg);
// Trace point: prints nothing in this build.
void Nandkeep_Debug(const char *pszFormat, ...);
// One line to the system log at LOG_ERR.
void Nandkeep_SyslogErr(const char *pszMsg);

#endif
