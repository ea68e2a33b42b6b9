#!/usr/bin/env bash
# Start-up of vaultry to its first window, resident memory once started, and CPU while idle.
# Run on a display with a fresh home:  xvfb-run -a bench/gui/gui_startup.sh build/vaultry [idle-seconds]
set -euo pipefail
bin=$(realpath "${1:-build/vaultry}")
idle=${2:-20}
home=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$home"' EXIT
start=$(date +%s%N)
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share "$bin" >/dev/null 2>&1 &
pid=$!
until xwininfo -root -tree 2>/dev/null | grep -q '"Vaultry"'; do sleep 0.002; done
shown=$(date +%s%N)
echo "first window after $(((shown - start) / 1000000)) ms"
sleep 2
echo "resident memory after start-up: $(awk '/VmRSS/ {printf "%.1f MiB", $2 / 1024}' /proc/$pid/status)"
ticks() { awk '{print $14 + $15}' /proc/$pid/stat; }
before=$(ticks)
sleep "$idle"
after=$(ticks)
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$idle" \
    'BEGIN { printf "idle CPU over %d s: %.2f %% of a core\n", s, 100 * t / hz / s }'
