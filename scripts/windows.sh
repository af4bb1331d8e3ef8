#!/usr/bin/env bash
# Cross-builds Zet-Pelta for 64-bit Windows on Debian, from Debian's own packages and sources only.
#
#   scripts/windows.sh              dependencies (once), both programs, the tests under Wine, the zip
#                                   and the installer (build-windows/package/)
#   scripts/windows.sh deps         only the dependencies
#   scripts/windows.sh build        the dependencies and both programs with their tests (build-windows/)
#
# The dependencies (Qt's Core, Gui, Widgets and Test with the Windows platform plugin; DCMTK's data
# and network modules with ICU for its character sets; libdeflate; GoogleTest) are built from the
# sources Debian ships for its own packages, fetched with `apt-get source` through a sources file of
# this script's own, into a cache outside the checkout: $ZP_WINDOWS_CACHE, by default
# ~/.cache/zet-pelta-windows. The first build takes about two hours on two cores (Qt most of it) and
# says how long each part took; later runs reuse it while the machine keeps it. The tests run under
# Wine in a prefix of the cache's own, on a virtual X display for the window (ctest and
# tests/windows/windows_test.py); the Linux build in build/ lends the icon, the sample discs, the CLI
# the Windows one is compared with, and what gzip and compress make in the engine's tests.
# Nothing is downloaded from anywhere but Debian's archive, and no prebuilt Windows library is used.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stage=${1:-all}
cache=${ZP_WINDOWS_CACHE:-$HOME/.cache/zet-pelta-windows}
prefix=$cache/prefix # the cross-built dependencies, installed
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${ZP_JOBS:-2}

scripts/install-deps.sh g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64 nsis xvfb xauth \
    zip unzip imagemagick xdotool dcmtk

mkdir -p "$cache/src" "$cache/logs" "$prefix"

