// SPDX-License-Identifier: GPL-2.0
/*
 * Counted call failures for the real-kernel tests.
 *
 * Setting read_fail to N makes the N-th read() from then on of an MTD character device that
 * delivers data fail with EIO; ecc_fail does the same for ECCGETSTATS requests, and log_fail for
 * write() calls to a file named flashVerifyResult (the factory tests' verify log, one call per
 * message), which fail with ENOSPC as on a full disk. The call still runs: its result is
 * replaced on return, and a failed read leaves the file position where it was, so the caller
 * sees a call that failed outright. A count goes back to 0 when its call has failed, which is
 * how a sweep over every call of a command knows that the command made no N-th call.
 *
 * short_read N makes the next N read() calls that would deliver data deliver half of it, and
 * short_write N the next N write() calls that would program whole sub-pages program half of the
 * sub-pages (one when there is one): their count is changed on the way in.
 *
 *   echo 5 >/sys/module/mtdfault/parameters/read_fail
 */
#include <linux/dcache.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/kprobes.h>
#include <linux/module.h>
#include <linux/mtd/mtd.h>
#include <linux/spinlock.h>
#include <linux/string.h>

/* A count the tests set through /sys/module/mtdfault/parameters/NAME. */
#define MTDFAULT_COUNT(name, what)                                                            \
	static unsigned int name;                                                             \
	module_param(name, uint, 0644);                                                       \
	MODULE_PARM_DESC(name, what)

MTDFAULT_COUNT(read_fail, "the read() that fails, counted from now; 0 when none is to fail");
MTDFAULT_COUNT(ecc_fail, "the ECCGETSTATS request that fails, counted from now");
MTDFAULT_COUNT(log_fail, "the verify-log write that fails, counted from now");
MTDFAULT_COUNT(short_read, "how many of the next reads deliver half");
MTDFAULT_COUNT(short_write, "how many of the next writes program half their sub-pages");

/* The sub-page the NAND driver programs at least: a write of other sizes fails. */
#define MTDFAULT_SUBPAGE 512

static DEFINE_SPINLOCK(mtdfault_lock);

/* The N-th argument of the probed function at its entry, and its result at its return. */
static unsigned long mtdfault_arg(struct pt_regs *regs, int n)
{
#if defined(CONFIG_X86_64)
	const unsigned long args[] = { regs->di, regs->si, regs->dx, regs->cx };

	return args[n];
#elif defined(CONFIG_ARM64)
	return regs->regs[n];
#elif defined(CONFIG_ARM)
	return regs->uregs[n];
#else
#error "mtdfault knows the calling convention of x86_64, arm64 and 32-bit ARM only"
#endif
}

static void mtdfault_set_arg(struct pt_regs *regs, int n, unsigned long value)
{
#if defined(CONFIG_X86_64)
	unsigned long *args[] = { &regs->di, &regs->si, &regs->dx, &regs->cx };

	*args[n] = value;
#elif defined(CONFIG_ARM64)
	regs->regs[n] = value;
#else
	regs->uregs[n] = value;
#endif
}

static void mtdfault_set_result(struct pt_regs *regs, long result)
{
#if defined(CONFIG_X86_64)
	regs->ax = (unsigned long)result;
#elif defined(CONFIG_ARM64)
	regs->regs[0] = (unsigned long)result;
#else
	regs->ARM_r0 = (unsigned long)result;
#endif
}

/* Counts one call against *left: true for the call that is to fail. */
static bool mtdfault_due(unsigned int *left)
{
	unsigned long flags;
	bool due;

	spin_lock_irqsave(&mtdfault_lock, flags);
	due = *left != 0 && --*left == 0;
	spin_unlock_irqrestore(&mtdfault_lock, flags);
	return due;
}

/* Takes one from *left when it is not 0: true when it was not. */
static bool mtdfault_take(unsigned int *left)
{
	unsigned long flags;
	bool taken;

	spin_lock_irqsave(&mtdfault_lock, flags);
	taken = *left != 0;
	if (taken)
		--*left;
	spin_unlock_irqrestore(&mtdfault_lock, flags);
	return taken;
}

/*
 * The bytes a read or write of count bytes at *ppos on this open MTD node moves, as the
 * character device clips it to the device's end. The node's private data starts with its
 * mtd_info pointer.
 */
static size_t mtdfault_span(const struct file *file, size_t count, loff_t pos)
{
	const struct mtd_info *mtd = *(struct mtd_info *const *)file->private_data;

	if (pos < 0 || (u64)pos >= mtd->size)
		return 0;
	return (size_t)min_t(u64, count, mtd->size - (u64)pos);
}

struct mtdfault_read {
	loff_t *ppos;
	loff_t pos;
};

