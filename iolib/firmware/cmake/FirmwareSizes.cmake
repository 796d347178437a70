# Prints the board firmware's memory use from sdcc's linker map, and fails when the image would
# not leave the loader's 8192 bytes or the external data would not fit the scratch RAM.
#
#   cmake -DMAP=<portiva_fw.map> [-DLIMIT=8192] [-DXDATA_LIMIT=512] -P FirmwareSizes.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED LIMIT)
  set(LIMIT 8192)
endif()
if(NOT DEFINED XDATA_LIMIT)
  set(XDATA_LIMIT 512)
endif()

file(STRINGS "${MAP}" lines REGEX "^[A-Z_0-9]+ +[0-9A-F]+ +[0-9A-F]+ = +[0-9]+\\. bytes")
set(code 0)
set(constants 0)
set(xdata 0)
set(end 0)
set(seen "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^([A-Z_0-9]+) +([0-9A-F]+) +([0-9A-F]+) = +([0-9]+)\\. bytes \\(([A-Z,]+)\\)"
         _ "${line}")
  set(area ${CMAKE_MATCH_1})
  set(size ${CMAKE_MATCH_4})
  set(kind ${CMAKE_MATCH_5})
  if(area IN_LIST seen OR size EQUAL 0)
    continue()
  endif()
  list(APPEND seen ${area})
  math(EXPR start "0x${CMAKE_MATCH_2}")
  if(kind MATCHES "CODE")
    if(area STREQUAL "CONST" OR area STREQUAL "XINIT")
      math(EXPR constants "${constants} + ${size}")
    else()
      math(EXPR code "${code} + ${size}")
    endif()
    math(EXPR area_end "${start} + ${size}")
    if(area_end GREATER end)
      set(end ${area_end})
    endif()
  elseif(kind MATCHES "XDATA")
    math(EXPR xdata "${xdata} + ${size}")
  endif()
endforeach()

math(EXPR margin "${LIMIT} - ${end}")
math(EXPR xmargin "${XDATA_LIMIT} - ${xdata}")
message("Board firmware: code ${code} bytes, constant data ${constants} bytes, image ${end} of "
        "${LIMIT} bytes (${margin} free); external data ${xdata} of ${XDATA_LIMIT} bytes "
        "(${xmargin} free)")
if(end GREATER_EQUAL LIMIT OR xdata GREATER XDATA_LIMIT)
  message(FATAL_ERROR "Board firmware does not fit")
endif()
