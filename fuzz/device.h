// The device every fuzz target works on: a small simulated chip in a private directory, with
// the core started on it once per process.
#ifndef NANDKEEP_FUZZ_DEVICE_H
#define NANDKEEP_FUZZ_DEVICE_H

#include "sim/sim_store.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t FUZZ_BLOCKS = 16;

// Creates the device and starts the core on the first call; returns the inspection handle.
TSimDevice *Fuzz_Device(void);
// Loads a region from fuzz input: the first byte chooses which of the region's first eight
// blocks are bad, the rest is written raw from ullOffset on (at most ulMax bytes); everything
// else of the region is erased. Returns the bytes consumed.
size_t Fuzz_LoadRegion(const uint8_t *pucData, size_t ulSize, uint64_t ullOffset, size_t ulMax);

#endif
