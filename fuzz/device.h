// The device every fuzz target works on: a small simulated chip in a private directory, with
// the core started on it once per process.
#ifndef NANDKEEP_FUZZ_DEVICE_H
#define NANDKEEP_FUZZ_DEVICE_H

#include "sim/sim_store.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t FUZZ_BLOCKS = 16;

// Creates the device and starts the core on the first call; returns the inspection handle.
TSimDevice *Fuzz_Device(void);
// Lays aInput over the good blocks of the dwCount blocks from dwFirst (bit i of ucBad marks
// block i bad, the others are left good), 128 KiB per block, erased behind it. Returns what the
// good ones among the first dwKeep blocks hold, in order.
std::vector<uint8_t> Fuzz_Lay(uint32_t dwFirst, uint32_t dwCount, uint8_t ucBad,
                              const std::vector<uint8_t> &aInput, uint32_t dwKeep);

#endif
