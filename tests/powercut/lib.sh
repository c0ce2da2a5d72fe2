# lib.sh - the power-cut campaign's workloads and checks, sourced by trial,
# run and run-long.
#
# A trial boots the emulated camera (sandbox/camvm) on its own flash and
# card images, starts a workload that runs on until the power goes, cuts
# the power at a moment drawn from the trial's seed, boots again on the same
# images, lets the tool start as it would, and checks what the cut left.
# The seed, mixed with the workload, fixes the cut's moment as a share of
# the workload's own pace: a looping workload's cut falls that share of two
# run lengths after its first run ended (the guest times the run on its
# own clock and arms the cut), a card workload's that share of its window
# after its tool's first line. A loaded machine then cuts inside the runs too;
# which write a replay meets still depends on the load.
#
# Besides the cut, each line shown that stands for something kept is
# checked at the instant it is written: the workload runs under a tracer
# in the guest (camsim_logwrites hold) that holds the write of such a line
# until the host has copied the flash and card images. The nandsim writes
# each program through to the image before the chip reports it done, so
# the copy is the chip's state at that instant. Each copy is booted and
# checked as a cut's state would be, against what was shown up to the line.
#
# The card's workloads are also run once with every write the card
# completes recorded (the kernel's dm-log-writes target between the card
# and a disk), and the card is replayed on the host to the state after each
# of those writes: every state a cut could leave on a card that has no
# write cache (QEMU's has none). Each state gets the checks a cut would.
#
# Findings are lines "damage INVARIANT: what" in the trial's result; a
# trial that could not run says "error: ..." and counts as neither.

pc_self_dir=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
pc_repo=$(dirname "$(dirname "$pc_self_dir")")
pc_camvm=$pc_repo/sandbox/camvm
pc_camsim=$pc_repo/sandbox/camsim

pc_workloads=(ir db restore cpu sd-format sd-fill sd-repair sd-speed)
# The card's workloads, whose writes are also replayed.
pc_card_workloads=(sd-format sd-fill sd-repair)

# Rows per db run, in transactions of pc_batch rows that each span a few
# dozen database pages (a row carries 300 random bytes), so that a cut also
# lands inside a commit. A row holds its run's number and its own: a run
# that lost its rows cannot hide behind the rows of a later one.
pc_inserts=1000
pc_batch=250
# The fill: files of 1 MB.
pc_fill_files=3
# The card: 64 MiB, as QEMU's SD card wants a power of two.
pc_card_mb=64
# The log disk of the recorded runs: room for every write with its header.
pc_log_mb=256

# A card workload's window in milliseconds: its cut falls in [0, window)
# after the tool's first line (the tracer's mark "powercut: shown"): a cut
# before it would leave nothing shown to check, and the recorded runs
# check every state before it. The card's workloads run once and then
# wait, so that cuts also fall after they reported. A looping workload's
# window is two of its runs.
pc_window() {
    case "$1" in
    ir | db | restore | cpu) echo loop ;;
    sd-format) echo 16000 ;;
    sd-fill) echo 10000 ;;
    sd-repair) echo 2000 ;;
    sd-speed) echo 10000 ;;
    esac
}

# The lines shown for something kept, one a line: each is held for a copy
# of the flash and card at the instant it is written. "powercut: done" is
# the shell's: a run that exited stands for all it did.
pc_held_lines() {
    case "$1" in
    ir) echo 'use time:' ;; # the result's last line: its lines go out one write each
    db) printf '%s\n' 'End execute' 'powercut: done' ;;
    restore) echo 'GPIO read id' ;;
    cpu) printf '%s\n' 'CPU:' 'Average:' ;;
    sd-fill) printf '%s\n' 'Create total' 'powercut: done' ;;
    sd-repair) printf '%s\n' 'success!' 'powercut: done' ;;
    sd-*) echo 'powercut: done' ;;
    esac
}

pc_error() {
    echo "error: $*"
    return 1
}

# pc_setup BUILD WORK: the build tree with the aarch64 tool and where the
# trials keep their files.
pc_setup() {
    pc_build=$(readlink -f "$1")
    pc_work=$2
    pc_tool=$pc_build/debug
    pc_opt_app=$pc_build/camsim/opt-app
    pc_logwrites=$pc_build/tests/camsim_logwrites
    pc_emulator=$(command -v qemu-aarch64) || pc_error "no qemu-aarch64 (tools/install-deps installs it)" || return 1
    command -v sqlite3 >/dev/null && command -v fsck.fat >/dev/null && command -v mdir >/dev/null ||
        pc_error "sqlite3, fsck.fat and mdir are needed (tools/install-deps installs them)" || return 1
    [ -x "$pc_tool" ] || pc_error "no aarch64 tool at $pc_tool (build the aarch64 preset)" || return 1
    [ -x "$pc_logwrites" ] || pc_error "no $pc_logwrites (build the aarch64 preset)" || return 1
    mkdir -p "$pc_work"
    pc_work=$(readlink -f "$pc_work")
}

# The emulated camera never takes the terminal: a trial's boots read
# nothing. The bound keeps camvm in the trial's process group (it ends
# with it, see pc_guard); camvm's own children end with camvm.
pc_camvm() {
    timeout --foreground 600 "$pc_camvm" --tool "$pc_tool" --bin "$pc_logwrites" "$@" </dev/null
}

# pc_guard COMMAND...: runs COMMAND in a process group of its own while
# this shell waits, so that a stop request (SIGINT, SIGTERM, SIGHUP) to
# this shell alone, or a Ctrl-C at its terminal, ends COMMAND and everything
# it started before this shell ends with the same signal. A shell waiting
# for a command in the foreground would take the signal only once the
# command had run to its end.
pc_guard() {
    local status=0
    trap 'pc_stop INT' INT
    trap 'pc_stop TERM' TERM
    trap 'pc_stop HUP' HUP
    set -m
    "$@" &
    pc_worker=$!
    set +m
    wait "$pc_worker" || status=$?
    return $status
}

pc_stop() {
    local i
    trap '' INT TERM HUP
    kill -TERM -- -"$pc_worker" 2>/dev/null
    # camvm and camsim end at once on SIGTERM; anything slower is killed.
    for ((i = 0; i < 100; i++)); do
        kill -0 -- -"$pc_worker" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- -"$pc_worker" 2>/dev/null
    trap - "$1"
    kill -"$1" $$
    exit $((128 + $(kill -l "$1")))
}

