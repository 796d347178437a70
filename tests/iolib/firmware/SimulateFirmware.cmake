# Runs the built 8051 image in the s51 simulator and drives commands through its endpoint
# buffers as the FX2 would: a packet is placed in EP4's buffer, EP2468STAT says it is there, the
# firmware runs until it hands the buffer back (its write to OUTPKTEND), then EP4 reads empty
# again and the firmware finishes the command. s51 knows no FX2 peripherals, so the registers are
# plain memory here: the check covers the startup code, the 8051 code of the core and the
# register traffic of the FX2 layer, not the USB engine.
#
#   cmake -DS51=<s51> -DIHX=<portiva_fw.ihx> -DWORK=<scratch dir> -P SimulateFirmware.cmake
cmake_minimum_required(VERSION 3.25)

set(session "")
set(expects "")

macro(send text)
  string(APPEND session "${text}\n")
endmacro()

# Expectations are regular expressions over the simulator's output (lower case, blanks
# collapsed), matched in order.
macro(expect regex)
  list(APPEND expects "${regex}")
endmacro()

# One USB packet into EP4; the firmware reads it and re-arms the endpoint.
macro(packet bytes)
  string(REGEX MATCHALL "[^ ]+" _b "${bytes}")
  list(LENGTH _b _n)
  send("set memory xram 0xf400 ${bytes}")
  math(EXPR _hi "${_n} / 256")
  math(EXPR _lo "${_n} % 256")
  send("set memory xram 0xe694 ${_hi}")
  send("set memory xram 0xe695 ${_lo}")
  send("set memory sfr 0xaa 0x10")
  send("run")
  send("set memory sfr 0xaa 0x14")
  send("step 20000")
endmacro()

# Bus at full speed, RDY0 high, EP4 empty and EP6 free; run the startup code, then stop at
# every hand-back of an EP4 buffer.
send("set memory xram 0xe680 0")
send("set memory xram 0xe6f4 1")
send("set memory sfr 0xaa 0x14")
send("step 5000")
send("break xram w 0xe649")

# Directions: port 1 all outputs, line 39 an output.
packet("2 1 0 0 0 0 0 0 0 0 0 0 10 0 0 0 255 0 0 255 255 0 255 0 0x7f 0x80")
send("dump sfr 0xb2 0xb6 8")
expect("0xb2 00 ff 00 00 80")

# Line 13 on.
packet("1 2 0 0 0 0 0 0 0 0 0 0 16 0 0 0 255 0 0xdf 0x20 255 0 255 0 255 0 0 0 0 0 0 0")
send("dump sfr 0x90 0x90")
expect("0x90 p1: 0b00100000 0x20")

# WriteLen 16 with only ten payload bytes: rejected, no latch changes.
packet("1 3 0 0 0 0 0 0 0 0 0 0 16 0 0 0 0 0xff 0 0xff 0 0xff 0 0xff 0 0xff")
send("dump sfr 0x80 0x80")
send("dump sfr 0x90 0x90")
expect("0x80 p0: 0b00000000 0x00")
expect("0x90 p1: 0b00100000 0x20")

# Port read with the ready line; the status carries the rejection and is then cleared.
packet("3 0x42 0 0 0 0 0 0 6 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf809")
send("dump xram 0xe698 0xe699")
expect("0xf800 42 00 20 00 00 00 01 80")
expect("0xf808 00 00")
expect("0xe698 00 0a")

packet("3 0x43 0 0 0 0 0 0 5 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf808")
send("dump xram 0xe698 0xe699")
expect("0xf800 43 00 20 00 00 00 00 00")
expect("0xe698 00 09")

# Packet size by bus speed.
packet("7 7 0 0 0 0 0 0 2 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf805")
expect("0xf800 07 40 00 00 00 00")
send("set memory xram 0xe680 0x80")
packet("7 8 0 0 0 0 0 0 2 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf805")
expect("0xf800 08 00 02 00 00 00")
send("set memory xram 0xe680 0")

# Unknown command with a status request: echoed, rejected.
packet("99 9 255 0 0 0 0 0 0 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf803")
send("dump xram 0xe698 0xe699")
expect("0xf800 09 80 00 00")
expect("0xe698 00 04")

# Four records at full speed: 64 bytes, then 16. Nothing happens before the transfer is whole;
# then the records apply in order: 0x01, then bit 1 on, bit 2 on, bit 1 off with bit 3 on.
packet("1 10 0 0 0 0 0 0 0 0 0 0 64 0 0 0 0 1 255 0 255 0 255 0 255 0 0 0 0 0 0 0 0xfe 2 255 0 255 0 255 0 255 0 0 0 0 0 0 0 0xff 4 255 0 255 0 255 0 255 0 0 0 0 0 0 0")
send("dump sfr 0x80 0x80")
expect("0x80 p0: 0b00000000 0x00")
packet("0xfd 8 255 0 255 0 255 0 255 0 0 0 0 0 0 0")
send("dump sfr 0x80 0x80")
send("dump sfr 0x90 0x90")
expect("0x80 p0: 0b00001100 0x0c")
expect("0x90 p1: 0b00100000 0x20")

# At high speed, a transfer of 16 + 1008 bytes in two 512-byte packets: more than the command
# buffer holds, so it is rejected whole; the next status read reports it.
send("set memory xram 0xe680 0x80")
string(REPEAT "0 0xff 0 0xff 0 0xff 0 0xff 0 0xff 0 0 0 0 0 0 " 31 records)
packet("1 11 0 0 0 0 0 0 0 0 0 0 0xf0 3 0 0 ${records}")
string(REPEAT "0 0xff 0 0xff 0 0xff 0 0xff 0 0xff 0 0 0 0 0 0 " 32 records)
packet("${records}")
send("dump sfr 0x80 0x80")
expect("0x80 p0: 0b00001100 0x0c")
packet("10 12 255 0 0 0 0 0 0 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf803")
expect("0xf800 0c 80 00 00")
send("quit")

file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/session.txt" "${session}")
execute_process(
  COMMAND ${S51} -t 8052 ${IHX}
  INPUT_FILE "${WORK}/session.txt"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
  TIMEOUT 120)
file(WRITE "${WORK}/session.log" "${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "s51 ended with ${rc}; see ${WORK}/session.log")
endif()

string(TOLOWER "${out}" flat)
string(REGEX REPLACE "[ \t]+" " " flat "${flat}")
set(rest "${flat}")
foreach(regex IN LISTS expects)
  string(REGEX MATCH "${regex}" found "${rest}")
  if(found STREQUAL "")
    message(FATAL_ERROR "expected '${regex}' in the simulator's output; see ${WORK}/session.log")
  endif()
  string(FIND "${rest}" "${found}" at)
  string(LENGTH "${found}" len)
  math(EXPR at "${at} + ${len}")
  string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()
list(LENGTH expects n)
message(STATUS "s51: ${n} checks passed")
