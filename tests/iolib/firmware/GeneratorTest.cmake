# Runs the record-table generator on small hand-made Intel HEX files.
#   cmake -DGENERATOR=<IhxToRecords.cmake> -DDATA=<data dir> -DWORK=<scratch dir> -P GeneratorTest.cmake
cmake_minimum_required(VERSION 3.25)

set(failures 0)
file(MAKE_DIRECTORY "${WORK}")

function(run_generator ihx out_var rc_var)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DIHX=${DATA}/${ihx} -DOUT=${WORK}/${ihx}.c -DLIMIT=8192
            -P ${GENERATOR}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${out_var} "${out}${err}" PARENT_SCOPE)
  set(${rc_var} ${rc} PARENT_SCOPE)
endfunction()

# Each rejected file with the reason the build must give.
set(rejected
    "reaches_8192.ihx|the image is 8192 bytes"
    "bad_checksum.ihx|checksum error"
    "not_at_zero.ihx|the data start at address 256"
    "overlap.ihx|records overlap at address 2"
    "no_eof.ihx|no end-of-file record"
    "extended_address.ihx|record type 04 is not supported")
foreach(entry IN LISTS rejected)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 ihx)
  list(GET parts 1 reason)
  run_generator(${ihx} out rc)
  string(REGEX REPLACE "[ \n]+" " " flat "${out}")
  if(rc EQUAL 0 OR NOT flat MATCHES "${reason}")
    message(SEND_ERROR "${ihx}: expected failure with '${reason}', got rc=${rc}: ${out}")
  endif()
  if(EXISTS "${WORK}/${ihx}.c")
    message(SEND_ERROR "${ihx}: a table was written although the image was rejected")
  endif()
endforeach()

# Accepted: lower case and CRLF in, upper-case records in address order out.
run_generator(unsorted_lowercase.ihx out rc)
if(NOT rc EQUAL 0)
  message(SEND_ERROR "unsorted_lowercase.ihx: generator failed: ${out}")
else()
  file(READ "${WORK}/unsorted_lowercase.ihx.c" table)
  string(FIND "${table}" "\":03000000020010EB\",\n    \":02001000ABCD76\",\n    \":00000001FF\",\n}"
         at)
  if(at LESS 0)
    message(SEND_ERROR "unsorted_lowercase.ihx: records not sorted or not upper case:\n${table}")
  endif()
  if(NOT table MATCHES "kFirmwareImageSize = 18u")
    message(SEND_ERROR "unsorted_lowercase.ihx: wrong image size:\n${table}")
  endif()
endif()
