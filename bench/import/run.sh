#!/bin/sh
# Imports generated workbooks with ruvelo-import (matching on, half the
# addresses already in the store, updates and a group) and compares rows per
# second with the direct-SQLite floor of the GoldMine stand-in, measured in the
# same run: one lookup plus one write per row. Prints peak memory too.
# Then the same import through gm7bridge against in process, side by side on
# copies of the same seeded store, both driven by ruvelo-import (RUVELO_GM7BRIDGE
# chooses), and the ratio of their rates.
# Usage: bench/import/run.sh [build directory, default build/release] [rows...]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
shift $(( $# > 0 ? 1 : 0 ))
sizes=${*:-100000}
bin=$build/bin
data=$build/bench-data/import
mkdir -p "$data"

for rows in $sizes; do
    store=$data/store$rows
    book=$data/rows$rows.xlsx
    rm -rf "$store" "$book" "$store-seeded" "$store-inprocess" "$store-bridge"
    "$bin/import-generate" "$store" "$book" "$rows"
    cp -a "$store" "$store-seeded"

    # The floor: the stand-in's direct-SQLite side at the same size.
    floorRun=$(mktemp -d)
    "$bin/gm7s32-bench" "$rows" "$floorRun" > "$data/floor$rows.txt"
    rm -rf "$floorRun"
    directWrites=$(awk '$1 == "writes" { print $3 }' "$data/floor$rows.txt")
    directLookups=$(awk '$1 == "lookups" { print $3 }' "$data/floor$rows.txt")

    # The check of the same import first: it reads and looks up every row as
    # the run will, and writes nothing, so the run then starts from the same store.
    checkTiming=$(mktemp)
    RUVELO_PASSWORD=bench /usr/bin/time -f "%e %M" -o "$checkTiming" "$bin/ruvelo-import" \
        --workbook "$book" --email-column Email \
        --map Company=COMPANY --map Contact=CONTACT --map Phone=PHONE1 --map City=CITY \
        --map State=STATE --map Zip=ZIP --map Country=COUNTRY --map Title=TITLE \
        --map Since=KEY1 --map Score=KEY2 --map Remark=NOTES \
        --update --group "Bench $rows" --dry-run \
        --sysdir "$store" --golddir GoldMine: --commondir Common: --user MASTER \
        > "$data/check$rows.log" || true
    checkSeconds=$(cut -d' ' -f1 "$checkTiming")
    rm -f "$checkTiming"

    timing=$(mktemp)
    RUVELO_PASSWORD=bench /usr/bin/time -f "%e %M" -o "$timing" "$bin/ruvelo-import" \
        --workbook "$book" --email-column Email \
        --map Company=COMPANY --map Contact=CONTACT --map Phone=PHONE1 --map City=CITY \
        --map State=STATE --map Zip=ZIP --map Country=COUNTRY --map Title=TITLE \
        --map Since=KEY1 --map Score=KEY2 --map Remark=NOTES \
        --update --group "Bench $rows" \
        --sysdir "$store" --golddir GoldMine: --commondir Common: --user MASTER \
        > "$data/import$rows.log"
    set -- $(cat "$timing")
    rm -f "$timing"
    seconds=$1
    peak=$2
    tail -n 1 "$data/import$rows.log"
    awk -v n="$rows" -v s="$seconds" -v kb="$peak" -v w="$directWrites" -v l="$directLookups" 'BEGIN {
        floor = 1 / (1 / w + 1 / l)
        printf "%d rows: %.1f s, %.0f rows/s; floor %.0f rows/s (%.0f writes/s, %.0f lookups/s); ratio %.0f%%; peak %.1f MB\n",
            n, s, n / s, floor, w, l, 100 * (n / s) / floor, kb / 1024
    }'
    awk -v n="$rows" -v s="$seconds" -v c="$checkSeconds" 'BEGIN {
        printf "%d rows: check %.1f s, run %.1f s: the check is %.1f times as fast\n", n, c, s, s / c
    }'

    # In process and through the bridge, the same engine and the same work,
    # taking turns on fresh copies of the seeded store; the best of
    # BRIDGE_ROUNDS (default 3) turns each, since the machine may be shared.
    # CPU time counts both processes of a bridged run.
    best_inprocess=""
    best_bridge=""
    for round in $(seq "${BRIDGE_ROUNDS:-3}"); do
        for api in inprocess bridge; do
            rm -rf "$store-$api"
            cp -a "$store-seeded" "$store-$api"
            bridge=""
            [ "$api" = bridge ] && bridge="$bin/gm7bridge"
            timing=$(mktemp)
            RUVELO_PASSWORD=bench RUVELO_GM7BRIDGE="$bridge" /usr/bin/time -f "%e %U %S" -o "$timing" \
                "$bin/ruvelo-import" --workbook "$book" --email-column Email \
                --map Company=COMPANY --map Contact=CONTACT --map Phone=PHONE1 --map City=CITY \
                --map State=STATE --map Zip=ZIP --map Country=COUNTRY --map Title=TITLE \
                --map Since=KEY1 --map Score=KEY2 --map Remark=NOTES \
                --update --group "Bench $rows" \
                --sysdir "$store-$api" --golddir GoldMine: --commondir Common: --user MASTER \
                > "$data/driver-$api$rows.log"
            set -- $(cat "$timing")
            rm -f "$timing"
            cpu=$(awk -v u="$2" -v s="$3" 'BEGIN { print u + s }')
            if [ "$api" = bridge ]; then
                if [ -z "$best_bridge" ] || awk -v a="$1" -v b="$best_bridge" 'BEGIN { exit !(a < b) }'; then
                    best_bridge=$1; cpu_bridge=$cpu
                fi
            else
                if [ -z "$best_inprocess" ] || awk -v a="$1" -v b="$best_inprocess" 'BEGIN { exit !(a < b) }'; then
                    best_inprocess=$1; cpu_inprocess=$cpu
                fi
            fi
        done
    done
    if ! cmp -s "$data/driver-inprocess$rows.log" "$data/driver-bridge$rows.log"; then
        echo "the import through the bridge logged something else than in process" >&2
        exit 1
    fi
    awk -v n="$rows" -v direct="$best_inprocess" -v bridged="$best_bridge" \
        -v cd="$cpu_inprocess" -v cb="$cpu_bridge" 'BEGIN {
        printf "%d rows through gm7bridge: %.1f s, %.0f rows/s; in process %.1f s, %.0f rows/s; bridge keeps %.0f%% of the in-process rate (CPU %.1f s against %.1f s)\n",
            n, bridged, n / bridged, direct, n / direct, 100 * direct / bridged, cb, cd
    }'
done
