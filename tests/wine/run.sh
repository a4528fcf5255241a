#!/usr/bin/env bash
# Runs the Windows test program under Wine with the local servers of the integration tests.
#   run.sh PATH/TO/kr_win_tests.exe [gtest arguments]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

# shellcheck source=../../scripts/lib/wine-env.sh
source "$root/scripts/lib/wine-env.sh"
kr_wine_prepare
exec "$root/tests/support/run_with_servers.sh" wine "$@"
