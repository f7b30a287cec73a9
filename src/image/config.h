// The configuration record store: length word, payload, CRC-32 of the payload, 0xFF fill,
// laid over the good blocks of an area.
#ifndef NANDKEEP_CONFIG_H
#define NANDKEEP_CONFIG_H

[[nodiscard]] int Nandkeep_WriteConfig(const char *szFileName, unsigned long ulMTDOffset,
                                       unsigned long ulMTDMaxSize);
[[nodiscard]] int Nandkeep_CheckConfig(int iFd, unsigned long ulMTDOffset,
                                       unsigned long ulMTDMaxSize);
[[nodiscard]] int Nandkeep_ReadConfig(int iFd, const char *szFileName, unsigned long ulMTDOffset,
                                      unsigned long ulMTDMaxSize);
[[nodiscard]] int Nandkeep_WriteTempData(const char *szFileName);
[[nodiscard]] int Nandkeep_WriteNFDI(const char *szFileName);

#endif
