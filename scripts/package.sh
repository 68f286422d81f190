#!/usr/bin/env bash
# Builds the Debian package build/clipwright_<version>_amd64.deb (or into $CLIPWRIGHT_BUILD_DIR):
# installs what the build and the packaging need, builds, packs with CPack and checks the
# desktop entry and the software-centre data inside the package. Extra arguments go to
# cmake's configure step.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}
export CLIPWRIGHT_BUILD_DIR=$build

"$root/scripts/setup.sh"

# The packaging tools: dpkg-shlibdeps computes Depends, the validators check the entries.
declare -A tools=([dpkg-shlibdeps]=dpkg-dev [desktop-file-validate]=desktop-file-utils
                  [appstreamcli]=appstream)
missing=()
for tool in "${!tools[@]}"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("${tools[$tool]}")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packaging tools: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
        sudo=()
    elif command -v sudo >/dev/null 2>&1; then
        sudo=(sudo)
    else
        echo "error: packaging tools are missing (${missing[*]}) and neither root nor sudo is available" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

"$root/scripts/build.sh" "$@"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/clipwright_${version}_amd64.deb
rm -f "$deb"
(cd "$build" && cpack -G DEB)
[ -f "$deb" ] || { echo "error: cpack did not write $deb" >&2; exit 1; }

# Check what the package holds, as it will be installed.
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$deb" "$check"
desktop-file-validate "$check/usr/share/applications/clipwright.desktop"
appstreamcli validate --no-net "$check"/usr/share/metainfo/*.metainfo.xml
for program in clipwright clipwright-cli; do
    [ "$(readlink -f "$check/usr/bin/$program")" = "$check/usr/lib/clipwright/$program" ] || {
        echo "error: /usr/bin/$program does not lead to /usr/lib/clipwright/$program" >&2
        exit 1
    }
done
if command -v lintian >/dev/null 2>&1; then
    lintian --no-tag-display-limit "$deb" || true
fi
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
echo "Package: $deb"
