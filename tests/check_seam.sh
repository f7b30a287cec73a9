#!/usr/bin/env bash
# Guards the platform seam: only the Linux platform code includes the MTD, ioctl and syslog
# headers; the core calls no I/O syscall itself, opens no file and reads no clock; the production
# binary holds no simulator code and needs no shared library beyond the C library and zlib (and
# the sanitizer runtimes in a sanitizer build). And the layers: an include points down only
# (platform, flash, image, then upgrade and factorytest, then the front end), the commands
# (*cmd.cpp) alone reaching the front end's command interface from another folder. And standard
# output: everything the tool prints goes through Nandkeep_Print, which keeps the progress line off
# the printed text.
# Usage: check_seam.sh SOURCE_DIR CORE_LIBRARY PRODUCTION_BINARY
set -u
src=$1 core=$2 prod=$3
fail=0
hits=$(grep -rnE '#include *<(sys/ioctl\.h|mtd/mtd-abi\.h|mtd/mtd-user\.h|syslog\.h)>' "$src/src" \
       | grep -v "^$src/src/platform/linux/")
if [ -n "$hits" ]; then echo "OS headers outside the Linux platform code:"; echo "$hits"; fail=1; fi
calls=$(nm -u "$core" | awk '{print $NF}' \
        | grep -xE '(open|open64|read|write|lseek|lseek64|ioctl|syslog|openlog|system|pread|pwrite|flock|fcntl|fcntl64|fork|execv|execve|execl|waitpid|kill|raise|signal|sigaction|sigprocmask|fopen|fopen64|freopen|fdopen|close|stat|stat64|fstat|fstat64|lstat|unlink|remove|rename|mkdir|isatty|poll|pipe|pipe2|dup|dup2|time|clock_gettime|gettimeofday|sleep|usleep|nanosleep|setenv|unsetenv)(@.*)?')
if [ -n "$calls" ]; then echo "the core calls the OS directly:"; echo "$calls"; fail=1; fi
sim=$(nm -C "$prod" | grep -iE 'Sim_|nandsim|simstore|sim_store|NandModel' | head)
if [ -n "$sim" ]; then echo "simulator symbols in the production binary:"; echo "$sim"; fail=1; fi
needed=$(readelf -d "$prod" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -vxE 'libc\.so\.6|libz\.so\.1|lib(asan|ubsan)\.so\.[0-9]+')
if [ -n "$needed" ]; then echo "the production binary needs more than libc and zlib:"; echo "$needed"; fail=1; fi
up=$(cd "$src/src" && grep -rnoE '#include "[a-z]+/' . | awk -F'[/:"]' '
      BEGIN { r["platform"] = 0; r["flash"] = 1; r["image"] = 2; r["upgrade"] = 3
              r["factorytest"] = 3; r["frontend"] = 4 }
      { dir = $2; inc = $(NF - 1); cmd = $3 ~ /cmd\.cpp$/ }
      dir != inc && (r[inc] > r[dir] || r[inc] == r[dir]) && !(cmd && inc == "frontend")')
if [ -n "$up" ]; then echo "includes that point up or across:"; echo "$up"; fail=1; fi
out=$(grep -rnE '(^|[^a-z_])(printf|puts|putchar|vprintf)\(|, *stdout\)' "$src/src" --include='*.cpp' \
      | grep -v "^$src/src/flash/notify.cpp:")
if [ -n "$out" ]; then echo "prints to standard output past Nandkeep_Print:"; echo "$out"; fail=1; fi
[ $fail -eq 0 ] && echo "seam intact"
exit $fail
