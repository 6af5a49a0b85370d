#!/bin/sh
# Makes the factory-reset voice prompt normalreset.wav: a two-note chime, then
# "Factory reset" spoken. Run once by hand when the wording changes; the result
# is committed, so building never needs these tools (apt: sox espeak-ng).
# The device plays it with aplay: 16-bit mono at 16 kHz keeps it small.
set -eu
out=${1:-$(dirname "$0")/normalreset.wav}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

note() { sox -n -r 16000 -c 1 -b 16 "$work/$1.wav" synth "$2" sine "$3" fade 0.01 "$2" 0.08 vol 0.5; }
note high 0.18 880
note low 0.3 660
sox "$work/high.wav" "$work/low.wav" "$work/chime.wav" pad 0 0.15
espeak-ng -v en-us -s 150 -w "$work/voice.wav" "Factory reset."
sox "$work/voice.wav" -r 16000 -c 1 -b 16 "$work/voice16.wav" norm -3
sox "$work/chime.wav" "$work/voice16.wav" "$out"
