#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt, and any packages named as arguments,
# that are missing. apt-get update runs only when something has to be installed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

missing=()
while read -r pkg; do
    pkg=${pkg%%#*}
    pkg=$(echo "$pkg" | tr -d '[:space:]')
    [ -z "$pkg" ] && continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done < <(cat "$here/packages.txt"; printf '%s\n' "$@")

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "error: packages are missing (${missing[*]}) and neither root nor sudo is available" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
