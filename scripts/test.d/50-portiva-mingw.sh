# Sourced by test.sh (set -euo pipefail in effect). Cross-builds the Portiva library for 32-bit
# Windows with MinGW-w64, so the Windows device I/O keeps compiling, and checks that the DLL
# exports the stdcall functions under their plain names.
portiva_win_build="${build:-build-test}-mingw32"
portiva_win_fail() {
  echo "test.d/portiva: MinGW-w64 cross build check FAILED: $*" >&2
  return 1
}

cmake -S . -B "$portiva_win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/iolib/cmake/mingw-w64-i686.cmake" -DCMAKE_CXX_FLAGS=-Werror \
  >/dev/null || portiva_win_fail "configure"
cmake --build "$portiva_win_build" --target portiva -j "$(nproc)" \
  || portiva_win_fail "build (see the compiler output above)"

portiva_win_dll="$portiva_win_build/bin/libportiva.dll"
[[ -f "$portiva_win_dll" ]] || portiva_win_fail "no $portiva_win_dll"
portiva_win_exports=$(i686-w64-mingw32-objdump -p "$portiva_win_dll" \
  | sed -n '/Ordinal\/Name Pointer/,/^$/p')
for portiva_win_name in UsbInit UsbGetVersion UsbDevicePresent UsbDeviceInitialized \
  UsbSetInitializedFlag UsbCheckSpeed UsbWaituSec UsbGetStatus UsbGetRdyState UsbGetError \
  UsbGetErrorStringByNr UsbOpen UsbClose UsbRetrieveAllErrors UsbSetGuid UsbSetPortState \
  UsbSetPortDir UsbSetIOState UsbSetIODir UsbGetPortState UsbGetIOState; do
  grep -qE "\] ${portiva_win_name}\$" <<<"$portiva_win_exports" \
    || portiva_win_fail "export $portiva_win_name missing or decorated"
done
# The test entry point is left out of the library users get.
if grep -q "portiva_test_interface" <<<"$portiva_win_exports"; then
  portiva_win_fail "the test entry point portiva_test_interface is exported"
fi
# The exports are stdcall: their object symbols carry the argument size.
i686-w64-mingw32-nm "$portiva_win_build/iolib/CMakeFiles/portiva.dir/api/ports.cpp.obj" \
  | grep -q ' T _UsbSetIOState@12$' || portiva_win_fail "UsbSetIOState is not stdcall"
# The version resource carries 1.7.9.0.
i686-w64-mingw32-objdump -h "$portiva_win_dll" | grep -q '\.rsrc' \
  || portiva_win_fail "no version resource"
echo "test.d/portiva: MinGW-w64 cross build of the library OK"
unset portiva_win_build portiva_win_dll portiva_win_exports portiva_win_name
unset -f portiva_win_fail
