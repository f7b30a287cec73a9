// The ECC report of a range, which the maintenance command and the factory tests print.
#ifndef NANDKEEP_REPORT_H
#define NANDKEEP_REPORT_H

#include <cstdint>

// Prints the device's ECC counters, then reads [ulMTDOffset, ulMTDOffset + ulReadLen) one erase
// block at a time (at least one block, also for a length of 0) and prints the running counters
// after each; blocks marked bad are reported and skipped. 0, or -1 when a read or a statistics
// request failed (already notified). Works on record 0; reads only. The erase size is one the
// dispatcher accepted (Nandkeep_CheckEraseSize).
[[nodiscard]] int Nandkeep_EccStatus(uint64_t ulMTDOffset, uint64_t ulReadLen);

#endif
