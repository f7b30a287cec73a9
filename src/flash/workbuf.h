// A working buffer whose size is only known at run time (it follows the erase size or the
// block count), released when its scope ends.
//
// The buffers of this tool are a few erase blocks at most. When even that cannot be had, the
// command cannot run: "malloc fail" is notified and the process ends with status 255, like a
// start-up that cannot allocate its table. It uses the C allocator so that the production
// binary needs nothing beyond the C library at run time.
#ifndef NANDKEEP_WORKBUF_H
#define NANDKEEP_WORKBUF_H

#include "frontend/notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

class TWorkBuf {
  public:
    TWorkBuf() = default;
    TWorkBuf(size_t ulSize, unsigned char ucFill) {
        assign(ulSize, ucFill);
    }
    ~TWorkBuf() {
        free(m_pucData);
    }
    TWorkBuf(const TWorkBuf &) = delete;
    TWorkBuf &operator=(const TWorkBuf &) = delete;

    // Replaces the contents with ulSize bytes of ucFill.
    void assign(size_t ulSize, unsigned char ucFill) {
        free(m_pucData);
        m_pucData = static_cast<unsigned char *>(malloc(ulSize == 0 ? 1 : ulSize));
        if (m_pucData == nullptr) {
            Nandkeep_Notify("malloc fail");
            exit(-1);
        }
        memset(m_pucData, ucFill, ulSize);
        m_ulSize = ulSize;
    }
    unsigned char *data() {
        return m_pucData;
    }
    const unsigned char *data() const {
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
