#!/usr/bin/env bash
# Cross-builds Zet-Pelta for 64-bit Windows on Debian, from Debian's own packages and sources only.
#
#   scripts/windows.sh              dependencies (once), both programs and the tests
#   scripts/windows.sh deps         only the dependencies
#   scripts/windows.sh build        the dependencies and both programs (build-windows/)
#
# The dependencies (Qt's Core, Gui, Widgets and Test with the Windows platform plugin; DCMTK's data
# and network modules; libdeflate; GoogleTest) are built from the sources Debian ships for its own
# packages, fetched with `apt-get source` through a sources file of this script's own, into a cache
# outside the checkout: $ZP_WINDOWS_CACHE, by default ~/.cache/zet-pelta-windows. The first build takes
# about an hour on two cores and says how long it took; later runs reuse it while the machine keeps it.
# Nothing is downloaded from anywhere but Debian's archive, and no prebuilt Windows library is used.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stage=${1:-all}
cache=${ZP_WINDOWS_CACHE:-$HOME/.cache/zet-pelta-windows}
prefix=$cache/prefix # the cross-built dependencies, installed
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${ZP_JOBS:-2}

scripts/install-deps.sh g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64 nsis xvfb xauth zip

mkdir -p "$cache/src" "$cache/logs" "$prefix"

# Debian's sources of the three libraries, the versions the Linux build links. The machine's own apt
# set-up stays as it is: the source entries live in a sources file and lists folder of the cache's own.
fetch_sources() {
    [ -f "$cache/src/.fetched" ] && return 0
    local apt=$cache/apt suite
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian %s main\n' \
        "$suite" >"$apt/sources.list"
    local options=(-o "Dir::Etc::sourcelist=$apt/sources.list" -o Dir::Etc::sourceparts=/nonexistent
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1)
    apt-get "${options[@]}" update -qq
    (cd "$cache/src" && apt-get "${options[@]}" source -qq qt6-base dcmtk libdeflate)
    touch "$cache/src/.fetched"
}

source_dir() { # the unpacked source folder of a Debian source package
    find "$cache/src" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | head -n 1
}

# Runs a named step once: its log goes to the cache's logs folder, its end is marked there.
step() {
    local name=$1
    shift
    [ -f "$cache/logs/$name.done" ] && return 0
    echo "windows: $name ..." >&2
    local started=$SECONDS
    if ! "$@" >"$cache/logs/$name.log" 2>&1; then
        echo "windows: $name failed; the last lines of $cache/logs/$name.log:" >&2
        tail -n 30 "$cache/logs/$name.log" >&2
        exit 1
    fi
    echo "$((SECONDS - started))" >"$cache/logs/$name.done"
    echo "windows: $name took $((SECONDS - started)) s" >&2
}

cross_cmake() { # source build [options]: configure, build and install into the prefix with Ninja
    local source=$1 build=$2
    shift 2
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" "$@"
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# This version of libdeflate builds with a plain Makefile only: its few sources are compiled here.
build_libdeflate() {
    local source out
    source=$(source_dir libdeflate)
    out=$cache/build/libdeflate
    rm -rf "$out" && mkdir -p "$out" "$prefix/lib/pkgconfig" "$prefix/include"
    for file in "$source"/lib/*.c "$source"/lib/*/*.c; do
        x86_64-w64-mingw32-gcc-posix -O2 -DNDEBUG -I"$source" -c "$file" \
            -o "$out/$(basename "$(dirname "$file")")_$(basename "$file" .c).o"
    done
    rm -f "$prefix/lib/libdeflate.a"
    x86_64-w64-mingw32-ar rcs "$prefix/lib/libdeflate.a" "$out"/*.o
    cp "$source/libdeflate.h" "$prefix/include/"
    printf '%s\n' "prefix=$prefix" 'libdir=${prefix}/lib' 'includedir=${prefix}/include' '' 'Name: libdeflate' \
        'Description: DEFLATE, zlib and gzip (de)compression' 'Version: 1.14' 'Libs: -L${libdir} -ldeflate' \
        'Cflags: -I${includedir}' >"$prefix/lib/pkgconfig/libdeflate.pc"
}

build_googletest() {
    cross_cmake /usr/src/googletest "$cache/build/googletest" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF
}

# Only what the window needs. The Debian source lacks the tablet library's header, so tablet events
# are off; OpenGL stays on (the platform plugin of this version does not build without it).
build_qt() {
    cross_cmake "$(source_dir qt6-base)" "$cache/build/qt" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF
}

# DCMTK's configure runs small test programs under Wine; linked statically they find their runtime.
build_dcmtk() {
    local runtime
    runtime=$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)
    export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    [ -d "$WINEPREFIX" ] || wineboot -i
    cross_cmake "$(source_dir dcmtk)" "$cache/build/dcmtk" -DCPP_RUNTIME="$runtime" \
        -DCMAKE_EXE_LINKER_FLAGS=-static -DBUILD_APPS=OFF -DBUILD_SHARED_LIBS=OFF \
        -DDCMTK_MODULES="ofstd;oflog;dcmdata;dcmtls;dcmnet" -DDCMTK_WITH_OPENSSL=OFF -DDCMTK_WITH_PNG=OFF \
        -DDCMTK_WITH_TIFF=OFF -DDCMTK_WITH_XML=OFF -DDCMTK_WITH_ZLIB=ON -DDCMTK_WITH_ICONV=OFF \
        -DDCMTK_WITH_ICU=OFF -DDCMTK_WITH_SNDFILE=OFF -DDCMTK_WITH_WRAP=OFF -DDCMTK_WITH_OPENJPEG=OFF \
        -DDCMTK_WITH_DOXYGEN=OFF -DDCMTK_ENABLE_BUILTIN_DICTIONARY=ON -DDCMTK_ENABLE_EXTERNAL_DICTIONARY=OFF \
        -DDCMTK_WIDE_CHAR_FILE_IO_FUNCTIONS=ON -DCMAKE_INSTALL_DATADIC=share/dcmtk
}

deps() {
    local started=$SECONDS
    step sources fetch_sources
    step libdeflate build_libdeflate
    step googletest build_googletest
    step dcmtk build_dcmtk
    step qt build_qt
    if [ ! -f "$cache/logs/all.done" ]; then
        echo "$((SECONDS - started))" >"$cache/logs/all.done"
        echo "windows: the dependencies took $((SECONDS - started)) s to build; they are kept in $cache" >&2
    else
        echo "windows: dependencies from $cache (first built in $(cat "$cache/logs/all.done") s)" >&2
    fi
}

# Both programs for Windows, against the cross-built dependencies (Qt's own qt-cmake chains the
# toolchain file), into build-windows/.
build_programs() {
    export ZP_WINDOWS_PREFIX=$prefix
    PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig "$prefix/bin/qt-cmake" -S "$root" -B "$root/build-windows" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=/ -DZLIB_USE_STATIC_LIBS=ON -DBUILD_TESTING=OFF
    cmake --build "$root/build-windows" -j "$jobs"
}

deps
[ "$stage" = deps ] && exit 0
build_programs
[ "$stage" = build ] && exit 0
echo "windows: the tests under Wine, the zip and the installer are not done yet" >&2
exit 1
