# Turns sdcc's Intel HEX output into the library's built-in record table, a C source.
#
#   cmake -DIHX=<in.ihx> -DOUT=<records.c> [-DLIMIT=8192] -P IhxToRecords.cmake
#
# Every record is checked (hex digits, length, checksum, type), the data records are written in
# address order as upper-case texts, followed by one end-of-file record. Fails when the image
# reaches LIMIT bytes (the board's loader builds an 8192-byte image), when records overlap, or
# when the data do not start at address 0, where the 8051 starts after reset.
cmake_minimum_required(VERSION 3.25)

foreach(var IN ITEMS IHX OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "IhxToRecords: ${var} is not set")
  endif()
endforeach()
if(NOT DEFINED LIMIT)
  set(LIMIT 8192)
endif()

function(fail what)
  message(FATAL_ERROR "Firmware image ${IHX}: ${what}")
endfunction()

# NO_HEX_CONVERSION: file(STRINGS) would otherwise decode Intel HEX into binary itself.
file(STRINGS "${IHX}" lines NO_HEX_CONVERSION)
set(records)
set(have_eof FALSE)
set(size 0)
set(start -1)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  string(TOUPPER "${line}" line)
  if(NOT line MATCHES "^:[0-9A-F]+$")
    fail("not an Intel HEX record: ${line}")
  endif()
  if(have_eof)
    fail("record after the end-of-file record: ${line}")
  endif()
  string(LENGTH "${line}" len)
  string(SUBSTRING "${line}" 1 2 count_hex)
  math(EXPR count "0x${count_hex}")
  math(EXPR want_len "11 + 2 * ${count}")
  if(NOT len EQUAL want_len)
    fail("record length does not match its byte count: ${line}")
  endif()
  if(len GREATER 255)
    fail("record longer than 255 characters: ${line}")
  endif()

  # The bytes from the count through the checksum add up to 0 modulo 256.
  set(sum 0)
  math(EXPR last "${len} - 2")
  foreach(pos RANGE 1 ${last} 2)
    string(SUBSTRING "${line}" ${pos} 2 byte_hex)
    math(EXPR sum "(${sum} + 0x${byte_hex}) % 256")
  endforeach()
  if(NOT sum EQUAL 0)
    fail("checksum error: ${line}")
  endif()

  string(SUBSTRING "${line}" 7 2 type)
  if(type STREQUAL "01")
    set(have_eof TRUE)
    continue()
  endif()
  if(NOT type STREQUAL "00")
    fail("record type ${type} is not supported (the 8051 image has 16-bit addresses): ${line}")
  endif()
  if(count EQUAL 0)
    continue()
  endif()
  string(SUBSTRING "${line}" 3 4 addr_hex)
  math(EXPR addr "0x${addr_hex}")
  math(EXPR end "${addr} + ${count}")
  if(end GREATER size)
    set(size ${end})
  endif()
  if(start LESS 0 OR addr LESS start)
    set(start ${addr})
  endif()
  # Upper-case hexadecimal addresses of four digits sort in address order.
  list(APPEND records "${addr_hex}${line}")
endforeach()

if(NOT have_eof)
  fail("no end-of-file record")
endif()
if(NOT records)
  fail("no data records")
endif()
if(size GREATER_EQUAL LIMIT)
  fail("the image is ${size} bytes; the board's loader takes fewer than ${LIMIT}")
endif()
if(NOT start EQUAL 0)
  fail("the data start at address ${start}, not at 0 where the CPU starts")
endif()

list(SORT records)
set(body "")
set(prev_end 0)
foreach(entry IN LISTS records)
  string(SUBSTRING "${entry}" 4 -1 line)
  string(SUBSTRING "${line}" 3 4 addr_hex)
  string(SUBSTRING "${line}" 1 2 count_hex)
  math(EXPR addr "0x${addr_hex}")
  if(addr LESS prev_end)
    fail("records overlap at address ${addr}")
  endif()
  math(EXPR prev_end "${addr} + 0x${count_hex}")
  string(APPEND body "    \"${line}\",\n")
endforeach()
string(APPEND body "    \":00000001FF\",\n")

get_filename_component(ihx_name "${IHX}" NAME)
set(text "/* Generated from ${ihx_name} by IhxToRecords.cmake; do not edit. */
#include \"firmware_image.h\"

const char* const kFirmwareRecords[] = {
${body}};

const unsigned kFirmwareRecordCount = sizeof(kFirmwareRecords) / sizeof(kFirmwareRecords[0]);

const unsigned kFirmwareImageSize = ${size}u;
")
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
message(STATUS "Firmware image: ${size} bytes in ${ihx_name}")
