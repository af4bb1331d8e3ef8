#!/usr/bin/env bash
# Builds the Debian package of both programs (optimised, stripped; dependencies from the libraries
# they link) into build-package/package/ and checks it: lintian shows no errors, the desktop entry
# passes desktop-file-validate. Prints the package's path.
#
#   scripts/package.sh && sudo apt install ./build-package/package/zet-pelta_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh lintian desktop-file-utils >&2
# Debian's hardening flags, as its own packages are built with.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-package -j2 >&2
rm -rf build-package/package
(cd build-package && cpack -G DEB >&2)
package=$(ls build-package/package/zet-pelta_*.deb)

desktop-file-validate packaging/zet-pelta.desktop
# Errors fail the package; warnings and notes are shown.
lintian --fail-on error --no-tag-display-limit "$package" >&2
echo "$package"
