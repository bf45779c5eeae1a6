#!/usr/bin/env bash
# Command 1: shows one activation end to end on loopback. hbr-agent runs
# against the simulated module (hbr-modem-sim, its eUICC holding an enabled
# provisioning profile), the test SM-DP+, the bootstrap and cloud servers
# and the NTP server, all started by tools/world/hbr-world; the module asks
# for an activation and the script prints each step as it happens, checks
# the end state and stops everything.
#
# scripts/demo.sh [--no-setup] [--no-build] [--build-dir DIR] [--out DIR]
#                 [--platform 0|1] [--channel mbn|com] [--divisor N]
#                 [--timeout S]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

setup=1 build=1 build_dir=build out= platform=0 channel=mbn divisor=20 timeout=120
while [[ $# -gt 0 ]]; do
  case $1 in
    --no-setup) setup=0 ;;
    --no-build) build=0 ;;
    --build-dir) build_dir=$2; shift ;;
    --out) out=$2; shift ;;
    --platform) platform=$2; shift ;;
    --channel) channel=$2; shift ;;
    --divisor) divisor=$2; shift ;;
    --timeout) timeout=$2; shift ;;
    *) echo "usage: $0 [--no-setup] [--no-build] [--build-dir DIR] [--out DIR] [--platform 0|1]" \
            "[--channel mbn|com] [--divisor N] [--timeout S]" >&2; exit 2 ;;
  esac
  shift
