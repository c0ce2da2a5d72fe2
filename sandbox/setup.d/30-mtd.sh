# 30-mtd.sh - the simulated MTD flash (camsim --mtd DIR), sourced by camsim.
#
# DIR holds what the test chose:
#   DIR/mtd          the text of /proc/mtd
#   DIR/dev/mtdN     one file per device node that can be opened, appearing
#                    as /dev/mtdN; its lines "bad OFFSET" mark the erase
#                    block at that offset of the partition bad,
#                    "fail OFFSET" makes the bad-block request for it fail,
#                    and "signal OFFSET N" sends signal N to the program
#                    that asks about it
# The host kernel has no MTD support, so a small library (sandbox/mtdsim.c,
# built with the tool as camsim/mtdsim.so beside it; CAMSIM_MTD_PRELOAD
# overrides) is preloaded into the programs of the sandbox: it stands in for
# /proc/mtd and answers the bad-block request on these nodes.
if [ -n "$CAMSIM_MTD" ]; then
    mtdsim=${CAMSIM_MTD_PRELOAD:-$(dirname "$CAMSIM_TOOL")/camsim/mtdsim.so}
    [ -f "$mtdsim" ] || die "no MTD simulation library at $mtdsim (build first)"
    for node in "$CAMSIM_MTD"/dev/mtd*; do
        [ -e "$node" ] || continue
        ln -s "$node" "/dev/$(basename "$node")"
    done
    if [ -n "$CAMSIM_EMULATOR" ]; then
        # The emulator is a host program; the library is for the program it
        # emulates, whose loader takes it from the emulated environment. The
        # library then leaves it out of what that program passes on to the
        # host programs it starts.
        export QEMU_SET_ENV="${QEMU_SET_ENV:+$QEMU_SET_ENV,}LD_PRELOAD=$mtdsim,CAMSIM_MTD_PRELOAD_ONCE=1"
    else
        export LD_PRELOAD="${LD_PRELOAD:+$LD_PRELOAD:}$mtdsim"
    fi
    # A sanitizer runtime wants to be the first library loaded; here the
    # preloaded one comes before it.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
fi
