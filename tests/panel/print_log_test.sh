#!/bin/bash
# Prints a log from the control panel's viewer on a real printer and reads
# the result back: a CUPS server with a PDF printer of this run's own (Wine
# prints through CUPS), the viewer's print button under Wine in
# panel_live_tests, and pdftotext on the PDF files.
#
#   print_log_test.sh WINE_RUN PANEL_LIVE_TESTS_EXE
#
# The log has one line more than a page holds. Expected: one copy gives two
# pages, each under its header "tftp000101.log  --  N", the lines in order
# with the last one alone on page 2; two collated copies give pages 1 2 1 2,
# two uncollated copies 1 1 2 2. Exits 77 (skipped) with the reason where
# CUPS cannot work here (scripts/pdf-printer: packages missing, not root).
set -uo pipefail
wine_run=$1
tests_exe=$2

fail() { echo "FAILED: $*"; exit 1; }

for tool in pdftotext pdfinfo; do
  command -v $tool >/dev/null || { echo "SKIPPED: $tool is missing (poppler-utils)"; exit 77; }
done

# A printer of this run's own, with its own output folder.
pdf_printer=$(dirname "$0")/../../scripts/pdf-printer
printer=velquin-print-$$-$RANDOM
out=$(mktemp -d /tmp/velquin-print.XXXXXX)
chmod 755 "$out"
cleanup() {
  "$pdf_printer" remove "$printer"
  if [ -n "${PRAVLEN_KEEP_PDF:-}" ]; then cp "$out"/pdf/*.pdf "$PRAVLEN_KEEP_PDF"/; fi
  rm -rf "$out"
}
trap cleanup EXIT
"$pdf_printer" add "$printer" "$out/pdf"
case $? in
  0) ;;
  77) echo "SKIPPED: CUPS cannot print here (above)"; exit 77 ;;
  *) fail "no PDF printer" ;;
esac

PRAVLEN_TEST_PRINTER=$printer PRAVLEN_TEST_PRINT_DIR="Z:${out//\//\\}" \
  "$wine_run" "$tests_exe" --gtest_filter=LogPrintTest.* || fail "the print run failed"

# cups-pdf writes job_<id>-<title>.pdf once the job is through.
for _ in $(seq 1 600); do
  [ "$(ls "$out/pdf" | grep -c '\.pdf$')" -ge 3 ] && [ -z "$(lpstat -o "$printer" 2>/dev/null)" ] &&
    break
  sleep 0.1
done
mapfile -t pdfs < <(ls "$out/pdf" | grep '\.pdf$' | sort -t_ -k2 -n)
[ ${#pdfs[@]} = 3 ] || fail "expected 3 PDF files, found: ${pdfs[*]:-none}"

lines=$(grep -c . "$out/log.txt")
per_page=$((lines - 1))
line() { printf 'line-%04d' "$1"; }

# The text of page N of a PDF, one line of print a line.
page_text() { pdftotext -layout -f "$2" -l "$2" "$out/pdf/$1" - 2>/dev/null | sed 's/[[:space:]]*$//'; }

# Checks that page $2 of $1 is printed page $3: its header, then its lines
# in order and nothing else.
check_page() {
  local pdf=$1 at=$2 page=$3 text first last
  text=$(page_text "$pdf" "$at" | grep -v '^$')
  # pdftotext gives the blanks by their width: any run of them.
  grep -Eq "^tftp000101\.log +-- +$page\$" <<<"$(head -n1 <<<"$text")" ||
    fail "$pdf page $at: header is '$(head -n1 <<<"$text")'"
  if [ "$page" = 1 ]; then first=1 last=$per_page; else first=$lines last=$lines; fi
  local body expected
  body=$(tail -n +2 <<<"$text" | grep -o 'line-[0-9]*')
  expected=$(for ((i = first; i <= last; i++)); do line $i; echo; done)
  [ "$body" = "$expected" ] || fail "$pdf page $at: lines $(head -n1 <<<"$body")..$(tail -n1 <<<"$body"), expected $(line $first)..$(line $last)"
}

check_job() {  # PDF PAGES...
  local pdf=$1
  shift
  local count
  count=$(pdfinfo "$out/pdf/$pdf" | awk '/^Pages:/ {print $2}')
  [ "$count" = $# ] || fail "$pdf has $count pages, expected $#"
  local at=1
  for page in "$@"; do
    check_page "$pdf" $at "$page"
    at=$((at + 1))
  done
  echo "$pdf: pages $*"
}

check_job "${pdfs[0]}" 1 2
check_job "${pdfs[1]}" 1 2 1 2
check_job "${pdfs[2]}" 1 1 2 2
echo "printed $lines lines at $per_page a page, as expected"
