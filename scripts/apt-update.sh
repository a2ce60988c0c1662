#!/bin/sh
# apt-get update, tried again a few times: a mirror in the middle of a sync
# serves index files that do not match their release file for a while. If
# it still fails, the lists that did come in are used: the install after it
# says clearly if a package cannot be found.
# usage: scripts/apt-update.sh [apt-get options]
set -u
attempts=3
attempt=1
while ! apt-get "$@" update; do
    if [ "$attempt" -ge "$attempts" ]; then
        echo "apt-update.sh: apt-get update failed $attempts times; going on with the package lists there are" >&2
        exit 0
    fi
    echo "apt-update.sh: apt-get update failed (attempt $attempt of $attempts); trying again in 20 s" >&2
    attempt=$((attempt + 1))
    sleep 20
done
