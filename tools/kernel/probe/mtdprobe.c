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
 *                                    records, as "key value" lines, how the MTD character
 *                                    device behaves on reads, writes, seeks, erases, bad
 *                                    blocks and ECC errors; DEV0 is the whole chip with block
 *                                    5 bad and blocks 4 to 11 otherwise unused, PART a
 *                                    partition starting at chip offset PARTOFF, STRENGTH the
 *                                    bits one ECC step corrects
 */
#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define PAGE 2048
#define BLOCK 0x20000

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

/* Prints the result of a call: its return value, or the errno name when it failed. */
static void result(const char *key, long ret)
{
	if (ret >= 0)
		printf("%s %ld\n", key, ret);
	else if (errno == EINVAL)
		printf("%s EINVAL\n", key);
	else if (errno == EIO)
		printf("%s EIO\n", key);
	else if (errno == ENOSPC)
		printf("%s ENOSPC\n", key);
	else if (errno == EBADMSG)
		printf("%s EBADMSG\n", key);
	else if (errno == EUCLEAN)
		printf("%s EUCLEAN\n", key);
	else
		printf("%s errno%d\n", key, errno);
}

static long rw_at(int fd, int write_it, long long off, void *buf, size_t len)
{
	if (lseek(fd, off, SEEK_SET) < 0)
		return -1;
	return write_it ? write(fd, buf, len) : read(fd, buf, len);
}

static int erase(int fd, unsigned int start, unsigned int len)
{
	struct erase_info_user ei = { .start = start, .length = len };

	return ioctl(fd, MEMERASE, &ei);
}

static int all_ff(const unsigned char *buf, size_t len)
{
	for (size_t i = 0; i < len; i++)
		if (buf[i] != 0xFF)
			return 0;
	return 1;
}

