# Helpers shared by the end-to-end scripts (sourced). Each script sets ns and display, and may
# define FailDetails to print more when it fails.
Fail() {
    if declare -F FailDetails >/dev/null; then FailDetails; fi
    echo "FAIL: $*"
    exit 1
}
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited with $?"' ERR
InNs() { ip netns exec "$ns" env DISPLAY="$display" "$@"; }
WaitFor() {  # seconds, description, command...
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || Fail "timed out waiting for $what"
        sleep 0.05
    done
}
