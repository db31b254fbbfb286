#!/usr/bin/env bash
# Whole-host CPU: the minimal host (build/tools/minihost/minihost) against the
# receiver emulator (build/tools/simulator/zorvani-sim) in a separate process,
# on loopback inside a private network namespace of its own, at each stream
# rate with one and with two receivers. Reports the host process's CPU time
# (all its threads, from /proc/PID/stat) per second of streaming, as a share
# of one core, measured after a warm-up; of it, the share spent in the kernel;
# the wake-ups of all its threads per second (voluntary context switches: each
# hand-off of a block from one thread to the next is one); the emulator's own
# share beside it.
#
#   bench/host/host_cpu.sh [--build DIR] [--seconds S] [--warmup S] [--mode M]
#                          [--rates "0 1 2 3"] [--receivers "1 2"]
#
# The machine's load average is printed first: on a shared machine the
# figures are conservative.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build"
seconds=20
warmup=4
mode=AM
rates="0 1 2 3"
receivers="1 2"
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --mode) mode=$2; shift 2 ;;
    --rates) rates=$2; shift 2 ;;
    --receivers) receivers=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

host="$build/tools/minihost/minihost"
sim="$build/tools/simulator/zorvani-sim"
for program in "$host" "$sim"; do
  [ -x "$program" ] || { echo "missing $program: build first (./scripts/build)" >&2; exit 1; }
done

# Our own network namespace: other runs on this machine use the same ports.
if [ "${HOST_CPU_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare --net true 2>/dev/null; then
    echo "host_cpu: needs root for a private network namespace" >&2
    exit 1
  fi
  exec unshare --net env HOST_CPU_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" \
    --build "$build" --seconds "$seconds" --warmup "$warmup" --mode "$mode" --rates "$rates" --receivers "$receivers"
fi

ticks=$(getconf CLK_TCK)
rate_hz=(39062.5 78125 156250 312500)
port=50201
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The plug-in keeps a band-plan file among the user's settings: a bench run
# leaves the user's own alone.
export XDG_CONFIG_HOME="$work/config"

# CPU ticks (user + system) of a process, all its threads.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
kernel_ticks() { awk '{ print $15 }' "/proc/$1/stat"; }
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }
now() { date +%s.%N; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; mode $mode"
printf '%-10s %-9s %12s %10s %11s %12s\n' "rate Hz" receivers "host % core" "kernel %" "wake-ups/s" "sim % core"
for r in $rates; do
  for n in $receivers; do
    port=$((port + 1))
    "$sim" --address 127.0.0.2 --port "$port" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    extra=()
    [ "$n" = 2 ] && extra=(--rx2 7150000:USB)
    QT_QPA_PLATFORM=offscreen "$host" --receiver "127.0.0.2:$port" --rate "$r" --mode "$mode" \
      --duration $((warmup + seconds + 2)) --no-png --no-iq --no-wav --no-settings --out "$work/out" "${extra[@]}" \
      >"$work/host.log" 2>&1 &
    host_pid=$!
    for _ in $(seq 100); do
      grep -q "streaming from" "$work/host.log" && break
      sleep 0.1
    done
    if ! grep -q "streaming from" "$work/host.log"; then
      echo "the host did not start streaming:" >&2
      cat "$work/host.log" >&2
      kill "$host_pid" "$sim_pid" 2>/dev/null || true
      exit 1
    fi
    sleep "$warmup"
    h0=$(cpu_ticks "$host_pid"); k0=$(kernel_ticks "$host_pid"); w0=$(wakeups "$host_pid")
    s0=$(cpu_ticks "$sim_pid"); t0=$(now)
    sleep "$seconds"
    h1=$(cpu_ticks "$host_pid"); k1=$(kernel_ticks "$host_pid"); w1=$(wakeups "$host_pid")
    s1=$(cpu_ticks "$sim_pid"); t1=$(now)
    wait "$host_pid" || { echo "the host failed:" >&2; cat "$work/host.log" >&2; }
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    awk -v rate="${rate_hz[$r]}" -v n="$n" -v h="$((h1 - h0))" -v k="$((k1 - k0))" -v wk="$((w1 - w0))" \
      -v s="$((s1 - s0))" -v t0="$t0" -v t1="$t1" -v tck="$ticks" \
      'BEGIN { w = t1 - t0; printf "%-10s %-9s %12.2f %10.2f %11.0f %12.2f\n", rate, n, 100 * h / tck / w,
               100 * k / tck / w, wk / w, 100 * s / tck / w }'
  done
done
