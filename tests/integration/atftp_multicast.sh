#!/bin/sh
# atftp fetches a file with the multicast option: it becomes the master of a
# group and receives the blocks on the group's address. atftp joins its
# group on the default interface, so the test runs in a network namespace of
# its own whose only interface is a multicast-capable loopback. It needs root
# and atftp, and is skipped (exit 77) without them. (Two atftp clients on one
# host cannot share a group: each binds the group port exclusively.)
# Usage: atftp_multicast.sh <Sevrock>
set -u
server=$1
command -v atftp >/dev/null 2>&1 || { echo "atftp is not installed"; exit 77; }
if [ -z "${IN_NAMESPACE:-}" ]; then
    [ "$(id -u)" = 0 ] && command -v unshare >/dev/null 2>&1 || { echo "needs root"; exit 77; }
    IN_NAMESPACE=1 exec unshare -n "$0" "$@"
fi
ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo || exit 1

dir=$(mktemp -d) || exit 1
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT
mkdir "$dir/root"
head -c 300000 /dev/urandom >"$dir/root/image.bin"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n' >"$dir/store.reg"
printf '"Port"="6969"\r\n"Address"="127.0.0.1"\r\n"MulticastIp"="239.255.1.1"\r\n' >>"$dir/store.reg"
printf '"RootDirectory"="%s/root/"\r\n"LogDir"="%s/"\r\n' "$dir" "$dir" >>"$dir/store.reg"
PRAVLEN_STORE="$dir/store.reg" PRAVLEN_PIPE="@atftp-multicast-$$" "$server" -debug >"$dir/out" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "Ready on TFTP addr" "$dir/out" && break; sleep 0.1; done

timeout 30 atftp --option multicast -g -r image.bin -l "$dir/got.bin" 127.0.0.1 6969 \
    >"$dir/client.out" 2>&1
status=0
cmp -s "$dir/root/image.bin" "$dir/got.bin" || { cat "$dir/client.out"; status=1; }
grep -q "Oack sent multicast 239.255.1.1,1758,1" "$dir/out" || status=1
[ $status = 0 ] || cat "$dir/out"
exit $status
