/*
 * The MTD character device's answers to every call the tool makes: reads, writes, seeks, erases,
 * bad blocks and ECC errors, one line per subject of "key value" items. The same sequence runs on the kernel
 * (mtdprobe facts) and on the simulator (nandkeep-simctl facts), and a case transcript holds
 * what both must print.
 *
 * The file that includes this one supplies the calls, with the kernel's results (a value, or -1
 * and errno):
 *   fx_open(path)                      a descriptor on the node, or the program ends
 *   fx_read, fx_write, fx_lseek        as read(2), write(2), lseek(2)
 *   fx_erase(fd, start, len)           MEMERASE
 *   fx_getbad(fd, off), fx_setbad      MEMGETBADBLOCK, MEMSETBADBLOCK
 *   fx_ecc(fd, counters[4])            ECCGETSTATS: corrected, failed, badblocks, bbtblocks
 *   fx_stored(fd, off, buf, len)       the bytes as stored, without ECC
 *   fx_clear_bits(fd, off, n)          clears the lowest set bit of n bytes behind the ECC's back
 *
 * The device: the whole chip with block 5 bad and blocks 4 to 11 otherwise unused, a partition
 * whose first three blocks are unused starting at chip offset part_off, ECC steps correcting
 * strength bits.
 */

#define FX_PAGE 2048
#define FX_BLOCK 0x20000

/*
 * A call's result as one "key value" item of the current line: its return value, or the errno
 * name when it failed.
 */
static void fx_result(const char *key, long long ret)
{
	const char *name = "errno";

	if (ret >= 0) {
		printf(" %s %lld", key, ret);
		return;
	}
	if (errno == EINVAL)
		name = "EINVAL";
	else if (errno == EIO)
		name = "EIO";
	else if (errno == ENOSPC)
		name = "ENOSPC";
	else if (errno == EBADMSG)
		name = "EBADMSG";
	else if (errno == EUCLEAN)
		name = "EUCLEAN";
	printf(" %s %s", key, name);
}

static long long fx_rw_at(int fd, int write_it, long long off, unsigned char *buf, size_t len)
{
	if (fx_lseek(fd, off, SEEK_SET) < 0)
		return -1;
	return write_it ? fx_write(fd, buf, len) : fx_read(fd, buf, len);
}

static int fx_all_ff(const unsigned char *buf, size_t len)
{
	size_t i;

	for (i = 0; i < len; i++)
		if (buf[i] != 0xFF)
			return 0;
	return 1;
}

static void fx_pattern(unsigned char *buf, size_t len, unsigned int seed)
{
	size_t i;

	for (i = 0; i < len; i++)
		buf[i] = (unsigned char)((i * 7 + seed) | 0x81);
}

/*
 * Programs a page pattern at off, flips n bits in one ECC step of it, reads it twice through
 * cnt_fd: what the read returned and what the counters of that node saw each time.
 */
static void fx_flip_case(const char *key, int fd, int cnt_fd, long long off, long long cnt_off,
			 int n)
{
	unsigned char want[FX_PAGE], got[FX_PAGE];
	unsigned int before[4], mid[4], after[4];

	printf("%s:", key);
	fx_pattern(want, FX_PAGE, (unsigned int)n);
	fx_result("write", fx_rw_at(fd, 1, off, want, FX_PAGE));
	fx_clear_bits(fd, off, n);
	fx_ecc(cnt_fd, before);
	fx_result("read", fx_rw_at(cnt_fd, 0, cnt_off, got, FX_PAGE));
	fx_ecc(cnt_fd, mid);
	printf(" data_ok %d counted +%u +%u", memcmp(want, got, FX_PAGE) == 0, mid[0] - before[0],
	       mid[1] - before[1]);
	(void)fx_rw_at(cnt_fd, 0, cnt_off, got, FX_PAGE);
	fx_ecc(cnt_fd, after);
	printf(" again +%u +%u\n", after[0] - mid[0], after[1] - mid[1]);
}