# The cut's share of the workload's window in thousandths, for a workload
# and a seed: the workload's name is mixed in, so that one seed cuts each
# workload at a moment of its own.
pc_cut_share() {
    RANDOM=$((($2 ^ $(printf '%s' "$1" | cksum | cut -d' ' -f1)) & 0x7fffffff))
    echo $(((RANDOM << 15 | RANDOM) % 1000))
}

# pc_cut_plan WORKLOAD SEED: sets pc_cut_share, pc_cut_on (camvm's
# --cut-on) and pc_cut_words (for the trial's line).
pc_cut_plan() {
    local window ms
    pc_cut_share=$(pc_cut_share "$1" "$2")
    window=$(pc_window "$1")
    if [ "$window" = loop ]; then
        pc_cut_on="powercut: cut"
        pc_cut_words="$(printf '%d.%03d' $((pc_cut_share * 2 / 1000)) $((pc_cut_share * 2 % 1000))) run lengths after the first run"
    else
        ms=$((pc_cut_share * window / 1000))
        pc_cut_on="powercut: shown+$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
        pc_cut_words="${pc_cut_on#*+} s after the tool's first line"
    fi
}

# ---- what the trials share, made once per work directory ----

# The default databases with a large cvdb.db (6 MiB of data that does not
# compress), for the restore at start-up.
pc_large_defaults() {
    local dir=$pc_work/opt-app-large
    [ -f "$dir/complete" ] && return 0
    rm -rf "$dir.tmp"
    mkdir -p "$dir.tmp"
    cp "$pc_opt_app/cvdb.db" "$pc_opt_app/oem.db" "$dir.tmp/" &&
        sqlite3 "$dir.tmp/cvdb.db" "create table filler(b blob);
            with recursive c(i) as (select 1 union all select i + 1 from c where i < 96)
            insert into filler select randomblob(65536) from c;" || return 1
    touch "$dir.tmp/complete"
    rm -rf "$dir"
    mv "$dir.tmp" "$dir"
}

# The card images: one formatted by the camera's mkdosfs and holding files,
# and the same one damaged as a cut can leave a card: chains of clusters
# no file owns, a FAT copy that differs, the dirty mark set.
pc_card_images() {
    local files=$pc_work/card-files.img damaged=$pc_work/card-damaged.img tmp=$pc_work/card.tmp
    [ -f "$files" ] && [ -f "$damaged" ] && [ -f "$pc_work/card-files.sums" ] && return 0
    rm -f "$tmp"
    truncate -s "${pc_card_mb}M" "$tmp"
    pc_camvm --card "$tmp" -- sh -c 'mkdosfs -I -F 32 /dev/mmcblk0 >/dev/null &&
        mount -t vfat /dev/mmcblk0 /mnt/mmc && mkdir /mnt/mmc/DCIM &&
        for i in 1 2 3 4 5 6; do dd if=/dev/urandom of=/mnt/mmc/DCIM/clip$i.mp4 bs=64k count=6 2>/dev/null; done &&
        echo "camera settings" > /mnt/mmc/setup.txt && umount /mnt/mmc' >/dev/null ||
        pc_error "cannot prepare the card image" || return 1
    pc_fsck_image "$tmp" || pc_error "the prepared card is not clean" || return 1
    pc_card_sums "$tmp" >"$pc_work/card-files.sums.tmp" && [ "$(wc -l <"$pc_work/card-files.sums.tmp")" = 7 ] ||
        pc_error "cannot read the prepared card's files" || return 1
    cp "$tmp" "$damaged.tmp"
    pc_damage_card "$damaged.tmp" || return 1
    mv "$tmp" "$files"
    mv "$damaged.tmp" "$damaged"
    mv "$pc_work/card-files.sums.tmp" "$pc_work/card-files.sums"
}

# The card's own files (the clips and the settings) in an image: "SIZE NAME
# MD5" each, as the second boot lists a card's files.
pc_card_sums() {
    local tmp f
    tmp=$(mktemp -d)
    MTOOLS_SKIP_CHECK=1 mcopy -n -s -i "$1" ::/DCIM ::/setup.txt "$tmp/" 2>/dev/null
    (cd "$tmp" && find . -type f | sort | while read -r f; do
        echo "$(wc -c <"$f") ${f#./} $(md5sum <"$f" | cut -c1-32)"
    done)
    rm -rf "$tmp"
}

# pc_check_clips SUMS LISTING: the card's own files are all there, unchanged;
# prints what differs.
pc_check_clips() {
    local line
    while read -r line; do
        grep -qxF "$line" "$2" 2>/dev/null || { echo "${line#* }" | cut -d' ' -f1; }
    done <"$1" | head -n 3 | tr '\n' ' '
}

# pc_fsck_clean OUTPUT STATUS: whether dosfsck -n found the card clean. Its
# one complaint about a fresh format of BusyBox's mkdosfs, the empty label,
# is what the camera's own format leaves: not damage. Nor is the mark the
# kernel sets in the boot sector (byte 65, not in its backup) while the card
# is mounted, which a cut leaves on a card it found mounted.
pc_fsck_clean() {
    [ "$2" = 0 ] && return 0
    [ "$2" = 1 ] || return 1
    ! grep -avE "^(fsck\.fat .*|Label '' stored in boot sector is not valid\.|  Auto-removing label from boot sector\.|Leaving filesystem unchanged\.|.*: [0-9]+ files, [0-9]+/[0-9]+ clusters|)$" "$1" |
        grep -avxF -e 'There are differences between boot sector and its backup.' \
            -e 'This is mostly harmless. Differences: (offset:original/backup)' -e '  65:01/00' \
            -e '  Not automatically fixing this.' \
            -e 'Dirty bit is set. Fs was not properly unmounted and some data may be corrupt.' \
            -e ' Automatically removing dirty bit.' | grep -q .
}

# pc_fsck_image IMG: pc_fsck_clean of dosfsck -n on the host.
pc_fsck_image() {
    local out rc
    out=$(mktemp)
    fsck.fat -n "$1" >"$out" 2>&1
    rc=$?
    pc_fsck_clean "$out" "$rc"
    rc=$?
    rm -f "$out"
    return $rc
}

# Little-endian number of N bytes at OFFSET of FILE.
pc_le() {
    od -An -t "u$2" -j "$3" -N "$2" "$1" | tr -d ' '
}

