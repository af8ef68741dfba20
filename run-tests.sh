#!/usr/bin/env bash
# Builds everything and runs every test: `make test`, with what a fresh
# Debian 12 machine lacks (make itself among it) installed first, so that
# nothing but bash is needed to start. Arguments go to make, for example
# ./run-tests.sh PRESET=asan
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
exec make test "$@"
