# Start-up over the kernel's partition table, then the info command.
#@ geometry 128 256
nk_run info nandkeep info
