#!/bin/bash
# The Windows setup program under Wine, in the test prefix: a silent
# installation registers and starts the service, which serves a file to a
# native client; shortcuts and the Programs and Features entry exist; an
# installation over it (with /D= naming the same folder) keeps a changed
# setting; one while the control panel runs from the folder is refused before
# it changes anything; the silent uninstallation leaves no files, shortcuts or service but
# the settings key; a service name taken by another program refuses the
# installation before anything is written. The service and the product key
# are shared by the whole prefix: this test runs alone (RUN_SERIAL) and puts
# the key back as it found it.
#
#   tests/packaging/setup_test.sh WINE_RUN SETUP_EXE VERSION
set -uo pipefail
wine_run=$1 version=$3
setup="Z:$(realpath "$2" | tr / '\\')"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
wine() { "$wine_run" "$@"; }
prefix=$(sed -n 's/^export WINEPREFIX="${PRAVLEN_WINEPREFIX:-\(.*\)}"$/\1/p' "$wine_run")
prefix=${PRAVLEN_WINEPREFIX:-$prefix}
[ -d "$prefix/drive_c" ] || { echo "no Wine prefix at $prefix" >&2; exit 1; }

folder='C:\Program Files\Velquin\TFTP Server'
unix_folder="$prefix/drive_c/Program Files/Velquin/TFTP Server"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velquin TFTP Server"
service_key='HKLM\System\CurrentControlSet\Services\TFTPService'
settings_key='HKLM\Software\Velquin\Pravlen'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelquinTFTP'

# What an installation leaves in the prefix, removed before the test (after
# a run that was killed) and after it.
clear_prefix() {
  if wine reg query "$service_key" >/dev/null 2>&1; then
    wine sc stop TFTPService >/dev/null 2>&1
    wine sc delete TFTPService >/dev/null 2>&1
  fi
  wine reg delete "$uninstall_key" /f >/dev/null 2>&1
  rm -rf "$unix_folder" "$menu"
}
work=$(mktemp -d)
keep_alive=
cleanup() {
  clear_prefix
  wine reg delete "$settings_key" /f >/dev/null 2>&1
  [ -s "$work/saved.reg" ] && wine regedit /s "Z:${work//\//\\}\\saved.reg" >/dev/null 2>&1
  [ -n "$keep_alive" ] && { exec 7>&-; kill "$keep_alive" 2>/dev/null; wait "$keep_alive"; }
  rm -rf "$work"
}
trap cleanup EXIT

# Wine ends its service manager with the last ordinary process of the
# prefix: one waits here until the end.
mkfifo "$work/keep"
"$wine_run" --exec cmd /c pause <"$work/keep" >/dev/null 2>&1 &
keep_alive=$!
exec 7>"$work/keep"

clear_prefix
wine reg export "$settings_key" "Z:${work//\//\\}\\saved.reg" /y >/dev/null 2>&1
wine reg delete "$settings_key" /f >/dev/null 2>&1
port=
for _ in $(seq 1 50); do
  port=$((20000 + RANDOM % 40000))
  [ -z "$(ss -Hlun "sport = :$port")" ] && break
done
mkdir -p "$work/root" "$work/log"
reg_dir() { local d="Z:${work//\//\\}\\$1\\"; echo "${d//\\/\\\\}"; }
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n"Port"="%s"\r\n"RootDirectory"="%s"\r\n"LogDir"="%s"\r\n' \
  "$port" "$(reg_dir root)" "$(reg_dir log)" >"$work/test.reg"
wine regedit /s "Z:${work//\//\\}\\test.reg" >/dev/null

# Fetches `name` from the server with curl until it arrives (the service needs
# a moment to bind its port).
served() {
  local name=$1
  head -c 70000 /dev/urandom >"$work/root/$name"
  for _ in $(seq 1 150); do
    curl -s --max-time 2 -o "$work/$name.fetched" "tftp://127.0.0.1:$port/$name" &&
      cmp -s "$work/root/$name" "$work/$name.fetched" && return 0
    sleep 0.2
  done
  return 1
}
# The values of a key, one query for all (every Wine start costs time), and
# one value of them.
values() { wine reg query "$1" 2>/dev/null | tr -d '\r'; }
value() { awk -v n="$2" '$1 == n {$1 = $2 = ""; sub(/^  /, ""); print}' <<<"$1"; }

# ------------------------------------------------------ first installation
echo "== first installation"
wine "$setup" /S >"$work/setup.log" 2>&1 || fail "silent installation: exit code $?"
for file in Sevrock.exe Dornmac.exe velquin.exe uninstall.exe Languages/deutsch.ini Languages/russian.ini; do
  [ -f "$unix_folder/$file" ] || fail "not installed: $file"