done
[[ $platform == 0 || $platform == 1 ]] || { echo "--platform takes 0 or 1" >&2; exit 2; }
[[ $channel == mbn || $channel == com ]] || { echo "--channel takes mbn or com" >&2; exit 2; }
out=${out:-out/demo/$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "$out/world" "$out/agent" # a fresh run
HBR_BUILD_DIR=$(cd "$(dirname "$build_dir")" && pwd)/$(basename "$build_dir")
export HBR_BUILD_DIR
source "$root/scripts/lib/agent_world.sh"

step=
fail() {
  echo
  echo "FAILED at $step: $*"
  if [[ -n ${HBR_AGENT_LOG:-} && -f $HBR_AGENT_LOG ]]; then
    echo "---- last 30 lines of $HBR_AGENT_LOG"
    tail -n 30 "$HBR_AGENT_LOG"
  fi
  hbr_world_stop_all
  exit 1
}
trap 'hbr_world_stop_all' EXIT
trap 'step="interrupted"; fail "stopped by a signal"' INT TERM

dots() { # text: pads to a fixed width with dots
  local text=$1
  printf '%s ' "$text"
  printf '%*s' $((60 - ${#text})) '' | tr ' ' '.'
}
short() { # an ICCID as 8901...0002 (without the padding F)
  local t=${1%F}
  [[ ${#t} -gt 8 ]] && echo "${t:0:4}...${t: -4}" || echo "$t"
}

# 1. Setup and build.
step="[1/6] Setup and build"
start=$SECONDS
if [[ $setup == 1 ]]; then
  bash scripts/setup.sh > "$out/setup.log" 2>&1 || { cat "$out/setup.log"; fail "scripts/setup.sh"; }
fi
if [[ $build == 1 ]]; then
  { cmake -S . -B "$HBR_BUILD_DIR" -DHBR_BUILD_TESTS=ON && cmake --build "$HBR_BUILD_DIR" -j"$(nproc)"; } \
    > "$out/build.log" 2>&1 || { tail -n 40 "$out/build.log"; fail "the build"; }
fi
[[ -x $HBR_BUILD_DIR/bin/hbr-agent ]] || fail "no hbr-agent in $HBR_BUILD_DIR/bin"
if [[ $setup == 0 && $build == 0 ]]; then
  echo "$(dots "$step") skipped"
else
  echo "$(dots "$step") ok ($((SECONDS - start)) s)"
fi

# 2-3. The peers.
step="[2/6] Module"
scenario=$out/scenario.json
python3 - "$root/scripts/scenarios/demo.json" "$platform" "$channel" > "$scenario" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
s["modem"]["platform"] = sys.argv[2]
s["modem"]["channel"] = sys.argv[3]
print(json.dumps(s, indent=1))
PY
hbr_world_start "$scenario" "$out/world" || fail "the peers did not start (see $out/world)"
euicc=$(hbr_ctl euicc) || fail "no answer from the simulated module"
first=$(sed -n 's/.*profiles=\([^ ]*\).*/\1/p' <<< "$euicc")
first_iccid=${first%%:*}
chan_text=$([[ $channel == mbn ]] && echo "device service" || echo "COM port")
eid=$(sed -n 's/.*eid=\([^ ]*\).*/\1/p' <<< "$euicc")
echo "$step: platform $platform, $chan_text; eUICC $(short "$eid"): profile $(short "$first_iccid") (provisioning, ${first##*:})"
step="[3/6] Peers"
bootstrap=${HBR_BOOTSTRAP_URL#https://}
echo "$(dots "[3/6] SM-DP+ localhost:$HBR_SMDP_PORT, bootstrap ${bootstrap%%/*}, NTP $HBR_NTP_SERVER") ok"

# 4. The agent.
step="[4/6] hbr-agent"
hbr_agent_start "$out/agent" "$divisor"
hbr_wait_log "DestroyAtChannelTimer" 1 "$timeout" || fail "the AT channel did not come up"
if [[ $platform == 1 ]]; then
  hbr_wait_log "TriggerAgent2ModuleSyncFlow(0-DPD_DONE_STATUS)" 1 "$timeout" || fail "no sync answer"
fi
echo "[4/6] hbr-agent up (registry $HBR_REGISTRY_ROOT, sleeps /$divisor), AT channel up"

# 5. The activation.
step="[5/6] activation"
hbr_ctl notify ACTIVE > /dev/null || fail "the module could not send the notification"
echo "[5/6] \"+GTPCTPOC: ACTIVE\""
new_iccid=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["smdp"]["profiles"][0]["iccid"])' "$scenario")
deadline=$((SECONDS + timeout))
shown=()
show() { # key text: prints text once, when first seen
  local key=$1
  [[ " ${shown[*]} " == *" $key "* ]] && return 0
  shown+=("$key")
  printf '      %s\n' "$2"
}
while :; do
  [[ $SECONDS -lt $deadline ]] || fail "time-out after $timeout s"
  kill -0 "$HBR_AGENT_PID" 2>/dev/null || fail "hbr-agent ended"
  if [[ $(hbr_log_count "SetModuleSimSlot SIM2 fail") -gt 0 ]]; then fail "the module refused the switch"; fi
  finished=0
  if [[ $(hbr_log_count "IOTServiceActive send") -gt 0 ]] && grep -q 'GTPCTPOC=1,' "$HBR_MODEM_RECORDS"; then
    finished=1
  fi
  [[ $(hbr_log_count "preActiveResult(") -gt 0 ]] && [[ $(hbr_log_count "TryCloseeSIMLogicalChannel(5-") -gt 0 ||
     $(hbr_log_count "GetModuleSimSlot slotId:") -gt 0 && $platform == 1 ]] &&
    show state2 "state 2   module moved to the eSIM slot"
  if [[ $(hbr_log_count "GeteSIMProfileOperCodeFromHbrServer success") -gt 0 ]]; then
    code=$(grep -o 'activecode is [^ ]*' "$HBR_AGENT_LOG" | tail -n 1 | cut -d' ' -f3)
    op=$(grep -o 'operation is [^ ]*' "$HBR_AGENT_LOG" | tail -n 1 | sed 's/.*-//')
    show cloud "cloud     bootstrap ok; operation $op, activation code $code"
  fi
  [[ $(hbr_log_count "Nb of installed profile(s) during operation : 1") -gt 0 ]] &&
    show download "eUICC     profile $(short "$new_iccid") downloaded and installed"
  if [[ $(hbr_log_count "lpaDeleteProfileByIccid return") -gt 0 &&
        ( $finished == 1 || $(hbr_log_count "SyncDeviceProfileStatusToHbrServer success") -ge 2 ) ]]; then
    show removed "eUICC     old profile $(short "$first_iccid") disabled and deleted; cloud told (type 2, type 1)"
  fi
  if [[ $(grep -c 'GTPCTPOC=3' "$HBR_MODEM_RECORDS" 2>/dev/null || true) -gt 0 ]]; then
    apn=$(grep -o '"text":"AT+GTPCTPOC=4,\\"[^\\]*' "$HBR_MODEM_RECORDS" | head -n 1 | sed 's/.*=4,\\"//')
    now=$(hbr_ctl euicc | sed -n 's/.*prov_iccid=\([^ ]*\).*/\1/p')
    show apn "module    APN \"${apn:-none}\" (attach, internet); profile list sync: the simulated module enabled $(short "$now")"
  fi
  if [[ $finished == 1 ]]; then
    report=$(grep -o '"text":"AT+GTPCTPOC=1,[0-9]*' "$HBR_MODEM_RECORDS" | tail -n 1 | sed 's/.*"text":"//')
    state=$(hbr_state)
    if [[ $state == 4 ]]; then
      show end "state 4   module back on SIM1; told $report"
    else
      show end "state $state   the activation failed; told $report"
    fi
    break
  fi
  sleep 0.2
done

# 6. The end state.
step="[6/6] end state"
euicc=$(hbr_ctl euicc)
profiles=$(sed -n 's/.*profiles=\([^ ]*\).*/\1/p' <<< "$euicc" | sed 's/F:/:/g')
state=$(hbr_state)
want="$new_iccid:1:enabled"
[[ $profiles == "$want" ]] || fail "eUICC holds $profiles, expected $want only"
[[ $state == 4 ]] || fail "registry state $state, expected 4"
last=$(grep '"kind":"command"' "$HBR_MODEM_RECORDS" | tail -n 1)
[[ $last == *'"text":"AT+GTPCTPOC=1,1\r\n"'* ]] || fail "the last command was not AT+GTPCTPOC=1,1: $last"
echo "[6/6] eUICC now: $(short "$new_iccid") (provisioning, enabled). Registry state $state."
rc=0
hbr_agent_stop || rc=$?
[[ $rc == 0 ]] || fail "hbr-agent exited $rc on SIGTERM"
hbr_world_stop_all
trap - EXIT
echo "Stopped hbr-agent and the simulators. Logs in $out"
