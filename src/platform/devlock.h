// The device lock and the shell command that may hand it down, shared by both platform
// implementations; each says which file stands for the device. Plat_UnlockDevice is the same for
// both and is defined here: it closes the lock descriptor, and the lock goes when this was its
// last descriptor.
#ifndef NANDKEEP_DEVLOCK_H
#define NANDKEEP_DEVLOCK_H

// Takes the exclusive lock on pszPath, opened with iOpenFlags (close-on-exec is added), or
// takes over the one a parent nandkeep handed down for the same device. Results as
// Plat_LockDevice.
int DevLock_Take(const char *pszPath, int iOpenFlags, int iMode, int bWait);

// system(3) with the lock handed down to the command's processes, ending this process by
// SIGINT or SIGQUIT when the command was ended by it. Results as Plat_System.
int DevLock_System(const char *pszCommand);

#endif
