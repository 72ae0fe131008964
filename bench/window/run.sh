#!/bin/sh
# The window against the command line on the same import: one generated store
# (every second address already there) copied twice, one workbook, the same
# mappings, update and group options; ruvelo-import runs on one copy and the
# real main window (offscreen) on the other, one after the other in this run.
# Prints both times, their ratio, both peaks of memory and the counting pass,
# and checks that both front ends logged the same rows.
# Usage: bench/window/run.sh [build directory, default build/release] [rows...]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
shift $(( $# > 0 ? 1 : 0 ))
sizes=${*:-100000}
bin=$build/bin
data=$build/bench-data/window
mkdir -p "$data"

for rows in $sizes; do
    seed=$data/seed$rows
    book=$data/rows$rows.xlsx
    rm -rf "$seed" "$book" "$data/cli$rows" "$data/window$rows"
    "$bin/import-generate" "$seed" "$book" "$rows"
    cp -a "$seed" "$data/cli$rows"
    cp -a "$seed" "$data/window$rows"

    count=$(QT_QPA_PLATFORM=offscreen "$bin/window-bench" --count "$book")

    timing=$(mktemp)
    RUVELO_PASSWORD=bench /usr/bin/time -f "%e %M" -o "$timing" "$bin/ruvelo-import" \
        --workbook "$book" --email-column Email \
        --map Company=COMPANY --map Contact=CONTACT --map Phone=PHONE1 --map City=CITY \
        --map State=STATE --map Zip=ZIP --map Country=COUNTRY --map Title=TITLE \
        --map Since=KEY1 --map Score=KEY2 --map Remark=NOTES \
        --update --group "Bench $rows" \
        --sysdir "$data/cli$rows" --golddir GoldMine: --commondir Common: --user MASTER \
        > "$data/cli$rows.log"
    set -- $(cat "$timing")
    cliSeconds=$1
    cliPeak=$2

    QT_QPA_PLATFORM=offscreen /usr/bin/time -f "%e %M" -o "$timing" "$bin/window-bench" \
        "$data/window$rows" "$book" "Bench $rows" "$data/window$rows.log" \
        > "$data/window$rows.out"
    set -- $(cat "$timing")
    rm -f "$timing"
    windowSeconds=$1
    windowPeak=$2
    inRun=$(awk '$1 == "window" && $2 == "run" { print $3 }' "$data/window$rows.out")

    # Both front ends must have done the same: the same log lines, row by row.
    tr -d '\r' < "$data/window$rows.log" > "$data/window$rows.lf"
    head -n -1 "$data/cli$rows.log" > "$data/cli$rows.rows"
    if cmp -s "$data/window$rows.lf" "$data/cli$rows.rows"; then same=yes; else same=NO; fi

    echo "$count"
    tail -n 1 "$data/cli$rows.log"
    grep "window memory" "$data/window$rows.out"
    tail -n 1 "$data/window$rows.out"
    awk -v n="$rows" -v c="$cliSeconds" -v w="$windowSeconds" -v r="$inRun" \
        -v ck="$cliPeak" -v wk="$windowPeak" -v same="$same" 'BEGIN {
        printf "%d rows: command line %.1f s (%.0f rows/s, peak %.1f MB); window %.1f s, of which the run %.1f s (%.0f rows/s, peak %.1f MB); ratio %.2f; same log: %s\n",
            n, c, n / c, ck / 1024, w, r, n / w, wk / 1024, w / c, same
    }'
done
