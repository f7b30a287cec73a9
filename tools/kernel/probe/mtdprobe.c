/*
 * mtdprobe: guest-side helper of the real-kernel tool.
 *
 *   mtdprobe ecc DEV                 prints "corrected failed badblocks bbtblocks" of DEV
 *   mtdprobe bad DEV                 prints the blocks MEMGETBADBLOCK calls bad, one a line
 *   mtdprobe clearbits DEV OFF N     clears the lowest set bit of N bytes from byte OFF on
 *                                    (inside one page), rewriting the page without ECC: every
 *                                    ECC read of that page finds the cleared bits, until the
 *                                    block is erased
 *   mtdprobe facts DEV0 PART PARTOFF STRENGTH
 *                                    how the MTD character device answers the tool's calls
 *                                    (facts.c); DEV0 is the whole chip with block 5 bad and
 *                                    blocks 4 to 11 otherwise unused, PART a partition
 *                                    starting at chip offset PARTOFF, STRENGTH the bits one
 *                                    ECC step corrects
 *   mtdprobe save DEV FILE           keeps every page of DEV that is not all ones, data and
 *                                    spare area as stored (no ECC), in FILE
 *   mtdprobe restore DEV FILE BLOCK... | saved
 *                                    erases each good BLOCK (saved: each block FILE holds pages
 *                                    of) and programs its pages back raw from FILE: the blocks
 *                                    hold what they held at the save
 *   mtdprobe markbad DEV BLOCK...    marks each BLOCK bad (one that is already stays so)
 *   mtdprobe trylock FILE            exits 0 when a fresh open of FILE can take an exclusive
 *                                    flock at once, 1 when it cannot
 */
#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define PAGE 2048
#define OOB 64

static void fail(const char *what)
{
	perror(what);
	exit(2);
}

static int open_dev(const char *path)
{
	int fd = open(path, O_RDWR | O_SYNC);

	if (fd < 0)
		fail(path);
	return fd;
}

static struct mtd_ecc_stats ecc(int fd)
{
	struct mtd_ecc_stats st;

	if (ioctl(fd, ECCGETSTATS, &st) < 0)
		fail("ECCGETSTATS");
	return st;
}

static struct mtd_info_user geometry(int fd)
{
	struct mtd_info_user info;

	if (ioctl(fd, MEMGETINFO, &info) < 0)
		fail("MEMGETINFO");
	return info;
}

static long rw_at(int fd, int write_it, long long off, void *buf, size_t len)
{
	if (lseek(fd, off, SEEK_SET) < 0)
		return -1;
	return write_it ? write(fd, buf, len) : read(fd, buf, len);
}

static void clear_bits(int fd, long long off, int n)
{
	unsigned char page[PAGE], oob[64];
	long long page_off = off & ~(long long)(PAGE - 1);
	struct mtd_write_req req;

	if (n < 1 || off - page_off + n > PAGE) {
		fprintf(stderr, "clearbits: 1 or more bytes inside one page\n");
		exit(2);
	}

	if (ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_RAW) < 0)
		fail("MTDFILEMODE");
	if (rw_at(fd, 0, page_off, page, PAGE) != PAGE)
		fail("raw read");
	if (ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_NORMAL) < 0)
		fail("MTDFILEMODE");
	for (int i = 0; i < n; i++) {
		unsigned char *b = &page[off - page_off + i];

		if (*b == 0)
			fail("no set bit to clear");
		*b &= (unsigned char)(*b - 1);
	}
	/*
	 * Programming only clears bits, so the page is programmed again raw with an all-ones
	 * spare area: the ECC bytes stay those of the old data. nandsim takes a page program only
	 * with its spare area (a data-only raw write() fails with EIO), hence MEMWRITE.
	 */
	memset(oob, 0xFF, sizeof(oob));
	memset(&req, 0, sizeof(req));
	req.start = (unsigned long long)page_off;
	req.len = PAGE;
	req.ooblen = sizeof(oob);
	req.usr_data = (unsigned long long)(unsigned long)page;
	req.usr_oob = (unsigned long long)(unsigned long)oob;
	req.mode = MTD_OPS_RAW;
	if (ioctl(fd, MEMWRITE, &req) < 0)
		fail("raw MEMWRITE");
}

