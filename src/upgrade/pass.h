// The single pass over a region pair: every piece of both copies read once, the source's image
// parsed (main image and sub-image) from the same reads that compare it with the destination.
#ifndef NANDKEEP_PASS_H
#define NANDKEEP_PASS_H

#include <cstdint>

constexpr int RECOVERY_SUB_DTB = 1;
constexpr int RECOVERY_SUB_DEFCONF = 2;

// What the pass found.
enum class EPass {
    SAME,              // the source is a valid image with its sub-image; the destination holds it
    DIFFERENT,         // anything else: the region recovery takes its full course
    SOURCE_UNREADABLE, // a read of the source's main image failed
    SUB_UNREADABLE,    // a read of the source's sub-image failed
};

// One pass over the source [ullSrc, + ullLen) and the destination [ullDest, + ullLen). The reads
// follow the rules of every read (a second call reported with its warning, a failed read with its
// lines) and the ECC counters are read around each. An ECC event on a destination read makes the
// pair DIFFERENT when bWatchDest (the comparison would retire the block). *pbQuiet: SAME and no
// read of either copy had an ECC event, so that the same answer holds with the roles swapped. An
// erase block that is not one piece always answers DIFFERENT. Prints nothing of its own.
[[nodiscard]] EPass Pass_Pair(uint64_t ullDest, uint64_t ullSrc, uint64_t ullLen, int iSubImageType,
                              bool bWatchDest, bool *pbQuiet);

#endif
