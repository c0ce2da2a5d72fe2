# 40-initramfs.sh - the guest's kernel and base initramfs, sourced by
# camvm's preparation: everything but a run's own files, from the packages
# ($cache/debs) and the built modules ($cache/modules), into $cache/vmlinuz
# and $cache/base.cpio.

# Kernel modules the camera needs beyond the kernel's built-in drivers,
# loaded at boot in this order, each after what it depends on: the virtio
# PCI transport, the serial ports back to camvm, 9p for the shared
# directories, the virtio disk that holds the NAND chip's image (and the
# --disk images), the SD host controller, the card's filesystem with the
# code pages it mounts with (FAT's default iocharset is ascii) and the IIO
# bus the ADC's files belong to (/etc/camvm/modules); then, while the rest
# of the start goes on, the flash's (/etc/camvm/flash-modules): the raw NAND
# core, the block devices JFFS2 mounts and JFFS2 itself.
camvm_modules=(virtio_pci virtio_console 9pnet_virtio 9p virtio_blk sdhci-pci vfat nls_cp437 nls_ascii industrialio)
# ext4 too: a card formatted elsewhere may hold links and special files,
# which FAT cannot. It asks the crypto API for its checksum at every mount.
camvm_modules+=(crc32c_generic ext4)
camvm_flash_modules=(nand mtdblock jffs2)
# Loaded last by the guest's init, with the run's parameters (partitions,
# bad blocks, the chip's image; the ADC's readings).
camvm_flash_parts_modules=(cmdlinepart nandsim)
camvm_adc_modules=(camvm_adc)
# Loaded by the guest's init only when camvm is given a --disk
# (/etc/camvm/disk-modules): the device mapper with its target that records
# every write (dm-log-writes), which crash tests put between the card and a
# disk.
camvm_disk_modules=(dm-log-writes)

# Prints "LIST NAME FILE" for each module, in an order that loads each after
# what it depends on (the kernel package ships no modules.dep; each module
# names its dependencies in its .modinfo section), LIST being the list that
# brought it in first ("-": none, loaded on their own). The trees are
# searched in order.
camvm_module_order() {
    local m f
    declare -A path=() done_=()
    while IFS= read -r f; do
        m=${f##*/}
        m=${m%.ko}
        m=${m//-/_}
        [ -n "${path[$m]:-}" ] || path[$m]=$f
    done < <(find "$@" -name '*.ko')
    camvm_visit() {
        local name=${1//-/_} deps d
        [ -n "${done_[$name]:-}" ] && return 0
        [ -n "${path[$name]:-}" ] || die "the kernel has no module $1"
        deps=$(tr '\0' '\n' <"${path[$name]}" | sed -n 's/^depends=//p' | head -1)
        for d in ${deps//,/ }; do camvm_visit "$d"; done
        done_[$name]=1
        echo "$list $name ${path[$name]}"
    }
    local list
    list=modules
    for m in "${camvm_modules[@]}"; do camvm_visit "$m"; done
    list=flash-modules
    for m in "${camvm_flash_modules[@]}"; do camvm_visit "$m"; done
    list=-
    for m in "${camvm_flash_parts_modules[@]}" "${camvm_adc_modules[@]}"; do camvm_visit "$m"; done
    list=disk-modules
    for m in "${camvm_disk_modules[@]}"; do camvm_visit "$m"; done
}

camvm_build_base() {
    local key stage x kver list name file order
    camvm_base_key() {
        key=$(cat "${BASH_SOURCE[0]}" "$cache/debs/complete" "$cache/modules/key" "$vm_dir/init" 2>/dev/null |
            sha256sum | cut -c1-16) || true
    }
    camvm_base_key
    [ "$(head -n 1 "$cache/base.key" 2>/dev/null)" = "$key" ] && sums_match "$cache/base.key" "$cache" base.cpio vmlinuz &&
        return 0
    # The packages whole, and the modules built from them.
    camvm_packages
    camvm_build_modules
    camvm_base_key
    echo "camvm: building the guest's initramfs in $cache" >&2
    x=$cache/extract stage=$cache/base
    # Runs that share the cache may be reading the old files: the new ones
    # take their place by renaming.
    rm -rf "$x" "$stage" "$cache/base.key"
    mkdir -p "$x" "$stage"
    for deb in "$cache"/debs/*.deb; do
        (exec_with_camvm KILL dpkg-deb -x "$deb" "$x") || die "cannot unpack $deb"
    done
    kver=$(ls "$x/lib/modules")
    [ -f "$x/boot/vmlinuz-$kver" ] || die "no kernel image in the kernel package"
    cp "$x/boot/vmlinuz-$kver" "$cache/vmlinuz.tmp"

    mkdir -p "$stage"/{bin,sbin,usr/bin,usr/sbin,lib/modules,etc/camvm,proc,sys,dev,tmp,mnt,opt/app,root,run}
    # BusyBox is the shell and every applet; its links are made at boot
    # (it cannot run on the host to list them).
    cp "$x/bin/busybox" "$stage/bin/busybox"
    ln -s busybox "$stage/bin/sh"
    # dosfsck from dosfstools: BusyBox has none. Its mkdosfs is not taken:
    # the camera's is BusyBox's.
    cp "$x/sbin/fsck.fat" "$stage/sbin/fsck.fat"
    ln -s fsck.fat "$stage/sbin/dosfsck"
    # The C runtime: the loader and glibc's libraries, libgcc_s.
    cp -a "$x/lib/ld-linux-aarch64.so.1" "$stage/lib/"
    mkdir -p "$stage/lib/aarch64-linux-gnu"
    cp -a "$x"/lib/aarch64-linux-gnu/*.so* "$stage/lib/aarch64-linux-gnu/"
    # The code pages dosfsck converts names with (it warns on every run
    # without them).
    local gconv=usr/lib/aarch64-linux-gnu/gconv
    mkdir -p "$stage/$gconv"
    cp -a "$x/$gconv"/gconv-modules* "$x/$gconv/IBM437.so" "$x/$gconv/IBM850.so" "$stage/$gconv/"
    order=$(camvm_module_order "$cache/modules" "$x/lib/modules/$kver") || exit 125
    : >"$stage/etc/camvm/modules"
    : >"$stage/etc/camvm/flash-modules"
    : >"$stage/etc/camvm/disk-modules"
    while read -r list name file; do
        cp "$file" "$stage/lib/modules/$name.ko"
        [ "$list" = - ] || echo "$name" >>"$stage/etc/camvm/$list"
    done <<<"$order"
    printf 'root:x:0:0:root:/root:/bin/sh\n' >"$stage/etc/passwd"
    printf 'root:x:0:\ntty:x:5:\n' >"$stage/etc/group"
    cp "$vm_dir/init" "$stage/init"
    chmod 755 "$stage/init"
    # Uncompressed: the kernel unpacks it faster than it would inflate it.
    (cd "$stage" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$cache/base.cpio.tmp"
    sync -- "$cache/vmlinuz.tmp" "$cache/base.cpio.tmp"
    mv "$cache/vmlinuz.tmp" "$cache/vmlinuz"
    mv "$cache/base.cpio.tmp" "$cache/base.cpio"
    write_record "$cache/base.key" "$key" "$cache" base.cpio vmlinuz || die "cannot record the initramfs in $cache"
    rm -rf "$x" "$stage"
}
camvm_build_base
