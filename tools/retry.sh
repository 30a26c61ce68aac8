# Sourced by the set-up scripts (tools/install-deps.sh,
# tools/setup-i386-wine.sh) for their steps that fetch from a Debian mirror.
# Such a step fails now and then for a minute or two and then passes again: a
# mirror caught mid-sync ("File has unexpected size ... Mirror sync in
# progress?"), a dropped connection. So it is tried again a few times, with
# a growing pause, before the set-up gives up and says which step it was.
#
#   retry WHAT COMMAND [ARGUMENT...]
#
# Runs COMMAND up to RETRY_ATTEMPTS times (default 4), pausing RETRY_PAUSE
# seconds (default 20) after the first failure and twice as long after each
# further one. Returns 0 on the first success, else the last exit status
# after naming WHAT and the command on stderr.
# shellcheck shell=bash
retry() {
    local what=$1 attempt=1 status
    local attempts=${RETRY_ATTEMPTS:-4} pause=${RETRY_PAUSE:-20}
    shift
    while true; do
        "$@" && return 0
        status=$?
        [ "$attempt" -lt "$attempts" ] || break
        echo "${0##*/}: $what failed (exit $status, attempt $attempt of $attempts);" \
            "trying again in $pause s" >&2
        sleep "$pause"
        attempt=$((attempt + 1))
        pause=$((pause * 2))
    done
    echo "${0##*/}: $what failed $attempts times (last exit $status): $*" >&2
    return "$status"
}
