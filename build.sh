#!/usr/bin/env bash
# Velmora: set up a Debian 12 machine, build, and run the tool or the tests.
#   ./build.sh run     install what is missing, build the release, start the tool
#                      with the device simulator beside it
#   ./build.sh test    install what is missing, build and pass the whole test suite
#   ./build.sh bench   install what is missing, build the release, run the benchmarks
#   ./build.sh package install what is missing, build the programs, make the Debian
#                      package build/package/velmora_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-serialport-dev libqt6serialport6 qt6-qpa-plugins libgl-dev
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libxlsxwriter-dev
  libqt6sql6-sqlite libqt6sql6-psql postgresql
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-openpyxl locales
  fonts-wqy-microhei xvfb xauth
  dpkg-dev file desktop-file-utils appstream groff-base
  iproute2
)

setup() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "run as root, or install: ${missing[*]}" >&2; exit 1; }
    sudo=sudo
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {  # build PRESET [TARGET...]
  local preset=$1; shift
  cmake --preset "$preset" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
  else
    cmake --build --preset "$preset"
  fi
}

SIM_LINK=/tmp/velmora-sim.tty
SIM_LOG=build/release/velmora-sim.log
sim_pid=""

# Waits for the simulator's "ready" line; false if it ended or took too long.
sim_ready() {
  local i
  for i in $(seq 100); do
    grep -qx ready "$SIM_LOG" 2>/dev/null && return 0
    kill -0 "$sim_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  kill "$sim_pid" 2>/dev/null || true
  return 1
}

stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# The device simulator beside the tool: a pseudo-terminal behind $SIM_LINK and UDP on
# 127.0.0.1 port 21 (root only); without port 21, serial alone.
start_sim() {
  local sim=build/release/tools/velmora-sim/velmora-sim udp_note
  local args=(--link "$SIM_LINK" --state build/release/velmora-sim.state --image-out build/release/velmora-sim-image.bin)
  trap stop_sim EXIT
  trap 'exit 130' INT TERM
  : >"$SIM_LOG"  # no "ready" left from an earlier run
  "$sim" "${args[@]}" --udp-port 21 >"$SIM_LOG" 2>&1 &
  sim_pid=$!
  if sim_ready; then
    udp_note="on the ENET page type 127.0.0.1 as 广播地址 and press 打开 (the tool's port 20 needs root)"
  else
    udp_note="not simulated: $(grep -m1 'velmora-sim:' "$SIM_LOG" || echo 'the simulator did not come up')"
    wait "$sim_pid" 2>/dev/null || true
    : >"$SIM_LOG"
    "$sim" "${args[@]}" --no-udp >"$SIM_LOG" 2>&1 &
    sim_pid=$!
    if ! sim_ready; then
      wait "$sim_pid" 2>/dev/null || true
      sim_pid=""
      echo "== no device simulator: $(grep -m1 'velmora-sim:' "$SIM_LOG" || echo "see $SIM_LOG"); starting the tool alone" >&2
      return 0
    fi
  fi
  echo "== device simulator velmora-sim is running beside the tool (log: $SIM_LOG)"
  echo "   serial: on the USART page type $SIM_LINK into the port list and press 打开"
  echo "   UDP:    $udp_note"
}

cmd_run() {
  build release
  local bin=build/release/src/velmora
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display. The tool is a desktop program; on a machine without a screen run it under a virtual one:" >&2
    echo "  xvfb-run -a ./build.sh run     (the tool with the device simulator beside it)" >&2
    echo "  xvfb-run -a $bin     (the tool alone)" >&2
    exit 2
  fi
  start_sim
  "$bin"
}

