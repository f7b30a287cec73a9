// System recovery: make the normal and backup copies of each region pair agree again.
#ifndef NANDKEEP_RECOVERY_H
#define NANDKEEP_RECOVERY_H

constexpr int RECOVERY_SUB_DTB = 1;
constexpr int RECOVERY_SUB_DEFCONF = 2;

[[nodiscard]] int Nandkeep_RecoveryRegion(unsigned long ulDestOffset, unsigned long ulSrcOffset,
                                          unsigned long ulLen, int iSubImageType);
[[nodiscard]] int Nandkeep_RecoveryMkimg(unsigned long ulDestOffset, unsigned long ulSrcOffset,
                                         unsigned long ulLen);
[[nodiscard]] int Nandkeep_RecoveryByECC(unsigned long ulNormalOffset, unsigned long ulBackupOffset,
                                         unsigned long ulLen, int iSubImageType);
[[nodiscard]] int Nandkeep_GetConfigLen(int iFd, unsigned long ulMTDOffset,
                                        unsigned long ulMTDMaxSize, unsigned long *pulLen);

#endif