pc_damage_card() {
    local img=$1 sector clusters reserved fatsz fat1 fat2 c
    sector=$(pc_le "$img" 2 11)
    reserved=$(pc_le "$img" 2 14)
    fatsz=$(pc_le "$img" 4 36)
    fat1=$((reserved * sector))
    fat2=$((fat1 + fatsz * sector))
    # 64 clusters from 40000 on, chained in the first FAT only.
    clusters=""
    for c in $(seq 40000 40063); do
        if [ "$c" = 40063 ]; then clusters+='\xff\xff\xff\x0f'; else
            clusters+=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(((c + 1) & 255)) $(((c + 1) >> 8 & 255)) \
                $(((c + 1) >> 16 & 255)) 0)
        fi
    done
    printf "$clusters" | dd of="$img" bs=1 seek=$((fat1 + 40000 * 4)) conv=notrunc status=none
    # The dirty mark: bit 27 of FAT entry 1 cleared, in both copies.
    for c in $fat1 $fat2; do
        printf '\xff\xff\xff\x07' | dd of="$img" bs=1 seek=$((c + 4)) conv=notrunc status=none
    done
    ! pc_fsck_image "$img" || pc_error "the damaged card image is clean" || return 1
}

# ---- the workloads, as the guest's shell runs them ----

# pc_workload_script WORKLOAD DIR SHARE: the first boot's command. DIR is
# the trial's directory, shared with the guest. Lines "powercut: done N"
# say that a run exited after printing its result. A looping workload
# times its first run on the guest's clock and prints "powercut: cut"
# SHARE thousandths of two such runs after it; a first run that does not
# end (a hang) has it after pc_first_run_limit seconds. A card workload
# prints "powercut: start" as its tool starts; the tracer marks its first
# line "powercut: shown".
pc_first_run_limit=120
pc_workload_script() {
    local dir=$2 body
    case "$1" in
    ir) body='debug -M ir -t 1 -d 1' ;;
    db)
        echo "debug -M db -e 'create table if not exists pc(run integer, n integer, pad blob)' && echo 'powercut: created'"
        body="sed \"s/RUN/\$((i + 1))/\" $dir/inserts.sql > /tmp/pc.sql; debug -M db -f /tmp/pc.sql" ;;
    restore) body='rm -f /mnt/nand/cvdb.db; debug -M gpio -r 1' ;;
    cpu) body='debug -M cpu -c 2 -d 1 -l /mnt/nand/cpu.log' ;;
    sd-format) body='debug -M sdmmc -f' ;;
    sd-fill) body="debug -M sdmmc -n $pc_fill_files -z 1 -F" ;;
    sd-repair) body='debug -M sdmmc -r' ;;
    sd-speed) body='debug -M sdmmc -s' ;;
    esac
    case "$1" in
    sd-*)
        echo "echo 'powercut: start'; $body; echo 'powercut: done 1'; sleep 1000"
        return ;;
    esac
    cat <<EOF
up() { awk '{ printf "%d\n", \$1 * 100 }' /proc/uptime; }
(sleep $pc_first_run_limit; echo 'powercut: cut') & guard=\$!
t0=\$(up) i=0
while :; do
    $body
    i=\$((i + 1)); echo "powercut: done \$i"
    [ \$i = 1 ] || continue
    kill \$guard
    d=\$(((\$(up) - t0) * 2 * $3 / 1000))
    (sleep \$((d / 100)).\$((d % 100 / 10))\$((d % 10)); echo 'powercut: cut') &
done
EOF
}

# The db runs' statements: pc_inserts rows in transactions of pc_batch, RUN
# standing for the run's number.
pc_inserts_file() {
    awk -v n="$pc_inserts" -v b="$pc_batch" 'BEGIN {
        for (i = 1; i <= n; i++) {
            if ((i - 1) % b == 0) print "begin;"
            printf "insert into pc values(RUN, %d, randomblob(300));\n", i
            if (i % b == 0 || i == n) print "commit;"
        } }'
}

# The second boot: the tool starts as the camera would start it next (its
# restore runs), then what the checks need is copied to DIR/after.
pc_check_script() {
    local dir=$2 next
    case "$1" in
    ir) next='debug -M ir -t 1 -d 1' ;;
    db) next='debug -M db -s "select count(*) from pc"' ;;
    restore | cpu) next='debug -M gpio -r 1' ;;
    sd-*)
        cat <<EOF
a=$dir/after
mkdir -p \$a
dosfsck -n /dev/mmcblk0 > \$a/raw.fsck 2>&1; echo \$? > \$a/raw.status
debug -M sdmmc -r > \$a/next.out 2>&1; echo \$? > \$a/next.status
dosfsck -n /dev/mmcblk0 > \$a/after.fsck 2>&1; echo \$? > \$a/after.status
if mount -t vfat -o ro /dev/mmcblk0 /mnt/mmc 2>/dev/null; then
    find /mnt/mmc -type f | while read -r f; do echo "\$(wc -c < "\$f") \${f#/mnt/mmc/} \$(md5sum < "\$f" | cut -c1-32)"; done | sort -k2 > \$a/files
    umount /mnt/mmc
fi
EOF
        return ;;
    esac
    # The flash is listed as the cut left it, before the next start's
    # restore can put a missing database back.
    cat <<EOF
a=$dir/after
mkdir -p \$a/nand \$a/nand2
ls -A /mnt/nand > \$a/before.list
$([ "$1" != restore ] || echo "[ ! -f /mnt/nand/cvdb.db ] || cp /mnt/nand/cvdb.db $dir/after/before.cvdb.db")
$next > \$a/next.out 2>&1; echo \$? > \$a/next.status
ls -A /mnt/nand > \$a/nand.list; ls -A /mnt/nand2 > \$a/nand2.list
cp -a /mnt/nand/. \$a/nand/; cp -a /mnt/nand2/. \$a/nand2/
EOF
}

# ---- the checks ----

pc_damage() {
    echo "damage $1: $2"
}

