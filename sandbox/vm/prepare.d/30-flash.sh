# 30-flash.sh - an erased NOR flash image, sourced by camvm's preparation:
# what a run without --flash starts from, and what --flash DIR starts with.
# QEMU's virt board wants its flash bank whole: 64 MiB, every byte 0xFF as
# erased flash reads. Written and synced under a name of its own first.
# Checked byte by byte at each start, not by its size alone: a used image
# in its place would seed every new flash with its files.
camvm_flash_bytes=$((64 << 20))
camvm_flash_erased() {
    [ "$(stat -c %s "$cache/flash.img" 2>/dev/null)" = "$camvm_flash_bytes" ] &&
        [ "$(tr -d '\377' <"$cache/flash.img" | head -c 1 | wc -c)" = 0 ]
}
if ! camvm_flash_erased; then
    rm -f "$cache/flash.img"
    head -c "$camvm_flash_bytes" /dev/zero | tr '\0' '\377' >"$cache/flash.img.tmp" && sync -- "$cache/flash.img.tmp" &&
        mv "$cache/flash.img.tmp" "$cache/flash.img" || die "cannot make the erased flash image in $cache"
fi
