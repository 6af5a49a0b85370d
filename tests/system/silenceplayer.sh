#!/bin/bash
# silencePlayer becomes the player: same process, aplay's argument list, and
# nothing at all when the player is missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

:>"$SANDBOX_RECORD"
# The fake player records and returns 7: silencePlayer's own status would be 1.
SANDBOX_FAKE_STATUS_pcmdrone=7 silencePlayer extra --args >/tmp/out 2>&1 &
pid=$!
wait $pid
expect_eq "status seen by the starter (the player's)" 7 "$?"
# Fields: time pid name argv0 args...
expect_eq "player record" "$pid pcmdrone aplay -f cd /dev/zero" "$(recorded_full | cut -d' ' -f2-)"
expect_eq "output" "" "$(cat /tmp/out)"

# No player on the search path: only our programs' directory, no fakes (and,
# for a cross build, the emulator that the programs' wrappers start by name).
wrapper=$(command -v silencePlayer)
searchPath=$(dirname "$wrapper")
if [ "$(head -c2 "$wrapper")" = '#!' ]; then
    mkdir /tmp/emulator
    ln -s "$(command -v "$(awk '$1 == "exec" { print $2 }' "$wrapper")")" /tmp/emulator/
    searchPath=$searchPath:/tmp/emulator
fi
:>"$SANDBOX_RECORD"
timeout 10 env PATH="$searchPath" silencePlayer >/tmp/out 2>&1
expect_eq "status without a player" 1 "$?"
expect_eq "output without a player" "" "$(cat /tmp/out)"
expect_eq "record without a player" "" "$(recorded)"

echo PASS