# A file's whole lines: a last line the cut left without its end is not
# one the guest finished printing.
pc_lines() {
    if [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" != 0a ]; then
        sed '$d' "$1"
    else
        cat "$1"
    fi
}

# The records the ir runs had shown, in order, each on one line as
# pc_check_log keys the log's: the record's lines joined by "|".
pc_shown_records() {
    pc_lines "$1" | sed 's/\x1b\[[0-9;]*m//g' |
        awk '/^Test date: / { d = $0; r = ""; next }
            d != "" && /^\t IR-cut result: success$/ { r = d "|" $0; d = ""; next }
            r != "" && /^\t use time: / { print r "|" $0 } { d = ""; r = "" }'
}

# The ir runs' records: whole 1024-byte records, each a dated result
# padded with zeros; the records the runs had shown, in the order shown
# (their dates make each its own), then the next start's one.
pc_check_log() {
    local log=$1 done_runs=$2 shown=$3 size n i len text rec logged=() want=()
    [ -f "$log" ] || { pc_damage log-records "no /mnt/nand/debug.log"; return; }
    size=$(stat -c %s "$log")
    [ $((size % 1024)) = 0 ] || pc_damage log-records "debug.log is $size bytes, not whole 1024-byte records"
    n=$((size / 1024))
    rec=$(mktemp)
    for ((i = 0; i < n; i++)); do
        dd if="$log" of="$rec" bs=1024 skip="$i" count=1 status=none
        # The text up to the first zero byte, then zeros only.
        len=$(tr '\n\0' '\1\n' <"$rec" | head -n 1 | wc -c)
        len=$((len - 1))
        text=$(head -c "$len" "$rec"; echo x)
        text=${text%x}
        if ! [[ $text =~ ^Test\ date:\ [A-Z][a-z]{2}\ [A-Z][a-z]{2}\ [\ 0-9][0-9]\ [0-9:]{8}\ [0-9]{4}$'\n\t IR-cut result: success\n\t use time: '[0-9]+s\ $'\n'$ ]]; then
            pc_damage log-records "record $i is not a whole result: $(head -c 80 "$rec" | tr '\0\n\t' '...')"
            break
        fi
        if [ "$(tail -c +$((len + 1)) "$rec" | tr -d '\0' | wc -c)" != 0 ]; then
            pc_damage log-records "record $i has bytes after its text"
            break
        fi
        text=${text%$'\n'}
        logged+=("${text//$'\n'/|}")
    done
    rm -f "$rec"
    [ -z "$shown" ] || mapfile -t want <<<"$shown"
    for i in "${!want[@]}"; do
        [ "${logged[i]:-}" = "${want[i]}" ] && continue
        pc_damage log-kept "record $i is not the one the run had shown (${want[i]//$'\t'/ }): ${logged[i]//$'\t'/ }"
        return
    done
    [ "${#want[@]}" -gt "$done_runs" ] && done_runs=${#want[@]}
    [ "$n" -ge $((done_runs + 1)) ] ||
        pc_damage log-kept "$done_runs runs had finished and the next one logged, but the log holds $n records"
}

pc_sql() {
    sqlite3 -batch "$1" "$2" 2>&1
}

# Every database whole; cvdb.db there after the next start.
pc_check_databases() {
    local a=$1 db r
    for db in "$a/nand/cvdb.db" "$a/nand2/oem.db"; do
        if [ ! -f "$db" ]; then
            pc_damage db-whole "no ${db#$a/} after the next start"
            continue
        fi
        r=$(pc_sql "$db" "pragma integrity_check")
        [ "$r" = ok ] || pc_damage db-integrity "${db#$a/}: $(echo "$r" | head -3 | tr '\n' ' ')"
    done
}

# Only the tool's own files are left: no temporary copy. A database's
# journal that is not hot (empty, or its header not yet written) is the
# database library's: it ignores it and takes it for its next change. A
# hot one the next open rolls back, which the next start did for cvdb.db
# when it opened it.
pc_check_leftovers() {
    local a=$1 opened=$2 name
    while read -r name; do
        case "$name" in
        cvdb.db | debug.log | cpu.log) ;;
        cvdb.db-journal)
            [ "$opened" = 0 ] || ! pc_hot_journal "$a/nand/$name" ||
                pc_damage leftovers "/mnt/nand/$name, hot after the next start opened the database" ;;
        *) pc_damage leftovers "/mnt/nand/$name" ;;
        esac
    done <"$a/nand.list"
    while read -r name; do
        case "$name" in oem.db | oem.db-journal) ;; *) pc_damage leftovers "/mnt/nand2/$name" ;; esac
    done <"$a/nand2.list"
}

pc_hot_journal() {
    [ -s "$1" ] && [ "$(head -c 1 "$1" | od -An -tx1 | tr -d ' ')" != 00 ]
}

