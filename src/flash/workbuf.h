// A working buffer whose size is only known at run time (it follows the erase size or the
// block count), released when its scope ends.
//
// The buffers of this tool are a few erase blocks at most. When even that cannot be had, the
// command cannot run: assign notifies "malloc fail" and answers false, and the command ends with
// status 255, like a start-up that cannot allocate its table. It uses the C allocator so that the
// production binary needs nothing beyond the C library at run time.
#ifndef NANDKEEP_WORKBUF_H
#define NANDKEEP_WORKBUF_H

#include "flash/texts.h"
#include "flash/notify.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

class TWorkBuf {
  public:
    TWorkBuf() = default;
    ~TWorkBuf() {
        free(m_pucData);
    }
    TWorkBuf(const TWorkBuf &) = delete;
    TWorkBuf &operator=(const TWorkBuf &) = delete;

    // Replaces the contents with ullSize bytes of ucFill. false (notified) when there is no
    // memory for them, or when the size does not fit the target's address space (a 32-bit
    // board asked for 4 GiB or more): it is never cut down to what fits.
    [[nodiscard]] bool assign(uint64_t ullSize, unsigned char ucFill) {
        free(m_pucData);
        const size_t ulSize = static_cast<size_t>(ullSize);
        m_pucData = ulSize != ullSize
                        ? nullptr
                        : static_cast<unsigned char *>(malloc(ulSize == 0 ? 1 : ulSize));
        m_ulSize = m_pucData != nullptr ? ulSize : 0;
        if (m_pucData == nullptr) {
            Nandkeep_Notify(TXT_MALLOC_FAIL);
            return false;
        }
        memset(m_pucData, ucFill, ulSize);
        return true;
    }
    unsigned char *data() {
        return m_pucData;
    }
    size_t size() const {
        return m_ulSize;
    }

  private:
    unsigned char *m_pucData = nullptr;
    size_t m_ulSize = 0;
};

#endif
