# Shell functions (source this file) that run the local HTTPS test server in
# the background of the calling script:
#
#   hbr_server_start <folder> <pki folder> [server options...]
#       starts hbr_https_test_server.py with the PKI's server certificate,
#       records under <folder>/server-records, its output in
#       <folder>/server.out and <folder>/server.log; waits (at most 10 s)
#       for its "PORT <n>" line and sets HBR_SERVER_PID and HBR_SERVER_PORT.
#       Answers 1 (with the server's log on stderr) when it does not come up.
#   hbr_server_stop
#       kills and reaps the server; harmless when none runs.
#   hbr_server_stop_on_exit
#       makes the calling script stop the server when it ends, also when it
#       is interrupted or terminated (INT, TERM, HUP end it through exit,
#       so its EXIT trap runs). Call it before hbr_server_start.

HBR_SERVER_PID=
HBR_SERVER_PORT=

hbr_server_start() {
  local folder=$1 pki=$2
  shift 2
  local here
  here=$(dirname "${BASH_SOURCE[0]}")
  mkdir -p "$folder"
  rm -rf "$folder/server-records" "$folder/server.log"
  : >"$folder/server.out"
  python3 "$here/hbr_https_test_server.py" \
    --cert "$pki/server.crt" --key "$pki/server.key" --record "$folder/server-records" \
    "$@" >"$folder/server.out" 2>"$folder/server.log" &
  HBR_SERVER_PID=$!
  HBR_SERVER_PORT=
  local i
  for ((i = 0; i < 100; i++)); do
    HBR_SERVER_PORT=$(awk '/^PORT /{print $2; exit}' "$folder/server.out")
    if [[ -n $HBR_SERVER_PORT ]] || ! kill -0 "$HBR_SERVER_PID" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  if [[ -z $HBR_SERVER_PORT ]]; then
    echo "the HTTPS test server did not start:" >&2
    cat "$folder/server.log" >&2
    hbr_server_stop
    return 1
  fi
}

hbr_server_stop() {
  if [[ -n $HBR_SERVER_PID ]]; then
    kill "$HBR_SERVER_PID" 2>/dev/null || true
    wait "$HBR_SERVER_PID" 2>/dev/null || true
    HBR_SERVER_PID=
    HBR_SERVER_PORT=
  fi
}

hbr_server_stop_on_exit() {
  trap hbr_server_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}