cmd_test() {
  echo "== the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (benchmarks built, not run)"
  build asan
  ctest --preset asan
  echo "== the serial port and the Receive pump under ThreadSanitizer"
  build tsan protocol_tests transport_tests
  ctest --preset tsan -L 'protocol|transport'
  echo "== fuzz smoke: each target for ${FUZZ_SECONDS:-10} s"
  build fuzz
  for f in build/fuzz/fuzz/fuzz_*; do
    [ -f "$f" ] && [ -x "$f" ] || continue  # skip CMake's *_autogen folders
    local corpus="build/fuzz/corpus/$(basename "$f")"
    mkdir -p "$corpus"
    echo "-- $(basename "$f")"
    local log="$corpus.log" rc=0
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 "$f" -max_total_time="${FUZZ_SECONDS:-10}" -print_final_stats=1 \
      "$corpus" >"$log" 2>&1 || rc=$?
    grep -E "^(stat::number_of_executed_units|Done|==[0-9]+==ERROR|check failed|SUMMARY)" "$log" || true
    [ "$rc" -eq 0 ] || { echo "fuzz target $(basename "$f") failed (exit $rc), see $log" >&2; exit 1; }
  done
  echo "== the Debian package, and the programs installed under a fresh prefix"
  test_package
}

DEB=""  # the package cmd_package made

cmd_package() {
  build package
  rm -f build/package/velmora_*.deb
  cpack --preset package
  local debs=(build/package/velmora_*.deb)
  DEB=${debs[0]}
  [ -f "$DEB" ] || { echo "cpack made no package" >&2; exit 1; }
  echo "== $DEB: $(du -k "$DEB" | cut -f1) KiB, $(dpkg-deb -f "$DEB" Installed-Size) KiB installed"
  dpkg-deb --contents "$DEB" | awk '$6 !~ /\/$/ {printf "   %8s  %s\n", $3, substr($6, 2)}'
}

away=""  # the build folder while it is out of reach
bring_back() {
  [ -n "$away" ] || return 0
  mv "$away/build" build/package
  rm -rf "$away"
  away=""
}

