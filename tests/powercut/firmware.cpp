#include "firmware.h"

#include "frontend/mtdinfo.h"

#include <zlib.h>

namespace firmware {

namespace {

constexpr uint64_t BLOCK = SIM_BLOCK_SIZE;

// Reads ulLen bytes laid out from ullPos over the good blocks before ullEnd. Returns false when
// the region ends first. *pullAfter gets the offset just past the last byte.
bool ReadLaidOut(TSimDevice *ptDev, uint64_t ullPos, uint64_t ullEnd, size_t ulLen, Bytes *pOut,
                 uint64_t *pullAfter) {
    pOut->assign(ulLen, 0);
    size_t done = 0;
    while (done < ulLen) {
        while (ullPos < ullEnd && Sim_IsBad(ptDev, static_cast<uint32_t>(ullPos / BLOCK)) == 1) {
            ullPos += BLOCK;
        }
        if (ullPos >= ullEnd) {
            return false;
        }
        size_t n = std::min<size_t>(BLOCK - ullPos % BLOCK, ulLen - done);
        if (Sim_Read(ptDev, ullPos, pOut->data() + done, n) != 0) {
            return false;
        }
        done += n;
        ullPos += n;
    }
    *pullAfter = ullPos;
    return true;
}

int WhichCopy(TSimDevice *ptDev, uint64_t ullRegion, uint64_t ullLen, const TSet *ptSets,
              int iCount, bool bKernel) {
    const uint64_t ullEnd = ullRegion + ullLen;
    for (int i = 0; i < iCount; i++) {
        const Bytes &main = bKernel ? ptSets[i].kernel : ptSets[i].rootfs;
        const Bytes sub = bKernel ? ptSets[i].dtb : ConfigRecord(ptSets[i].defconf);
        Bytes got;
        uint64_t ullAfter = 0;
        if (!ReadLaidOut(ptDev, ullRegion, ullEnd, main.size(), &got, &ullAfter) || got != main) {
            continue;
        }
        uint64_t ullSub = ullAfter - ullAfter % BLOCK + BLOCK;
        if (ReadLaidOut(ptDev, ullSub, ullEnd, sub.size(), &got, &ullAfter) && got == sub) {
            return i;
        }
    }
    return -1;
}

} // namespace

TSet MakeSet(const std::string &dir, const std::string &name, const TSizes &sizes, uint64_t seed) {
    TSet s;
    s.name = name;
    s.bootPath = dir + "/" + name + "-boot.bin";
    s.kernelPath = dir + "/" + name + "-kernel.img";
    s.dtbPath = dir + "/" + name + "-dtb.img";
    s.rootfsPath = dir + "/" + name + "-rootfs.img";
    s.defconfPath = dir + "/" + name + "-defconf.bin";
    s.boot = testsupport::RandomBytes(sizes.boot, seed);
    testsupport::WriteFile(s.bootPath, s.boot);
    s.kernel = testsupport::MakeImage(s.kernelPath, "kernel",
                                      testsupport::RandomBytes(sizes.kernel, seed + 1));
    s.dtb = testsupport::MakeImage(s.dtbPath, "firmware",
                                   testsupport::RandomBytes(sizes.dtb, seed + 2));
    s.rootfs = testsupport::MakeImage(s.rootfsPath, "ramdisk",
                                      testsupport::RandomBytes(sizes.rootfs, seed + 3));
    s.defconf = testsupport::RandomBytes(sizes.defconf, seed + 4);
    testsupport::WriteFile(s.defconfPath, s.defconf);
    return s;
}

Bytes ConfigRecord(const Bytes &payload) {
    Bytes rec;
    uint32_t len = static_cast<uint32_t>(payload.size());
    uint32_t crc = static_cast<uint32_t>(crc32(0, payload.data(), static_cast<uInt>(payload.size())));
    for (int i = 0; i < 4; i++) {
        rec.push_back(static_cast<uint8_t>(len >> (8 * i)));
    }
    rec.insert(rec.end(), payload.begin(), payload.end());
    for (int i = 0; i < 4; i++) {
        rec.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    }
    while (rec.size() % 4 != 0) {
        rec.push_back(0xFF);
    }
    return rec;
}

int KernelCopy(TSimDevice *ptDev, uint64_t ullRegion, uint64_t ullLen, const TSet *ptSets,
               int iCount) {
    return WhichCopy(ptDev, ullRegion, ullLen, ptSets, iCount, true);
}

int RootfsCopy(TSimDevice *ptDev, uint64_t ullRegion, uint64_t ullLen, const TSet *ptSets,
               int iCount) {
    return WhichCopy(ptDev, ullRegion, ullLen, ptSets, iCount, false);
}

int BootCopy(TSimDevice *ptDev, const TSet *ptSets, int iCount) {
    for (int i = 0; i < iCount; i++) {
        Bytes got;
        uint64_t ullAfter = 0;
        if (ReadLaidOut(ptDev, BOOT_OFFSET, BOOT_OFFSET + BOOT_SIZE, ptSets[i].boot.size(), &got,
                        &ullAfter) &&
            got == ptSets[i].boot) {
            return i;
        }
    }
    return -1;
}

} // namespace firmware
