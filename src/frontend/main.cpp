// The program entry: one invocation, one command, its result as the exit status.
#include "frontend/dispatch.h"

#include <cstdlib>

int main(int iArgc, char **ppArgv) {
    exit(Nandkeep_Main(iArgc, ppArgv));
}
