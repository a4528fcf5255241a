# Checks for the shell-driven scenarios: each check prints one line and counts failures, so a
# scenario runs to its end and reports everything that went wrong. Source it; `failures` holds the count.
failures=0

check() { # description, then a command that must succeed
    local what=$1
    shift
    if "$@"; then
        echo "[  OK  ] $what"
    else
        echo "[FAILED] $what"
        failures=$((failures + 1))
    fi
}

# wait_for SECONDS COMMAND...: polls every 0.2 s until COMMAND succeeds.
wait_for() {
    local tries=$(($1 * 5))
    shift
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}
