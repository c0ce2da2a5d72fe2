# 30-flash.sh - an erased NAND chip's image, sourced by camvm's
# preparation: what a run without --flash starts from, and what --flash DIR
# starts with. Every page of the chip with its out-of-band area, in order:
# 1024 erase blocks of 64 pages of 2048 + 64 bytes, every byte 0xFF as an
# erased chip reads. Written and synced under a name of its own first.
# Checked byte by byte at each start, not by its size alone: a used image
# in its place would seed every new flash with its files.
camvm_nand_bytes=$((1024 * 64 * (2048 + 64)))
camvm_nand_erased() {
    [ "$(stat -c %s "$cache/nand.img" 2>/dev/null)" = "$camvm_nand_bytes" ] &&
        [ "$(tr -d '\377' <"$cache/nand.img" | head -c 1 | wc -c)" = 0 ]
}
# The NOR flash's image of earlier versions.
rm -f "$cache/flash.img"
if ! camvm_nand_erased; then
    rm -f "$cache/nand.img"
    head -c "$camvm_nand_bytes" /dev/zero | tr '\0' '\377' >"$cache/nand.img.tmp" && sync -- "$cache/nand.img.tmp" &&
        mv "$cache/nand.img.tmp" "$cache/nand.img" || die "cannot make the erased NAND image in $cache"
fi
