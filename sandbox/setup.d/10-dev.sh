# 10-dev.sh - the camera's /dev, sourced by camsim: a private tmpfs with the
# usual nodes only; the card and flash pieces add theirs. The host's /dev
# stays reachable under $host/dev for them.
mkdir -p "$host/dev"
mount --bind /dev "$host/dev"
mount -t tmpfs -o mode=755 camsim-dev /dev
mknod -m 666 /dev/null c 1 3
mknod -m 666 /dev/zero c 1 5
mknod -m 666 /dev/full c 1 7
mknod -m 666 /dev/random c 1 8
mknod -m 666 /dev/urandom c 1 9
mknod -m 666 /dev/tty c 5 0
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr
mkdir -p /dev/shm /dev/pts
mount -t tmpfs -o mode=1777 camsim-shm /dev/shm
if [ -e "$host/dev/pts/ptmx" ]; then
    mount --bind "$host/dev/pts" /dev/pts
    ln -s pts/ptmx /dev/ptmx
fi
