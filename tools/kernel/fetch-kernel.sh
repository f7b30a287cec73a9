#!/bin/bash
# Fetches the kernel that Debian's linux-image-amd64 depends on, with its headers and kbuild
# tools (unpacked, not installed), and the dynamic busybox, into the cache. Prints the
# directory of the unpacked kernel tree on standard output. A complete tree is reused.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"

sImagePkg=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n1)
[ -n "$sImagePkg" ] || nk_die "cannot tell which kernel linux-image-amd64 depends on (apt-get update?)"
sRelease=${sImagePkg#linux-image-}          # e.g. 6.1.0-57-amd64
sAbi=${sRelease%-amd64}                     # e.g. 6.1.0-57
sVersion=$(apt-cache show --no-all-versions "$sImagePkg" | sed -n 's/^Version: //p' | head -n1)
[ -n "$sVersion" ] || nk_die "no version known for $sImagePkg"
sKbuild=linux-kbuild-$(echo "$sAbi" | cut -d. -f1,2)

sTree=$NK_CACHE_DIR/linux-$sRelease-$sVersion
if [ -f "$sTree/.complete" ]; then
    echo "$sTree"
    exit 0
fi

nk_log "fetching $sImagePkg $sVersion with headers into $sTree"
rm -rf "$sTree"
mkdir -p "$sTree/debs" "$sTree/root"
# apt downloads as its unprivileged user when that user may write the directory.
chown _apt "$sTree/debs" 2>/dev/null || true
(
    cd "$sTree/debs"
    nk_timed 600 apt-get download -q \
        "$sImagePkg=$sVersion" \
        "linux-headers-$sRelease=$sVersion" \
        "linux-headers-$sAbi-common=$sVersion" \
        "$sKbuild=$sVersion" \
        busybox >&2
)
for sDeb in "$sTree"/debs/*.deb; do
    case $(basename "$sDeb") in
    busybox_*) dpkg-deb -x "$sDeb" "$sTree/busybox" ;;
    *) dpkg-deb -x "$sDeb" "$sTree/root" ;;
    esac
done

# The headers' Makefile includes the common part by its installed path; point it into the tree.
sHeaders=$sTree/root/usr/src/linux-headers-$sRelease
sed -i "s|^include /usr/src/|include $sTree/root/usr/src/|" "$sHeaders/Makefile"
rm -rf "$sTree/debs"
depmod -b "$sTree/root" "$sRelease"

[ -f "$sTree/root/boot/vmlinuz-$sRelease" ] || nk_die "no kernel image in $sImagePkg"
[ -x "$sTree/busybox/bin/busybox" ] || nk_die "no busybox binary in the busybox package"
echo "$sRelease" >"$sTree/release"
touch "$sTree/.complete"
echo "$sTree"