static void fx_reads_writes(int fd, long long size)
{
	unsigned char buf[2 * FX_PAGE], a[FX_PAGE], b[FX_PAGE];

	/* Reads: any length and offset. */
	printf("read:");
	fx_result("erased", fx_rw_at(fd, 0, 4LL * FX_BLOCK, buf, FX_PAGE));
	printf(" all_ff %d", fx_all_ff(buf, FX_PAGE));
	fx_result("short", fx_rw_at(fd, 0, 4LL * FX_BLOCK, buf, 100));
	fx_result("unaligned", fx_rw_at(fd, 0, 4LL * FX_BLOCK + 1, buf, FX_PAGE));
	fx_result("two_pages", fx_rw_at(fd, 0, 4LL * FX_BLOCK, buf, 2 * FX_PAGE));
	printf(" position_after %lld\n", fx_lseek(fd, 0, SEEK_CUR) - 4LL * FX_BLOCK);

	/* Writes: whole sub-pages only; programming twice ANDs. */
	printf("write:");
	memset(a, 0x5A, FX_PAGE);
	fx_result("short", fx_rw_at(fd, 1, 8LL * FX_BLOCK, a, 100));
	fx_result("unaligned", fx_rw_at(fd, 1, 8LL * FX_BLOCK + 1, a, FX_PAGE));
	fx_result("subpage", fx_rw_at(fd, 1, 8LL * FX_BLOCK + 512, a, 512));
	memset(a, 0x0F, FX_PAGE);
	memset(b, 0x3C, FX_PAGE);
	fx_result("first", fx_rw_at(fd, 1, 8LL * FX_BLOCK + FX_PAGE, a, FX_PAGE));
	fx_result("again", fx_rw_at(fd, 1, 8LL * FX_BLOCK + FX_PAGE, b, FX_PAGE));
	fx_stored(fd, 8LL * FX_BLOCK + FX_PAGE, buf, FX_PAGE);
	memset(a, 0x0C, FX_PAGE);
	printf(" stored_and %d", memcmp(buf, a, FX_PAGE) == 0);
	fx_result("two_pages", fx_rw_at(fd, 1, 8LL * FX_BLOCK + 2 * FX_PAGE, buf, 2 * FX_PAGE));
	putchar('\n');

	/* The end of the device. */
	printf("end:");
	fx_result("lseek", fx_lseek(fd, size, SEEK_SET) == size ? 0 : -1);
	fx_result("read", fx_read(fd, buf, FX_PAGE));
	fx_result("write", fx_write(fd, buf, FX_PAGE));
	fx_result("lseek_past", fx_lseek(fd, size + 1, SEEK_SET) < 0 ? -1 : 0);
	memset(buf, 0xFF, sizeof(buf));
	fx_result("write_across", fx_rw_at(fd, 1, size - FX_PAGE, buf, 2 * FX_PAGE));
	fx_result("read_across", fx_rw_at(fd, 0, size - FX_PAGE, buf, 2 * FX_PAGE));
	putchar('\n');
}

