# hivedump_launch OUT ERR CMD ARGS...: runs CMD ARGS, its standard output into
# OUT and its standard error into ERR, and returns its status. Now and then
# Wine's 32-bit loader under qemu ends with status 1 before the program runs,
# saying nothing and writing nothing; the program's own statuses are 0 and
# 255, so such a run is made once more. Plain sh: scripts of either shell
# source it.
hivedump_launch() {
    local out="$1" err="$2" attempt status
    shift 2
    for attempt in 1 2; do
        status=0
        "$@" >"$out" 2>"$err" </dev/null || status=$?
        if [ "$status" != 1 ] || [ -s "$out" ] || [ -s "$err" ]; then
            break
        fi
    done
    return "$status"
}