/* The calls of the facts (facts.c), on the kernel's MTD character devices. */
#define fx_open open_dev
#define fx_read read
#define fx_write write
#define fx_lseek(fd, off, whence) ((long long)lseek(fd, off, whence))
#define fx_close close
#define fx_clear_bits clear_bits

static int fx_erase(int fd, unsigned int start, unsigned int len)
{
	struct erase_info_user ei = { .start = start, .length = len };

	return ioctl(fd, MEMERASE, &ei);
}

static int fx_getbad(int fd, long long off)
{
	return ioctl(fd, MEMGETBADBLOCK, &off);
}

static int fx_setbad(int fd, long long off)
{
	return ioctl(fd, MEMSETBADBLOCK, &off);
}

static void fx_ecc(int fd, unsigned int out[4])
{
	struct mtd_ecc_stats st = ecc(fd);

	out[0] = st.corrected;
	out[1] = st.failed;
	out[2] = st.badblocks;
	out[3] = st.bbtblocks;
}

static void fx_stored(int fd, long long off, unsigned char *buf, size_t len)
{
	if (ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_RAW) < 0)
		fail("MTDFILEMODE");
	if (rw_at(fd, 0, off, buf, len) != (long)len)
		fail("raw read");
	if (ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_NORMAL) < 0)
		fail("MTDFILEMODE");
}

#include "facts.c"

/* A page as saved: its number on the chip, then its data and spare area. */
struct saved_page {
	unsigned int page;
	unsigned char data[PAGE + OOB];
};

static void page_io(int fd, unsigned long req, unsigned int page, unsigned char *buf)
{
	struct mtd_write_req w = { .start = (unsigned long long)page * PAGE,
				   .len = PAGE,
				   .ooblen = OOB,
				   .usr_data = (unsigned long long)(unsigned long)buf,
				   .usr_oob = (unsigned long long)(unsigned long)(buf + PAGE),
				   .mode = MTD_OPS_RAW };
	struct mtd_read_req r = { .start = w.start,
				  .len = w.len,
				  .ooblen = w.ooblen,
				  .usr_data = w.usr_data,
				  .usr_oob = w.usr_oob,
				  .mode = MTD_OPS_RAW };

	if (ioctl(fd, req, req == MEMWRITE ? (void *)&w : (void *)&r) < 0)
		fail(req == MEMWRITE ? "raw MEMWRITE" : "raw MEMREAD");
}

static void save(int fd, const char *path)
{
	struct mtd_info_user info;
	struct saved_page sp;
	FILE *out = fopen(path, "wb");
	unsigned int per_block, page;
	long long off;
	int ret;

	if (out == NULL)
		fail(path);
	info = geometry(fd);
	per_block = info.erasesize / PAGE;
	for (page = 0; page < info.size / PAGE; page++) {
		if (page % per_block == 0) {
			off = (long long)page * PAGE;
			ret = ioctl(fd, MEMGETBADBLOCK, &off);
			if (ret < 0)
				fail("MEMGETBADBLOCK");
			if (ret > 0) {
				page += per_block - 1;
				continue;
			}
		}
		page_io(fd, MEMREAD, page, sp.data);
		sp.page = page;
		for (size_t i = 0; i < sizeof(sp.data); i++) {
			if (sp.data[i] != 0xFF) {
				if (fwrite(&sp, sizeof(sp), 1, out) != 1)
					fail(path);
				break;
			}
		}
	}
	if (fclose(out) != 0)
		fail(path);
}

/* Erases good block b once: erased[] notes the blocks erased so far. */
static void erase_block(int fd, const struct mtd_info_user *info, unsigned char *erased, long long b)
{
	long long off = b * info->erasesize;
	struct erase_info_user ei = { .start = (unsigned int)off, .length = info->erasesize };

	if (off < 0 || off >= info->size || erased[b] || ioctl(fd, MEMGETBADBLOCK, &off) != 0)
		return;
	if (ioctl(fd, MEMERASE, &ei) < 0)
		fail("MEMERASE");
	erased[b] = 1;
}

