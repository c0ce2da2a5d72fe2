#!/bin/sh
# av_log.sh - the simulated camera's media status script: leaves one file
# per pipeline unit in /tmp/media, taken from the directory named by
# CAMSIM_MEDIA (camsim --media DIR). Without that directory it writes
# nothing, like a camera whose media pipeline is not running.
#
# The unit files are linked, not copied: they are only read, and a test
# may hand over files of hundreds of megabytes.
mkdir -p /tmp/media
[ -n "${CAMSIM_MEDIA:-}" ] && [ -d "$CAMSIM_MEDIA" ] || exit 0
for f in "$CAMSIM_MEDIA"/*; do
    [ -f "$f" ] && ln -sf "$f" "/tmp/media/${f##*/}"
done
exit 0
