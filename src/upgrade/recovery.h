// System recovery: make the normal and backup copies of each region pair agree again.
#ifndef NANDKEEP_RECOVERY_H
#define NANDKEEP_RECOVERY_H

#include "upgrade/pass.h"

#include <cstdint>

// The destination's main image from the source's (no check of the source's data): equal images
// are left alone, else the destination region is erased and the image copied and compared again.
[[nodiscard]] int Nandkeep_RecoveryMkimg(uint64_t ulDestOffset, uint64_t ulSrcOffset,
                                         uint64_t ulLen);
// The block-level repair of a pair; see recovery.cpp.
[[nodiscard]] int Nandkeep_RecoveryByECC(uint64_t ulNormalOffset, uint64_t ulBackupOffset,
                                         uint64_t ulLen, int iSubImageType);

// systemRecovery: iFlashStatus 0 for the plain form (backups preferred at image level, the
// block-level repair for a backup the image level cannot repair; 0 when both pairs end valid and
// equal, -1 for each pair that does not), 1 (normal copies first) or 3 (backups first; the other
// direction only when the first fails; the sum of the results). Prints "recovered image" at the
// end.
[[nodiscard]] int Nandkeep_SystemRecovery(int iFlashStatus);

#endif
