// A line of progress for the person at the terminal: on standard error, rewritten in place and
// cleared at the end, so that a long command (an upgrade, a factory test, a screening scan) shows
// that it is working. Nothing at all is shown when standard error is not a terminal, or when the
// environment variable NANDKEEP_PROGRESS is "off": standard output, the system log, the verify
// result log and every status are the same either way.
//
// The line reads "<command>: <step>: <phase> <figure>", for example
// "upgradeFW: kernel 1: writing 45 %" or "flashVerify: patterns: block 12 of 1024, about
// 3 min 20 s left".
#ifndef NANDKEEP_PROGRESS_H
#define NANDKEEP_PROGRESS_H

#include <cstddef>
#include <cstdint>

// The command the line is about; nullptr ends the line (cleared).
void Progress_Command(const char *pszCommand);
// The step of the command from now on, as a printf format ("kernel %d"); nullptr for none. The
// first figure of a step is always drawn; the time left of Progress_Count is estimated from the
// pace since the step began.
void Progress_Step(const char *pszFormat, ...);
// "<phase> <percent> %", for ullDone of ullTotal units.
void Progress_Percent(const char *pszPhase, uint64_t ullDone, uint64_t ullTotal);
// "<phase> <n> of <total>", with bEstimate an estimate of the time left.
void Progress_Count(const char *pszPhase, uint64_t ullDone, uint64_t ullTotal, bool bEstimate);
// While held, the percentages of the operations below (erasing, writing, comparing, copying)
// are not shown: the caller counts its own units, as the thousand erases of a test cycle.
void Progress_Hold(bool bHold);
// The figure of Progress_Count into pszOut, ullElapsedMs after the step began.
void Progress_CountFigure(char *pszOut, size_t ulSize, const char *pszPhase, uint64_t ullDone,
                          uint64_t ullTotal, bool bEstimate, uint64_t ullElapsedMs);
// Clears the line before a message goes to the terminal; the next figure draws it again.
void Progress_Hide(void);
// Tells what was just printed on standard output: of a line it leaves unended, the figure is
// drawn behind it. nullptr: text too long to keep, which leaves no room for a figure.
void Progress_Printed(const char *pszText);

#endif