# The inserts' rows: run 1's 1..N, run 2's, and so on, in order; at least
# those of the runs that finished, and each transaction whole or absent.
# (A missing database is db-whole's.)
pc_check_inserts() {
    local db=$1 out=$2 done_runs table rows bad
    done_runs=$(pc_done_runs "$out")
    [ -f "$db" ] || return 0
    table=$(pc_sql "$db" "select count(*) from sqlite_master where name='pc'")
    if [ "$table" != 1 ]; then
        ! grep -q -e '^powercut: created' -e "^End execute: 'create table" "$out" ||
            pc_damage db-kept "the table created before the cut is gone"
        return
    fi
    rows=$(pc_sql "$db" "select count(*) from pc")
    bad=$(pc_sql "$db" "select count(*) from (select run, n, row_number() over (order by rowid) - 1 as k from pc)
        where run is not k / $pc_inserts + 1 or n is not k % $pc_inserts + 1")
    [ "$bad" = 0 ] || pc_damage db-prefix "$bad of $rows rows are not the runs' rows in their order"
    [ $((rows % pc_batch)) = 0 ] ||
        pc_damage db-commits "the table holds $rows rows: part of a transaction of $pc_batch"
    [ "$rows" -ge $((done_runs * pc_inserts)) ] ||
        pc_damage db-kept "$done_runs runs of $pc_inserts inserts had finished, the table holds $rows rows"
}

pc_done_runs() {
    pc_lines "$1" | sed -n 's/^powercut: done \([0-9]*\)$/\1/p' | tail -n 1 | grep . || echo 0
}

# The cpu log: whole lines only, and those the last run had shown first.
pc_check_cpu_log() {
    local log=$1 out=$2 shown line_re='^(CPU:[ 0-9]{3}% \(sys:[ 0-9]{3}% user:[ 0-9]{3}% wait:[ 0-9]{3}% steal:[ 0-9]{3}%\)|Average:.*)$'
    # The lines shown since the last run's "Create cpu log", without colours.
    shown=$(pc_lines "$out" | awk '/Create cpu log:/ { s = "" }
        /CPU:|Average:/ && index($0, "\033[0;39m") { s = s $0 "\n" } END { printf "%s", s }' |
        sed 's/\x1b\[[0-9;]*m//g; s/ $//')
    if [ ! -f "$log" ]; then
        [ -z "$shown" ] || pc_damage cpu-kept "no log, the monitor had shown $(printf '%s\n' "$shown" | wc -l) lines"
        return
    fi
    if [ -s "$log" ] && [ "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" != '\n' ]; then
        pc_damage cpu-lines "the log ends in a cut line: $(tail -n 1 "$log" | cat -v)"
    fi
    if grep -avE "$line_re" "$log" | grep -q .; then
        pc_damage cpu-lines "a line that is not the monitor's: $(grep -avE "$line_re" "$log" | head -1 | cat -v)"
    fi
    [ -z "$shown" ] || [ "$(head -c "$(printf '%s\n' "$shown" | wc -c)" "$log")" = "$(printf '%s\n' "$shown")" ] ||
        pc_damage cpu-kept "the log lacks lines the monitor had shown"
}

# A card after the next start: a repair that reported success left a card
# dosfsck finds clean; and what a finished run had reported is there.
pc_check_card() {
    local workload=$1 a=$2 out=$3 n
    [ -f "$a/next.out" ] || { pc_damage card-verdict "the next start did not run"; return; }
    if grep -q 'repair .* success!' "$a/next.out" && [ "$(cat "$a/after.status")" != 0 ]; then
        pc_damage card-verdict "-r reported success, dosfsck -n then: $(pc_fsck_says "$a/after.fsck")"
    fi
    case "$workload" in
    sd-fill | sd-repair | sd-speed)
        n=$(pc_check_clips "$pc_work/card-files.sums" "$a/files")
        [ -z "$n" ] || pc_damage card-kept "the card's own files are missing or changed: $n" ;;
    esac
    case "$workload" in
    sd-speed)
        if grep -q '^powercut: done' "$out"; then
            pc_fsck_clean "$a/raw.fsck" "$(cat "$a/raw.status")" ||
                pc_damage card-kept "the speed test had ended, the card was not clean at the next start: $(pc_fsck_says "$a/raw.fsck")"
            ! grep -q ' empty.file ' "$a/files" 2>/dev/null ||
                pc_damage card-kept "the speed test had ended, its empty.file is still on the card"
        fi ;;
    sd-fill)
        n=$(pc_lines "$out" | sed -n 's/^Create total \([0-9]*\) files.*/\1/p' | tail -n 1)
        [ -z "$n" ] || pc_check_fill_files "$a/files" "$n" ;;
    sd-format)
        if grep -q '^powercut: done' "$out"; then
            pc_fsck_clean "$a/raw.fsck" "$(cat "$a/raw.status")" ||
                pc_damage card-kept "the format had finished, the card was not clean at the next start: $(pc_fsck_says "$a/raw.fsck")"
            [ ! -s "$a/files" ] || pc_damage card-kept "the format had finished, the card holds files: $(head -2 "$a/files" | tr '\n' ' ')"
        fi ;;
    sd-repair)
        if grep -q 'repair .* success!' "$out"; then
            pc_fsck_clean "$a/raw.fsck" "$(cat "$a/raw.status")" ||
                pc_damage card-kept "the repair had reported success, the card was not clean at the next start: $(pc_fsck_says "$a/raw.fsck")"
        fi ;;
    esac
}

# dosfsck's first complaints, on one line.
pc_fsck_says() {
    grep -av '^fsck\.fat' "$1" | head -n 3 | tr '\n' ' '
}

pc_check_fill_files() {
    local files=$1 n=$2 i size
    for ((i = 0; i < n; i++)); do
        size=$(awk -v f="file$i" '$2 == f { print $1 }' "$files" 2>/dev/null)
        [ "$size" = $((1 << 20)) ] || {
            pc_damage card-kept "the fill had reported $n files, file$i is ${size:-missing}${size:+ bytes}"
            return
        }
    done
}

# ---- one trial ----

# pc_trial WORKLOAD SEED [KEEP]: prints the trial's line and its findings;
# status 0 without damage, 1 with, 2 when it could not run. The states
# checked are the cut's and one for each line held; "powercut: state MD5"
# names each by its content (flash and card).
pc_trial() {
    local workload=$1 seed=$2 keep=${3:-0} dir rc images=() opt_app=() findings found held=() text watcher s n
    [ -n "$(pc_window "$workload")" ] || { pc_error "no workload $workload (${pc_workloads[*]})"; return 2; }
    pc_cut_plan "$workload" "$seed"
    echo "powercut: $workload seed $seed, cut after $pc_cut_words (replay: tests/powercut/trial $workload $seed)"
    dir=$pc_work/$workload-$seed
    rm -rf "$dir"
    mkdir -p "$dir/hold"
    case "$workload" in
    restore)
        (flock 9 && pc_large_defaults) 9>"$pc_work/defaults.lock" || return 2
        opt_app=(--opt-app "$pc_work/opt-app-large") ;;
    db)
        pc_inserts_file >"$dir/inserts.sql" ;;
    sd-repair)
        (flock 9 && pc_card_images) 9>"$pc_work/cards.lock" || return 2
        cp --sparse=always "$pc_work/card-damaged.img" "$dir/card.img"
        images=(--card "$dir/card.img") ;;
    sd-*)
        (flock 9 && pc_card_images) 9>"$pc_work/cards.lock" || return 2
        cp --sparse=always "$pc_work/card-files.img" "$dir/card.img"
        images=(--card "$dir/card.img") ;;
    esac
    while read -r text; do held+=("$text"); done < <(pc_held_lines "$workload")
    [[ $workload != sd-* ]] || held=(--mark "powercut: shown" "${held[@]}")
    pc_hold_watch "$dir" &
    watcher=$!
    pc_camvm --flash "$dir/flash" "${images[@]}" "${opt_app[@]}" --dir "$dir" --cut-on "$pc_cut_on" \
        -- camsim_logwrites hold "$dir/hold" "${held[@]}" -- \
        sh -c "$(pc_workload_script "$workload" "$dir" "${pc_cut_share:-0}")" >"$dir/out" 2>"$dir/err"
    rc=$?
    : >"$dir/hold/stop"
    wait "$watcher"
    # Only camvm's own cut is one: a command killed inside the guest gives
    # the same status 137, without the line.
    text="camvm: power cut 0 s after the guest printed \"$pc_cut_on\""
    [[ $pc_cut_on != *+* ]] || text="camvm: power cut ${pc_cut_on##*+} s after the guest printed \"${pc_cut_on%+*}\""
    if [ "$rc" != 137 ] || ! grep -qxF "$text" "$dir/err"; then
        pc_error "the workload's boot ended with status $rc, not in a cut: $(tail -n 3 "$dir/err" | tr '\n' ' ')"
        return 2
    fi
    pc_check_worked "$workload" "$dir/out" "$dir/err" || return 2
    # The cut's state, then each line's, as the states at those instants.
    mkdir -p "$dir/cut"
    mv "$dir/flash" "$dir/cut/flash"
    [ ! -f "$dir/card.img" ] || mv "$dir/card.img" "$dir/cut/card.img"
    cp "$dir/out" "$dir/cut/out"
    findings="" n=0
    for s in "$dir/cut" $(ls -dv "$dir"/line-* 2>/dev/null); do
        echo "powercut: state $(cat "$s/flash/nand.img" "$s/card.img" 2>/dev/null | md5sum | cut -c1-32)"
        images=()
        [ ! -f "$s/card.img" ] || images=(--card "$s/card.img")
        pc_camvm --flash "$s/flash" "${images[@]}" "${opt_app[@]}" --dir "$s" \
            -- sh -c "$(pc_check_script "$workload" "$s")" >"$s/check.out" 2>"$s/check.err" ||
            { pc_error "the boot of ${s##*/} failed: $(tail -n 3 "$s/check.err" | tr '\n' ' ')"; return 2; }
        found=$(pc_findings "$workload" "$s" | sed "s/^\(damage [a-z-]*: \)/\1${s##*/}: /")
        # A damaged state's images stay, to be booted again.
        [ -n "$found" ] || rm -f "$s/flash/nand.img" "$s/card.img"
        findings+=${found:+$found$'\n'}
        n=$((n + 1))
    done
    findings=$(printf '%s' "$findings" | grep .)
    echo "powercut: $workload seed $seed: $(pc_summary "$dir/out" "$workload"), $n states checked ($((n - 1)) lines held)"
    if [ -n "$findings" ]; then
        echo "$findings"
        echo "powercut: the trial's files are kept in $dir"
        return 1
    fi
    [ "$keep" = 1 ] || rm -rf "$dir"
    return 0
}

