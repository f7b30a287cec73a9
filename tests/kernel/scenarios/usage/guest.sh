# Command lines that no command takes: each prints the usage and the banner and exits with 0.
#@ geometry 128 256
nk_run none nandkeep
nk_run unknown nandkeep noSuchCommand
nk_run info-extra nandkeep info extra
nk_run erase-alone nandkeep erase
nk_run erase-extra nandkeep erase 0 20000 1
nk_run eraseall-extra nandkeep eraseAll 1
nk_run write-short nandkeep write image 0
nk_run upgrade-four nandkeep upgradeFW a b c d
nk_run recovery-status-2 nandkeep systemRecovery 2
nk_run case-differs nandkeep INFO