static void pattern(unsigned char *buf, size_t len, unsigned int seed)
{
	for (size_t i = 0; i < len; i++)
		buf[i] = (unsigned char)((i * 7 + seed) | 0x81);
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

/* Writes a page pattern at off, makes n bits flip, reads it twice; prints what ECC saw. */
static void flip_case(const char *key, int fd, int cnt_fd, long long off, long long cnt_off,
		      int n)
{
	unsigned char want[PAGE], got[PAGE];
	struct mtd_ecc_stats before, mid, after;
	char name[64];

	pattern(want, PAGE, (unsigned int)n);
	if (rw_at(fd, 1, off, want, PAGE) != PAGE)
		fail("pattern write");
	clear_bits(fd, off, n);
	before = ecc(cnt_fd);
	snprintf(name, sizeof(name), "%s.read", key);
	result(name, rw_at(cnt_fd, 0, cnt_off, got, PAGE));
	mid = ecc(cnt_fd);
	printf("%s.data_ok %d\n", key, memcmp(want, got, PAGE) == 0);
	printf("%s.corrected +%u\n", key, mid.corrected - before.corrected);
	printf("%s.failed +%u\n", key, mid.failed - before.failed);
	(void)rw_at(cnt_fd, 0, cnt_off, got, PAGE);
	after = ecc(cnt_fd);
	printf("%s.reread.corrected +%u\n", key, after.corrected - mid.corrected);
	printf("%s.reread.failed +%u\n", key, after.failed - mid.failed);
}

static void facts(const char *dev0, const char *part, long long part_off, int strength)
{
	int fd = open_dev(dev0), pfd = open_dev(part);
	unsigned char buf[2 * PAGE], a[PAGE], b[PAGE];
	struct mtd_info_user info;
	struct mtd_ecc_stats st0, st1, pst0, pst1;
	long long size, bad = 5LL * BLOCK;

	if (ioctl(fd, MEMGETINFO, &info) < 0)
		fail("MEMGETINFO");
	size = info.size;
	printf("info.writesize %u\ninfo.erasesize %u\ninfo.oobsize %u\n", info.writesize,
	       info.erasesize, info.oobsize);
	st0 = ecc(fd);
	printf("ecc.start %u %u %u %u\n", st0.corrected, st0.failed, st0.badblocks, st0.bbtblocks);

	/* Reads: any length and offset. */
	result("read.erased", rw_at(fd, 0, 4LL * BLOCK, buf, PAGE));
	printf("read.erased.all_ff %d\n", all_ff(buf, PAGE));
	result("read.short", rw_at(fd, 0, 4LL * BLOCK, buf, 100));
	result("read.unaligned", rw_at(fd, 0, 4LL * BLOCK + 1, buf, PAGE));
	result("read.two_pages", rw_at(fd, 0, 4LL * BLOCK, buf, 2 * PAGE));
	printf("read.position_after %lld\n", (long long)lseek(fd, 0, SEEK_CUR) - 4LL * BLOCK);

	/* Writes: whole sub-pages only; programming twice ANDs. */
	memset(a, 0x5A, PAGE);
	result("write.short", rw_at(fd, 1, 8LL * BLOCK, a, 100));
	result("write.unaligned", rw_at(fd, 1, 8LL * BLOCK + 1, a, PAGE));
	result("write.subpage", rw_at(fd, 1, 8LL * BLOCK + 512, a, 512));
	memset(a, 0x0F, PAGE);
	memset(b, 0x3C, PAGE);
	result("write.first", rw_at(fd, 1, 8LL * BLOCK + PAGE, a, PAGE));
	result("write.again", rw_at(fd, 1, 8LL * BLOCK + PAGE, b, PAGE));
	if (ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_RAW) < 0)
		fail("MTDFILEMODE");
	(void)rw_at(fd, 0, 8LL * BLOCK + PAGE, buf, PAGE);
	(void)ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_NORMAL);
	memset(a, 0x0C, PAGE);
	printf("write.again.stored_and %d\n", memcmp(buf, a, PAGE) == 0);
	result("write.two_pages", rw_at(fd, 1, 8LL * BLOCK + 2 * PAGE, buf, 2 * PAGE));
	if (ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_RAW) < 0)
		fail("MTDFILEMODE");
	result("write.raw_without_oob", rw_at(fd, 1, 8LL * BLOCK + 4 * PAGE, buf, PAGE));
	(void)ioctl(fd, MTDFILEMODE, MTD_FILE_MODE_NORMAL);

	/* The end of the device. */
	result("lseek.size", lseek(fd, size, SEEK_SET) == size ? 0 : -1);
	result("read.at_end", read(fd, buf, PAGE));
	result("write.at_end", write(fd, buf, PAGE));
	result("lseek.past_end", lseek(fd, size + 1, SEEK_SET) < 0 ? -1 : 0);
	memset(buf, 0xFF, sizeof(buf));
	result("write.across_end", rw_at(fd, 1, size - PAGE, buf, 2 * PAGE));
	result("read.across_end", rw_at(fd, 0, size - PAGE, buf, 2 * PAGE));

	/* Erases: whole blocks inside the device; a bad block stops the request with EIO. */
	result("erase.unaligned_start", erase(fd, 4 * BLOCK + PAGE, BLOCK));
	result("erase.unaligned_length", erase(fd, 4 * BLOCK, BLOCK + PAGE));
	result("erase.past_end", erase(fd, (unsigned int)size - BLOCK, 2 * BLOCK));
	result("erase.zero_length", erase(fd, 4 * BLOCK, 0));
	result("erase.bad", erase(fd, (unsigned int)bad, BLOCK));
	memset(a, 0, PAGE);
	(void)rw_at(fd, 1, 4LL * BLOCK, a, PAGE);
	(void)rw_at(fd, 1, 6LL * BLOCK, a, PAGE);
	result("erase.across_bad", erase(fd, 4 * BLOCK, 3 * BLOCK));
	(void)rw_at(fd, 0, 4LL * BLOCK, buf, PAGE);
	printf("erase.across_bad.before_erased %d\n", all_ff(buf, PAGE));
	(void)rw_at(fd, 0, 6LL * BLOCK, buf, PAGE);
	printf("erase.across_bad.after_erased %d\n", all_ff(buf, PAGE));
	result("erase.good", erase(fd, 6 * BLOCK, BLOCK));

	/* Bad blocks: the query takes any offset inside a block; marking counts. */
	long long off;

	off = 4LL * BLOCK;
	result("getbad.good", ioctl(fd, MEMGETBADBLOCK, &off));
	off = bad;
	result("getbad.bad", ioctl(fd, MEMGETBADBLOCK, &off));
	off = bad + PAGE + 3;
	result("getbad.bad_unaligned", ioctl(fd, MEMGETBADBLOCK, &off));
	off = size;
	result("getbad.past_end", ioctl(fd, MEMGETBADBLOCK, &off));
	result("read.bad", rw_at(fd, 0, bad, buf, PAGE));
	memset(a, 0x33, PAGE);
	result("write.bad", rw_at(fd, 1, bad, a, PAGE));
	memset(a, 0x44, PAGE);
	(void)rw_at(fd, 1, 9LL * BLOCK, a, PAGE);
	st0 = ecc(fd);
	off = 9LL * BLOCK;
	result("setbad", ioctl(fd, MEMSETBADBLOCK, &off));
	result("setbad.getbad", ioctl(fd, MEMGETBADBLOCK, &off));
	(void)rw_at(fd, 0, 9LL * BLOCK, buf, PAGE);
	printf("setbad.data_erased %d\n", all_ff(buf, PAGE));
	st1 = ecc(fd);
	printf("setbad.badblocks +%u\n", st1.badblocks - st0.badblocks);
	result("setbad.erase", erase(fd, 9 * BLOCK, BLOCK));
	result("setbad.again", ioctl(fd, MEMSETBADBLOCK, &off));
	st0 = ecc(fd);
	printf("setbad.again.badblocks +%u\n", st0.badblocks - st1.badblocks);

	/* ECC: n flipped bits in one step, read through the whole chip or the partition. */
	long long flip = part_off;

	flip_case("flip.correctable", fd, fd, flip, flip, strength);
	flip_case("flip.uncorrectable", fd, fd, flip + PAGE, flip + PAGE, strength + 1);
	st0 = ecc(fd);
	pst0 = ecc(pfd);
	flip_case("flip.partition", fd, pfd, flip + 2 * PAGE, 2 * PAGE, 1);
	st1 = ecc(fd);
	pst1 = ecc(pfd);
	printf("flip.partition.whole_chip_counter +%u +%u\n", st1.corrected - st0.corrected,
	       st1.failed - st0.failed);
	printf("flip.partition.partition_counter +%u +%u\n", pst1.corrected - pst0.corrected,
	       pst1.failed - pst0.failed);
	result("erase.flipped", erase(fd, (unsigned int)flip, BLOCK));
	st0 = ecc(fd);
	(void)rw_at(fd, 0, flip, buf, 2 * PAGE);
	st1 = ecc(fd);
	printf("erase.flipped.read_after +%u +%u all_ff %d\n", st1.corrected - st0.corrected,
	       st1.failed - st0.failed, all_ff(buf, 2 * PAGE));
	close(pfd);
	close(fd);
}

static void list_bad(int fd)
{
	struct mtd_info_user info;
	long long off;
	int ret;

	if (ioctl(fd, MEMGETINFO, &info) < 0)
		fail("MEMGETINFO");
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
		facts(argv[2], argv[3], strtoll(argv[4], NULL, 0), atoi(argv[5]));
		return 0;
	}
	fprintf(stderr, "usage: mtdprobe ecc DEV | bad DEV | clearbits DEV OFF N | "
			"facts DEV0 PART PARTOFF STRENGTH\n");
	return 2;
}
