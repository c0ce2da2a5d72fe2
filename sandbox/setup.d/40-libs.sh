# 40-libs.sh - platform libraries left out (camsim --no-lib NAME) or replaced
# (--lib NAME=FILE), sourced by camsim: a camera model that ships without a
# library, or a board with a broken one.
#
# NAME, a file name (camsim refuses a path: it could lead out of the
# sandbox's copy), is looked for where the tool's loader finds it, in the
# directories of the tool's RUNPATH (or RPATH). That directory gets a tmpfs of links to its
# own files, without NAME, or with a copy of FILE as NAME. FILE is copied from
# the host's filesystem as it was before the sandbox's overlays.

# The tool's library directories, one a line, $ORIGIN expanded.
camsim_lib_dirs() {
    readelf -d "$CAMSIM_TOOL" | sed -n 's/.*Library r\(un\)\{0,1\}path: \[\(.*\)\]$/\2/p' | tr : '\n' |
        sed "s|\$ORIGIN|$(dirname "$CAMSIM_TOOL")|; s|\${ORIGIN}|$(dirname "$CAMSIM_TOOL")|" | awk 'NF'
}

while IFS='=' read -r camsim_lib camsim_lib_file; do
    [ -n "$camsim_lib" ] || continue
    camsim_lib_dir=""
    while IFS= read -r d; do
        if [ -e "$d/$camsim_lib" ]; then camsim_lib_dir=$d; break; fi
    done < <(camsim_lib_dirs)
    [ -n "$camsim_lib_dir" ] || die "no $camsim_lib in the tool's RUNPATH"
    camsim_lib_host="$host/libs$camsim_lib_dir"
    if [ ! -d "$camsim_lib_host" ]; then
        mkdir -p "$camsim_lib_host"
        mount --bind "$camsim_lib_dir" "$camsim_lib_host"
        mount -t tmpfs -o mode=755 camsim-libs "$camsim_lib_dir"
        for f in "$camsim_lib_host"/*; do
            ln -s "$f" "$camsim_lib_dir/"
        done
    fi
    rm -f "$camsim_lib_dir/$camsim_lib"
    if [ -n "$camsim_lib_file" ]; then
        [ -e "$host$camsim_lib_file" ] && camsim_lib_file=$host$camsim_lib_file
        cp "$camsim_lib_file" "$camsim_lib_dir/$camsim_lib" || die "cannot copy $camsim_lib_file"
    fi
done <<<"$CAMSIM_LIBS"
unset camsim_lib camsim_lib_file camsim_lib_dir camsim_lib_host d f
unset -f camsim_lib_dirs
