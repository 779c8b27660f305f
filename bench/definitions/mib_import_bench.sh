#!/usr/bin/env bash
# The import of a vendor's whole SMIv1 folder (../shared/mibs/cisco-v1-mibs.tar.xz)
# by vardel-mib2ini, beside Net-SNMP's snmptranslate -m ALL over the same
# folder (the parse that a tool on this parser cannot beat) and SNMPTT's
# snmpttconvertmib over the same files. snmpttconvertmib runs snmptranslate
# for every notification: it is timed over a sample of the files and its time
# extrapolated by their share of the notifications.
# Run by hand: bench/definitions/mib_import_bench.sh [BUILD-DIR] [SAMPLE-FILES]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
sample=${2:-40}
mibs=$here/../shared/mibs
tool=$build/bin/vardel-mib2ini
[ -x "$tool" ] || { echo "no $tool: build first" >&2; exit 1; }
[ -f "$mibs/cisco-v1-mibs.tar.xz" ] || { echo "no $mibs/cisco-v1-mibs.tar.xz" >&2; exit 1; }
command -v snmpttconvertmib >/dev/null || { echo "no snmpttconvertmib (Debian package snmptt)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/v1" "$work/program" "$work/snmptt"
tar -xJf "$mibs/cisco-v1-mibs.tar.xz" -C "$work/v1"
cp "$here"/vardel/resources/data/VDTrap.ini "$work/program/"
files=$(find "$work/v1" -type f | wc -l)
defined=$(cat "$work/v1"/* | grep -cE '^[a-z][A-Za-z0-9-]*[[:space:]]+TRAP-TYPE' || true)
echo "folder: $files files, $defined lines opening a TRAP-TYPE"

measure() { # label, command...
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || true
    read -r seconds kb < <(tail -n 1 "$work/time")
    printf '%-18s %7.2f s  %7d KB peak\n' "$label" "$seconds" "$kb"
}

measure vardel-mib2ini "$tool" -M "$mibs/ietf" -o "$work/program" "$work/v1"
ours=$(grep -c '^written\|^kept\|^duplicate' "$work/out" || true)
refused=$(grep -c '^refused' "$work/out" || true)
duplicates=$(grep -c '^duplicate' "$work/out" || true)
ours_seconds=$seconds

measure snmptranslate snmptranslate -M "$work/v1:$mibs/ietf" -m ALL -Tz
translate_seconds=$seconds

# snmpttconvertmib over the first SAMPLE files that define traps.
mapfile -t withTraps < <(grep -l 'TRAP-TYPE' "$work/v1"/* | sort | head -n "$sample")
sampleTraps=0
start=$(date +%s.%N)
for f in "${withTraps[@]}"; do
    MIBDIRS="$work/v1:$mibs/ietf" MIBS=ALL snmpttconvertmib --in="$f" --out="$work/snmptt/snmptt.conf" \
        >/dev/null 2>&1 || true
done
end=$(date +%s.%N)
peer=$(grep -c '^EVENT' "$work/snmptt/snmptt.conf" 2>/dev/null || echo 0)
mkdir "$work/program-sample"
"$tool" -M "$work/v1" -M "$mibs/ietf" -o "$work/program-sample" "${withTraps[@]}" >"$work/sample-out" 2>&1 || true
sampleOurs=$(grep -c '^written\|^kept\|^duplicate' "$work/sample-out" || true)
peer_seconds=$(echo "$end - $start" | bc)
peer_total=$(echo "scale=1; $peer_seconds * $ours / $((peer > 0 ? peer : 1))" | bc)
printf '%-18s %7.2f s over %d files: %d events (vardel-mib2ini: %d); extrapolated to %d traps: %s s\n' \
    snmpttconvertmib "$peer_seconds" "${#withTraps[@]}" "$peer" "$sampleOurs" "$ours" "$peer_total"

echo "traps: vardel-mib2ini $ours ($duplicates keys given twice), $refused files refused"
printf 'ratios: %.2fx snmptranslate, %.0fx faster than snmpttconvertmib\n' \
    "$(echo "$ours_seconds / $translate_seconds" | bc -l)" "$(echo "$peer_total / $ours_seconds" | bc -l)"
grep '^refused' "$work/out" | cut -c1-200 || true
