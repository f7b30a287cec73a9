// The command dispatcher: one routing table, first match wins.
#ifndef NANDKEEP_DISPATCH_H
#define NANDKEEP_DISPATCH_H

#include "frontend/commands.h"

// Start-up, routing, the device lock (every command but the usage text and info), the command,
// Nandkeep_Deinit; returns the exit status.
int Nandkeep_Main(int iArgc, char **ppArgv);

#endif
