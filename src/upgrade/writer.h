// The image writer and the flash-to-flash copy.
#ifndef NANDKEEP_WRITER_H
#define NANDKEEP_WRITER_H

[[nodiscard]] int Nandkeep_WriteImage(const char *szFileName, unsigned long ulMTDOffset,
                                      unsigned long ulMaxSize, int bHTTP);
[[nodiscard]] int Nandkeep_CopyMTD(int iFd, unsigned long ulDestOffset, unsigned long ulSrcOffset,
                                   unsigned long ulDestMaxSize, unsigned long ulSrcMaxSize,
                                   unsigned long ulLen);

#endif
