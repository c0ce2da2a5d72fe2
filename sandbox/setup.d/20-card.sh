# 20-card.sh - the SD card slot. Each --card image, in the order given,
# becomes a loop device that the sandbox sees as /dev/mmcblk0 ... mmcblk3.
#
# The loop devices are the host's, so they must not outlive the sandbox. The
# node is opened by this shell (PID 1) before the device is bound, and it is
# bound with the kernel's autoclear flag: when PID 1 ends, however camsim
# ends (killed included), the last close detaches the device. losetup cannot
# set that flag at binding time, hence the small perl programs (perl-base is
# part of every Debian system).

# Prints the number of a free loop device (created if need be).
camsim_loop_free='
use Fcntl;
sysopen(my $ctl, $ARGV[0], O_RDWR) or die "camsim: $ARGV[0]: $!\n";
my $n = ioctl($ctl, 0x4C82, 0) or die "camsim: no free loop device: $!\n"; # LOOP_CTL_GET_FREE
print $n eq "0 but true" ? 0 : $n, "\n";
'
# Binds the loop device open on descriptor ARGV[0] to the image ARGV[1] with
# LOOP_CONFIGURE: struct loop_config { u32 fd, block_size; struct loop_info64
# info (lo_flags at byte 52 = LO_FLAGS_AUTOCLEAR); u64 reserved[8] }, 304
# bytes. Exit status 2: another process took the device first.
camsim_loop_bind='
use Fcntl; use Errno;
open(my $loop, "+<&=", $ARGV[0]) or die "camsim: descriptor $ARGV[0]: $!\n";
sysopen(my $image, $ARGV[1], O_RDWR) or die "camsim: $ARGV[1]: $!\n";
my $config = pack("L L Q5 L4 a64 a64 a32 Q2 Q8", fileno($image), 0, (0) x 5,
                  0, 0, 0, 4, substr($ARGV[1], 0, 63), "", "", 0, 0, (0) x 8);
length($config) == 304 or die "camsim: loop_config packs to ", length($config), " bytes\n";
exit 0 if ioctl($loop, 0x4C0A, $config);                               # LOOP_CONFIGURE
exit 2 if $!{EBUSY};
die "camsim: cannot bind a loop device to $ARGV[1]: $!\n";
'

camsim_card_index=0
while IFS= read -r camsim_card; do
    [ -n "$camsim_card" ] || continue
    [ "$camsim_card_index" -lt 4 ] || die "at most four cards (mmcblk0 to mmcblk3)"
    [ -f "$camsim_card" ] || die "no card image $camsim_card"
    camsim_node=/dev/mmcblk$camsim_card_index
    camsim_tries=0
    while :; do
        camsim_loop=$(perl -e "$camsim_loop_free" "$host/dev/loop-control")
        IFS=: read -r camsim_major camsim_minor <"/sys/block/loop$camsim_loop/dev"
        mknod -m 660 "$camsim_node" b "$camsim_major" "$camsim_minor"
        # Stays open for PID 1's lifetime; the commands inherit it harmlessly.
        exec {camsim_card_fd}<>"$camsim_node"
        camsim_status=0
        perl -e "$camsim_loop_bind" "$camsim_card_fd" "$camsim_card" || camsim_status=$?
        [ "$camsim_status" -eq 0 ] && break
        exec {camsim_card_fd}>&-
        rm -f "$camsim_node"
        camsim_tries=$((camsim_tries + 1))
        [ "$camsim_status" -eq 2 ] && [ "$camsim_tries" -lt 20 ] || die "card $camsim_card not attached"
    done
    camsim_card_index=$((camsim_card_index + 1))
done <<<"$CAMSIM_CARDS"
unset camsim_card camsim_node camsim_tries camsim_loop camsim_major camsim_minor camsim_status
unset camsim_card_index camsim_loop_free camsim_loop_bind
