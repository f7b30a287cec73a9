# "/proc/mtd" lists a node that is not there: start-up fails before the command line is read.
#@ geometry 128
rm /dev/mtd3
nk_run info nandkeep info
nk_run usage nandkeep
rm /dev/mtd0
nk_run first nandkeep info
