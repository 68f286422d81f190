#!/usr/bin/env bash
# Fails when the manual page lacks a command that `clipwright-cli --help` lists (as a
# section of its own) or an option that the command's --help prints, and when a --help
# fails or prints nothing. Prints what it compared.
set -uo pipefail
cli=$1
page=$2

# Runs `clipwright-cli ARGS... --help`; its text, or a failure when it exits non-zero or
# prints nothing.
help_of() {
    local out status
    out=$("$cli" "$@" --help 2>&1)
    status=$?
    if [ $status -ne 0 ]; then
        echo "FAIL: clipwright-cli $* --help exited with $status" >&2
        printf '%s\n' "$out" >&2
        return 1
    fi
    if [ -z "$out" ]; then
        echo "FAIL: clipwright-cli $* --help printed nothing" >&2
        return 1
    fi
    printf '%s\n' "$out"
}

[ -s "$page" ] || { echo "FAIL: no manual page at $page"; exit 1; }
# The page as plain text: roff's escaped hyphens and font changes taken out.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page") || exit 1
main_help=$(help_of) || exit 1
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$main_help" | awk '/^  [a-z]/ {print $1}')
if [ -z "$commands" ]; then
    echo "FAIL: no commands in clipwright-cli --help"
    printf '%s\n' "$main_help"
    exit 1
fi
failed=0
for option in --help -h; do
    grep -qF -- "$option" <<<"$text" || { echo "FAIL: $option is missing"; failed=1; }
done
for command in $commands; do
    if ! grep -qx "\.SS $command" <<<"$text"; then
        echo "FAIL: command $command has no section"
        failed=1
    fi
    # The command's own section: from its heading to the next one.
    section=$(awk -v c=".SS $command" '$0 == c {on = 1; next} /^\.S[SH] / {on = 0} on' <<<"$text")
    if ! command_help=$(help_of "$command"); then
        failed=1
        continue
    fi
    options=$(grep -oE -- '--[a-z][a-z-]*' <<<"$command_help" | sort -u | grep -vx -- --help)
    for option in $options; do
        if ! grep -qF -- "$option" <<<"$section"; then
            echo "FAIL: $command $option is missing"
            failed=1
        fi
    done
    echo "compared: $command:" $options
done
[ $failed -eq 0 ] && echo "checked: $(echo $commands)"
exit $failed
