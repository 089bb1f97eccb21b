# Shared by the whole-pass benchmarks (pass/run, peers/run): tools, the bare program, the
# program under test, the local service inside the loopback-only namespace, statistics.
# Sourced by bash; expects REPO to be the repository's top folder.

FAKETIME_LIB=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1

# Installs the Debian packages that are missing; the benchmarks need more than the build.
bench_install() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f '${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# cc -O2 of the bare libcurl program into $1: against the system's libcurl, or against the one
# whose pkg-config folder is $2 (linked statically, as a lean program links it).
bench_build_bare() {
  local curl_flags=(-lcurl)
  [ -n "${2:-}" ] && read -ra curl_flags < <(PKG_CONFIG_PATH=$2 pkg-config --static --cflags --libs libcurl)
  cc -O2 -Wall -Wextra -o "$1" "$REPO/tests/bench/pass/bare_fetch.c" "${curl_flags[@]}"
}

# The program under test: $1 if given, else build/ralto-update of the default preset, or with
# $2 = lean build-lean/ralto-update of scripts/build-lean; brought up to date first, so that a
# re-run measures the current tree.
bench_program() {
  if [ -n "$1" ]; then
    [ -x "$1" ] || { echo "not an executable: $1" >&2; return 1; }
    realpath "$1"
    return 0
  fi
  if [ "${2:-}" = lean ]; then
    (cd "$REPO" && bash scripts/build-lean >/dev/null) || return 1
    realpath "$REPO/build-lean/ralto-update"
    return 0
  fi
  (cd "$REPO" && cmake --preset default >/dev/null &&
    cmake --build --preset default --target ralto-update -j 2 >/dev/null) || return 1
  realpath "$REPO/build/ralto-update"
}

# The pkg-config folder of the libcurl package that the build folder of the program $1 links
# against (its CMake cache's CURL_DIR, which the lean preset sets); nothing for a build against
# the system's libcurl.
bench_curl_pkgconfig() {
  local dir
  dir=$(sed -n 's/^CURL_DIR:PATH=//p' "$(dirname "$1")/CMakeCache.txt" 2>/dev/null || true)
  if [ -n "$dir" ] && [ -d "$dir/../../pkgconfig" ]; then
    realpath "$dir/../../pkgconfig"
  fi
}

# Starts the local service on a free loopback port with the given arguments and sets
# SERVICE_PID and SERVICE_PORT. Only inside the namespace.
bench_start_service() {
  local out="$BENCH_WORK/service.out"
  python3 "$REPO/tools/dyndns-service" --port 0 "$@" >"$out" 2>"$BENCH_WORK/service.err" &
  SERVICE_PID=$!
  local i
  for i in $(seq 100); do
    [ -s "$out" ] && break
    sleep 0.05
  done
  SERVICE_PORT=$(head -n 1 "$out")
  [ -n "$SERVICE_PORT" ] || { echo "the service did not start" >&2; cat "$BENCH_WORK/service.err" >&2; return 1; }
}

bench_stop_service() {
  [ -n "${SERVICE_PID:-}" ] && kill "$SERVICE_PID" 2>/dev/null && wait "$SERVICE_PID" 2>/dev/null
  SERVICE_PID=
}

# The request targets of the service's last $1 requests, one a line (bench_start_service
# with --log "$BENCH_WORK/requests.log").
bench_last_targets() {
  tail -n "$1" "$BENCH_WORK/requests.log" | python3 -c '
import json, sys
for line in sys.stdin:
    print(json.loads(line)["target"])'
}

# How many requests the service has answered (control requests not counted).
bench_request_count() {
  curl -s --noproxy '*' "http://127.0.0.1:$SERVICE_PORT/_control" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["requests"])'
}

# Runs "$@" once and fails unless it sent exactly $1 requests and exited 0.
bench_expect_requests() {
  local want=$1 before after
  shift
  before=$(bench_request_count)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
  after=$(bench_request_count)
  if [ $((after - before)) -ne "$want" ]; then
    echo "expected $want request(s), got $((after - before)): $*" >&2
    return 1
  fi
}

# Median of the numbers on standard input, one a line.
bench_median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Median, mean and standard deviation of one command's runs in a hyperfine JSON export, and
# its mean CPU per run (user + system, from each run's own resource usage), in milliseconds:
# "median mean stddev cpu".
bench_hyperfine_ms() {
  python3 - "$1" "$2" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
r = results[int(sys.argv[2])]
print("%.2f %.2f %.2f %.2f" % (r["median"] * 1e3, r["mean"] * 1e3, (r["stddev"] or 0) * 1e3,
                               (r["user"] + r["system"]) * 1e3))
PY
}

# CPU seconds (user + system) of $1 runs of a command, each after the shell code $2,
# measured by GNU time around the whole loop: the per-run figures of GNU time have a
# resolution of 10 ms, the sum over a batch does not lose it. Prints ms per run.
# The loop's own fork per run and the preparation are included, the same for every command.
bench_cpu_per_run() {
  local runs=$1 prep=$2 out="$BENCH_WORK/cpu.$$"
  shift 2
  /usr/bin/time -f '%U %S' -o "$out" sh -c '
    runs=$1 prep=$2
    shift 2
    i=0
    while [ "$i" -lt "$runs" ]; do
      eval "$prep"
      "$@" >/dev/null 2>&1
      i=$((i + 1))
    done' sh "$runs" "$prep" "$@"
  awk -v n="$runs" '{ printf "%.2f", ($1 + $2) * 1000 / n }' "$out"
  rm -f "$out"
}

# Median peak RSS in KiB (GNU time %M) of $1 runs of a command, each after the shell code $2.
bench_rss_median() {
  local runs=$1 prep=$2 out="$BENCH_WORK/rss.$$" i
  shift 2
  : >"$out"
  for ((i = 0; i < runs; i++)); do
    eval "$prep"
    /usr/bin/time -a -o "$out" -f '%M' "$@" >/dev/null 2>&1
  done
  bench_median <"$out"
  rm -f "$out"
}

# Ratio $1 / $2 to two decimals.
bench_ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
}
