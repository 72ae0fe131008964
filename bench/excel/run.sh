#!/bin/sh
# Times reading every cell of the first sheet of large generated workbooks, in
# one run: inflating the sheet part alone (unzip -p, the floor), the floor plus
# a bare expat pass, our reader (by field name, every value to text) and
# openpyxl in read-only mode. Prints CPU and wall seconds, peak memory and the
# ratios. Usage: bench/excel/run.sh [build directory, default build/release]
# Needs unzip, GNU time and python3-openpyxl (scripts/bootstrap --bench); the
# .xls case needs gnumeric's ssconvert and is skipped without it.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
bin=$build/bin
data=$build/bench-data
mkdir -p "$data"
export LC_ALL=${LC_ALL:-en_US.UTF-8}
python=/usr/bin/python3
sheet=xl/worksheets/sheet1.xml

for rows in 200000 1000000; do
    [ -f "$data/rows$rows.xlsx" ] || "$bin/excel-generate" "$data/rows$rows.xlsx" "$rows"
done
if command -v ssconvert >/dev/null && [ ! -f "$data/rows65000.xls" ]; then
    "$bin/excel-generate" "$data/rows65000.xlsx" 65000
    ssconvert --export-type=Gnumeric_Excel:excel_biff8 "$data/rows65000.xlsx" \
        "$data/rows65000.xls" 2>/dev/null
fi

# measure NAME COMMAND: prints "cpu wall peak-MB" for the command and its children.
measure() {
    out=$(mktemp)
    /usr/bin/time -f "%U %S %e %M" -o "$out" sh -c "$2" >/dev/null
    awk '{ printf "%.2f %.2f %.1f\n", $1 + $2, $3, $4 / 1024 }' "$out"
    rm -f "$out"
}

printf '%-16s %-22s %8s %8s %8s\n' workbook step cpu-s wall-s peak-MB
for file in "$data/rows200000.xlsx" "$data/rows1000000.xlsx"; do
    name=$(basename "$file")
    floor=$(measure floor "unzip -p '$file' $sheet")
    expat=$(measure expat "unzip -p '$file' $sheet | '$bin/excel-expat-floor'")
    ours=$(measure ours "'$bin/excel-read' '$file'")
    if $python -c 'import openpyxl' 2>/dev/null; then
        openpyxl=$(measure openpyxl "$python '$root/bench/excel/openpyxl_read.py' '$file'")
    else
        openpyxl="0 0 0"
    fi
    for step in floor expat ours openpyxl; do
        eval "set -- \$$step"
        printf '%-16s %-22s %8s %8s %8s\n' "$name" "$step" "$1" "$2" "$3"
    done
    set -- $expat; expatCpu=$1; expatWall=$2
    set -- $ours; oursCpu=$1; oursWall=$2
    set -- $openpyxl; pyCpu=$1
    awk -v e="$expatCpu" -v ew="$expatWall" -v o="$oursCpu" -v ow="$oursWall" -v p="$pyCpu" 'BEGIN {
        printf "  ours / (inflate + expat): %.2fx CPU, %.2fx wall\n", o / e, ow / ew
        if (p > 0) printf "  openpyxl / ours:          %.1fx CPU\n", p / o
    }'
done
if [ -f "$data/rows65000.xls" ]; then
    set -- $(measure ours "'$bin/excel-read' '$data/rows65000.xls'")
    printf '%-16s %-22s %8s %8s %8s\n' rows65000.xls ours "$1" "$2" "$3"
fi
