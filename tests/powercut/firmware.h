// Firmware sets and what the flash must hold for them, for the power-cut and recovery tests.
#ifndef NANDKEEP_TESTS_FIRMWARE_H
#define NANDKEEP_TESTS_FIRMWARE_H

#include "sim/sim_store.h"
#include "support/support.h"

#include <string>

namespace firmware {

using testsupport::Bytes;

// One complete firmware set as files: boot loader, kernel, DTB, root file system (mkimage-made)
// and default configuration.
struct TSet {
    std::string name;
    std::string bootPath, kernelPath, dtbPath, rootfsPath, defconfPath;
    Bytes boot, kernel, dtb, rootfs, defconf;
};

// Sizes in bytes of the data inside the images.
struct TSizes {
    size_t boot, kernel, dtb, rootfs, defconf;
};

TSet MakeSet(const std::string &dir, const std::string &name, const TSizes &sizes, uint64_t seed);

// The configuration record the store writes for a payload: length, payload, CRC-32, 0xFF fill.
Bytes ConfigRecord(const Bytes &payload);

// Which of the given sets a copy holds, read through the chip as the tool would see it
// (faults apply), following the good blocks the way the writer lays data out: the main image
// from the region's first good block, the sub-image from the first good block at or after the
// 128 KiB boundary after the image. Returns the index of the set, or -1 when it holds none.
int KernelCopy(TSimDevice *ptDev, uint64_t ullRegion, uint64_t ullLen, const TSet *ptSets,
               int iCount);
int RootfsCopy(TSimDevice *ptDev, uint64_t ullRegion, uint64_t ullLen, const TSet *ptSets,
               int iCount);
// The same for the boot loader region (no sub-image).
int BootCopy(TSimDevice *ptDev, const TSet *ptSets, int iCount);

} // namespace firmware

#endif
