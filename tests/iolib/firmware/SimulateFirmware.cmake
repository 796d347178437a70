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

# Bus at full speed, RDY0 high, EP4 empty and EP6 free; run the startup code (it clears the
# external data), then stop at
# every hand-back of an EP4 buffer.
send("set memory xram 0xe680 0")
send("set memory xram 0xe6f4 1")
send("set memory sfr 0xaa 0x14")
send("step 100000")
send("break xram w 0xe649")

# Directions: port 1 all outputs, line 39 an output.
packet("2 1 0 0 0 0 0 0 0 0 0 0 10 0 0 0 255 0 0 255 255 0 255 0 0x7f 0x80")
send("dump sfr 0xb2 0xb6 8")
# (uCsim may break the dump after 0xb4.)
expect("0xb2 00 ff 00( 00 80|[^\n]*\n0xb5 00 80)")

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

# Four records at full speed: 64 bytes, then 16. The records play as they arrive: the first
# three with the first packet (0x01, bit 1 replaces bit 0, bit 2 on), the last with the second.
packet("1 10 0 0 0 0 0 0 0 0 0 0 64 0 0 0 0 1 255 0 255 0 255 0 255 0 0 0 0 0 0 0 0xfe 2 255 0 255 0 255 0 255 0 0 0 0 0 0 0 0xff 4 255 0 255 0 255 0 255 0 0 0 0 0 0 0")
send("dump sfr 0x80 0x80")
expect("0x80 p0: 0b00000110 0x06")
packet("0xfd 8 255 0 255 0 255 0 255 0 0 0 0 0 0 0")
send("dump sfr 0x80 0x80")
send("dump sfr 0x90 0x90")
expect("0x80 p0: 0b00001100 0x0c")
expect("0x90 p1: 0b00100000 0x20")

# At high speed, a pattern of 63 records in two 512-byte packets (16 + 1008 bytes): longer than
# any buffer of the board, it streams through; the timer paces the records (50 us apart).
send("set memory xram 0xe680 0x80")
string(REPEAT "0 0xff 0 0xff 0 0xff 0 0xff 0 0xff 0 0 0 0 0 0 " 31 records)
packet("1 11 0 0 0 0 0 0 0 0 0 0 0xf0 3 0 0 ${records}")
string(REPEAT "0 0xff 0 0xff 0 0xff 0 0xff 0 0xff 0 0 0 0 0 0 " 32 records)
packet("${records}")
send("dump sfr 0x80 0x80")
expect("0x80 p0: 0b11111111 0xff")
packet("10 12 255 0 0 0 0 0 0 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf803")
expect("0xf800 0c 00 00 00")

# The I2C controller is plain memory here: DONE and ACK preset, its STOP bit never clears. An
# I2C time-out of 1 ms, then a write of three bytes: the last one is left in I2DAT, and the stop
# that never completes is reported as a time-out.
send("set memory xram 0xe678 0x03")
packet("12 13 255 1 1 0 0 0 0 0 0 0 0 0 0 0")
send("dump xram 0xf800 0xf803")
expect("0xf800 0d 00 00 00")
packet("4 14 255 0 0 0 1 0 0 0 0 0 3 0 0 0 0xa0 0x12 0x34")
send("dump xram 0xe679 0xe679")
send("dump xram 0xf800 0xf803")
expect("0xe679 34")
expect("0xf800 0e 01 00 00")

# An answer longer than a packet leaves in packets: a read of 100 bytes at full speed gives a
# packet of 64 (transaction number and 63 data bytes), then one of 40 (37 data, the status). The
# bytes read are what I2DAT holds (the address byte); the stop after the last byte times out, so
# that byte is not delivered and the status says why.
send("set memory xram 0xe680 0")
send("set memory xram 0xe678 0x03")
packet("4 15 0 0 0 0 1 0 100 0 0 0 1 0 0 0 0xa1")
send("dump xram 0xe698 0xe699")
send("dump xram 0xf820 0xf827")
expect("0xe698 00 28")
expect("0xf820 a1 a1 a1 a1 00 01 00 00")

# UART: the divisor's reload goes to timer 1 and its high byte to SMOD0; serial mode 1.
packet("32 16 0 0 0xb3 3 0 0 0 0 0 0 0 0 0 0")
send("dump sfr 0x8d 0x8d")
send("dump sfr 0x87 0x87")
send("dump sfr 0x98 0x98")
expect("0x8d th1: 0b10110011 0xb3")
expect("0x87 pcon: 0b1[01]+ 0x[89a-f][0-9a-f]")
expect("0x98 scon: 0b0101[01]+ 0x5")

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
