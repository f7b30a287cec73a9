// SPDX-License-Identifier: GPL-2.0
/*
 * Counted call failures on the MTD character devices for the real-kernel tests.
 *
 * Setting read_fail to N makes the N-th read() from then on that delivers data fail with EIO;
 * ecc_fail does the same for ECCGETSTATS requests. The call still runs: its result is replaced
 * on return, and a failed read leaves the file position where it was, so the caller sees a call
 * that failed outright. A count goes back to 0 when its call has failed, which is how a sweep
 * over every call of a command knows that the command made no N-th call.
 *
 *   echo 5 >/sys/module/mtdfault/parameters/read_fail
 */
#include <linux/errno.h>
#include <linux/kprobes.h>
#include <linux/module.h>
#include <linux/mtd/mtd.h>
#include <linux/spinlock.h>

static unsigned int read_fail;
module_param(read_fail, uint, 0644);
MODULE_PARM_DESC(read_fail, "the read() that fails, counted from now; 0 when none is to fail");

static unsigned int ecc_fail;
module_param(ecc_fail, uint, 0644);
MODULE_PARM_DESC(ecc_fail, "the ECCGETSTATS request that fails, counted from now");

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

struct mtdfault_read {
	loff_t *ppos;
	loff_t pos;
};

/* mtdchar_read(file, buf, count, ppos) */
static int mtdfault_read_entry(struct kretprobe_instance *ri, struct pt_regs *regs)
{
	struct mtdfault_read *r = (struct mtdfault_read *)ri->data;

	r->ppos = (loff_t *)mtdfault_arg(regs, 3);
	r->pos = *r->ppos;
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

static struct kretprobe mtdfault_read_probe = {
	.kp.symbol_name = "mtdchar_read",
	.entry_handler = mtdfault_read_entry,
	.handler = mtdfault_read_return,
	.data_size = sizeof(struct mtdfault_read),
	.maxactive = 8,
};

static struct kretprobe mtdfault_ioctl_probe = {
	.kp.symbol_name = "mtdchar_unlocked_ioctl",
	.entry_handler = mtdfault_ioctl_entry,
	.handler = mtdfault_ioctl_return,
	.data_size = sizeof(unsigned int),
	.maxactive = 8,
};

static struct kretprobe *mtdfault_probes[] = { &mtdfault_read_probe, &mtdfault_ioctl_probe };

static int __init mtdfault_init(void)
{
	int ret = register_kretprobes(mtdfault_probes, ARRAY_SIZE(mtdfault_probes));

	if (ret)
		pr_err("mtdfault: cannot probe the MTD character device: %d\n", ret);
	return ret;
}

static void __exit mtdfault_exit(void)
{
	unregister_kretprobes(mtdfault_probes, ARRAY_SIZE(mtdfault_probes));
}

module_init(mtdfault_init);
module_exit(mtdfault_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Counted read and ECC-counter failures on the MTD character devices");