# pc_hold_watch DIR: while the workload boot runs, answers each line the
# tracer holds (DIR/hold/hold.N) with a copy of the flash and card in
# DIR/line-N and what had been shown up to the line (DIR/line-N/out), then
# lets the line go on; ends when DIR/hold/stop is made. The emulator is
# stopped while the images are copied: the guest's own background writes
# (JFFS2's write buffer, its collector) cannot land in the middle of a
# copy and make of it a state no cut could leave.
pc_hold_watch() {
    local dir=$1 h=$1/hold n=1 s qemu
    until [ -e "$h/stop" ]; do
        if [ ! -f "$h/hold.$n" ]; then
            sleep 0.02
            continue
        fi
        s=$dir/line-$n
        mkdir -p "$s"
        qemu=$(pgrep -f -- "id=nand,file=$dir/flash/nand.img," | head -n 1)
        [ -z "$qemu" ] || pc_freeze "$qemu"
        cp -a "$dir/flash" "$s/flash"
        [ ! -f "$dir/card.img" ] || cp --sparse=always "$dir/card.img" "$s/card.img"
        [ -z "$qemu" ] || kill -CONT "$qemu" 2>/dev/null
        head -c "$(cat "$h/hold.$n")" "$h/shown" >"$s/out"
        : >"$h/held.$n"
        n=$((n + 1))
    done
}