# Debian's sources of the libraries, the versions the Linux build links. The machine's own apt set-up
# stays as it is: the source entries live in a sources file and lists folder of the cache's own. Each
# package is fetched once, so a cache made before a package joined the list fetches only that one.
fetch_sources() {
    local apt=$cache/apt suite package
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian %s main\n' \
        "$suite" >"$apt/sources.list"
    local options=(-o "Dir::Etc::sourcelist=$apt/sources.list" -o Dir::Etc::sourceparts=/nonexistent
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1)
    local updated=
    for package in qt6-base dcmtk libdeflate icu; do
        [ -n "$(source_dir "$package")" ] && continue
        [ -n "$updated" ] || { apt-get "${options[@]}" update -qq && updated=1; }
        (cd "$cache/src" && apt-get "${options[@]}" source -qq "$package")
    done
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

# ICU, for DCMTK's character set conversion: the names of a study in Greek, Japanese or Korean read
# as on Linux, whose DCMTK converts through the C library's iconv, which MinGW lacks (the comparison
# in windows_test.py holds the two to the same result). A cross-build needs ICU's own tools built for
# this machine first. Debian's source carries the data prebuilt; only the converters and their alias
# table are kept (5 of 31 MB), since conversion is all DCMTK asks of ICU. Static libraries, with the
# data as a library of its own (ICU puts that one in bin/; the lib/ one of that name is a stub).
build_icu() {
    local source native=$cache/build/icu-native cross=$cache/build/icu
    source=$(source_dir icu)/source
    rm -rf "$native" "$cross" && mkdir -p "$native" "$cross" "$prefix/bin"
    (cd "$native" && "$source/configure" --disable-tests --disable-samples --disable-extras --disable-icuio \
        --disable-layoutex && make -j "$jobs")
    local icupkg=("env" "LD_LIBRARY_PATH=$native/lib" "$native/bin/icupkg") data
    data=$(find "$source/data/in" -name 'icudt*l.dat' | head -n 1)
    "${icupkg[@]}" -l "$data" | grep -vE '\.cnv$|^cnvalias\.icu$' >"$cross/remove.txt"
    "${icupkg[@]}" -r "$cross/remove.txt" "$data" "$cross/converters.dat"
    (cd "$cross" && CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix "$source/configure" \
        --host=x86_64-w64-mingw32 --with-cross-build="$native" --prefix="$prefix" --enable-static \
        --disable-shared --with-data-packaging=static --disable-tests --disable-samples --disable-extras \
        --disable-icuio --disable-layoutex --disable-tools &&
        make -j "$jobs" ICUDATA_SOURCE_ARCHIVE="$cross/converters.dat" &&
        make install ICUDATA_SOURCE_ARCHIVE="$cross/converters.dat")
    cp "$prefix/bin/sicudt.a" "$prefix/lib/libsicudt.a"
}

# DCMTK as Debian configures it (the standard library's strings and containers, C++17, the private
# tags in the dictionary), so that it parses a file as the Linux build's does: its own string class,
# the default otherwise, loops where the standard one throws on a damaged directory record. DCMTK's
# configure runs small test programs under Wine; linked statically they find their runtime.
build_dcmtk() {
    local runtime
    runtime=$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)
    export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    [ -d "$WINEPREFIX" ] || wineboot -i
    cross_cmake "$(source_dir dcmtk)" "$cache/build/dcmtk" -DCPP_RUNTIME="$runtime" \
        -DCMAKE_EXE_LINKER_FLAGS=-static -DBUILD_APPS=OFF -DBUILD_SHARED_LIBS=OFF \
        -DDCMTK_MODULES="ofstd;oflog;dcmdata;dcmtls;dcmnet" -DDCMTK_WITH_OPENSSL=OFF -DDCMTK_WITH_PNG=OFF \
        -DDCMTK_WITH_TIFF=OFF -DDCMTK_WITH_XML=OFF -DDCMTK_WITH_ZLIB=ON -DDCMTK_WITH_ICONV=OFF \
        -DDCMTK_WITH_ICU=ON -DICU_INCLUDE_DIR="$prefix/include" -DICU_UC_LIBRARY_RELEASE="$prefix/lib/libsicuuc.a" \
        -DICU_DATA_LIBRARY_RELEASE="$prefix/lib/libsicudt.a" -DCMAKE_CXX_FLAGS=-DU_STATIC_IMPLEMENTATION \
        -DDCMTK_WITH_SNDFILE=OFF -DDCMTK_WITH_WRAP=OFF -DDCMTK_WITH_OPENJPEG=OFF \
        -DDCMTK_WITH_DOXYGEN=OFF -DDCMTK_ENABLE_BUILTIN_DICTIONARY=ON -DDCMTK_ENABLE_EXTERNAL_DICTIONARY=OFF \
        -DDCMTK_WIDE_CHAR_FILE_IO_FUNCTIONS=ON -DCMAKE_INSTALL_DATADIC=share/dcmtk -DDCMTK_ENABLE_STL=ON \
        -DCMAKE_CXX_STANDARD=17 -DDCMTK_ENABLE_PRIVATE_TAGS=ON
}

deps() {
    if ! fetch_sources >>"$cache/logs/sources.log" 2>&1; then
        echo "windows: fetching the sources failed; the last lines of $cache/logs/sources.log:" >&2
        tail -n 30 "$cache/logs/sources.log" >&2
        exit 1
    fi
    step libdeflate build_libdeflate
    step googletest build_googletest
    step icu build_icu
    step dcmtk-as-debian build_dcmtk # a name of its own: a cache with an older DCMTK builds it again
    step qt build_qt
    # What each step took when it ran (a step cut off and run again counts its last run only).
    local total=0 parts=() name seconds
    for name in libdeflate googletest icu dcmtk-as-debian qt; do
        seconds=$(cat "$cache/logs/$name.done")
        total=$((total + seconds))
        parts+=("$name $seconds s")
    done
    echo "windows: dependencies in $cache, built in $total s ($(IFS=,; echo "${parts[*]}" | sed 's/,/, /g'))" >&2
}

# What the Windows build takes from this machine's build (build/, as ./test.sh makes it): the icon
# drawn by the window's code, for the comparison the Linux CLI and the sample-disc generator, and what
# gzip and compress made in the engine's tests, recorded for the Windows tests, which have neither.
linux_helpers() {
    cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
    cmake --build "$root/build" -j "$jobs" --target zet-pelta-cli zet-pelta zet-pelta-make-disc zet-pelta-icons test_engine
    local records=$root/build-windows/filter-records
    rm -rf "$records" && mkdir -p "$records"
    ZP_FILTER_RECORDS=$records "$root/build/tests/engine/test_engine" --gtest_filter='Decompress*:ImageMigration*:RunControl*' \
        --gtest_brief=1 >/dev/null
    local icons=$root/build-windows/icons
    rm -rf "$icons"
    QT_QPA_PLATFORM=offscreen "$root/build/tools/zet-pelta-icons" "$icons"
    convert "$icons"/{16x16,24x24,32x32,48x48,64x64,256x256}/apps/zet-pelta.png "$icons/zet-pelta.ico"
}

