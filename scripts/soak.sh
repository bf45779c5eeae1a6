#!/usr/bin/env bash
# Soak: N flows one after the other against the peers of hbr-world, showing
# that memory, threads and descriptors stay flat, that idle CPU is near
# zero, and that LeakSanitizer (or valgrind) finds no leak. A measuring
# script, not a CI test.
#
# scripts/soak.sh [--flows N] [--leaks lsan|valgrind|none] [--idle S]
#                 [--build-dir DIR] [--asan-dir DIR] [--out DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
flows=100 leaks=lsan idle=60 build_dir=build asan_dir=build-asan out=
while [[ $# -gt 0 ]]; do
  case $1 in
    --flows) flows=$2; shift ;;
    --leaks) leaks=$2; shift ;;
    --idle) idle=$2; shift ;;
    --build-dir) build_dir=$2; shift ;;
    --asan-dir) asan_dir=$2; shift ;;
    --out) out=$2; shift ;;
    *) echo "usage: $0 [--flows N] [--leaks lsan|valgrind|none] [--idle S] [--build-dir DIR] [--asan-dir DIR]" \
            "[--out DIR]" >&2; exit 2 ;;
  esac
  shift
done
out=${out:-out/soak/$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
source "$root/scripts/lib/agent_world.sh"
trap 'hbr_world_stop_all' EXIT INT TERM

# The cycle: activation 1 (installs the next of two profiles), check,
# deactivation, activation 0, activation 2 (removes the profile again).
cycle=(ACTIVE CHECK DEACTIVE ACTIVE ACTIVE)
expected=(4 12 8 4 4)
scenario() { # file flows
  python3 - "$1" "$2" <<'PY'
import json, sys
path, flows = sys.argv[1], int(sys.argv[2])
entries = []
call = 0
for i in range(flows):
    k, step = divmod(i, 5)
    if step == 2:
        continue  # the deactivation asks no cloud
    call += 1
    op = {0: 1, 1: 0, 3: 0, 4: 2}[step]
    data = {"status": 1, "operation": op, "token": "{activationCode%d}" % (k % 2), "simMode": 0}
    entries.append({"function": "opercode", "call": call, "reply": {"code": 0, "message": "success", "data": data}})
json.dump({
    "modem": {"platform": "1", "seed": {"eid": "89049032000000000000000000000001", "profiles": [],
                                        "module": {"imei": "864000000000001"}}},
    "smdp": {"profiles": [{"matchingId": "SOAK-A", "iccid": "8901000000000000011"},
                          {"matchingId": "SOAK-B", "iccid": "8901000000000000012"}]},
    "cloud": {"script": entries},
    "bootstrap": {"apns": [{"apn": "iot.soak,IPV4,PAP,u,p,3", "iccid": ["890100000000000001"]}]},
}, open(path, "w"))
PY
}

final_line() {
  case $1 in
    ACTIVE) echo "IOTServiceActive send" ;;
    DEACTIVE) echo "[IOTServiceDeactiveFunc] SetIOTServiceActiveResultSubKey" ;;
    CHECK) echo "[IOTServiceCheckFunc] SetIOTServiceActiveResultSubKey" ;;
  esac
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$HBR_AGENT_PID/stat"; }
idle_cpu() { # seconds: percent of one core
  local t0 t1
  t0=$(cpu_ticks); sleep "$1"; t1=$(cpu_ticks)
  local pct
  pct=$(awk -v d=$((t1 - t0)) -v s="$1" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.2f", 100 * d / hz / s}')
  # Above 1 %: name the threads that spent it.
  if awk -v c="$pct" 'BEGIN {exit !(c > 1.0)}'; then threads_cpu >&2; fi
  echo "$pct"
}
threads_cpu() {
  local t
  for t in /proc/"$HBR_AGENT_PID"/task/*; do
    awk -v n="$(cat "$t/comm")" '{printf "  thread %s (%s): %d ticks\n", $1, n, $14 + $15}' "$t/stat"
  done
}
sample() { # flow: one row
  local s=/proc/$HBR_AGENT_PID/status
  printf '%5d %10s %10s %8s %6s\n' "$1" "$(awk '/VmRSS/ {print $2}' "$s")" "$(awk '/VmHWM/ {print $2}' "$s")" \
    "$(awk '/Threads/ {print $2}' "$s")" "$(ls "/proc/$HBR_AGENT_PID/fd" | wc -l)"
}

# run_flows BUILD EXE LABEL WRAPPER: the world, the agent, N flows.
run_flows() {
  local build=$1 exe=$2 label=$3
  HBR_BUILD_DIR=$(cd "$build" && pwd)
  export HBR_BUILD_DIR
  scenario "$out/$label-scenario.json" "$flows"
  hbr_world_start "$out/$label-scenario.json" "$out/$label/world" || { echo "the peers did not start"; exit 1; }
  HBR_AGENT_WRAPPER=${4:-} hbr_agent_start "$out/$label/agent" 1000 "$exe"
  hbr_wait_log "TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)" 1 120 || { echo "no AT channel"; exit 1; }
  local i word want got
  for ((i = 0; i < flows; i++)); do
    word=${cycle[i % 5]} want=${expected[i % 5]}
    local before
    before=$(hbr_log_count "$(final_line "$word")")
    hbr_ctl notify "$word" > /dev/null
    hbr_wait_log "$(final_line "$word")" $((before + 1)) 300 || { echo "flow $((i + 1)) ($word) did not end"; exit 1; }
    sleep 0.2
    got=$(hbr_state)
    if [[ $got != "$want" ]]; then
      echo "flow $((i + 1)) ($word): state $got, expected $want"; tail -n 30 "$HBR_AGENT_LOG"; exit 1
    fi
    [[ $label != normal ]] || sample $((i + 1)) >> "$out/samples.txt"
  done
}

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {print $2 " kB"}' /proc/meminfo), $(uname -sr)"
: > "$out/samples.txt"
run_flows "$build_dir" "$build_dir/bin/hbr-agent" normal
# Idle CPU with the channel up (before more flows would be the same state),
# after the flows, and with the module's interface gone (timer ticking).
cpu_after=$(idle_cpu "$idle")
hbr_ctl remove > /dev/null
sleep 3
cpu_removed=$(idle_cpu "$idle")
hbr_ctl arrive > /dev/null
hbr_agent_stop || { echo "hbr-agent did not exit 0"; exit 1; }
hbr_world_stop_all

# The first idle point: a fresh agent with the channel up, before any flow.
HBR_BUILD_DIR=$(cd "$build_dir" && pwd)
hbr_world_start "$out/normal-scenario.json" "$out/idle/world" > /dev/null
hbr_agent_start "$out/idle/agent" 1000
hbr_wait_log "TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)" 1 120
sleep 2
cpu_before=$(idle_cpu "$idle")
hbr_agent_stop || true
hbr_world_stop_all

echo
echo " flow   VmRSS kB   VmHWM kB  threads    fds"
sed -n '1p;10p' "$out/samples.txt"
tail -n 1 "$out/samples.txt"
rss10=$(awk 'NR==10 {print $2}' "$out/samples.txt"); rss_last=$(awk 'END {print $2}' "$out/samples.txt")
thr1=$(awk 'NR==1 {print $4}' "$out/samples.txt"); thr_last=$(awk 'END {print $4}' "$out/samples.txt")
fd1=$(awk 'NR==1 {print $5}' "$out/samples.txt"); fd_last=$(awk 'END {print $5}' "$out/samples.txt")
echo
echo "idle CPU (% of one core over $idle s): channel up before the flows $cpu_before, after them $cpu_after," \
  "interface removed $cpu_removed"
verdict=0
check() { # ok? text
  if [[ $1 == 1 ]]; then echo "PASS $2"; else echo "FAIL $2"; verdict=1; fi
}
check $([[ $((rss_last - ${rss10:-$rss_last})) -le 1024 ]] && echo 1 || echo 0) \
  "RSS after flow $flows ($rss_last kB) within 1 MiB of RSS after flow 10 (${rss10:-?} kB)"
check $([[ $thr_last -le $thr1 ]] && echo 1 || echo 0) "threads after flow $flows ($thr_last) <= after flow 1 ($thr1)"
check $([[ $fd_last -le $fd1 ]] && echo 1 || echo 0) "descriptors after flow $flows ($fd_last) <= after flow 1 ($fd1)"
for c in "$cpu_before" "$cpu_after" "$cpu_removed"; do
  check $(awk -v c="$c" 'BEGIN {print (c <= 1.0) ? 1 : 0}') "idle CPU $c % <= 1 %"
done

case $leaks in
  lsan)
    [[ -x $asan_dir/bin/hbr-agent ]] || { echo "no $asan_dir/bin/hbr-agent (scripts/test.sh --sanitize builds it)"; exit 1; }
    ASAN_OPTIONS=detect_leaks=1 run_flows "$asan_dir" "$asan_dir/bin/hbr-agent" lsan
    rc=0; hbr_agent_stop || rc=$?
    hbr_world_stop_all
    report=$(grep -c "LeakSanitizer" "$out/lsan/agent/agent.stderr" || true)
    check $([[ $rc == 0 && $report == 0 ]] && echo 1 || echo 0) \
      "LeakSanitizer after $flows flows: exit $rc, $report reports ($out/lsan/agent/agent.stderr)"
    ;;
  valgrind)
    command -v valgrind > /dev/null || { sudo -n true 2>/dev/null && s=sudo || s=; $s apt-get install -y valgrind > /dev/null; }
    run_flows "$build_dir" "$build_dir/bin/hbr-agent" valgrind \
      "valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect --log-file=$out/valgrind.log"
    rc=0; hbr_agent_stop || rc=$?
    hbr_world_stop_all
    summary=$(grep -E "ERROR SUMMARY|definitely lost|indirectly lost" "$out/valgrind.log" | sed 's/^==[0-9]*== *//')
    echo "$summary"
    ok=$(grep -q "ERROR SUMMARY: 0 errors" "$out/valgrind.log" &&
         ! grep -E "(definitely|indirectly) lost: [1-9]" "$out/valgrind.log" > /dev/null && echo 1 || echo 0)
    check "$ok" "valgrind after $flows flows: no errors, nothing definitely or indirectly lost"
    ;;
  none) ;;
esac
[[ $verdict == 0 ]] && echo "soak: all verdicts pass" || echo "soak: FAILED"
exit $verdict
