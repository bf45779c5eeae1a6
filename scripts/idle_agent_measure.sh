#!/usr/bin/env bash
# Measures an idle hbr-agent: starts a copy on a throw-away registry (its AT
# channel stays down, so only its channel timer ticks; no device-service
# socket either), lets it settle, and over a window (default 20 s) reports
# the voluntary context switches of all its threads
# (/proc/<pid>/task/*/status), its CPU seconds and its RSS.
#
#   bash scripts/idle_agent_measure.sh [path/to/hbr-agent] [seconds]
set -euo pipefail

agent=${1:-build/bin/hbr-agent}
window=${2:-20}
[ -x "$agent" ] || { echo "no agent at $agent (build it first)" >&2; exit 2; }

work=$(mktemp -d /tmp/hbr-idle-XXXXXX)
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/registry" "$work/bin"
cp "$agent" "$work/bin/hbr-agent"
# No module: the device-service socket and its folder are absent.
HBR_REGISTRY_ROOT="$work/registry" HBR_MBN_SOCKET="$work/run/mbn.sock" \
    "$work/bin/hbr-agent" 2>"$work/stderr" &
pid=$!
sleep 3 # start-up done, the first channel ticks passed

switches() {
    local total=0 n
    for status in /proc/"$pid"/task/*/status; do
        n=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$status" 2>/dev/null || echo 0)
        total=$((total + ${n:-0}))
    done
    echo "$total"
}
cpu_ticks() { awk '{print $14 + $15}' /proc/"$pid"/stat; }

s0=$(switches); c0=$(cpu_ticks)
sleep "$window"
s1=$(switches); c1=$(cpu_ticks)
threads=$(ls /proc/"$pid"/task | wc -l)
rss=$(awk '/^VmRSS/ {print $2, $3}' /proc/"$pid"/status)
hz=$(getconf CLK_TCK)

awk -v s="$((s1 - s0))" -v w="$window" -v c="$((c1 - c0))" -v hz="$hz" -v t="$threads" -v rss="$rss" 'BEGIN {
    printf "window_s %d\nthreads %d\nvoluntary_switches %d\nswitches_per_s %.2f\ncpu_s %.2f\nrss %s\n",
           w, t, s, s / w, c / hz, rss
}'
