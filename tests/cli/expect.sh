#!/bin/sh
# Runs one zok command and checks its exit status and what it wrote, for the command-line tests.
# usage: expect.sh STATUS LIMIT_MIB [-e STDERR_REGEX]... [-o STDOUT_REGEX]... -- COMMAND [ARGS...]
# LIMIT_MIB > 0 runs the command in that much address space, so that an allocation it cannot make
# fails at once instead of paging; 0 runs it unlimited. Output files are capped so a command that
# would write forever fails instead of filling the disk.
status=$1 limit=$2
shift 2
errs="" outs=""
while [ "$1" != "--" ]; do
  case $1 in
    -e) errs="$errs
$2" ;;
    -o) outs="$outs
$2" ;;
    *) echo "expect.sh: bad argument $1"; exit 2 ;;
  esac
  shift 2
done
shift
if [ "$limit" -gt 0 ] && [ "$ZOK_TEST_SANITIZED" = 1 ]; then
  # The sanitizers reserve terabytes of address space, so the limit is one on single allocations;
  # they abort on a failed one, so a case that expects a reported failure cannot run.
  if [ "$status" -eq 1 ]; then
    echo "skipped: a sanitizer build aborts on a failed allocation"
    exit 77
  fi
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=$limit"
  export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}max_allocation_size_mb=$limit"
  limit=0
fi
dir=$(mktemp -d) || exit 2
trap 'rm -rf "$dir"' EXIT
(
  ulimit -f 131072
  if [ "$limit" -gt 0 ]; then
    ulimit -v $((limit * 1024))
    # Fewer threads, so that their stacks and the BLAS buffers fit in the limit on any machine
    # (the BLAS retries a failed buffer allocation for ever).
    export OMP_NUM_THREADS=2 OPENBLAS_NUM_THREADS=1
  fi
  exec "$@" >"$dir/out" 2>"$dir/err"
)
got=$?
fail=0
if [ "$got" -ne "$status" ]; then
  echo "exit status $got, expected $status"
  fail=1
fi
set -f  # the patterns are not file names
IFS='
'
for re in $errs; do grep -Eq -- "$re" "$dir/err" || { echo "stderr lacks: $re"; fail=1; }; done
for re in $outs; do grep -Eq -- "$re" "$dir/out" || { echo "stdout lacks: $re"; fail=1; }; done
if [ "$fail" -ne 0 ]; then
  echo "--- stderr:"; head -c 4000 "$dir/err"
  echo "--- stdout:"; head -c 2000 "$dir/out"
fi
exit $fail
