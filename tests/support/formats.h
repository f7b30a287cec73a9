// The documented formats, read and written independently of the tool: a mkimage image
// (big-endian header of 64 bytes) and a record of the stores (little-endian length word, payload,
// CRC-32).
#ifndef NANDKEEP_TESTS_FORMATS_H
#define NANDKEEP_TESTS_FORMATS_H

#include <algorithm>
#include <cstdint>
#include <vector>
#include <zlib.h>

inline uint32_t Word(const uint8_t *p, bool bBigEndian) {
    return bBigEndian ? uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                      : uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}
inline uint32_t Crc(const uint8_t *p, uint64_t ullLen) {
    return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(ullLen)));
}

// A record of the stores around aPayload: length word, payload, CRC-32 of the payload.
inline std::vector<uint8_t> Record(const std::vector<uint8_t> &aPayload) {
    std::vector<uint8_t> aRecord;
    const auto put = [&aRecord](uint32_t v) {
        for (int i = 0; i < 4; i++) {
            aRecord.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    put(static_cast<uint32_t>(aPayload.size()));
    aRecord.insert(aRecord.end(), aPayload.begin(), aPayload.end());
    put(Crc(aPayload.data(), aPayload.size()));
    return aRecord;
}

// The length of the valid image (magic, CRC-32 of the header with its CRC field zeroed, CRC-32 of
// the data; big-endian) or record (length word L, not 0xFFFFFFFF, L + 8 within ullRoom, CRC-32 of
// the payload behind it; little-endian) at offset s of a stream of good blocks; 0 for none.
inline uint64_t ValidLen(const std::vector<uint8_t> &a, uint64_t s, bool bImage, uint64_t ullRoom) {
    if (s + 64 > a.size()) {
        return 0;
    }
    const uint8_t *p = &a[s];
    std::vector<uint8_t> aHeader(p, p + 64);
    std::fill_n(&aHeader[4], 4, 0);
    const uint64_t ullLen = bImage ? 64 + uint64_t(Word(p + 12, true)) : Word(p, false) + 8ull;
    const bool bHead =
        bImage ? Word(p, true) == 0x27051956 && Crc(aHeader.data(), 64) == Word(p + 4, true)
               : Word(p, false) != 0xFFFFFFFF && ullLen <= ullRoom;
    return bHead && s + ullLen <= a.size() &&
                   (bImage ? Crc(p + 64, ullLen - 64) == Word(p + 24, true)
                           : Crc(p + 4, ullLen - 8) == Word(p + ullLen - 4, false))
               ? ullLen
               : 0;
}

#endif
