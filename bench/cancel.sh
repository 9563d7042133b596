#!/bin/sh
# The cancel latency measurement (see bench/run-in-wine.sh for HALVERN_BUILD).
exec "$(dirname "$0")/run-in-wine.sh" cancel_bench
