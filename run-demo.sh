#!/usr/bin/env bash
# The demo: `make demo`, with what a fresh Debian 12 machine lacks (make
# itself among it) installed first, so that nothing but bash is needed to
# start. Arguments go to make, for example ./run-demo.sh PRESET=asan
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
exec make demo "$@"
