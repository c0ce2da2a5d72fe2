# 20-modules.sh - the kernel modules of the camera that Debian's arm64
# kernel does not ship, built out of tree into $cache/modules, sourced by
# camvm's preparation: the flash's raw NAND core and its simulator (nand,
# nandsim) and the partition parser that names the partitions
# (cmdlinepart), whose sources come from Debian's linux-source package of
# the guest kernel's version, and the light sensor's ADC (camvm_adc, our
# own driver, vm/camvm_adc.c). They are built against the kernel's headers
# with the cross compiler; Debian's kernel does not enforce module
# signatures.
#
# The simulator gets one change of ours (vm/nandsim-image.patch): its cache
# file, a virtio disk holding the chip's image, is the chip. Each page
# program and block erase is written through to it (O_SYNC) before the chip
# reports it done, and every page it holds at load counts as written, so
# that the chip keeps its pages (data and out-of-band) from boot to boot and
# through a killed emulator.

camvm_build_modules() {
    local out=$cache/modules tmp=$cache/modules.tmp key version series headers src deb
    camvm_modules_key() {
        version=$(dpkg-deb -f "$(ls "$cache"/debs/linux-image-*.deb 2>/dev/null)" Version 2>/dev/null) &&
            key=$( (echo "$version"; cat "${BASH_SOURCE[0]}" "$vm_dir/nandsim-image.patch" "$vm_dir/camvm_adc.c") | sha256sum | cut -c1-16)
    }
    # shellcheck disable=SC2046 # module file names have no blanks
    camvm_modules_key && [ "$(head -n 1 "$out/key" 2>/dev/null)" = "$key" ] &&
        sums_match "$out/key" "$out" $(cd "$out" && ls -- *.ko 2>/dev/null) && return 0
    camvm_packages
    camvm_modules_key || die "no kernel package in $cache/debs"
    command -v aarch64-linux-gnu-gcc-12 >/dev/null && command -v make >/dev/null && command -v xz >/dev/null ||
        die "building the kernel modules needs make, xz and aarch64-linux-gnu-gcc-12 (tools/install-deps installs them)"
    command -v patch >/dev/null || die "building the kernel modules needs patch (tools/install-deps installs it)"
    echo "camvm: building the flash's and the ADC's kernel modules for the guest's kernel $version in $out" >&2
    rm -rf "$tmp"
    mkdir -p "$tmp/root" "$tmp/build" "$tmp/out"
    for deb in "$cache"/debs/build/linux-headers-*.deb "$cache"/debs/build/linux-kbuild-*.deb; do
        (exec_with_camvm KILL dpkg-deb -x "$deb" "$tmp/root") || die "cannot unpack $deb"
    done
    headers=$(ls -d "$tmp"/root/usr/src/linux-headers-*-arm64)
    # The headers' Makefile includes the common tree by its installed path.
    sed -i "s|/usr/src/|$tmp/root/usr/src/|" "$headers/Makefile"
    series=$(ls "$tmp/root/usr/lib" | sed -n 's/^linux-kbuild-//p')
    src=linux-source-$series/drivers/mtd
    local members=(
        "$src"/nand/raw/{nand_base,nand_legacy,nand_bbt,nand_timings,nand_ids,nand_onfi,nand_jedec}.c
        "$src"/nand/raw/{nand_amd,nand_esmt,nand_hynix,nand_macronix,nand_micron,nand_samsung,nand_toshiba}.c
        "$src"/nand/raw/{nandsim.c,internals.h}
        "$src"/parsers/cmdlinepart.c
    )
    # Only these files of the 140 MB source: still a full pass over it.
    # Each step ends with camvm, killed or not.
    (exec_with_camvm KILL dpkg-deb --fsys-tarfile "$cache"/debs/build/linux-source-*.deb) |
        tar -xO "./usr/src/linux-source-$series.tar.xz" | xz -dc |
        tar -x -C "$tmp" "${members[@]}" || die "cannot unpack the kernel's source"
    cp "${members[@]/#/$tmp/}" "$vm_dir/camvm_adc.c" "$tmp/build/"
    patch -s -d "$tmp/build" -p1 <"$vm_dir/nandsim-image.patch" >"$tmp/patch.log" 2>&1 || {
        cat "$tmp/patch.log" >&2
        die "the simulator's change (vm/nandsim-image.patch) does not apply to the kernel's nandsim.c"
    }
    cat >"$tmp/build/Kbuild" <<'KBUILD'
obj-m := nand.o nandsim.o cmdlinepart.o camvm_adc.o
nand-y := nand_base.o nand_legacy.o nand_bbt.o nand_timings.o nand_ids.o nand_onfi.o nand_jedec.o \
	nand_amd.o nand_esmt.o nand_hynix.o nand_macronix.o nand_micron.o nand_samsung.o nand_toshiba.o
KBUILD
    # In camvm's process group, so that a Ctrl-C at the terminal reaches
    # make; and ended with camvm.
    (exec_with_camvm TERM timeout --foreground 600 make -C "$headers" M="$tmp/build" ARCH=arm64 CROSS_COMPILE=aarch64-linux-gnu- \
        -j"$(nproc)" modules) >"$tmp/make.log" 2>&1 || {
        tail -n 20 "$tmp/make.log" >&2
        die "building the kernel modules failed (the whole log: $tmp/make.log)"
    }
    cp "$tmp"/build/*.ko "$tmp/out/"
    # shellcheck disable=SC2046
    write_record "$tmp/out/key" "$key" "$tmp/out" $(cd "$tmp/out" && ls -- *.ko) ||
        die "cannot record the kernel modules in $tmp/out"
    rm -rf "$out"
    mv "$tmp/out" "$out"
    rm -rf "$tmp"
}
camvm_build_modules
