#!/bin/bash
# A real PXE firmware fetching a file from Sevrock through a lossy link.
#
# As root: a private network namespace (name chosen at run time) holds a tap
# device with 10.213.0.1/24, dnsmasq answering DHCP only and naming the boot
# file, "Sevrock -debug" bound to the tap address with a store, root, log
# directory and control pipe of its own, and QEMU (TCG, an e1000 with the
# iPXE ROM, "-boot n"). The guest's network is a datagram socket; a relay in
# this script carries its Ethernet frames to and from the tap and drops each
# frame, in both directions, with the given probability. (The lossy link is
# made in user space because the kernel here has neither the netem queueing
# discipline nor the traffic-control actions that could drop at random; the
# relay drops frames of every kind alike, as a lossy cable would.)
#
# The fetch time runs from the server's request line for the boot file to
# its completion line, both stamped by this script as they appear on the
# server's console; QEMU is stopped as soon as the transfer completed (the
# file is random bytes: it is not meant to boot).
#
#   bench/pxe-boot.sh [--sevrock PROGRAM] [--mib N] [--loss PERCENT]
#                     [--repeat N] [--limit SECONDS]
#
# Defaults: build/release/Sevrock, 4 MiB, 3 % loss, 2 repetitions, and a
# limit of 900 s for one fetch. Port 69 is used inside the namespace only:
# PXE firmware knows no other, and nothing else lives there.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sevrock=$repo/build/release/Sevrock
mib=4
loss=3
repeat=2
limit=900

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

while [ $# -gt 0 ]; do
    case $1 in
        --sevrock) sevrock=$(realpath "$2"); shift 2 ;;
        --mib) mib=$2; shift 2 ;;
        --loss) loss=$2; shift 2 ;;
        --repeat) repeat=$2; shift 2 ;;
        --limit) limit=$2; shift 2 ;;
        -h | --help) usage; exit 0 ;;
        *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
    esac
done

[ "$(id -u)" = 0 ] || { echo "run as root (namespace, tap device, port 69)" >&2; exit 1; }
[ -x "$sevrock" ] || { echo "no server program at $sevrock" >&2; exit 1; }
[[ $mib =~ ^[1-9][0-9]*$ && $repeat =~ ^[1-9][0-9]*$ && $limit =~ ^[1-9][0-9]*$ ]] ||
    { echo "--mib, --repeat and --limit take whole numbers above 0" >&2; exit 2; }
