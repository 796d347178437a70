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
  UsbSetPortDir UsbSetIOState UsbSetIODir UsbGetPortState UsbGetIOState \
  UsbI2CSetSpeed UsbI2CSetTimeout UsbEEpSetTimeout UsbI2CWriteBytes UsbI2CWriteByte \
  UsbI2CReadBytes UsbI2CReadByte UsbI2CWriteAndReadBytes UsbEEpSetAddr UsbEEpWriteBytes \
  UsbEEpReadBytes UsbEEpWriteByte UsbEEpReadByte UsbSpiInit UsbSpiTransfer UsbSpiTransferByte \
  UsbUartSetBaudrate UsbUartWriteBytes UsbUartReadBytes UsbParInitUsingArray UsbParInit \
  UsbParOut UsbParIn UsbParSetTimeout UsbSetTimeout UsbParSetWaveforms UsbParSetTransferSize \
  UsbParSetAutomode UsbDaMedSF UsbGeneratePattern; do
  grep -qE "\] ${portiva_win_name}\$" <<<"$portiva_win_exports" \
    || portiva_win_fail "export $portiva_win_name missing or decorated"
done
# The test entry point is left out of the library users get.
if grep -q "portiva_test_interface" <<<"$portiva_win_exports"; then
  portiva_win_fail "the test entry point portiva_test_interface is exported"
fi
# The exports are stdcall: their object symbols carry the argument size.
i686-w64-mingw32-nm "$portiva_win_build/iolib/CMakeFiles/portiva.dir/api/ports.cpp.obj" \
  | grep ' T _UsbSetIOState@12$' >/dev/null || portiva_win_fail "UsbSetIOState is not stdcall"
# The version resource carries 1.7.9.0.
i686-w64-mingw32-objdump -h "$portiva_win_dll" | grep '\.rsrc' >/dev/null \
  || portiva_win_fail "no version resource"
# A Windows user's program links against the import library and the header as they stand.
[[ -f "$portiva_win_build/bin/libportiva.def" ]] || portiva_win_fail "no libportiva.def"
grep -q '^    UsbInit@4 ' "$portiva_win_build/bin/libportiva.def" \
  || portiva_win_fail "libportiva.def lacks UsbInit@4"
portiva_win_implib=$(find "$portiva_win_build" -name 'libportiva.dll.a' | head -n 1)
[[ -n "$portiva_win_implib" ]] || portiva_win_fail "no import library libportiva.dll.a"
printf '#include <portiva.h>\nint main(void) { uint8_t s = 0; return UsbInit(0) && UsbGetPortState(0, 1, &s) ? 0 : 1; }\n' \
  >"$portiva_win_build/user.c"
i686-w64-mingw32-gcc -Wall -Wextra -Werror -I iolib/api -o "$portiva_win_build/user.exe" \
  "$portiva_win_build/user.c" "$portiva_win_implib" \
  || portiva_win_fail "a program does not link against the import library"
i686-w64-mingw32-objdump -p "$portiva_win_build/user.exe" | grep -E '[0-9]+ +UsbGetPortState *$' >/dev/null \
  || portiva_win_fail "the program does not import UsbGetPortState by its plain name"
echo "test.d/portiva: MinGW-w64 cross build of the library OK"
unset portiva_win_build portiva_win_dll portiva_win_exports portiva_win_name portiva_win_implib
unset -f portiva_win_fail
