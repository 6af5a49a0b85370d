# Sourced by the demo's stand-ins for the system programs that the device
# needs but this machine cannot run as they are (no radio, no sound card).
# shellcheck shell=bash

# record NAME ARGS...: one line in the sandbox's record, as its fakes write it
# ("<sec.nsec> <pid> <name> <argv0> <args...>"), so the demo checks the calls
# of stand-ins and fakes alike.
record() {
    local name=$1
    shift
    printf '%s %d %s %s\n' "$(date +%s.%N)" "$$" "$name" "$name${*:+ $*}" >>"$SANDBOX_RECORD"
}

# event TEXT: what the stand-in did, for the demo to show. Programs run by a
# daemon have no terminal (its output is /dev/null), hence a file.
event() { printf '%s\n' "$*" >>"${DEMO_EVENTS:-/run/demo/events}"; }
