/* Preloaded into the tool by the differential campaign: time() answers NANDKEEP_DIFF_TIME, so
 * that flashVerify, which seeds rand() with the time, draws the same data in both builds. */
#include <stdlib.h>
#include <time.h>

time_t time(time_t *ptResult) {
    const char *pszValue = getenv("NANDKEEP_DIFF_TIME");
    time_t tNow = pszValue != NULL ? (time_t)strtoll(pszValue, NULL, 10) : 0;
    return ptResult != NULL ? (*ptResult = tNow) : tNow;
}