static void fx_erases_marks(int fd, long long size)
{
	unsigned char buf[FX_PAGE], a[FX_PAGE];
	unsigned int st0[4], st1[4];
	long long bad = 5LL * FX_BLOCK;

	/* Erases: whole blocks inside the device; a bad block stops the request with EIO. */
	printf("erase:");
	fx_result("unaligned_start", fx_erase(fd, 4 * FX_BLOCK + FX_PAGE, FX_BLOCK));
	fx_result("unaligned_length", fx_erase(fd, 4 * FX_BLOCK, FX_BLOCK + FX_PAGE));
	fx_result("past_end", fx_erase(fd, (unsigned int)size - FX_BLOCK, 2 * FX_BLOCK));
	fx_result("zero_length", fx_erase(fd, 4 * FX_BLOCK, 0));
	fx_result("bad", fx_erase(fd, (unsigned int)bad, FX_BLOCK));
	putchar('\n');
	printf("erase over a bad block:");
	memset(a, 0, FX_PAGE);
	(void)fx_rw_at(fd, 1, 4LL * FX_BLOCK, a, FX_PAGE);
	(void)fx_rw_at(fd, 1, 6LL * FX_BLOCK, a, FX_PAGE);
	fx_result("result", fx_erase(fd, 4 * FX_BLOCK, 3 * FX_BLOCK));
	(void)fx_rw_at(fd, 0, 4LL * FX_BLOCK, buf, FX_PAGE);
	printf(" before_erased %d", fx_all_ff(buf, FX_PAGE));
	(void)fx_rw_at(fd, 0, 6LL * FX_BLOCK, buf, FX_PAGE);
	printf(" after_erased %d", fx_all_ff(buf, FX_PAGE));
	fx_result("after_alone", fx_erase(fd, 6 * FX_BLOCK, FX_BLOCK));
	putchar('\n');

	/* Bad blocks: the query takes any offset inside a block; a bad block reads and programs. */
	printf("getbad:");
	fx_result("good", fx_getbad(fd, 4LL * FX_BLOCK));
	fx_result("bad", fx_getbad(fd, bad));
	fx_result("bad_unaligned", fx_getbad(fd, bad + FX_PAGE + 3));
	fx_result("past_end", fx_getbad(fd, size));
	fx_result("read_bad", fx_rw_at(fd, 0, bad, buf, FX_PAGE));
	memset(a, 0x33, FX_PAGE);
	fx_result("write_bad", fx_rw_at(fd, 1, bad, a, FX_PAGE));
	putchar('\n');

	/* A mark erases the block first and counts, again when the block is marked again. */
	printf("setbad:");
	memset(a, 0x44, FX_PAGE);
	(void)fx_rw_at(fd, 1, 9LL * FX_BLOCK, a, FX_PAGE);
	fx_ecc(fd, st0);
	fx_result("result", fx_setbad(fd, 9LL * FX_BLOCK));
	fx_result("getbad", fx_getbad(fd, 9LL * FX_BLOCK));
	(void)fx_rw_at(fd, 0, 9LL * FX_BLOCK, buf, FX_PAGE);
	fx_ecc(fd, st1);
	printf(" data_erased %d badblocks +%u", fx_all_ff(buf, FX_PAGE), st1[2] - st0[2]);
	fx_result("erase", fx_erase(fd, 9 * FX_BLOCK, FX_BLOCK));
	fx_result("again", fx_setbad(fd, 9LL * FX_BLOCK));
	fx_ecc(fd, st0);
	printf(" badblocks +%u\n", st0[2] - st1[2]);
}

static void fx_ecc_errors(int fd, int pfd, long long part_off, int strength)
{
	unsigned char buf[2 * FX_PAGE];
	unsigned int st0[4], st1[4], pst0[4], pst1[4];

	/*
	 * n flipped bits in one step, read through the whole chip or the partition (corrections
	 * and failures); one block each, the first three of the partition.
	 */
	fx_flip_case("correctable", fd, fd, part_off, part_off, strength);
	fx_flip_case("uncorrectable", fd, fd, part_off + FX_BLOCK, part_off + FX_BLOCK,
		     strength + 1);
	fx_ecc(fd, st0);
	fx_ecc(pfd, pst0);
	fx_flip_case("through the partition", fd, pfd, part_off + 2 * FX_BLOCK, 2 * FX_BLOCK, 1);
	fx_ecc(fd, st1);
	fx_ecc(pfd, pst1);
	printf("counters: whole chip +%u +%u partition +%u +%u\n", st1[0] - st0[0],
	       st1[1] - st0[1], pst1[0] - pst0[0], pst1[1] - pst0[1]);
	printf("erase of flipped bits:");
	fx_result("result", fx_erase(fd, (unsigned int)part_off, FX_BLOCK));
	fx_ecc(fd, st0);
	(void)fx_rw_at(fd, 0, part_off, buf, 2 * FX_PAGE);
	fx_ecc(fd, st1);
	printf(" read counted +%u +%u all_ff %d\n", st1[0] - st0[0], st1[1] - st0[1],
	       fx_all_ff(buf, 2 * FX_PAGE));
}

static void fx_facts(const char *dev0, const char *part, long long part_off, int strength)
{
	int fd = fx_open(dev0), pfd = fx_open(part);
	unsigned int st[4];
	long long size = fx_lseek(fd, 0, SEEK_END);

	fx_ecc(fd, st);
	printf("size %lld counters %u %u %u %u\n", size, st[0], st[1], st[2], st[3]);
	fx_reads_writes(fd, size);
	fx_erases_marks(fd, size);
	fx_ecc_errors(fd, pfd, part_off, strength);
	fx_close(pfd);
	fx_close(fd);
}
