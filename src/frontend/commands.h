// The command entries the dispatcher routes to, and the argument conversions they share.
//
// Every entry takes the whole command line (word 0 the tool's name, word 1 the command) and
// returns the command's result, which becomes the exit status after Nandkeep_Deinit.
#ifndef NANDKEEP_COMMANDS_H
#define NANDKEEP_COMMANDS_H

using TCommandEntry = int (*)(int iArgc, char **ppArgv);

// Hexadecimal conversion of a numeric word (strtoul base 16: leading blanks, optional 0x, stops
// at the first non-digit). No warning.
unsigned long Nandkeep_ParseHex(const char *pszWord);
// The same, but when the conversion did not reach the end of the word, prints pszWarnFormat
// with the word and the value obtained, and goes on with that value.
unsigned long Nandkeep_ParseHexWarned(const char *pszWord, const char *pszWarnFormat);

// Warning formats of the warned arguments.
#define NANDKEEP_WARN_OFFSET "input offset [%s] (base hex), but get [%lX]\n"
#define NANDKEEP_WARN_LENGTH "input length [%s] (base hex), but get [%lX]\n"
#define NANDKEEP_WARN_SIZE "input size [%s] (base hex), but get [%lX]\n"
#define NANDKEEP_WARN_CYCLE "input cycle [%s] (base hex), but get [%lu]\n"

// Entries, by the subsystem that owns them.
int Cmd_Info(int iArgc, char **ppArgv);
int Cmd_SystemRecovery(int iArgc, char **ppArgv);

#endif
