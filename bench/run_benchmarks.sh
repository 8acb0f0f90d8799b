#!/usr/bin/env bash
# Builds an optimised tree and prints the benchmark table: each measurement, its baseline from
# the same run, the ratio or cost, and the target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages time python3-pymeasure python3-pyvisa-py
dir=build-bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target tq_register_bench tq_entry_bench tq_scpi_bench tq_minimal_window \
  tq_waveform_bench tq2604x-eval

csv() {  # benchmark binary, filter -> "name,real_time_ns" lines
  "$1" --benchmark_filter="$2" --benchmark_format=csv --benchmark_min_time=0.5 2>/dev/null |
    awk -F, '/^"/ { gsub(/"/, "", $1); t = $3; u = $5; gsub(/"/, "", u);
                    f = (u == "us") ? 1000 : (u == "ms") ? 1e6 : 1; printf "%s,%.3f\n", $1, t * f }'
}
value() { grep "^$1," <<<"$2" | head -n1 | cut -d, -f2; }

reg=$(csv "$dir/bench/tq_register_bench" '.*')
ui=$(csv "$dir/bench/tq_entry_bench" '.*')
bare=$(value BareVendorRequest "$reg")
write=$(value WriteRegisterWholeStack "$reg")
read=$(value ReadRegisterSimulated "$reg")
enter=$(value TextVoltsEnter "$ui")
sweep1k=$(value DataRegisterSweep/1024 "$reg")
sweep64k=$(value DataRegisterSweep/65536 "$reg")
# The protocol and two echo servers: medians of 5 repetitions; the pipelined figure as commands
# per second.
scpi=$("$dir/bench/tq_scpi_bench" --benchmark_filter='Scpi[VPS]|Echo|Direct' \
         --benchmark_repetitions=5 --benchmark_format=csv \
         --benchmark_min_time=0.3 2>/dev/null | awk -F, '/_median"/ { gsub(/"/, "", $1);
           t = $3; u = $5; gsub(/"/, "", u); f = (u == "us") ? 1000 : (u == "ms") ? 1e6 : 1;
           printf "%s,%.3f,%s\n", $1, t * f, $7 }')
opc=$(grep '^ScpiVoltageAndOpc' <<<"$scpi" | head -n1 | cut -d, -f2)
direct=$(grep '^DirectInstrumentCall' <<<"$scpi" | head -n1 | cut -d, -f2)
pipelined=$(grep '^ScpiPipelined' <<<"$scpi" | head -n1 | cut -d, -f3)
echo_qt=$(grep '^EchoRoundTrip/QtEventLoop' <<<"$scpi" | head -n1 | cut -d, -f2)
echo_blocking=$(grep '^EchoRoundTrip/BlockingThread' <<<"$scpi" | head -n1 | cut -d, -f2)
nagle=$(grep '^ScpiSettingWithNagle' <<<"$scpi" | head -n1 | cut -d, -f2)
# Hostile clients, one run each; their figures are counters, found by the CSV header's names.
counter() {  # csv, counter name
  awk -F, -v col="$2" '/^name,/ { for (i = 1; i <= NF; i++) if ($i == "\"" col "\"") c = i; next }
                       c && /^"/ { print $c; exit }' <<<"$1"
}
hostile() { "$dir/bench/tq_scpi_bench" --benchmark_filter="$1" --benchmark_format=csv 2>/dev/null; }
flood=$(hostile ScpiOpcWhileAnotherFloods)
flood_median=$(counter "$flood" median_us)
flood_worst=$(counter "$flood" worst_us)
hogs_mb=$(counter "$(hostile ResidentMemoryEightNonReadingClients)" peak_MB)
# A pymeasure setting against the headless program: median and worst of 300, in milliseconds.
IFS=, read -r py_median py_worst < <(/usr/bin/python3 bench/pymeasure_setting.py \
  "$dir/app/tq2604x-eval")

# A four-channel staircase as fast as the link allows with 250 us a request, against five bare
# requests a step in the same run, and the longest wait of a click during it.
IFS=, read -r _ link_rate run_rate _ clicks click_max _ < <(QT_QPA_PLATFORM=offscreen \
  "$dir/bench/tq_waveform_bench" 250 1600)

# The Python driver: 1,000 settings of DAC A's voltage, and as many reads, against the same lines
# on a raw socket, and the settings as the two writes they were before (milliseconds, medians).
IFS=, read -r drv_set raw_set two_set drv_get raw_get < <(/usr/bin/python3 bench/driver_bench.py \
  "$dir/app/tq2604x-eval")

# VXI-11 against the raw socket from PyVISA (SOUR1:VOLT x;*OPC?, and a 65,536-code block), in a
# network namespace with a portmapper of its own: medians, microseconds and milliseconds; zeros
# where the machine cannot make one (it needs root). Its 10-minute soak runs on its own:
#   bench/in_namespace.sh /usr/bin/python3 bench/vxi11_bench.py soak build-bench/app/tq2604x-eval
IFS=, read -r vxi_us raw_us vxi_block raw_block vxi_client raw_client vxi_server raw_server \
  < <(bench/in_namespace.sh /usr/bin/python3 bench/vxi11_bench.py compare \
    "$dir/app/tq2604x-eval" 2>/dev/null || echo 0,0,0,0,0,0,0,0)

# Whole-process start-up: median wall time (milliseconds, from the shell's clock) and median peak
# memory of 11 runs each (memory from separate runs under /usr/bin/time, so that its own start
# does not count as the program's), after one run that warms the file cache.
measure() {  # command... -> "milliseconds kilobytes" (medians)
  local times=() mems=() out t0 t1 m
  out=$(mktemp)
  "$@" >/dev/null 2>&1 <<<"quit"
  for _ in $(seq 11); do
    t0=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 <<<"quit"
    t1=$EPOCHREALTIME
    /usr/bin/time -o "$out" -f '%M' "$@" >/dev/null 2>&1 <<<"quit"
    read -r m <"$out"
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
    mems+=("$m")
  done
  rm -f "$out"
  printf '%s %s\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n 6p)" \
                   "$(printf '%s\n' "${mems[@]}" | sort -n | sed -n 6p)"
}
export QT_QPA_PLATFORM=offscreen
read -r prog_ms prog_kb < <(measure "$dir/app/tq2604x-eval" --simulate --automation)
read -r min_ms min_kb < <(measure "$dir/bench/tq_minimal_window")
read -r text_ms text_kb < <(measure "$dir/bench/tq_minimal_window" --text)

# The headline: the program against a Qt program that builds the same widget tree with no logic
# and paints it (the start-up anchor: its census of the running program, then 21 alternating runs
# of each; medians of wall time and peak memory). The anchor lives beside the project
# (STARTUP_ANCHOR; by default ../shared/tools/startup-anchor, or ../../shared/... from a worktree
# one folder deeper); without it the lines say so.
anchor=${STARTUP_ANCHOR:-$PWD/../shared/tools/startup-anchor}
[[ -n ${STARTUP_ANCHOR:-} || -x $anchor/measure.sh ]] || anchor=$PWD/../../shared/tools/startup-anchor
same_ms=0 same_kb=0 anchor_prog_ms=0 anchor_prog_kb=0
if [[ -x $anchor/measure.sh ]]; then
  export STARTUP_ANCHOR_WORK=$PWD/$dir/startup-anchor PROG=$PWD/$dir/app/tq2604x-eval
  "$anchor/build.sh" >/dev/null 2>&1 && "$anchor/census.sh" >/dev/null 2>&1
  read -r anchor_prog_ms anchor_prog_kb same_ms same_kb < <(LABELS="a b" XVFB=0 \
    "$anchor/measure.sh" 21 1 | awk '/\((a|b)\) / { for (i = 1; i < NF; i++) {
                                       if ($i == "wall") w = $(i + 2); if ($i == "RSS") r = $(i + 2) }
                                     v[$1] = w " " r } END { print v["(a)"], v["(b)"] }')
