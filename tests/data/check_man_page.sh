#!/usr/bin/env bash
# Fails when the manual page lacks a command that `clipwright-cli --help` lists (as a
# section of its own) or an option that the command's --help prints.
set -u
cli=$1
page=$2
# The page as plain text: roff's escaped hyphens and font changes taken out.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
commands=$("$cli" --help | sed -n '/^Commands:/,/^$/p' | awk '/^  [a-z]/ {print $1}')
if [ -z "$commands" ]; then
    echo "FAIL: no commands in clipwright-cli --help"
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
    for option in $("$cli" "$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        [ "$option" = --help ] && continue
        if ! grep -qF -- "$option" <<<"$section"; then
            echo "FAIL: $command $option is missing"
            failed=1
        fi
    done
done
[ $failed -eq 0 ] && echo "checked: $(echo $commands)"
exit $failed