[[ $loss =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "--loss takes a percentage" >&2; exit 2; }

need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
[ -e /usr/lib/ipxe/qemu/efi-e1000.rom ] || need+=(ipxe-qemu)
command -v dnsmasq >/dev/null || need+=(dnsmasq-base)
if [ ${#need[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${need[@]}"
fi

# A namespace name that is not taken, and a pipe name of this run alone.
ns=""
for _ in 1 2 3 4 5 6 7 8; do
    candidate=pxe-boot-$$-$RANDOM
    if ! ip netns list | grep -qw "$candidate"; then ns=$candidate; break; fi
done
[ -n "$ns" ] || { echo "no free namespace name found" >&2; exit 1; }
pipe=@pxe-boot-$$-$RANDOM
work=$(mktemp -d /tmp/pxe-boot.XXXXXX)
server_ip=10.213.0.1
declare -A pids=()

stop_pid() {
    local pid=$1
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        grep -qs '^State:[[:space:]]*[^Z]' "/proc/$pid/status" || break  # gone or a zombie
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local name
    for name in "${!pids[@]}"; do stop_pid "${pids[$name]}"; done
    if [ -n "$ns" ]; then ip netns del "$ns" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Background jobs call "ip netns exec" directly rather than through this
# function, so that $! is the program itself (ip and env exec it) and the
# clean-up stops what it started.
in_ns() { ip netns exec "$ns" "$@"; }

# Frames between the tap and the guest's datagram socket, each dropped with
# probability loss/100 in either direction; counts go to relay.txt at exit.
relay_program='
import fcntl, os, random, select, signal, socket, struct, sys
tap, guest, own, out = sys.argv[1:5]
loss = float(sys.argv[5]) / 100
fd = os.open("/dev/net/tun", os.O_RDWR)
fcntl.ioctl(fd, 0x400454CA, struct.pack("16sH", tap.encode(), 0x0002 | 0x1000))
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sock.bind(own)
count = {"to guest": [0, 0], "from guest": [0, 0]}
def finish(*_):
    with open(out, "w") as f:
        for way, (passed, dropped) in count.items():
            f.write("%s: %d frames passed, %d dropped\n" % (way, passed, dropped))
    sys.exit(0)
signal.signal(signal.SIGTERM, finish)
while True:
    ready, _, _ = select.select([fd, sock], [], [])
    if fd in ready:
        frame = os.read(fd, 65536)
        if random.random() < loss:
            count["to guest"][1] += 1
        else:
            try:
                sock.sendto(frame, guest)
                count["to guest"][0] += 1
            except OSError:
                pass  # no guest yet
    if sock in ready:
        frame = sock.recv(65536)
        if random.random() < loss:
            count["from guest"][1] += 1
        else:
            os.write(fd, frame)
            count["from guest"][0] += 1
'

make_link() {
    ip netns add "$ns"
    in_ns ip link set lo up
    in_ns ip tuntap add dev tap0 mode tap
    in_ns ip addr add "$server_ip/24" dev tap0
    in_ns ip link set tap0 up
    ip netns exec "$ns" python3 -c "$relay_program" tap0 "$work/guest.sock" "$work/relay.sock" \
        "$work/relay.txt" "$loss" </dev/null >"$work/relay-console.txt" 2>&1 &
    pids[relay]=$!
    for _ in $(seq 50); do [ -S "$work/relay.sock" ] && return 0; sleep 0.1; done
    echo "the relay did not start:" >&2
    cat "$work/relay-console.txt" >&2
    exit 1
}

write_store() {
    local store=$work/Pravlen.reg pair
    mkdir -p "$work/root" "$work/log"
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n' >"$store"
    for pair in "Address=$server_ip" "Port=69" "RootDirectory=$work/root/" "LogDir=$work/log/" \
        "Log=2" "Clients=10" "MMF=3"; do
        printf '"%s"="%s"\r\n' "${pair%%=*}" "${pair#*=}" >>"$store"
    done
}

start_server() {
    ip netns exec "$ns" env PRAVLEN_STORE="$work/Pravlen.reg" PRAVLEN_PIPE="$pipe" "$sevrock" -debug \
        </dev/null >"$work/console.txt" 2>&1 &
    pids[sevrock]=$!
    for _ in $(seq 100); do
        grep -q "Ready on TFTP addr" "$work/console.txt" 2>/dev/null && return 0
        kill -0 "${pids[sevrock]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "Sevrock did not come up:" >&2
    cat "$work/console.txt" >&2
    exit 1
}

start_dhcp() {
    ip netns exec "$ns" dnsmasq --keep-in-foreground --port=0 --conf-file=/dev/null --user=root \
        --interface=tap0 --bind-interfaces \
        --dhcp-range=10.213.0.50,10.213.0.99,255.255.255.0,1h \
        --dhcp-boot=boot.bin,,"$server_ip" --dhcp-leasefile="$work/leases" \
        --pid-file="$work/dnsmasq.pid" --log-facility="$work/dnsmasq.log" --log-dhcp \
        </dev/null >/dev/null 2>&1 &
    pids[dnsmasq]=$!
}

start_guest() {
    rm -f "$work/guest.sock"
    ip netns exec "$ns" qemu-system-x86_64 -machine accel=tcg -m 256 -nographic \
        -monitor none -serial "file:$work/serial-$1.txt" -boot n \
        -netdev "dgram,id=n0,local.type=unix,local.path=$work/guest.sock,remote.type=unix,remote.path=$work/relay.sock" \
        -device e1000,netdev=n0 </dev/null >"$work/qemu-$1.txt" 2>&1 &
    pids[qemu]=$!
}

now() { date +%s.%N; }

# Waits until a console line past line $1 matches $2; prints its text.
wait_line() {
    local from=$1 pattern=$2 deadline=$3 line
    while :; do
        line=$(tail -n "+$((from + 1))" "$work/console.txt" | grep -m1 -E "$pattern" || true)
        [ -n "$line" ] && { echo "$line"; return 0; }
        kill -0 "${pids[qemu]}" 2>/dev/null || return 1
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

one_fetch() {
    local turn=$1 from request done_line t0 t1 deadline
    from=$(wc -l <"$work/console.txt")
    start_guest "$turn"
    deadline=$(($(date +%s) + limit))
    request=$(wait_line "$from" "TFTP Get Name .*boot\.bin" "$deadline") ||
        { echo "turn $turn: no request for boot.bin" >&2; return 1; }
    t0=$(now)
    done_line=$(wait_line "$from" "( +[0-9]+s | Timeout ).*boot\.bin" "$deadline") ||
        { echo "turn $turn: no completion within $limit s" >&2; return 1; }
    t1=$(now)
    stop_pid "${pids[qemu]}"
    unset 'pids[qemu]'
    case $done_line in *" Timeout "*) echo "turn $turn: transfer timed out: $done_line" >&2; return 1 ;; esac
    printf 'turn %s: %.1f s  (request: %s)\n' "$turn" "$(awk "BEGIN { print $t1 - $t0 }")" \
        "${request#*TFTP Get }"
    echo "  completion: $done_line"
}

make_link
write_store
head -c "$((mib * 1048576))" /dev/urandom >"$work/root/boot.bin"
start_server
start_dhcp
echo "Sevrock: $sevrock ($(sha1sum "$sevrock" | cut -c1-12)), $mib MiB, $loss % loss both ways, namespace $ns"
echo "load: $(uptime)"
for turn in $(seq "$repeat"); do
    one_fetch "$turn" || { tail -n 20 "$work/console.txt" >&2; exit 1; }
done
grep -h "Oack sent" "$work/console.txt" | tail -n 1 | sed 's/^/last option acknowledgement: /'
stop_pid "${pids[relay]}"
unset 'pids[relay]'
sed 's/^/relay, /' "$work/relay.txt" 2>/dev/null || true
echo "load: $(uptime)"