fi

awk -v bare="$bare" -v write="$write" -v opc="$opc" -v direct="$direct" -v pipe="$pipelined" -v read="$read" -v enter="$enter" \
    -v eq="$echo_qt" -v eb="$echo_blocking" -v ng="$nagle" -v fm="$flood_median" -v fw="$flood_worst" \
    -v hm="$hogs_mb" -v pm="$py_median" -v pw="$py_worst" \
    -v s1="$sweep1k" -v s64="$sweep64k" -v ps="$prog_ms" -v pk="$prog_kb" -v ms="$min_ms" \
    -v mk="$min_kb" -v ts="$text_ms" -v tk="$text_kb" -v lr="$link_rate" -v rr="$run_rate" \
    -v cl="$clicks" -v cm="$click_max" -v ds="$drv_set" -v rs="$raw_set" -v tw="$two_set" \
    -v dg="$drv_get" -v rg="$raw_get" -v sm="$same_ms" -v sk="$same_kb" -v am="$anchor_prog_ms" \
    -v ak="$anchor_prog_kb" -v vu="$vxi_us" -v ru="$raw_us" -v vb="$vxi_block" \
    -v rb="$raw_block" -v vc="$vxi_client" -v rc="$raw_client" -v vs="$vxi_server" \
    -v rs2="$raw_server" 'BEGIN {
  printf "%-44s %14s %14s %12s  %s\n", "measurement", "value", "baseline", "ratio/cost", "target"
  printf "%-44s %11.1f ns %11.1f ns %9.1f ns  %s\n", "register write, whole stack vs bare request",
         write, bare, write - bare, "< 100 ns above the bare call"
  printf "%-44s %11.1f ns %14s %12s  %s\n", "register read-back (simulated board)", read, "-", "-", "-"
  printf "%-44s %11.0f ns %11.0f ns %11.2fx  %s\n", "sweep 65,536 codes vs 1,024 codes", s64, s1,
         s64 / s1, "linear: 64x"
  printf "%-44s %11.1f us %14s %12s  %s\n", "Enter in TextVolts to the write", enter / 1000, "-",
         (enter < 500000 ? "met" : "missed"), "< 0.5 ms"
  printf "%-44s %11.1f us %11.2f us %11.0fx  %s\n", "SOUR1:VOLT + *OPC? over loopback vs direct",
         opc / 1000, direct / 1000, opc / direct, "< 100 us"
  printf "%-44s %11.0f /s %14s %12s  %s\n", "the same, pipelined", pipe, "-",
         (pipe >= 10000 ? "met" : "missed"), ">= 10,000 /s"
  printf "%-44s %11.1f us %11.1f us %11.2fx  %s\n", "the same vs a QTcpServer echo of its bytes",
         opc / 1000, eq / 1000, opc / eq, "<= 1.5x"
  printf "%-44s %11.1f us %11.1f us %11.2fx  %s\n", "  (same, against a blocking echo thread)",
         opc / 1000, eb / 1000, opc / eb, "for information"
  printf "%-44s %11.1f us %14s %12s  %s\n", "setting + SYST:ERR?, client with Nagle on", ng / 1000,
         "-", (ng < 2000000 ? "met" : "missed"), "< 2 ms"
  printf "%-44s %11.2f ms %14s %12s  %s\n", "*OPC? while another client floods, median",
         fm / 1000, "-", (fm < 5000 ? "met" : "missed"), "< 5 ms"
  printf "%-44s %11.2f ms %14s %12s  %s\n", "  the same, worst of 200", fw / 1000, "-",
         (fw < 50000 ? "met" : "missed"), "< 50 ms"
  printf "%-44s %11.1f MB %14s %12s  %s\n", "peak memory, 8 clients sending, not reading", hm,
         "-", (hm < 64 ? "met" : "missed"), "< 64 MB"
  printf "%-44s %11.3f ms %14s %12s  %s\n", "pymeasure setting (ch_a.voltage = v), median",
         pm, "-", (pm < 2 ? "met" : "missed"), "< 2 ms"
  printf "%-44s %11.3f ms %14s %12s  %s\n", "  the same, worst of 300", pw, "-", "-",
         "for information"
  printf "%-44s %11.1f /s %11.1f /s %11.3f   %s\n", "waveform 4 ch, link-limited, 250 us vs link",
         rr, lr, rr / lr, ">= 0.95 of the link"
  printf "%-44s %11.2f ms %14s %12s  %s\n", "click answered during that run (max of " cl ")",
         cm, "-", (cm < 50 ? "met" : "missed"), "< 50 ms"
  printf "%-44s %11.1f ms %11.1f ms %11.2fx  %s\n", "1,000 ch_a.voltage sets, driver vs socket",
         ds, rs, ds / rs, (ds < 1000 ? "met: < 1 s" : "missed: < 1 s")
  printf "%-44s %11.0f ms %14s %12s  %s\n", "  (the same as two writes, as before)", tw, "-", "-",
         "for information"
  printf "%-44s %11.1f ms %11.1f ms %11.2fx  %s\n", "1,000 ch_a.voltage reads, driver vs socket",
         dg, rg, dg / rg, "-"
  if (vu > 0) {
    printf "%-44s %11.1f us %11.1f us %11.2fx  %s\n", "SOUR1:VOLT x;*OPC? from PyVISA, VXI-11 vs raw",
           vu, ru, vu / ru, (vu / ru <= 1.5 ? "met: <= 1.5x" : "missed: <= 1.5x")
    printf "%-44s %11.1f ms %11.1f ms %11.2fx  %s\n", "  65,536-code block + *OPC?, the same", vb, rb,
           vb / rb, "for information"
    printf "%-44s %11.1f us %11.1f us %11.2fx  %s\n", "  PyVISA's processor time a round", vc, rc,
           vc / rc, "for information"
    printf "%-44s %11.1f us %11.1f us %11.2fx  %s\n", "  the program's processor time a round", vs,
           rs2, vs / rs2, "for information"
  } else {
    printf "%-44s %14s %14s %12s  %s\n", "VXI-11 vs raw from PyVISA", "-", "-", "-",
           "needs root for a network namespace"
  }
  if (sm > 0) {
    printf "%-44s %11.1f ms %11.1f ms %11.2fx  %s\n", "start-up vs the same widget tree (wall)", am,
           sm, am / sm, "<= 1.15x"
    printf "%-44s %11d kB %11d kB %11.2fx  %s\n", "  (peak memory, the same)", ak, sk, ak / sk,
           "<= 1.15x"
  } else {
    printf "%-44s %14s %14s %12s  %s\n", "start-up vs the same widget tree", "-", "-", "-",
           "no start-up anchor: set STARTUP_ANCHOR"
  }
  printf "%-44s %11.1f ms %11.1f ms %11.2fx  %s\n", "start-up vs a bare painted window (wall)", ps,
         ms, ps / ms, "for information"
  printf "%-44s %11d kB %11d kB %11.2fx  %s\n", "  (peak memory, the same)", pk, mk, pk / mk,
         "for information"
  printf "%-44s %11.1f ms %11.1f ms %11.2fx  %s\n", "  (same, against a window with one text line)",
         ps, ts, ps / ts, "for information"
  printf "%-44s %11d kB %11d kB %11.2fx  %s\n", "  (peak memory, the same)", pk, tk, pk / tk,
         "for information"
}'
