// The factory default configuration, stored behind each rootfs image.
#ifndef NANDKEEP_DEFCONF_H
#define NANDKEEP_DEFCONF_H

[[nodiscard]] int Nandkeep_RecoveryDefConf(int iFd, unsigned long ulDestSubOffset,
                                           unsigned long ulSrcSubOffset,
                                           unsigned long ulDestMaxSize, unsigned long ulSrcMaxSize);

#endif