static void restore(int fd, const char *path, int blocks, char **block)
{
	struct mtd_info_user info;
	struct saved_page sp;
	FILE *in = fopen(path, "rb");
	unsigned char *erased;

	if (in == NULL)
		fail(path);
	info = geometry(fd);
	erased = calloc(info.size / info.erasesize, 1);
	if (erased == NULL)
		fail("calloc");
	if (blocks == 1 && strcmp(block[0], "saved") == 0) {
		while (fread(&sp, sizeof(sp), 1, in) == 1)
			erase_block(fd, &info, erased, sp.page / (info.erasesize / PAGE));
		rewind(in);
	} else {
		for (int i = 0; i < blocks; i++)
			erase_block(fd, &info, erased, strtoll(block[i], NULL, 0));
	}
	while (fread(&sp, sizeof(sp), 1, in) == 1) {
		if (erased[sp.page / (info.erasesize / PAGE)])
			page_io(fd, MEMWRITE, sp.page, sp.data);
	}
	fclose(in);
	free(erased);
}

static int trylock(const char *path)
{
	int fd = open(path, O_RDONLY);

	if (fd < 0)
		fail(path);
	return flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
}

static void list_bad(int fd)
{
	struct mtd_info_user info;
	long long off;
	int ret;

	info = geometry(fd);
	for (off = 0; off < info.size; off += info.erasesize) {
		ret = ioctl(fd, MEMGETBADBLOCK, &off);
		if (ret < 0)
			fail("MEMGETBADBLOCK");
		if (ret > 0)
			printf("%lld\n", off / info.erasesize);
	}
}

int main(int argc, char **argv)
{
	if (argc == 3 && strcmp(argv[1], "ecc") == 0) {
		int fd = open_dev(argv[2]);
		struct mtd_ecc_stats st = ecc(fd);

		printf("%u %u %u %u\n", st.corrected, st.failed, st.badblocks, st.bbtblocks);
		return 0;
	}
	if (argc == 3 && strcmp(argv[1], "bad") == 0) {
		list_bad(open_dev(argv[2]));
		return 0;
	}
	if (argc == 5 && strcmp(argv[1], "clearbits") == 0) {
		clear_bits(open_dev(argv[2]), strtoll(argv[3], NULL, 0), atoi(argv[4]));
		return 0;
	}
	if (argc == 6 && strcmp(argv[1], "facts") == 0) {
		fx_facts(argv[2], argv[3], strtoll(argv[4], NULL, 0), atoi(argv[5]));
		return 0;
	}
	if (argc == 4 && strcmp(argv[1], "save") == 0) {
		save(open_dev(argv[2]), argv[3]);
		return 0;
	}
	if (argc >= 4 && strcmp(argv[1], "restore") == 0) {
		restore(open_dev(argv[2]), argv[3], argc - 4, argv + 4);
		return 0;
	}
	if (argc >= 3 && strcmp(argv[1], "markbad") == 0) {
		int fd = open_dev(argv[2]);
		struct mtd_info_user info;

		info = geometry(fd);
		for (int i = 3; i < argc; i++) {
			long long off = strtoll(argv[i], NULL, 0) * info.erasesize;

			if (ioctl(fd, MEMSETBADBLOCK, &off) < 0)
				fail("MEMSETBADBLOCK");
		}
		return 0;
	}
	if (argc == 3 && strcmp(argv[1], "trylock") == 0)
		return trylock(argv[2]);
	fprintf(stderr, "usage: mtdprobe ecc DEV | bad DEV | clearbits DEV OFF N | "
			"facts DEV0 PART PARTOFF STRENGTH | save DEV FILE | "
			"restore DEV FILE BLOCK...|saved | markbad DEV BLOCK... | trylock FILE\n");
	return 2;
}
