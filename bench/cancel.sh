#!/bin/sh
# The cancel and stop latency measurements (see bench/run-in-wine.sh for HALVERN_BUILD).
exec "$(dirname "$0")/run-in-wine.sh" cancel_bench
