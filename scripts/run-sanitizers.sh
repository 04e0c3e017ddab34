#!/usr/bin/env bash
# Builds the Qt-free parts (engine, telemetry, make-recording and their tests) twice, once with
# AddressSanitizer+UBSan and once with ThreadSanitizer, and runs their unit tests in each build on
# a private Xvfb with SDL's dummy audio. Any report fails the run: the sanitizers halt on the
# first error. Usage: scripts/run-sanitizers.sh [address|thread]... (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/xvfb.sh"
velk_start_display
export SDL_AUDIODRIVER=dummy

jobs=${VELK_SANITIZER_JOBS:-2}
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)

run_kind() {
    local kind=$1 dir
    case "$kind" in
        address) dir="$root/build-asan" ;;
        thread) dir="$root/build-tsan" ;;
        *) echo "run-sanitizers: unknown sanitizer '$kind' (address or thread)" >&2; return 2 ;;
    esac
    echo "== $kind sanitizer build in $dir"
    local preset=asan
    [ "$kind" = thread ] && preset=tsan
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
    (cd "$root" && cmake --preset "$preset" -B "$dir" "${launcher[@]}" >/dev/null) || return 1
    # Only what the engine and telemetry tests need; the tools' own tests run in the main suite.
    local targets=(engine_tests telemetry_tests damaged_tests make-recording)
    cmake --build "$dir" -j "$jobs" --target "${targets[@]}" || return 1
    echo "== $kind sanitizer tests"
    (
        cd "$dir"
        # Tests of programs not built here show up as *_NOT_BUILT (their one-process runs by
        # the tools' name); the fuzzer is built with its own sanitizers and runs in the main
        # suite.
        ctest --output-on-failure -j "$jobs" -L unit \
            -E '(_NOT_BUILT|^telemetry_fuzz|^tools_tests_in_one_process)$'
    )
}

lsan_supp="$root/scripts/lsan.supp"

# Leaks are reported at exit; UBSan findings stop the test like ASan's.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$lsan_supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp:print_suppressions=0"

status=0
summary=()
for kind in "${kinds[@]}"; do
    if run_kind "$kind"; then
        summary+=("$kind: passed")
    else
        summary+=("$kind: FAILED")
        status=1
    fi
done
printf '== sanitizers: %s\n' "${summary[@]}"
exit $status
