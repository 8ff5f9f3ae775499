#!/usr/bin/env bash
# Runs a sanitized test program; when it fails only because the leak checker's own tracer
# crashed at exit ("LeakSanitizer has encountered a fatal error", an intermittent fault of
# the sanitizer runtime while other threads wind down), runs it again, at most twice more.
# A real leak report, a failed test or any other crash is returned at once.
# The frequent cause of that crash, GCC 12's runtime misreading a dynamic thread-local block
# as an old glibc header when it lands at offset 16 of a page, is avoided by running with
# ASAN_OPTIONS=intercept_tls_get_addr=0 (the asan test preset sets it, and so does this
# script when the caller has not); this retry stays for what else may remain.
set -u
case ":${ASAN_OPTIONS:-}:" in
  *:intercept_tls_get_addr=*) ;;
  *) export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0" ;;
esac
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for attempt in 1 2 3; do
  "$@" >"$log" 2>&1
  rc=$?
  cat "$log"
  if [ "$rc" -eq 0 ] || ! grep -q "LeakSanitizer has encountered a fatal error" "$log" ||
    grep -q -e "ERROR: LeakSanitizer: detected memory leaks" -e "ERROR: AddressSanitizer" -e "runtime error:" \
      -e "\[  FAILED  \]" "$log"; then
    exit "$rc"
  fi
  echo "lsan-retry: the leak checker's tracer crashed (attempt $attempt); running the test again" >&2
done
exit "$rc"
