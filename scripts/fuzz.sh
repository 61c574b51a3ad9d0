#!/usr/bin/env bash
# Fuzzes every fuzz target for SECONDS seconds each:
#
#   bash scripts/fuzz.sh SECONDS [TARGET...]     (TARGET: package_reader, ...)
#
# Builds the fuzz configuration into build-fuzz/ (clang, libFuzzer, every
# library instrumented for coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer), then runs each target from its seed corpus
# fuzz/corpus/<name>, growing new inputs in a scratch folder
# (build-fuzz/fuzz-work/<name>/grown), and finally merges into
# fuzz/corpus/<name> only those grown inputs that reach new coverage
# (libFuzzer -merge=1), so the corpus stays small. A crash, leak, hang
# (10 s per input) or sanitizer report ends that target's run; the input is
# kept in build-fuzz/fuzz-work/<name>/crashes/ and the script ends with 1.
# Extra libFuzzer flags can be given in KORVEL_FUZZ_FLAGS.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: bash scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
build_dir=build-fuzz
work_dir=$build_dir/fuzz-work
jobs=${KORVEL_JOBS:-$(nproc)}

bash scripts/install-deps.sh >/dev/null
bash scripts/install-deps.sh clang libclang-rt-dev >/dev/null

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
echo "== configure $build_dir"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVEL_LIBFUZZER=ON -DKORVEL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(ninja -C "$build_dir" -t targets all |
    sed -n 's/^fuzz_\([a-z0-9_]*\): phony$/\1/p' | grep -v '_replay$' | sort -u)
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets configured" >&2
  exit 1
fi

# The coverage ("cov:", edges) of a libFuzzer status line of the given kind.
coverage_of() {
  grep -E "#[0-9]+[[:space:]]+$1 " "$2" | tail -1 | sed -n 's/.* cov: \([0-9]*\) .*/\1/p'
}

summary=()
status=0
for name in "${targets[@]}"; do
  echo "== build fuzz_$name"
  if ! cmake --build "$build_dir" --target "fuzz_$name" -j "$jobs" >"$build_dir/fuzz_$name.build.log" 2>&1; then
    echo "fuzz: fuzz_$name does not build, skipped (see $build_dir/fuzz_$name.build.log)" >&2
    summary+=("$(printf '%-16s %s' "$name" "not built")")
    status=1
    continue
  fi
  program=$build_dir/fuzz/fuzz_$name
  corpus=fuzz/corpus/$name
  grown=$work_dir/$name/grown
  crashes=$work_dir/$name/crashes
  log=$work_dir/$name/fuzz.log
  rm -rf "$work_dir/$name"
  mkdir -p "$corpus" "$grown" "$crashes"
  files_before=$(find "$corpus" -type f | wc -l)

  echo "== fuzz $name for ${seconds}s"
  outcome=ok
  # shellcheck disable=SC2086
  # -close_fd_mask=1: the libraries' diagnostics on standard output only slow the run down.
  if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -close_fd_mask=1 -artifact_prefix="$crashes/" ${KORVEL_FUZZ_FLAGS:-} "$grown" "$corpus" >"$log" 2>&1; then
    outcome="FAULT: $(find "$crashes" -type f | head -1)"
    status=1
    tail -40 "$log" >&2
  fi
  seed_edges=$(coverage_of INITED "$log")
  final_edges=$(coverage_of DONE "$log")
  [ -n "$final_edges" ] || final_edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)

  echo "== merge new inputs into $corpus"
  "$program" -merge=1 -timeout=10 -rss_limit_mb=2048 "$corpus" "$grown" >"$work_dir/$name/merge.log" 2>&1 || {
    echo "fuzz: merging $name failed (see $work_dir/$name/merge.log)" >&2
    status=1
  }
  files_after=$(find "$corpus" -type f | wc -l)
  summary+=("$(printf '%-16s %6s %6s %6s %8s  %s' "$name" "${seed_edges:-?}" "${final_edges:-?}" \
    "$((files_after - files_before))" "$(du -sh "$corpus" | cut -f1)" "$outcome")")
done

echo
printf '%-16s %6s %6s %6s %8s  %s\n' target seed after added corpus outcome
printf '%s\n' "${summary[@]}"
echo "(seed: edges the corpus reached at the start; after: edges at the end of ${seconds}s)"
exit $status
