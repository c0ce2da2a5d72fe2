#!/bin/sh
# The video sections of the media unit files the way a technician would
# pull them with grep: one pass over each file, every marker of that file
# with the most lines any of them wants after it.
d=/tmp/media
av_log.sh
section() {
    heading=$1 file=$2 after=$3
    shift 3
    echo "[$heading]"
    grep -F --no-group-separator -A"$after" "$@" "$d/$file.log"
    echo
}
section SYS sys 0 -e 'System State:'
section VB vb 1 -e 'PoolId    PhysAddr    VirtAddr    IsComm'
section VPSS vpss 3 -e 'VPSS GRP WORK STATUS' -e 'VPSS CHN OUTPUT RESOLUTION'
section VI vi 2 -e 'VI DEV ATTR' -e 'VI PHYCHN ATTR' -e 'VI PHYCHN STATUS 1' \
    -e 'VI PHYCHN STATUS 2' -e 'VI WDR ATTR' -e 'VI WDR DES STATUS' \
    -e 'VI WDR SRC STATUS' -e 'VI WDR COMBINE STATUS' -e 'VI CHN STATUS'
section VENC venc 5 -e 'VENC CHN ATTR 1' -e 'VENC STREAM STATE'
section RC rc 5 -e 'RUN INFO1'
