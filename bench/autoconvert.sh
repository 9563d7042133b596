#!/bin/sh
# The Auto Converter measurements: scan passes without and with an output name pattern, the stop
# while waiting, idle processor time and the delay from a recording's close to its conversion (see
# bench/run-in-wine.sh for HALVERN_BUILD).
exec "$(dirname "$0")/run-in-wine.sh" autoconvert_bench
