#!/usr/bin/env bash
# Runs every gtest binary of the release build under memcheck: any invalid
# access, use of uninitialised memory or leaked block fails the check.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/release
if [[ ! -d $build/tests ]]; then
  echo "60-valgrind: $build has no tests; run scripts/test.sh first" >&2
  exit 1
fi

# The plug-in's own tests and the platform's; the reference host's tests
# drive a simulator of their own and are left to the sanitizer build, and the
# windres cross-check is its own stage (45-resources-windres.sh).
mapfile -t binaries < <(find "$build/tests" -type f -executable -name '*_tests' \
  -not -path '*/tests/host/*' -not -path '*/tests/simulation/*' -not -name '*crosscheck*' | sort)
if (( ${#binaries[@]} == 0 )); then
  echo "60-valgrind: no test binaries found in $build/tests" >&2
  exit 1
fi

logdir=$build/valgrind
rm -rf "$logdir"
mkdir -p "$logdir"
failed=0
for binary in "${binaries[@]}"; do
  name=$(basename "$binary")
  start=$SECONDS
  # Slow cases stay out, as in the plain test run, and so do the
  # allocation-failure tests: memcheck puts its own allocator in place of
  # the failing one they install (they run under ASan instead).
  if valgrind --quiet --error-exitcode=99 --leak-check=full \
       --show-leak-kinds=definite,indirect,possible \
       --errors-for-leak-kinds=definite,indirect,possible \
       --track-origins=yes --log-file="$logdir/$name.log" \
       "$binary" --gtest_brief=1 '--gtest_filter=-*Slow*:*NoMemory*:*AllocationFailure*' \
       >"$logdir/$name.out" 2>&1; then
    echo "memcheck clean: $name ($((SECONDS - start)) s)"
  else
    echo "memcheck FAILED: $name (see $logdir/$name.log)" >&2
    tail -n 40 "$logdir/$name.out" "$logdir/$name.log" >&2
    failed=1
  fi
done
exit $failed