# The manual pages format without a warning and each names the others under SEE ALSO.
check_man_pages() {
  local m o out see
  for m in share/man/*.1; do
    # -k: the pages are UTF-8 (the window's Chinese texts), read through preconv as man does.
    out=$(groff -k -man -Tutf8 -ww -z "$m" 2>&1)
    [ -z "$out" ] || { printf '%s: groff warns:\n%s\n' "$m" "$out" >&2; exit 1; }
    see=$(groff -k -man -Tutf8 -P-cbou "$m" | sed -n '/^SEE ALSO/,/^[^ ]/p')
    for o in share/man/*.1; do
      [ "$o" = "$m" ] || grep -qF "$(basename "$o" .1)(1)" <<<"$see" ||
        { echo "$m: SEE ALSO does not name $(basename "$o" .1)(1)" >&2; exit 1; }
    done
  done
  # A command's words stay on one line.
  groff -man -Tascii -P-cbou share/man/velmora-cli.1 | grep -q 'read-config \[-o PROFILE\]' ||
    { echo "velmora-cli(1) breaks read-config [-o PROFILE] across lines" >&2; exit 1; }
  echo "-- the manual pages format without a warning and name each other"
}

# The copyright file is machine-readable (DEP-5), and the changelog is the package's
# version, compressed as Debian's tools do it (gzip -9n: no name, no time stamp).
check_package_docs() {
  local dir doc
  dir=$(mktemp -d)
  dpkg-deb -x "$DEB" "$dir"
  doc=$dir/usr/share/doc/velmora
  python3 - "$doc/copyright" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
paragraphs = []
for block in re.split(r"\n[ \t]*\n", text.strip("\n")):
    fields, name = {}, None
    for line in block.split("\n"):
        if line[:1] in (" ", "\t") and name:
            fields[name] += "\n" + line.strip()
        else:
            m = re.match(r"([A-Za-z-]+):\s*(.*)$", line)
            if not m:
                sys.exit(f"copyright: not a field or its continuation: {line!r}")
            name = m.group(1)
            fields[name] = m.group(2)
    paragraphs.append(fields)
head, rest = paragraphs[0], paragraphs[1:]
if head.get("Format") != "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/":
    sys.exit("copyright: the first paragraph names no DEP-5 Format")
files = [p for p in rest if "Files" in p]
if not files or files[0]["Files"] != "*":
    sys.exit("copyright: the first Files paragraph must be Files: *")
texts = {p["License"].split("\n")[0].strip() for p in rest if "Files" not in p and "License" in p}
for p in files:
    if not p.get("Copyright") or not p.get("License"):
        sys.exit(f"copyright: Files: {p['Files']} lacks Copyright or License")
    name = p["License"].split("\n")[0].strip()
    if "\n" not in p["License"] and name not in texts:
        sys.exit(f"copyright: no text for License: {name}")
PY
  local header version
  header=$(od -An -tx1 -N9 "$doc/changelog.gz" | tr -d ' \n')
  [ "$header" = 1f8b08000000000002 ] || { echo "changelog.gz is not gzip -9n (header $header)" >&2; exit 1; }
  gzip -dc "$doc/changelog.gz" >"$dir/changelog"
  version=$(dpkg-parsechangelog -l "$dir/changelog" -S Version)
  [ "$version" = "$(dpkg-deb -f "$DEB" Version)" ] ||
    { echo "the changelog's version $version is not the package's" >&2; exit 1; }
  dpkg-deb --contents "$DEB" | grep -E '\./usr/share/doc/velmora/(copyright|changelog\.gz)$' |
    awk '$1 != "-rw-r--r--" { print "not 0644: " $6; bad = 1 } END { exit bad }' >&2
  rm -rf "$dir"
  echo "-- copyright is DEP-5, changelog.gz is version $version, gzip -9n"
}

# The package holds every file, its entries validate, and the programs installed under a
# fresh prefix start with the build folder out of reach.
test_package() {
  cmd_package
  local id=io.github.velmora.Velmora
  local want=(
    usr/bin/velmora usr/bin/velmora-sim
    usr/share/applications/$id.desktop
    usr/share/icons/hicolor/scalable/apps/$id.svg
    usr/share/metainfo/$id.metainfo.xml
    usr/share/doc/velmora/copyright usr/share/doc/velmora/changelog.gz
  )
  [ -d src/cli ] && want+=(usr/bin/velmora-cli)
  local m f contents
  # Every manual page in share/man, the command line's among them when it lands.
  for m in share/man/*.1; do want+=("usr/share/man/man1/$(basename "$m")"); done
  contents=$(dpkg-deb --contents "$DEB" | awk '{print $6}')
  for f in "${want[@]}"; do
    grep -qxF "./$f" <<<"$contents" || { echo "$DEB lacks /$f" >&2; exit 1; }
  done
  # dpkg-shlibdeps ran: the Qt libraries the programs link are named.
  dpkg-deb -f "$DEB" Depends | grep -q 'libqt6widgets6' || { echo "$DEB names no Qt library" >&2; exit 1; }
  # The SQLite driver is a plugin, loaded at run time: dpkg-shlibdeps cannot see it.
  dpkg-deb -f "$DEB" Depends | grep -q 'libqt6sql6-sqlite' || { echo "$DEB does not depend on the Qt SQLite driver" >&2; exit 1; }
  check_package_docs
  check_man_pages

  away=$(mktemp -d)
  local prefix="$away/prefix"
  cmake --install build/package --prefix "$prefix" >/dev/null
  desktop-file-validate "$prefix/share/applications/$id.desktop"
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
  trap bring_back EXIT
  mv build/package "$away/build"
  if [ -d src/cli ]; then
    "$prefix/bin/velmora-cli" template | python3 -c 'import json, sys; json.load(sys.stdin)'
    echo "-- installed velmora-cli template printed a JSON profile"
  fi
  local sim_help
  sim_help=$("$prefix/bin/velmora-sim" --help)
  grep -q '^Usage: velmora-sim' <<<"$sim_help"
  local rc=0
  QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/velmora" 2>"$away/velmora.err" || rc=$?
  # 124: still running when the time ran out, as a window should be.
  [ "$rc" -eq 124 ] || { echo "installed velmora ended early (exit $rc):" >&2; cat "$away/velmora.err" >&2; exit 1; }
  echo "-- installed velmora ran 3 s offscreen, velmora-sim answered --help"
  bring_back
  trap - EXIT
}

cmd_bench() {
  build release
  for b in build/release/bench/*_bench; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    echo "== $b"
    "$b"
  done
}

case "${1:-}" in
  run)   setup; cmd_run ;;
  test)  setup; cmd_test ;;
  bench) setup; cmd_bench ;;
  package) setup; cmd_package ;;
  *) sed -n '2,9p' "$0" >&2; exit 2 ;;
esac
