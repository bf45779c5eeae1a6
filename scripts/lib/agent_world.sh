# Shell functions shared by scripts/demo.sh and scripts/soak.sh: the peers
# through tools/world/hbr-world, a copy of hbr-agent against them, and
# reading its log and registry state. Source it; set HBR_BUILD_DIR first.
# Everything started here is stopped by hbr_world_stop_all (run it from a
# trap).

HBR_ROOT=${HBR_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
HBR_WORLD_PID=
HBR_AGENT_PID=
HBR_STATE_KEY='HKLM\SYSTEM\CurrentControlSet\Control\Quorlin\HBRAgentService\IOTServiceActiveOrDeactiveResult'

# hbr_world_start SCENARIO STATE_DIR: starts the peers, exports the agent's
# environment (HBR_*, RANDFILE).
hbr_world_start() {
  local scenario=$1 state=$2
  mkdir -p "$state"
  "$HBR_ROOT/tools/world/hbr-world" --scenario "$scenario" --state "$state" --bin "$HBR_BUILD_DIR/bin" \
    --deployment "$HBR_BUILD_DIR/deployment" --deployment-servers "$HBR_BUILD_DIR/deployment-servers" \
    > "$state/world.out" 2> "$state/world.err" &
  HBR_WORLD_PID=$!
  local i
  for i in $(seq 1 300); do
    if grep -qx READY "$state/world.out" 2>/dev/null; then
      local line
      while IFS= read -r line; do
        [[ $line == *=* ]] && export "${line?}"
      done < <(grep -v '^READY$' "$state/world.out")
      return 0
    fi
    kill -0 "$HBR_WORLD_PID" 2>/dev/null || break
    sleep 0.1
  done
  cat "$state/world.err" >&2
  return 1
}

# hbr_agent_start FOLDER DIVISOR [EXE]: a copy of hbr-agent (or EXE) in
# FOLDER, proxies unset, the sleeps divided by DIVISOR.
hbr_agent_start() {
  local folder=$1 divisor=$2 exe=${3:-$HBR_BUILD_DIR/bin/hbr-agent}
  mkdir -p "$folder"
  cp "$exe" "$folder/hbr-agent"
  env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u all_proxy -u ALL_PROXY -u no_proxy \
    HBR_SLEEP_DIVISOR="$divisor" ${HBR_AGENT_WRAPPER:-} "$folder/hbr-agent" > "$folder/agent.stdout" 2> "$folder/agent.stderr" &
  HBR_AGENT_PID=$!
  HBR_AGENT_LOG=$folder/HbrAgentService.log
}

# hbr_log_count TEXT: log messages holding TEXT.
hbr_log_count() {
  grep -cF -- "$1" "$HBR_AGENT_LOG" 2>/dev/null || true
}

# hbr_wait_log TEXT [COUNT] [SECONDS]: waits until COUNT messages hold TEXT.
hbr_wait_log() {
  local text=$1 count=${2:-1} seconds=${3:-120} i
  for i in $(seq 1 $((seconds * 10))); do
    [[ $(hbr_log_count "$text") -ge $count ]] && return 0
    kill -0 "$HBR_AGENT_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# hbr_state: the IoT service state in the registry (empty when unset).
hbr_state() {
  "$HBR_BUILD_DIR/bin/hbr-reg" query "$HBR_STATE_KEY" /ve 2>/dev/null | awk '/REG_DWORD/ {print $NF}' | { read -r v && echo $((v)); } || true
}

hbr_ctl() {
  "$HBR_BUILD_DIR/bin/hbr-modem-sim" ctl "$@"
}

# hbr_agent_stop: SIGTERM, then the exit code (124 when it did not end).
hbr_agent_stop() {
  [[ -n $HBR_AGENT_PID ]] || return 0
  kill -TERM "$HBR_AGENT_PID" 2>/dev/null || true
  local i
  for i in $(seq 1 600); do
    kill -0 "$HBR_AGENT_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$HBR_AGENT_PID" 2>/dev/null; then
    kill -KILL "$HBR_AGENT_PID" 2>/dev/null || true
    wait "$HBR_AGENT_PID" 2>/dev/null || true
    HBR_AGENT_PID=
    return 124
  fi
  local rc=0
  wait "$HBR_AGENT_PID" || rc=$?
  HBR_AGENT_PID=
  return $rc
}

hbr_world_stop_all() {
  hbr_agent_stop || true
  if [[ -n $HBR_WORLD_PID ]]; then
    kill -TERM "$HBR_WORLD_PID" 2>/dev/null || true
    wait "$HBR_WORLD_PID" 2>/dev/null || true
    HBR_WORLD_PID=
  fi
}