# pc_freeze PID: stops the process and returns once each of its threads
# has stopped, none of them inside a write (bounded: a process that does
# not stop in 10 s is copied as it runs).
pc_freeze() {
    local i t stopped
    kill -STOP "$1" 2>/dev/null || return 0
    for ((i = 0; i < 500; i++)); do
        stopped=1
        for t in /proc/"$1"/task/*/stat; do
            [ "$(sed 's/.*) //' "$t" 2>/dev/null | cut -c1)" = T ] || { stopped=0; break; }
        done
        [ "$stopped" = 0 ] || return 0
        sleep 0.02
    done
}

# Whether the workload did its work before the cut: it showed the tool's
# own output, a looping one finished a run, and each of its runs that
# ended shows the tool's lines. Otherwise nothing was there for the checks
# to find damaged (a tool that hung or did not start, a broken workload),
# and the trial could not run.
pc_check_worked() {
    local done_runs re want have
    done_runs=$(pc_done_runs "$2")
    if [ "$done_runs" = 0 ]; then
        grep -avq -e '^powercut: ' -e '^camvm: ' "$2" "$3" ||
            pc_error "the workload showed none of the tool's output before the cut" || return 1
        [ "$(pc_window "$1")" != loop ] || pc_error "no run of the workload finished before the cut" || return 1
        return 0
    fi
    want=$done_runs
    case "$1" in
    ir) re='IR-cut result: success' ;;
    db) re='^powercut: created$' want=1 ;;
    restore) re='^GPIO read id = 1, data = ' ;;
    cpu) re='Average:' ;;
    sd-format) re='^real' ;;
    sd-fill) re='^Create total ' ;;
    sd-repair) re='repair /dev/mmcblk0 ' ;;
    sd-speed) re='records in' want=2 ;;
    esac
    have=$(cat "$2" "$3" | grep -ac -e "$re")
    [ "$have" -ge "$want" ] ||
        pc_error "$done_runs runs of the workload ended, the tool's output shows $have of its lines /$re/, not $want"
}

pc_findings() {
    local workload=$1 dir=$2 a=$2/after
    case "$workload" in
    sd-*) pc_check_card "$workload" "$a" "$dir/out"; return ;;
    esac
    [ -f "$a/nand.list" ] || { pc_damage leftovers "the second boot copied nothing back"; return; }
    pc_check_leftovers "$a" "$([ "$workload" = db ] && echo 1 || echo 0)"
    pc_check_databases "$a"
    case "$workload" in
    ir) pc_check_log "$a/nand/debug.log" "$(pc_done_runs "$dir/out")" "$(pc_shown_records "$dir/out")" ;;
    db) pc_check_inserts "$a/nand/cvdb.db" "$dir/out" ;;
    restore)
        [ ! -f "$a/nand/cvdb.db" ] || cmp -s "$a/nand/cvdb.db" "$pc_work/opt-app-large/cvdb.db" ||
            pc_damage db-whole "cvdb.db differs from its default after the restore"
        pc_check_restored "$a" "$dir/out" ;;
    cpu) pc_check_cpu_log "$a/nand/cpu.log" "$dir/out" ;;
    esac
}

# The flash as the cut left it, before the next start: a cvdb.db under its
# name is the whole default, and one that a run's start had restored (the
# run showed its line, and the loop had not removed it again) is there.
pc_check_restored() {
    local a=$1 out=$2
    [ -f "$a/before.list" ] || { pc_damage db-whole "the flash was not listed before the next start"; return; }
    if grep -qx cvdb.db "$a/before.list"; then
        cmp -s "$a/before.cvdb.db" "$pc_work/opt-app-large/cvdb.db" ||
            pc_damage db-whole "cvdb.db under its name before the next start is not the whole default"
    elif pc_lines "$out" | grep -e '^GPIO read id' -e '^powercut: done' | tail -n 1 | grep -q '^GPIO'; then
        pc_damage db-whole "the run had shown its line after the restore, cvdb.db is missing before the next start"
    fi
}

# What the workload had got to at the cut.
pc_summary() {
    local out=$1 n
    n=$(pc_done_runs "$out")
    case "$2" in
    sd-fill) echo "$(grep -c '^Create /mnt/mmc/file' "$out") files begun, $(grep -c '^Create total' "$out") fill reported, $n exited" ;;
    sd-repair) echo "$(grep -c 'repair .* success!' "$out") repair reported, $n exited" ;;
    *) echo "$n runs had finished" ;;
    esac
}

# ---- the card's writes, recorded and replayed ----

# The points the guest marks in the card's stream of writes: the tool
# reported its result, the tool exited. Each is a rewrite of one 4 KiB
# block at the card's end, which no workload touches.
pc_point_reported=0
pc_point_exited=1

# The text of the result a run reports (the format reports none).
pc_report_text() {
    case "$1" in
    sd-fill) echo 'Create total ' ;;
    sd-repair) echo 'repair /dev/mmcblk0 success!' ;;
    esac
}

pc_run_command() {
    case "$1" in
    sd-format) echo 'debug -M sdmmc -f' ;;
    sd-fill) echo "debug -M sdmmc -n $pc_fill_files -z 1 -F" ;;
    sd-repair) echo 'debug -M sdmmc -r' ;;
    esac
}

# The recorded run: dm-log-writes between the card and the disk /dev/vda;
# the tool finds the card by its node /dev/mmcblk0, which is made for the
# device mapper's device. The point "reported" is made just before the tool
# writes its result, while it waits.
pc_record_script() {
    local text run
    text=$(pc_report_text "$1")
    run=$(pc_run_command "$1")
    [ -z "$text" ] || run="camsim_logwrites watch /dev/mmcblk0 $pc_point_reported '$text' -- $run"
    cat <<EOF
d=\$(camsim_logwrites start card /dev/mmcblk0 /dev/vda) || exit 1
mv /dev/mmcblk0 /dev/.card && mknod /dev/mmcblk0 b \${d%:*} \${d#*:} || exit 1
$run
camsim_logwrites point /dev/mmcblk0 $pc_point_exited
umount /mnt/mmc 2>/dev/null
camsim_logwrites stop card
EOF
}

# pc_replay LOG CARD: walks the log's entries, applying each to CARD, and
# after each one calls pc_state with the entry's number, its kind and the
# points reached so far ("reported", "exited"). With pc_states_file set,
# pc_fingerprint names the state by the writes that led to it (a chain of
# their places and contents), so that states that several recorded runs
# passed through count once.
pc_replay() {
    local log=$1 card=$2 magic entries size pos i sector count flags kind reached="" card_sectors sum
    magic=$(od -An -tx8 -N 8 "$log" | tr -d ' ')
    [ "$magic" = 006a736677736872 ] || { pc_error "$log is not a dm-log-writes log"; return 1; }
    entries=$(pc_le "$log" 8 16)
    size=$(pc_le "$log" 4 24)
    [ "$size" = 512 ] || { pc_error "the log's sectors are $size bytes, not 512"; return 1; }
    card_sectors=$(($(stat -c %s "$card") / 512))
    pc_state 0 start "" || return 1
    pos=1
    for ((i = 1; i <= entries; i++)); do
        # od prints two of the header's numbers a line: the three on one.
        read -r sector count flags < <(od -An -tu8 -w24 -j $((pos * 512)) -N 24 "$log")
        kind=write
        if ((flags & 8)); then
            kind=mark
        elif ((flags & 4)); then
            kind=discard
            dd if=/dev/zero of="$card" bs=512 seek="$sector" count="$count" conv=notrunc status=none
            sum=discard
        elif [ "$count" -gt 0 ]; then
            [ -z "${pc_states_file:-}" ] ||
                sum=$(dd if="$log" bs=512 skip=$((pos + 1)) count="$count" status=none | md5sum)
            dd if="$log" of="$card" bs=512 skip=$((pos + 1)) seek="$sector" count="$count" conv=notrunc status=none
            if [ "$count" = 8 ]; then
                [ "$sector" != $((card_sectors - 8 * (pc_point_reported + 1))) ] || { kind=point; reached+=" reported"; }
                [ "$sector" != $((card_sectors - 8 * (pc_point_exited + 1))) ] || { kind=point; reached+=" exited"; }
            fi
        fi
        ((flags & 4)) || pos=$((pos + count))
        pos=$((pos + 1))
        # A mark, or a flush that carries no data, leaves the card as the
        # entry before it did: no state of its own.
        [ "$kind" = mark ] || { [ "$kind" = write ] && [ "$count" = 0 ]; } && continue
        [ -z "${pc_states_file:-}" ] ||
            pc_fingerprint=$(echo "$pc_fingerprint $sector $count ${sum%% *}" | md5sum | cut -c1-32)
        ((flags & 1)) && kind+=+flush
        ((flags & 2)) && kind+=+fua
        pc_state "$i" "$kind" "$reached" || return 1
    done
}

# The fill's files as mtools lists them: "NAME SIZE" of each fileN.
pc_card_files() {
    MTOOLS_SKIP_CHECK=1 mdir -i "$1" ::/ 2>/dev/null | awk '$NF ~ /^file[0-9]+$/ { print $NF, $2 }'
}

# What a state must hold once the run had reported (or, for the format,
# exited): pc_kept WORKLOAD CARD REACHED; prints its finding.
pc_kept() {
    local workload=$1 card=$2 reached=$3 i size out rc
    out=$(mktemp)
    fsck.fat -n "$card" >"$out" 2>&1
    rc=$?
    case "$workload" in
    sd-fill | sd-repair)
        pc_card_sums "$card" >"$out.sums"
        size=$(pc_check_clips "$pc_work/card-files.sums" "$out.sums")
        rm -f "$out.sums"
        [ -z "$size" ] || echo "the card's own files are missing or changed: $size" ;;
    esac
    case "$workload" in
    sd-fill)
        [[ $reached == *reported* ]] || { rm -f "$out"; return; }
        for ((i = 0; i < pc_fill_files; i++)); do
            size=$(pc_card_files "$card" | awk -v f="file$i" '$1 == f { print $2 }')
            [ "$size" = $((1 << 20)) ] || {
                echo "the fill had reported $pc_fill_files files, file$i is ${size:-missing}${size:+ bytes}"
                break
            }
        done ;;
    sd-format)
        if [[ $reached == *exited* ]]; then
            pc_fsck_clean "$out" "$rc" || echo "the format had finished, dosfsck -n: $(pc_fsck_says "$out")"
            grep -q ': 0 files, ' "$out" || echo "the format had finished, the card holds files"
        fi ;;
    sd-repair)
        [[ $reached != *reported* ]] || pc_fsck_clean "$out" "$rc" ||
            echo "the repair had reported success, dosfsck -n: $(pc_fsck_says "$out")" ;;
    esac
    rm -f "$out"
}

# The tool's -r in the simulated camera on a copy of the state: prints
# "success", "failure", or the finding when it reported success on a card
# dosfsck -n then finds damaged.
pc_verdict() {
    local card=$1 copy=$1.verdict out rc
    cp --sparse=always "$card" "$copy"
    out=$(timeout --foreground 120 "$pc_camsim" --tool "$pc_tool" --opt-app "$pc_opt_app" --emulator "$pc_emulator" \
        --card "$copy" -- debug -M sdmmc -r 2>&1)
    if [[ $out != *"repair /dev/mmcblk0 success!"* ]]; then
        echo failure
    elif out=$(fsck.fat -n "$copy" 2>&1); then
        echo success
    else
        echo "-r reported success, dosfsck -n then: $(echo "$out" | grep -av '^fsck\.fat' | head -n 3 | tr '\n' ' ')"
    fi
    rm -f "$copy"
}

# pc_record_trial WORKLOAD SEED ALL: one recorded run of a card workload,
# then every state it passed through: dosfsck and what the run had
# reported on each, and the tool's verdict on the states dosfsck does not
# find clean: with ALL 1 on all of them, otherwise on eight the seed picks,
# which keeps a trial short. (On a clean state the repair has nothing to
# change and succeeds: the card stays clean.) Status as pc_trial's.
pc_record_trial() {
    local workload=$1 seed=$2 all=$3 dir base entries rc replay pick=() i j t
    [[ " ${pc_card_workloads[*]} " == *" $workload "* ]] || { pc_error "no card workload $workload"; return 2; }
    replay="--writes $workload $seed"
    [ "$all" = 0 ] || replay="--writes --all $workload $seed"
    echo "powercut: $workload, every write recorded, seed $seed (replay: tests/powercut/trial $replay)"
    dir=$pc_work/$workload-writes-$seed
    rm -rf "$dir"
    mkdir -p "$dir"
    (flock 9 && pc_card_images) 9>"$pc_work/cards.lock" || return 2
    base=$pc_work/card-files.img
    [ "$workload" != sd-repair ] || base=$pc_work/card-damaged.img
    cp --sparse=always "$base" "$dir/card.img"
    truncate -s "${pc_log_mb}M" "$dir/log.img"
    pc_camvm --card "$dir/card.img" --disk "$dir/log.img" -- sh -c "$(pc_record_script "$workload")" \
        >"$dir/out" 2>"$dir/err" ||
        { pc_error "the recorded run failed: $(tail -n 3 "$dir/err" | tr '\n' ' ')"; return 2; }
    # The replay starts again from the card as it was.
    mv "$dir/card.img" "$dir/card.end"
    cp --sparse=always "$base" "$dir/card.img"
    entries=$(pc_le "$dir/log.img" 8 16)
    pc_states=0 pc_found="" pc_points="" pc_unclean=()
    pc_fingerprint=$(echo "$workload" | md5sum | cut -c1-32)
    [ -z "${pc_states_file:-}" ] || : >"$pc_states_file"
    pc_state() {
        local i=$1 kind=$2 reached=$3 finding
        if [ "$kind" = point ]; then
            pc_points+="${pc_points:+, }${reached##* } at write $i"
            return 0
        fi
        pc_states=$((pc_states + 1))
        [ -z "${pc_states_file:-}" ] || echo "$pc_fingerprint" >>"$pc_states_file"
        finding=$(pc_kept "$workload" "$dir/card.img" "$reached")
        [ -z "$finding" ] || pc_found+="damage card-kept: after write $i ($kind): $finding"$'\n'
        pc_fsck_image "$dir/card.img" || pc_unclean+=("$i")
    }
    pc_replay "$dir/log.img" "$dir/card.img" || return 2
    cmp -s "$dir/card.img" "$dir/card.end" || { pc_error "the replayed card differs from the card the run left"; return 2; }
    # The states for the tool's verdict, and a second pass to them.
    pick=("${pc_unclean[@]}")
    if [ "$all" = 0 ]; then
        RANDOM=$seed
        for ((i = ${#pick[@]} - 1; i > 0; i--)); do
            j=$((RANDOM % (i + 1)))
            t=${pick[i]} pick[i]=${pick[j]} pick[j]=$t
        done
        pick=("${pick[@]:0:8}")
    fi
    pc_verdict_at=" ${pick[*]} "
    pc_state() {
        local i=$1 kind=$2 finding
        [[ $pc_verdict_at == *" $i "* ]] || return 0
        finding=$(pc_verdict "$dir/card.img")
        case "$finding" in success | failure) ;; *) pc_found+="damage card-verdict: after write $i ($kind): $finding"$'\n' ;; esac
    }
    cp --sparse=always "$base" "$dir/card.img"
    pc_states_file="" pc_replay "$dir/log.img" "$dir/card.img" || return 2
    echo "powercut: $workload, every write recorded: $entries writes (${pc_points:-no point marked}), $pc_states states checked, ${#pc_unclean[@]} not clean, the tool's -r on ${#pick[@]} of them"
    if [ -n "$pc_found" ]; then
        # Each invariant once: how many states broke it, and the first.
        printf '%s' "$pc_found" | awk -F': ' '{ n[$1]++; if (!($1 in first)) { first[$1] = $0; order[++k] = $1 } }
            END { for (i = 1; i <= k; i++) printf "%s (%d states; the first: %s)\n", order[i], n[order[i]],
                  substr(first[order[i]], length(order[i]) + 3) }'
        echo "powercut: the trial's files are kept in $dir"
        return 1
    fi
    rm -rf "$dir"
}
