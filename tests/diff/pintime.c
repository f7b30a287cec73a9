/* Preloaded into the tool by the differential runner: time() answers NANDKEEP_DIFF_TIME, so
 * that flashVerify, which seeds rand() with the time, draws the same reference data in both
 * builds. Nothing else of the clock is touched. */
#include <stdlib.h>
#include <time.h>

time_t time(time_t *ptResult) {
    const char *pszValue = getenv("NANDKEEP_DIFF_TIME");
    time_t tNow = pszValue != NULL ? (time_t)strtoll(pszValue, NULL, 10) : 0;
    if (ptResult != NULL) {
        *ptResult = tNow;
    }
    return tNow;
}
