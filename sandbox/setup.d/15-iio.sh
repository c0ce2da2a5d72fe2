# 15-iio.sh - the light-sensor ADC's industrial-I/O files (camsim --iio
# A,B,C), sourced by camsim. The host has no IIO bus; sysfs takes no new
# directories, so a tmpfs stands in for the bus directory.
if [ -d /sys/bus/iio ]; then
    mount -t tmpfs camsim-iio /sys/bus/iio
else
    mount -t tmpfs camsim-bus /sys/bus
    mkdir -p /sys/bus/iio
fi
camsim_iio="/sys/bus/iio/devices/iio:device0"
mkdir -p "$camsim_iio"
IFS=, read -r camsim_v0 camsim_v1 camsim_v2 <<<"$CAMSIM_IIO"
camsim_ch=0
for camsim_v in "${camsim_v0:-1000}" "${camsim_v1:-1000}" "${camsim_v2:-1000}"; do
    # "-" leaves the channel's file out.
    [ "$camsim_v" = "-" ] || echo "$camsim_v" >"$camsim_iio/in_voltage${camsim_ch}_raw"
    camsim_ch=$((camsim_ch + 1))
done
unset camsim_iio camsim_v0 camsim_v1 camsim_v2 camsim_ch camsim_v
