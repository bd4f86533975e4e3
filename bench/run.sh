#!/bin/bash
# Benchmark: Sevrock (release build, log level 1) against tftpd-hpa and atftpd
# on loopback, each on a free port with the same files, and one comparison
# table. All servers run at once and take turns scenario by scenario, so
# that load from elsewhere on a shared machine falls on each of them alike;
# --repeat N takes the median of N turns each.
#
#   bench/run.sh [--servers sevrock,tftpd-hpa,atftpd] [--sevrock PROGRAM]
#                [--only SCENARIO,...]
#                [--repeat N] [--big-mib N] [--mid-mib N] [--small-bytes N]
#                [--upload-mib N] [--lossy-kib N] [--small-seconds S]
#                [--small-count N] [--concurrent-blksize N]
#
# Defaults: --repeat 3, 64 MiB single downloads, 2 MiB for the concurrent
# runs, 1 KiB files for 3 s, a 16 MiB upload; about 4 minutes here.
# The peers are private copies unpacked from their Debian packages under
# build/bench-cache (they conflict as packages, so neither is installed).
# As root the measuring part runs in a network namespace of its own in which
# only loopback exists: group traffic of the multicast run cannot leave the
# machine, and other engineers' servers on loopback are out of the way.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=$repo/build/bench
cache=$repo/build/bench-cache
load=$repo/build/release/bench/tftp_load
sevrock=$repo/build/release/Sevrock
servers=sevrock,tftpd-hpa,atftpd
passthrough=(--repeat 3)  # a later --repeat wins

parse_flags() {
    while (($#)); do
        case $1 in
        --servers) servers=$2; shift 2 ;;
        --sevrock) sevrock=$(realpath "$2"); shift 2 ;;
        --help | -h) sed -n '2,20p' "$0"; exit 0 ;;
        --*) passthrough+=("$1" "$2"); shift 2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
        esac
    done
}

build() {
    (cd "$repo" && cmake --preset release >/dev/null && cmake --build --preset release >/dev/null)
}

