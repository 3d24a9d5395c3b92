# report.sh - sourced by the shell test scripts: counts and prints results.
#   ok NAME                  a passed check
#   bad NAME [DETAIL...]     a failed check
#   expect NAME ACTUAL EXPECTED
#   report_summary [SKIPPED] prints "N passed, N failed[, N skipped]"; returns 1 on a failure
passed=0
failed=0
ok() { passed=$((passed + 1)); printf '    ok    %s\n' "$1"; }
bad() {
    failed=$((failed + 1))
    printf '    FAIL  %s\n' "$1"
    [ $# -gt 1 ] && printf '          %s\n' "${@:2}"
    return 0
}
expect() { if [ "$2" == "$3" ]; then ok "$1"; else bad "$1" "got '$2', expected '$3'"; fi; }
report_summary() {
    if [ "${1:-0}" -gt 0 ]; then
        echo "$passed passed, $failed failed, $1 skipped"
    else
        echo "$passed passed, $failed failed"
    fi
    [ "$failed" -eq 0 ]
}