# Both programs and the tests for Windows, against the cross-built dependencies (Qt's own qt-cmake
# chains the toolchain file), into build-windows/.
build_programs() {
    export ZP_WINDOWS_PREFIX=$prefix
    PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig "$prefix/bin/qt-cmake" -S "$root" -B "$root/build-windows" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=/ -DZLIB_USE_STATIC_LIBS=ON -DZP_WERROR=ON \
        -DZP_WINDOWS_ICON="$root/build-windows/icons/zet-pelta.ico"
    cmake --build "$root/build-windows" -j "$jobs"
}

# Wine in a prefix of the cache's own, without the dialogs of a first start and without its debug
# chatter (the window's test starts a virtual X display of its own).
wine_setup() {
    export WINEPREFIX=$cache/wine-tests WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
}

# DCMTK's storescp on a free port, for the window's send test: under Wine that test could start this
# Linux program but never stop it. Up once it answers C-ECHO; one that ends at once found its port taken.
start_storescp() {
    local port try
    for try in $(seq 20); do
        port=$((20000 + RANDOM % 30000))
        storescp --ignore "$port" >/dev/null 2>&1 &
        storescp=$!
        for try in $(seq 50); do
            if echoscu 127.0.0.1 "$port" >/dev/null 2>&1; then
                export ZP_STORESCP_PORT=$port
                return
            fi
            kill -0 "$storescp" 2>/dev/null || break
            sleep 0.1
        done
        kill "$storescp" 2>/dev/null || true
        wait "$storescp" 2>/dev/null || true
    done
    echo "windows: storescp answered on no port tried" >&2
    exit 1
}

run_tests() {
    wine_setup
    # The window's tests on a virtual X display of their own.
    local display
    display=$(for n in $(seq 90 199); do [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; break; }; done)
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill "${xvfb:-}" "${storescp:-}" 2>/dev/null || true' EXIT
    start_storescp
    DISPLAY=":$display" ctest --test-dir "$root/build-windows" --output-on-failure
    kill "$xvfb" "$storescp"
    xvfb= storescp=
    local package=$root/build-windows/package
    (cd "$root/build-windows" && cpack -G ZIP && cpack -G NSIS -D CPACK_PACKAGE_FILE_NAME="zet-pelta-$version-setup")
    # The installer as the previous version made it, for the test of an update over it: CPack's
    # standard NSIS script (found when the module path holds no script of ours), with its settings.
    mkdir -p "$root/build-windows/standard-nsis"
    (cd "$root/build-windows" && cpack -G NSIS -D CPACK_MODULE_PATH="$root/build-windows/standard-nsis" \
        -D CPACK_PACKAGE_FILE_NAME=zet-pelta-previous-setup -D "CPACK_PACKAGE_EXECUTABLES=zet-pelta;Zet-Pelta" \
        -D CPACK_NSIS_DISPLAY_NAME=Zet-Pelta -D CPACK_NSIS_INSTALLED_ICON_NAME=zet-pelta.exe \
        -D CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL=ON)
    /usr/bin/python3 "$root/tests/windows/windows_test.py" --zip "$package/zet-pelta-$version-win64.zip" \
        --setup "$package/zet-pelta-$version-setup.exe" --previous-setup "$package/zet-pelta-previous-setup.exe" \
        --linux-cli "$root/build/zet-pelta-cli" --linux-window "$root/build/zet-pelta" --make-disc "$root/build/bench/zet-pelta-make-disc" \
        --charset-files "$(/usr/bin/python3 -c 'import os, pydicom; print(os.path.dirname(pydicom.__file__))')/data/charset_files" \
        --screenshot "$root/build-windows/window-windows.png"
    echo "windows: $package/zet-pelta-$version-win64.zip" >&2
    echo "windows: $package/zet-pelta-$version-setup.exe" >&2
}

version=$(sed -n 's/^project(ZetPelta VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deps
[ "$stage" = deps ] && exit 0
linux_helpers
build_programs
[ "$stage" = build ] && exit 0
run_tests
