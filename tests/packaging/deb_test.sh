#!/bin/bash
# The Debian package: lintian finds no errors; its files, conffiles and
# maintainer scripts are the ones listed below. As root, on a machine where
# the package and its user are not present, it is also installed: the unit
# verifies, the server runs as the package's user with the unit's environment
# and serves a file from /srv/tftp on port 69 (in a network namespace of its
# own, so that no other server's port matters), an installation over it keeps
# an edited store, and purging leaves nothing of what the package created.
#
#   tests/packaging/deb_test.sh PACKAGE.deb
set -uo pipefail
deb=$(realpath "$1")
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" >/dev/null 2>&1 || fail "$what"; }

# ---------------------------------------------------------------- the file
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

expected_files='./etc/velquin/Pravlen.reg
./lib/systemd/system/sevrock.service
./usr/bin/velquin
./usr/sbin/Sevrock
./usr/share/doc/velquin-tftp/changelog.gz
./usr/share/doc/velquin-tftp/copyright
./usr/share/man/man1/velquin.1.gz
./usr/share/man/man8/Sevrock.8.gz'
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print $6}' <<<"$listing" | grep -v '/doc/velquin-tftp/html/' | sort)
[ "$files" = "$expected_files" ] || fail "package files differ:"$'\n'"$files"
awk '{print $2}' <<<"$listing" | grep -v '^root/root$' >/dev/null && fail "a file not owned by root"
grep ' ./usr/sbin/Sevrock$' <<<"$listing" | grep '^-rwxr-xr-x' >/dev/null || fail "Sevrock is not an executable"
grep ' ./usr/bin/velquin$' <<<"$listing" | grep '^-rwxr-xr-x' >/dev/null || fail "velquin is not an executable"
[ "$(dpkg-deb -f "$deb" Package)" = velquin-tftp ] || fail "package name"
conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)
[ "$conffiles" = /etc/velquin/Pravlen.reg ] || fail "conffiles: $conffiles"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
for script in postinst prerm postrm; do
  grep -qx "./$script" <<<"$control" || fail "no $script"
done
store=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./etc/velquin/Pravlen.reg)
grep -qx '"Upload"="0"' <<<"$store" || fail "the shipped store does not turn uploads off"
grep -qx '"RootDirectory"="/srv/tftp/"' <<<"$store" || fail "the shipped store's root"
grep -qx '"LogDir"="/var/log/velquin/"' <<<"$store" || fail "the shipped store's log directory"
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/sevrock.service)
grep -qx 'ExecStart=/usr/sbin/Sevrock' <<<"$unit" || fail "the unit's ExecStart"
grep -qx 'Environment=PRAVLEN_ADMIN_GROUP=velquin-admin' <<<"$unit" || fail "the unit's group"

if [ "$(id -u)" != 0 ]; then
  echo "not root: package checked, not installed"
  [ $failures = 0 ]
  exit
fi
if dpkg-query -W velquin-tftp >/dev/null 2>&1 || getent passwd velquin >/dev/null ||
   getent group velquin-admin >/dev/null; then
  echo "velquin-tftp or its user is present on this machine: not installed" >&2
  [ $failures = 0 ]
  exit
fi

# ---------------------------------------------------------- installed
srv_before=$([ -e /srv/tftp ] && echo yes || echo no)
work=$(mktemp -d)
purge() { dpkg --purge velquin-tftp >"$work/purge.log" 2>&1; }
cleanup() {
  dpkg-query -W velquin-tftp >/dev/null 2>&1 && purge
  rm -rf "$work"
}
trap cleanup EXIT

dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "dpkg -i"; exit 1; }
check "user velquin" getent passwd velquin
check "group velquin-admin" getent group velquin-admin
[ "$(stat -c %U "/etc/velquin/Pravlen.reg")" = velquin ] || fail "the store is not the server's"
[ "$(stat -c %U /var/log/velquin)" = velquin ] || fail "the log directory is not the server's"
[ -d /srv/tftp ] || fail "no /srv/tftp"
unit_file=/lib/systemd/system/sevrock.service
[ -L /etc/systemd/system/multi-user.target.wants/sevrock.service ] || fail "the unit is not enabled"
systemd-analyze verify --man=no "$unit_file" >"$work/verify.log" 2>&1 || {
  cat "$work/verify.log"; fail "systemd-analyze verify"; }

# The unit's user, capabilities and environment, taken from the unit itself.
user=$(sed -n 's/^User=//p' "$unit_file")
environment=($(sed -n 's/^Environment=//p' "$unit_file"))
exec_start=$(sed -n 's/^ExecStart=//p' "$unit_file")
if ! unshare -n true 2>/dev/null; then
  echo "no network namespace here: the installed server is not run" >&2
  skip_serving=yes
fi
payload=boot-$$.bin
head -c 100000 /dev/urandom >"$work/$payload"
install -m 0644 "$work/$payload" "/srv/tftp/$payload"
[ -z "${skip_serving:-}" ] && unshare -n bash -c '
  ip link set lo up
  setpriv --reuid="$1" --regid="$1" --init-groups --inh-caps=+net_bind_service \
    --ambient-caps=+net_bind_service env -i "${@:5}" "$2" >"$3/server.log" 2>&1 &
  server=$!
  for _ in $(seq 1 100); do
    curl -s --max-time 2 -o "$3/fetched" "tftp://127.0.0.1:69/$4" && break
    kill -0 $server 2>/dev/null || break
    sleep 0.1
  done
  ps -o user= -p $server >"$3/server.user"
  /usr/bin/velquin get Port >"$3/velquin.out" 2>&1
  kill $server; wait $server
' _ "$user" "$exec_start" "$work" "$payload" "${environment[@]}"
if [ -z "${skip_serving:-}" ]; then
  cmp -s "$work/$payload" "$work/fetched" || { cat "$work/server.log"; fail "the file was not served"; }
  [ "$(tr -d ' \n' <"$work/server.user")" = velquin ] || fail "the server did not run as velquin"
  ls /var/log/velquin/tftp*.log >/dev/null 2>&1 || fail "no transfer log"
  [ "$(cat "$work/velquin.out")" = Port=69 ] || fail "velquin did not reach the server: $(cat "$work/velquin.out")"
fi
# The server records its directory in the store at start; the shipped store
# holds it already, so that the configuration file stays as shipped.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./etc/velquin/Pravlen.reg | cmp -s - /etc/velquin/Pravlen.reg ||
  fail "the server's start changed the shipped store"
rm -f "/srv/tftp/$payload"

# An installation over the installed package keeps an edited store.
sed -i 's/^"Port"="69"$/"Port"="6969"/' /etc/velquin/Pravlen.reg
dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "second dpkg -i"; }
grep -qx '"Port"="6969"' /etc/velquin/Pravlen.reg || fail "the edited store was replaced"

purge || { cat "$work/purge.log"; fail "dpkg --purge"; }
getent passwd velquin >/dev/null && fail "user velquin left"
getent group velquin >/dev/null && fail "group velquin left"
getent group velquin-admin >/dev/null && fail "group velquin-admin left"
for path in /etc/velquin /var/log/velquin "$unit_file" /usr/sbin/Sevrock /usr/bin/velquin \
            /etc/systemd/system/multi-user.target.wants/sevrock.service; do
  [ -e "$path" ] || [ -L "$path" ] && fail "$path left"
done
if [ "$srv_before" = no ] && [ -e /srv/tftp ]; then fail "/srv/tftp left"; fi
[ $failures = 0 ] && echo "Debian package: all checks passed"
[ $failures = 0 ]
