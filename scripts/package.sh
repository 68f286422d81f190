#!/usr/bin/env bash
# Builds the Debian package build/clipwright_<version>_amd64.deb (or into $CLIPWRIGHT_BUILD_DIR):
# installs what the build and the packaging need, builds, packs with CPack and checks the
# desktop entry and the software-centre data inside the package. Extra arguments go to
# cmake's configure step.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}
export CLIPWRIGHT_BUILD_DIR=$build

# The packaging tools come with the build's packages: dpkg-dev (dpkg-shlibdeps computes
# Depends), desktop-file-utils and appstream (the validators of the entries).
"$root/scripts/setup.sh" dpkg-dev desktop-file-utils appstream

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
