# 10-packages.sh - the Debian packages the emulated camera is made of,
# sourced by camvm's preparation. $cache/debs gets the guest's arm64
# packages; $cache/debs/build what builds the kernel modules Debian's arm64
# kernel lacks: the kernel's source, its headers and the host's kbuild
# programs. Both are of the very version of the guest's kernel, whose
# modules must match it symbol by symbol. The directory appears under its
# final name only once everything is in and its record is written.
#
# Only the pieces that unpack the packages check them whole
# (camvm_packages): a run whose modules and initramfs are built reads no
# more than the record.

# The kernel comes through its meta package, resolved to the versioned one
# and pinned with the build's packages to one version.
camvm_guest_packages=(busybox-static dosfstools libc6 libgcc-s1)
# Bump it when this piece changes what it downloads.
camvm_packages_layout="layout 2"

camvm_packages() {
    local debs=$cache/debs tmp=$cache/debs.tmp kernel version abi series
    # shellcheck disable=SC2046 # package file names have no blanks
    [ "$(head -n 1 "$debs/complete" 2>/dev/null)" = "$camvm_packages_layout" ] &&
        sums_match "$debs/complete" "$debs" $(cd "$debs" 2>/dev/null && ls -- *.deb build/*.deb 2>/dev/null) &&
        return 0
    echo "camvm: downloading the guest's Debian packages (arm64) into $debs" >&2
    rm -rf "$tmp"
    mkdir -p "$tmp/build"
    camvm_resolve_kernel() {
        kernel=$(apt-cache depends linux-image-arm64:arm64 2>/dev/null |
            sed -n 's/^ *Depends: \(linux-image-[0-9][^:]*\).*/\1/p' | head -1)
        [ -n "$kernel" ] &&
            version=$(apt-cache show --no-all-versions "$kernel:arm64" 2>/dev/null | sed -n 's/^Version: //p' | head -1) &&
            [ -n "$version" ]
    }
    if ! camvm_resolve_kernel; then
        # No arm64 package lists yet.
        if ! dpkg --print-foreign-architectures | grep -qx arm64; then
            dpkg --add-architecture arm64 || die "cannot add arm64 to dpkg's architectures"
        fi
        apt_quiet "$cache" update >&2 || die "apt-get update failed; the guest's packages cannot be found"
        camvm_resolve_kernel || die "no arm64 kernel package (linux-image-arm64) in apt's lists"
    fi
    # linux-image-6.1.0-57-arm64: ABI 6.1.0-57 of the 6.1 series.
    abi=${kernel#linux-image-}
    abi=${abi%-arm64}
    series=${abi%.*-*}
    local guest=("$kernel:arm64=$version") build=("linux-source-$series=$version"
        "linux-headers-$abi-arm64:arm64=$version" "linux-headers-$abi-common=$version"
        "linux-kbuild-$series=$version")
    for p in "${camvm_guest_packages[@]}"; do guest+=("$p:arm64"); done
    camvm_fetch() {
        apt_quiet "$tmp" download "${guest[@]}" >&2 && apt_quiet "$tmp/build" download "${build[@]}" >&2
    }
    if ! camvm_fetch; then
        apt_quiet "$cache" update >&2 || true
        camvm_fetch || die "downloading ${guest[*]} ${build[*]} failed (see apt's messages above)"
    fi
    # shellcheck disable=SC2046
    write_record "$tmp/complete" "$camvm_packages_layout" "$tmp" $(cd "$tmp" && ls -- *.deb build/*.deb) ||
        die "cannot record the packages in $tmp"
    rm -rf "$debs"
    mv "$tmp" "$debs"
}
[ "$(head -n 1 "$cache/debs/complete" 2>/dev/null)" = "$camvm_packages_layout" ] || camvm_packages