# apt-get download needs the package lists; fetch them once if it fails.
fetch_peers() {
    mkdir -p "$cache/debs"
    local pkg
    for pkg in tftpd-hpa atftpd libwrap0; do
        compgen -G "$cache/debs/${pkg}_*.deb" >/dev/null && continue
        (cd "$cache/debs" && { apt-get download "$pkg" >/dev/null 2>&1 ||
            { apt-get update -qq >/dev/null 2>&1 && apt-get download "$pkg" >/dev/null 2>&1; }; }) ||
            echo "warning: could not fetch $pkg" >&2
    done
    local deb
    for deb in "$cache"/debs/*.deb; do
        [ -e "$deb" ] && dpkg-deb -x "$deb" "$cache/root"
    done
    return 0
}

# --- the measuring part -----------------------------------------------------

# The peers' libraries from the same packages. They are started with `env`
# directly, never through a shell function: a function sent to the
# background runs in a subshell of its own, so $! would be that subshell's
# id and stopping it would leave the server running.
peer_libs=$cache/root/lib/x86_64-linux-gnu:$cache/root/usr/lib/x86_64-linux-gnu

# Every server this script started, by name: its process id and port.
declare -A pids=() ports=()
note=

wait_ready() {
    local port=$1
    if ! "$load" probe "$port" 15; then
        echo "server on port $port did not answer" >&2
        return 1
    fi
}

# Stops one server this script started, by its process id.
stop_pid() {
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null || true
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

stop_servers() {
    local name
    for name in "${!pids[@]}"; do stop_pid "${pids[$name]}"; done
    pids=()
}
trap stop_servers EXIT

# Records a started server, or stops it again when it does not answer.
started() {
    local name=$1 pid=$2 port=$3
    if wait_ready "$port"; then
        pids[$name]=$pid
        ports[$name]=$port
    else
        stop_pid "$pid"
    fi
}

write_store() {
    local store=$1 port=$2 window=$3 dir=$4
    mkdir -p "$dir/log"
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n' >"$store"
    local pair
    for pair in "Port=$port" "RootDirectory=$work/root/" "LogDir=$dir/log/" "Log=1" \
        "Clients=250" "MMF=3" "WindowSize=$window" "MulticastIp=239.255.77.1"; do
        printf '"%s"="%s"\r\n' "${pair%%=*}" "${pair#*=}" >>"$store"
    done
}

# Sevrock runs as a foreground daemon at the stored log level, each instance
# with a store and a control pipe of its own. A build whose entry only knows
# "-debug" runs that way instead (level 2, to a file).
start_sevrock() {
    local name=$1 window=$2 port dir=$work/$1
    port=$("$load" free-port)
    write_store "$dir/Pravlen.reg" "$port" "$window" "$dir"
    PRAVLEN_STORE=$dir/Pravlen.reg PRAVLEN_PIPE=@velquin-bench-$$-$window \
        "$sevrock" >"$dir/console.txt" 2>&1 &
    local pid=$!
    sleep 0.3
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid" 2>/dev/null || true
        note="Sevrock ran with -debug (log level 2, console to a file): this build has no daemon mode"
        PRAVLEN_STORE=$dir/Pravlen.reg PRAVLEN_PIPE=@velquin-bench-$$-$window \
            "$sevrock" -debug >"$dir/console.txt" 2>&1 &
        pid=$!
    fi
    started "$name" "$pid" "$port"
}

start_tftpd_hpa() {
    local port
    port=$("$load" free-port)
    env LD_LIBRARY_PATH="$peer_libs" "$cache/root/usr/sbin/in.tftpd" -L -u root -c -p -s -a "127.0.0.1:$port" "$work/root" \
        >"$work/tftpd-hpa.txt" 2>&1 &
    started tftpd-hpa $! "$port"
}

start_atftpd() {
    local port
    port=$("$load" free-port)
    env LD_LIBRARY_PATH="$peer_libs" "$cache/root/usr/sbin/atftpd" --daemon --no-fork --port "$port" \
        --bind-address 127.0.0.1 --user root.root --logfile /dev/null --maxthread 250 \
        --mcast-addr 239.255.77.0-255 --mcast-port 1758-1858 "$work/root" \
        >"$work/atftpd.txt" 2>&1 &
    started atftpd $! "$port"
}

has() { [[ ",$servers," == *",$1,"* ]]; }

only_has() {
    local only= i
    for ((i = 0; i < ${#passthrough[@]}; i += 2)); do
        [ "${passthrough[i]}" = --only ] && only=${passthrough[i + 1]}
    done
    [ -z "$only" ] || [[ ",$only," == *",$1,"* ]]
}

start_servers() {
    if has sevrock; then
        start_sevrock Sevrock 0
        only_has dl-1468-window && start_sevrock Sevrock-window 1
    fi
    has tftpd-hpa && start_tftpd_hpa
    has atftpd && start_atftpd
    return 0
}

# All servers run at once and take turns scenario by scenario (see
# run_interleaved); the in-process responder takes its turn as "ceiling".
measure_all() {
    local args=() name
    for name in "${!ports[@]}"; do args+=(--server "$name=${ports[$name]}"); done
    [ -n "${pids[Sevrock]:-}" ] && args+=(--pid "Sevrock=${pids[Sevrock]}")
    [ -n "${ports[Sevrock-window]:-}" ] && args+=(--only-for Sevrock-window=dl-1468-window)
    "$load" compare "${args[@]}" --ceiling on --root "$work/root" --out-dir "$work/results" \
        "${passthrough[@]}" || true
    # The windowed run is one more row of Sevrock's column.
    if [ -f "$work/results/Sevrock-window.tsv" ]; then
        cat "$work/results/Sevrock-window.tsv" >>"$work/results/Sevrock.tsv"
        rm "$work/results/Sevrock-window.tsv"
    fi
}

machine_line() {
    local cpu
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores ($cpu), $(uname -sr)," \
        "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
}

run_measurements() {
    if [ -n "${BENCH_NETNS:-}" ]; then
        ip link set lo up
        ip link set lo multicast on
        ip route add 224.0.0.0/4 dev lo
        # glibc's AI_ADDRCONFIG counts no IPv4 address but 127.0.0.1 as
        # configured, and tftpd-hpa resolves its -a address with it.
        ip addr add 127.0.0.2/8 dev lo
    fi
    rm -rf "$work/results" && mkdir -p "$work/results" "$work/root"
    "$load" files "$work/root" "${passthrough[@]}"
    local started=$SECONDS
    local machine
    machine=$(machine_line)
    start_servers
    measure_all
    stop_servers
    local args=(--ours "Sevrock=$work/results/Sevrock.tsv" --ceiling "ceiling=$work/results/ceiling.tsv")
    local peer
    for peer in tftpd-hpa atftpd; do
        [ -f "$work/results/$peer.tsv" ] && args+=(--peer "$peer=$work/results/$peer.tsv")
    done
    {
        echo "Machine: $machine"
        echo "Sizes: ${passthrough[*]:-defaults}; run time $((SECONDS - started)) s;" \
            "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
        [ -z "$note" ] || echo "Note: $note"
        "$load" report "${args[@]}"
    } | tee "$work/results/table.txt"
}

parse_flags "$@"
if [ -z "${BENCH_STAGE:-}" ]; then
    build
    has tftpd-hpa || has atftpd && fetch_peers
    export BENCH_STAGE=measure
    if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null &&
        unshare -n true 2>/dev/null; then
        exec env BENCH_NETNS=1 unshare -n -- "$0" "$@"
    fi
    echo "note: no network namespace (needs root, unshare and ip): multicast is skipped" >&2
fi
run_measurements
