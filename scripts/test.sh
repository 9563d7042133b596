#!/bin/sh
# Sets up what is missing, builds both targets and runs the whole test suite under Wine.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" i686
"$top/scripts/build.sh" x86_64
cd "$top/build/x86_64"
# Fails when a test fails; --no-tests=error and the count below fail when no test program ran.
ctest --output-on-failure --no-tests=error "$@"
programs=$(ctest -N | grep -c 'Test *#' || true)
if [ "$programs" -le 2 ]; then
    echo "No test programs were registered" >&2
    exit 1
fi
