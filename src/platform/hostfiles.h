// Opening the files a command reads from or writes to, shared by both platform implementations;
// each says which files are the flash itself.
#ifndef NANDKEEP_HOSTFILES_H
#define NANDKEEP_HOSTFILES_H

#include <sys/stat.h>

// True when a destination with this status is the flash: writing "into a file" there would
// program or truncate the device. Defined by each platform implementation.
bool HostFiles_IsFlash(const struct stat &tStat);

#endif
