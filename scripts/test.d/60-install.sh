# Sourced by test.sh (set -euo pipefail in effect). Builds a release as a distribution would
# (prefix /usr), installs it into a temporary root and checks what a user meets there: the file
# list, the desktop entry, the AppStream data, the manual pages, a C program built against the
# installed library with pkg-config and run on a simulated board, and no trace of the build or
# source folders. Then it makes the Debian packages, checks them with lintian, installs them into
# a throw-away root with dpkg and starts the program from there.
install_build="${build:-build-test}-pkg"
install_fail() {
  echo "test.d/install: FAILED: $*" >&2
  return 1
}
install_tmp=$(mktemp -d)
install_root="$install_tmp/root"
install_src=$PWD
install_arch_libdir=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

cmake -S . -B "$install_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DFARSCAN_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null || install_fail "configure"
cmake --build "$install_build" -j "$(nproc)" || install_fail "build"
install_bdir=$(cd "$install_build" && pwd)

DESTDIR="$install_root" cmake --install "$install_build" --strip >/dev/null \
  || install_fail "cmake --install"

# The file list.
for f in usr/bin/farscan usr/bin/farscan-sim usr/bin/portiva \
  "$install_arch_libdir/libportiva.so.1.7.9" "$install_arch_libdir/libportiva.so.1" \
  "$install_arch_libdir/libportiva.so" "$install_arch_libdir/pkgconfig/portiva.pc" \
  usr/include/portiva.h usr/lib/udev/rules.d/60-portiva.rules \
  usr/share/applications/org.farscan.Farscan.desktop \
  usr/share/metainfo/org.farscan.Farscan.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/org.farscan.Farscan.svg \
  usr/share/icons/hicolor/128x128/apps/org.farscan.Farscan.png \
  usr/share/man/man1/farscan.1.gz usr/share/man/man1/farscan-sim.1.gz usr/share/man/man1/portiva.1.gz \
  usr/share/man/man3/portiva.3.gz usr/share/man/man1/portiva-debugview.1.gz \
  usr/bin/portiva-debugview usr/share/farscan/beacons.csv \
  usr/share/doc/farscan/copyright usr/share/doc/libportiva1/changelog.gz; do
  [[ -e "$install_root/$f" ]] || install_fail "$f is not installed"
done
[[ $(readlink "$install_root/$install_arch_libdir/libportiva.so.1") == libportiva.so.1.7.9 ]] \
  || install_fail "libportiva.so.1 does not point at libportiva.so.1.7.9"
objdump -p "$install_root/$install_arch_libdir/libportiva.so.1.7.9" | grep 'SONAME *libportiva.so.1$' >/dev/null \
  || install_fail "the library's SONAME is not libportiva.so.1"
! objdump -p "$install_root/$install_arch_libdir/libportiva.so.1.7.9" | grep portiva_test_interface >/dev/null \
  || install_fail "the installed library carries the test entry point"

# Nothing installed names the build or source folder.
if grep -rlF -e "$install_bdir" -e "$install_src" "$install_root"; then
  install_fail "installed files above name the build or source folder"
fi

# Desktop entry, AppStream data, manual pages.
desktop-file-validate "$install_root/usr/share/applications/org.farscan.Farscan.desktop" \
  || install_fail "desktop-file-validate"
grep -q '^Categories=.*HamRadio;' "$install_root/usr/share/applications/org.farscan.Farscan.desktop" \
  || install_fail "the desktop entry is not in the HamRadio category"
appstreamcli validate --no-net "$install_root/usr/share/metainfo/org.farscan.Farscan.metainfo.xml" \
  >/dev/null || install_fail "appstreamcli validate"
