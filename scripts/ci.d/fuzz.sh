#!/usr/bin/env bash
# The fuzz step of CI: every corpus input of every libFuzzer target once (the regression cases
# among them), then each target for a fixed number of runs from a fixed seed, so that the same
# commit gives the same result. scripts/fuzz.sh says more, and explores further by hand.
set -euo pipefail
exec "$(dirname "$0")/../fuzz.sh" --ci
