// SPDX-License-Identifier: GPL-2.0
/*
 * Lays a device's named partition table over nandsim for the real-kernel tests.
 *
 * nandsim registers its whole chip as one partition ("NAND simulator partition 0", mtd0) of a
 * master that is never registered itself, so BLKPG on /dev/mtd0 refuses to add partitions.
 * This module renames mtd0 after the table's whole-device record and adds the other records as
 * partitions of the same master with mtd_add_partition(); they may overlap, as on the device.
 * The added partitions belong to the master: unloading nandsim removes them.
 *
 *   insmod mtdtable.ko whole=linux names=kernel,rootfs offsets=0x300000,0x1500000 \
 *          sizes=0x1200000,0x4000000
 */
#include <linux/err.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/mtd/mtd.h>
#include <linux/mtd/partitions.h>
#include <linux/slab.h>
#include <linux/string.h>

#define MTDTABLE_MAX_PARTS 16

static char *whole;
module_param(whole, charp, 0444);
MODULE_PARM_DESC(whole, "new name of mtd0, the whole-device partition");

static char *names[MTDTABLE_MAX_PARTS];
static int names_num;
module_param_array(names, charp, &names_num, 0444);
MODULE_PARM_DESC(names, "names of the partitions to add, in order");

static unsigned long long offsets[MTDTABLE_MAX_PARTS];
static int offsets_num;
module_param_array(offsets, ullong, &offsets_num, 0444);
MODULE_PARM_DESC(offsets, "byte offsets of the partitions on the chip");

static unsigned long long sizes[MTDTABLE_MAX_PARTS];
static int sizes_num;
module_param_array(sizes, ullong, &sizes_num, 0444);
MODULE_PARM_DESC(sizes, "byte sizes of the partitions");

/*
 * A partition's name is a kstrdup() copy that the MTD core frees with the partition, so the
 * replacement is allocated the same way and the old copy is released here.
 */
static int mtdtable_rename(struct mtd_info *mtd, const char *name)
{
	char *copy = kstrdup(name, GFP_KERNEL);

	if (!copy)
		return -ENOMEM;
	kfree(mtd->name);
	mtd->name = copy;
	return 0;
}

static int __init mtdtable_init(void)
{
	struct mtd_info *mtd0, *master;
	int i, ret = 0;

	if (names_num != offsets_num || names_num != sizes_num) {
		pr_err("mtdtable: names, offsets and sizes differ in count\n");
		return -EINVAL;
	}
	mtd0 = get_mtd_device(NULL, 0);
	if (IS_ERR(mtd0)) {
		pr_err("mtdtable: no mtd0\n");
		return PTR_ERR(mtd0);
	}
	master = mtd_get_master(mtd0);
	if (mtd0 == master || mtd0->part.offset != 0 || mtd0->size != master->size) {
		pr_err("mtdtable: mtd0 is not a partition over the whole chip\n");
		ret = -EINVAL;
		goto out;
	}
	if (whole) {
		ret = mtdtable_rename(mtd0, whole);
		if (ret)
			goto out;
	}
	for (i = 0; i < names_num; i++) {
		ret = mtd_add_partition(master, names[i], offsets[i], sizes[i]);
		if (ret) {
			pr_err("mtdtable: adding %s at 0x%llx size 0x%llx: %d\n", names[i],
			       offsets[i], sizes[i], ret);
			goto out;
		}
	}
	pr_info("mtdtable: %d partitions added over %s\n", names_num, mtd0->name);
out:
	put_mtd_device(mtd0);
	return ret;
}

static void __exit mtdtable_exit(void)
{
}

module_init(mtdtable_init);
module_exit(mtdtable_exit);
MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Named partition table over nandsim for tests");
