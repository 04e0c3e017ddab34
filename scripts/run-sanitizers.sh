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
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELK_ENGINE_ONLY=ON -DVELK_SANITIZE="$kind" >/dev/null || return 1
    # Only what the engine and telemetry tests need; the tools' own tests run in the main suite.
    local targets=(engine_tests telemetry_tests make-recording)
    if ninja -C "$dir" -t targets all 2>/dev/null | grep -q '^damaged_tests:'; then
        targets+=(damaged_tests)
    fi
    cmake --build "$dir" -j "$jobs" --target "${targets[@]}" || return 1
    echo "== $kind sanitizer tests"
    (
        cd "$dir"
        # Tests of programs not built here show up as *_NOT_BUILT; the fuzzer is built with its
        # own sanitizers and runs in the main suite.
        ctest --output-on-failure -j "$jobs" -L unit -E '(_NOT_BUILT|^telemetry_fuzz)$'
    )
}

# Leak suppressions, written here so that each carries its reason. Only allocations made and
# kept inside uninstrumented system libraries belong here, never one with our code in its stack.
lsan_supp="$root/build-asan/lsan.supp"
mkdir -p "$root/build-asan"
cat >"$lsan_supp" <<'SUPP'
# SDL_Init's video part opens the D-Bus session connection (screensaver inhibition, input
# methods); libdbus keeps its per-process buffers until exit by design and has no call that
# frees them while other users may still hold the connection.
leak:libdbus-1.so
SUPP

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