for page in man1/farscan.1.gz man1/farscan-sim.1.gz man1/portiva.1.gz man1/portiva-debugview.1.gz \
  man3/portiva.3.gz; do
  install_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$install_root/usr/share/man/$page" 2>&1 >/dev/null)
  [[ -z "$install_warnings" ]] || install_fail "man -l $page warns: $install_warnings"
  [[ $(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$install_root/usr/share/man/$page" 2>/dev/null | wc -l) -gt 30 ]] \
    || install_fail "man -l $page shows next to nothing"
done
# Every command of the board tool is in its manual.
for cmd in $(PORTIVA_SIM=0 LD_LIBRARY_PATH="$install_root/$install_arch_libdir" \
  "$install_root/usr/bin/portiva" --help | sed -n 's/^  \([a-z][-a-z0-9]*\) .*/\1/p'); do
  LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$install_root/usr/share/man/man1/portiva.1.gz" 2>/dev/null \
    | grep "^       $cmd\b" >/dev/null || install_fail "portiva(1) lacks the command $cmd"
done

# A user's C program, built with pkg-config against the installed header and library, run on a
# simulated board.
cat >"$install_tmp/relay.c" <<'EOF'
#include <portiva.h>
#include <stdio.h>

int main(void) {
    uint8_t levels = 0;
    char version[256];
    UsbGetVersion(version);
    if (!UsbInit(0) || !UsbSetPortDir(0, 1, 0xFF) || !UsbSetPortState(0, 1, 0x81) ||
        !UsbGetPortState(0, 1, &levels)) {
        const char* text = "";
        UsbGetErrorStringByNr(UsbGetError(), &text);
        fprintf(stderr, "board 0: %s\n", text);
        return 1;
    }
    printf("%s 0x%02X\n", version, levels);
    return 0;
}
EOF
install_pc=(env PKG_CONFIG_SYSROOT_DIR="$install_root"
  PKG_CONFIG_LIBDIR="$install_root/$install_arch_libdir/pkgconfig")
[[ $("${install_pc[@]}" pkg-config --modversion portiva) == 1.7.9 ]] \
  || install_fail "pkg-config does not find portiva 1.7.9"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$install_tmp/relay" "$install_tmp/relay.c" \
  $("${install_pc[@]}" pkg-config --cflags --libs portiva) || install_fail "the C program does not build"
install_out=$(PORTIVA_SIM=1 LD_LIBRARY_PATH="$install_root/$install_arch_libdir" \
  "$install_tmp/relay") || install_fail "the C program failed on a simulated board"
[[ "$install_out" == "1.7.9.0 0x81" ]] || install_fail "the C program printed '$install_out'"

# Debian packages.
rm -f "$install_build"/*.deb
(cd "$install_build" && cpack -G DEB >/dev/null) || install_fail "cpack"
install_debs=("$install_build"/farscan_*.deb "$install_build"/libportiva1_*.deb \
  "$install_build"/libportiva-dev_*.deb)
for deb in "${install_debs[@]}"; do
  [[ -f "$deb" ]] || install_fail "no package $deb"
done
dpkg-deb -f "$install_build"/farscan_*.deb Depends | grep 'libqt6widgets6' >/dev/null \
  || install_fail "farscan does not depend on the Qt libraries"
dpkg-deb -f "$install_build"/farscan_*.deb Depends | grep 'hamradio-files' >/dev/null \
  || install_fail "farscan does not depend on hamradio-files"
dpkg-deb -f "$install_build"/libportiva1_*.deb Depends | grep 'libusb-1.0-0' >/dev/null \
  || install_fail "libportiva1 does not depend on libusb"
if command -v lintian >/dev/null; then
  install_lintian=$(lintian --tag-display-limit 0 "${install_debs[@]}" 2>&1 || true)
  if grep -q '^E:' <<<"$install_lintian"; then
    install_fail "lintian reports errors:
$install_lintian"
  fi
  echo "test.d/install: lintian: $(grep -c '^W:' <<<"$install_lintian" || true) warnings"
fi

# Installed with dpkg into a throw-away root (the system's own packages are not in it, hence
# --force-depends; scripts run outside it, as there is no shell inside).
install_dpkg="$install_tmp/dpkg-root"
mkdir -p "$install_dpkg/var/lib/dpkg/info" "$install_dpkg/var/lib/dpkg/updates"
touch "$install_dpkg/var/lib/dpkg/status"
dpkg --root="$install_dpkg" --force-depends --force-script-chrootless --force-not-root \
  --log=/dev/null --no-triggers -i "${install_debs[@]}" >"$install_tmp/dpkg.log" 2>&1 \
  || install_fail "dpkg -i into a throw-away root: $(cat "$install_tmp/dpkg.log")"
install_version=$(QT_QPA_PLATFORM=offscreen \
  LD_LIBRARY_PATH="$install_dpkg/$install_arch_libdir" "$install_dpkg/usr/bin/farscan" --version) \
  || install_fail "farscan --version from the installed package"
[[ "$install_version" == "Farscan 2.1.3" ]] || install_fail "farscan --version said '$install_version'"
echo "test.d/install: install, packages and $install_version OK"

rm -rf "$install_tmp"
unset install_build install_tmp install_root install_src install_arch_libdir install_bdir \
  install_warnings install_pc install_out install_debs install_lintian install_dpkg \
  install_version page f deb cmd
unset -f install_fail
