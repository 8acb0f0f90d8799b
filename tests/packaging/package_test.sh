#!/usr/bin/env bash
# Builds the Debian package from a build tree as scripts/package.sh does, then checks it: lintian
# with no error and no warning (nor a hardening note, which lintian only reports as information),
# and what lintian does not look at: the contents, a stripped program hardened as Debian's are,
# and its debug symbols in the -dbgsym package under the program's build-id.
set -euo pipefail
build="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack could not build the package"; exit 1; }
debs=("$work"/*.deb)
ddebs=("$work"/*.ddeb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single .deb in $work"; exit 1; }
[ ${#ddebs[@]} -eq 1 ] && [ -f "${ddebs[0]}" ] || { echo "FAIL: no -dbgsym .ddeb in $work"; exit 1; }
deb="${debs[0]}"

status=0
lintian --no-cfg --display-info --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || status=$?
cat "$work/lintian.log"
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (status $status)"
grep -q ': hardening-' "$work/lintian.log" && fail "lintian finds the program not hardened"

dpkg-deb -x "$deb" "$work/root"
for path in usr/lib/tq2604x-eval/tq2604x-eval usr/lib/tq2604x-eval/libtq2604x-eval-plots.so \
  usr/lib/tq2604x-eval/libtq2604x-eval-network.so usr/lib/tq2604x-eval/libtq2604x-eval-web.so \
  usr/bin/tq2604x-eval \
  usr/share/man/man1/tq2604x-eval.1.gz usr/share/doc/tq2604x-eval/copyright \
  usr/share/doc/tq2604x-eval/changelog.gz usr/share/doc/tq2604x-eval/scpi.md \
  usr/share/doc/tq2604x-eval/setup-format.md usr/share/doc/tq2604x-eval/install.md \
  usr/share/doc/tq2604x-eval/tango.md usr/share/doc/tq2604x-eval/python-driver.md \
  usr/share/tq2604x-eval/manual.md \
  usr/share/metainfo/org.tq2604x_eval.tq2604x_eval.metainfo.xml \
  usr/share/applications/tq2604x-eval.desktop usr/lib/udev/rules.d/60-tq2604x-eval.rules \
  usr/lib/python3/dist-packages/tq2604x_eval/__init__.py etc/tq2604x-eval/TQ2604.hex \
  usr/bin/tq2604x-eval-tango usr/share/man/man1/tq2604x-eval-tango.1.gz \
  usr/lib/python3/dist-packages/tq2604x_eval_tango/device.py; do
  [ -e "$work/root/$path" ] || [ -L "$work/root/$path" ] || fail "the package lacks /$path"
done

program="$work/root/usr/lib/tq2604x-eval/tq2604x-eval"
file -b "$program" | grep -q ', stripped' || fail "the program is not stripped: $(file -b "$program")"
# Read whole before grep: grep -q ending the pipe early would fail it under pipefail.
header="$(readelf -h "$program")"
segments="$(readelf -lW "$program")"
dynamic="$(readelf -dW "$program")"
symbols="$(readelf --dyn-syms -W "$program")"
grep -q 'Type:.*DYN' <<<"$header" || fail "the program is not position-independent"
grep -q GNU_RELRO <<<"$segments" || fail "the program has no read-only relocations"
grep -Eq 'FLAGS.*(BIND_NOW| NOW)' <<<"$dynamic" || fail "the program is not bound at start"
grep -q '__stack_chk_fail' <<<"$symbols" || fail "no stack protector"
grep -Eq '__[a-z]+_chk' <<<"$symbols" || fail "no fortified functions"

# The plotting and network libraries: stripped, hardened as the program is, not executable, linking
# what the program leaves to them, and found by the installed program when a plot is shown or the
# protocol served (its firmware link pointed into the unpacked tree).
libraries=(plots "the plotting library" libQt6Charts libqt6charts6
           network "the network library" libQt6Network libqt6network6)
for ((i = 0; i < ${#libraries[@]}; i += 4)); do
  library="$work/root/usr/lib/tq2604x-eval/libtq2604x-eval-${libraries[i]}.so" name=${libraries[i + 1]}
  file -b "$library" | grep -q ', stripped' || fail "$name is not stripped: $(file -b "$library")"
  [ -x "$library" ] && fail "$name is executable"
  library_segments="$(readelf -lW "$library")"
  library_dynamic="$(readelf -dW "$library")"
  grep -q GNU_RELRO <<<"$library_segments" || fail "$name has no read-only relocations"
  grep -Eq 'FLAGS.*(BIND_NOW| NOW)' <<<"$library_dynamic" || fail "$name is not bound at start"
  grep -q "${libraries[i + 2]}" <<<"$library_dynamic" || fail "$name does not link ${libraries[i + 2]}"
  dpkg-deb -f "$deb" Depends | grep -q "${libraries[i + 3]}" ||
    fail "the package does not depend on ${libraries[i + 3]}"
done
grep -q 'libQt6Network' <<<"$dynamic" && fail "the program links Qt Network, which it loads with the network library"
grep -q 'libtirpc' <<<"$dynamic" && fail "the program links libtirpc, which it loads with the network library"
grep -q 'libtirpc' <<<"$(readelf -dW "$work/root/usr/lib/tq2604x-eval/libtq2604x-eval-network.so")" ||
  fail "the network library does not link libtirpc"
dpkg-deb -f "$deb" Depends | grep -q 'libtirpc3' || fail "the package does not depend on libtirpc"
dpkg-deb -f "$deb" Depends | grep -q 'libusb-1.0-0' || fail "the package does not depend on libusb"
ln -sf "$work/root/etc/tq2604x-eval/TQ2604.hex" "$work/root/usr/lib/tq2604x-eval/TQ2604.hex"
shown="$(printf 'menu MainForm.MnuWaveform\nget WaveformForm.Canvas\nquit\n' |
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" timeout 60 \
  "$work/root/usr/lib/tq2604x-eval/tq2604x-eval" --simulate --automation 2>&1)" || true
grep -q '^visible: 1$' <<<"$shown" || fail "the installed program shows no plot: $shown"
served="$(XDG_CONFIG_HOME="$work/config" timeout 5 \
  "$work/root/usr/lib/tq2604x-eval/tq2604x-eval" --simulate --headless --scpi 0 2>&1)" || true
grep -q '^listening on 127.0.0.1:' <<<"$served" || fail "the installed program serves no protocol: $served"

# The debug symbols: where gdb looks for them, by the program's build-id.
id="$(readelf -nW "$program" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')"
[ -n "$id" ] || fail "the program has no build-id"
debug_files="$(dpkg-deb -c "${ddebs[0]}")"
grep -q "usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" <<<"$debug_files" ||
  fail "the -dbgsym package has no /usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
for ((i = 0; i < ${#libraries[@]}; i += 4)); do
  library="$work/root/usr/lib/tq2604x-eval/libtq2604x-eval-${libraries[i]}.so"
  library_id="$(readelf -nW "$library" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')"
  grep -q "usr/lib/debug/.build-id/${library_id:0:2}/${library_id:2}.debug" <<<"$debug_files" ||
    fail "the -dbgsym package has no debug symbols of ${libraries[i + 1]}"
done

# PyTango is suggested, not required: the program runs without a Tango system.
dpkg-deb -f "$deb" Suggests | grep -q 'python3-tango' || fail "the package does not suggest python3-tango"
dpkg-deb -f "$deb" Depends | grep -q 'python3-tango' && fail "the package depends on python3-tango"

# The Description: a summary and lines of at most 80 columns.
dpkg-deb -f "$deb" Description >"$work/description"
awk 'length > 80 { bad = 1 } END { exit bad }' "$work/description" ||
  fail "a Description line is over 80 columns"
[ "$(wc -l <"$work/description")" -ge 5 ] || fail "the Description is too short"
dpkg-deb -f "$deb" Maintainer | grep -q '@localhost' && fail "the maintainer address is on localhost"

[ "$failures" -eq 0 ] && echo "package: $(basename "$deb") passed"
exit "$((failures > 0))"
