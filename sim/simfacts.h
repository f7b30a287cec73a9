// The facts of the MTD character device, answered by the simulator (see simfacts.cpp).
#ifndef NANDKEEP_SIM_SIMFACTS_H
#define NANDKEEP_SIM_SIMFACTS_H

#include "sim/sim_store.h"

// Prints the facts of /dev/mtd nodes pszDev0 (the whole chip) and pszPart (a partition that
// starts at chip offset llPartOff) of the device ptDev; iStrength is the bits one ECC step
// corrects.
void SimFacts_Run(TSimDevice *ptDev, const char *pszDev0, const char *pszPart, long long llPartOff,
                  int iStrength);

#endif