done
service=$(values "$service_key")
[ "$(value "$service" ImagePath)" = "\"$folder\\Sevrock.exe\"" ] ||
  fail "service program: $(value "$service" ImagePath)"
served first.bin || fail "the installed service serves no file"
for link in "Control Panel" Uninstall; do
  [ -f "$menu/$link.lnk" ] || fail "no shortcut $link"
done
entry=$(values "$uninstall_key")
[ "$(value "$entry" DisplayName)" = "Velquin TFTP Server" ] || fail "uninstall entry name"
[ "$(value "$entry" DisplayVersion)" = "$version" ] || fail "uninstall entry version"
[ "$(value "$entry" Publisher)" = "Velquin" ] || fail "uninstall entry publisher"
[ "$(value "$entry" UninstallString)" = "\"$folder\\uninstall.exe\"" ] || fail "uninstall command"
[ "$(value "$entry" QuietUninstallString)" = "\"$folder\\uninstall.exe\" /S" ] ||
  fail "quiet uninstall command"
size=$(value "$entry" EstimatedSize)
[ -n "$size" ] && [ $((size)) -gt 100 ] || fail "estimated size: $size"

# ------------------------------------------- installation over the first
echo "== installation over the first"
wine reg add "$settings_key" /v Clients /d 25 /f >/dev/null
rm -f "$unix_folder/Dornmac.exe"
wine "$setup" /S /D=C:\\Program Files\\Velquin\\TFTP Server >"$work/setup.log" 2>&1 ||
  fail "second installation: exit code $?"
[ -f "$unix_folder/Dornmac.exe" ] || fail "the second installation did not replace the files"
[ "$(value "$(values "$settings_key")" Clients)" = 25 ] || fail "the changed setting was lost"
served second.bin || fail "the service serves no file after the second installation"

# ---------------------------------- a control panel running from the folder
echo "== control panel in use"
# Once the wrapper has become the Windows process, its command line is the
# program's Windows path.
"$wine_run" --exec "$folder\\Dornmac.exe" >/dev/null 2>&1 &
panel=$!
for _ in $(seq 1 100); do
  tr '\0' ' ' <"/proc/$panel/cmdline" 2>/dev/null | grep -q '^[A-Z]:.*Dornmac.exe' && break
  sleep 0.1
done
wine "$setup" /S >"$work/setup.log" 2>&1
rc=$?
kill "$panel" 2>/dev/null
for _ in $(seq 1 50); do kill -0 "$panel" 2>/dev/null || break; sleep 0.1; done
kill -9 "$panel" 2>/dev/null
wait "$panel" 2>/dev/null
[ $rc = 4 ] || fail "the control panel in use: exit code $rc, not 4"
[ "$(value "$(values "$service_key")" ImagePath)" = "\"$folder\\Sevrock.exe\"" ] ||
  fail "the service was touched although the files were in use"

# ------------------------------------------------------- uninstallation
echo "== uninstallation"
# The uninstaller runs on from a copy of itself: wait for its work.
wine "$folder\\uninstall.exe" /S >/dev/null 2>&1 || fail "silent uninstallation: exit code $?"
for _ in $(seq 1 150); do
  [ -e "$unix_folder" ] || wine reg query "$uninstall_key" >/dev/null 2>&1 || break
  sleep 0.2
done
[ -e "$unix_folder" ] && fail "files left: $(find "$unix_folder")"
[ -e "$menu" ] && fail "shortcuts left"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "uninstall entry left"
wine reg query "$service_key" >/dev/null 2>&1 && fail "service left"
[ "$(value "$(values "$settings_key")" Clients)" = 25 ] || fail "the settings key was not kept"

# ------------------------------------------ a service name that is taken
echo "== service name taken"
wine sc create TFTPService binpath= 'C:\windows\system32\notepad.exe' >/dev/null 2>&1
wine "$setup" /S >"$work/setup.log" 2>&1
rc=$?
[ $rc = 3 ] || fail "a taken service name: exit code $rc, not 3"
[ -e "$unix_folder" ] && fail "files written although the service name was taken"
[ "$(value "$(values "$service_key")" ImagePath)" = 'C:\windows\system32\notepad.exe' ] ||
  fail "the other program's service was changed"
wine sc delete TFTPService >/dev/null 2>&1

[ $failures = 0 ] && echo "setup program: all checks passed"
[ $failures = 0 ]