/* mtdchar_read(file, buf, count, ppos) */
static int mtdfault_read_entry(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	struct mtdfault_read *r = (struct mtdfault_read *)ri->data;

	size_t span;

	r->ppos = (loff_t *)mtdfault_arg(regs, 3);
	r->pos = *r->ppos;
	span = mtdfault_span((const struct file *)mtdfault_arg(regs, 0), mtdfault_arg(regs, 2),
			     r->pos);
	if (span != 0 && mtdfault_take(&short_read) && span >= 2)
		mtdfault_set_arg(regs, 2, span / 2);
	return 0;
}

/* A read of nothing (a count of 0, or at the end) is not counted. */
static int mtdfault_read_return(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	struct mtdfault_read *r = (struct mtdfault_read *)ri->data;

	if (regs_return_value(regs) != 0 && mtdfault_due(&read_fail)) {
		*r->ppos = r->pos;
		mtdfault_set_result(regs, -EIO);
	}
	return 0;
}

/* mtdchar_write(file, buf, count, ppos): only the entry, for short_write. */
static int mtdfault_write_mtd_entry(struct kprobe *kp, struct pt_regs *regs)
{
	loff_t pos = *(loff_t *)mtdfault_arg(regs, 3);
	size_t span = mtdfault_span((const struct file *)mtdfault_arg(regs, 0),
				    mtdfault_arg(regs, 2), pos);
	size_t units = span / MTDFAULT_SUBPAGE;

	if (span == 0 || pos % MTDFAULT_SUBPAGE != 0 || span % MTDFAULT_SUBPAGE != 0 ||
	    !mtdfault_take(&short_write))
		return 0;
	if (units >= 2)
		mtdfault_set_arg(regs, 2, units / 2 * MTDFAULT_SUBPAGE);
	return 0;
}

static struct kprobe mtdfault_write_mtd_probe = {
	.symbol_name = "mtdchar_write",
	.pre_handler = mtdfault_write_mtd_entry,
};

/* mtdchar_unlocked_ioctl(file, cmd, arg) */
static int mtdfault_ioctl_entry(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	*(unsigned int *)ri->data = (unsigned int)mtdfault_arg(regs, 1);
	return 0;
}

static int mtdfault_ioctl_return(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	if (*(unsigned int *)ri->data == ECCGETSTATS && mtdfault_due(&ecc_fail))
		mtdfault_set_result(regs, -EIO);
	return 0;
}

/* vfs_write(file, buf, count, pos): only writes to the verify log are counted. */
static int mtdfault_write_entry(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	const struct file *file = (const struct file *)mtdfault_arg(regs, 0);

	*(bool *)ri->data = strcmp((const char *)file->f_path.dentry->d_name.name,
				   "flashVerifyResult") == 0;
	return 0;
}

static int mtdfault_write_return(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	if (*(bool *)ri->data && mtdfault_due(&log_fail))
		mtdfault_set_result(regs, -ENOSPC);
	return 0;
}

#define MTDFAULT_KRETPROBE(symbol, prefix, data, active)                                      \
	{                                                                                     \
		.kp.symbol_name = symbol, .entry_handler = prefix##_entry,                    \
		.handler = prefix##_return, .data_size = sizeof(data), .maxactive = active,    \
	}

/* Writes block in pipes and the like, so many may be under way at once. */
static struct kretprobe mtdfault_kretprobes[] = {
	MTDFAULT_KRETPROBE("mtdchar_read", mtdfault_read, struct mtdfault_read, 8),
	MTDFAULT_KRETPROBE("mtdchar_unlocked_ioctl", mtdfault_ioctl, unsigned int, 8),
	MTDFAULT_KRETPROBE("vfs_write", mtdfault_write, bool, 64),
};

static struct kretprobe *mtdfault_probes[ARRAY_SIZE(mtdfault_kretprobes)];

static int __init mtdfault_init(void)
{
	int ret;

	for (size_t i = 0; i < ARRAY_SIZE(mtdfault_kretprobes); i++)
		mtdfault_probes[i] = &mtdfault_kretprobes[i];
	ret = register_kretprobes(mtdfault_probes, ARRAY_SIZE(mtdfault_probes));

	if (ret == 0) {
		ret = register_kprobe(&mtdfault_write_mtd_probe);
		if (ret)
			unregister_kretprobes(mtdfault_probes, ARRAY_SIZE(mtdfault_probes));
	}
	if (ret)
		pr_err("mtdfault: cannot place the probes: %d\n", ret);
	return ret;
}

static void __exit mtdfault_exit(void)
{
	unregister_kprobe(&mtdfault_write_mtd_probe);
	unregister_kretprobes(mtdfault_probes, ARRAY_SIZE(mtdfault_probes));
}

module_init(mtdfault_init);
module_exit(mtdfault_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Failing and short MTD calls and failing verify-log writes");
