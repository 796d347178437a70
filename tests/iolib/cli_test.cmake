# Runs the portiva tool against simulated boards and checks its output and exit status.
# cmake -DCLI=<path of portiva> -P cli_test.cmake
if(NOT CLI)
  message(FATAL_ERROR "CLI not given")
endif()

set(failures 0)

# check(<boards> <driver> <expected exit> <expected stdout regex> <expected stderr regex> args...)
function(check boards driver code out err)
  set(ENV{PORTIVA_SIM} ${boards})
  set(ENV{PORTIVA_SIM_DRIVER} ${driver})
  execute_process(COMMAND ${CLI} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE stdout
                  ERROR_VARIABLE stderr)
  if(NOT rc STREQUAL code OR NOT stdout MATCHES "${out}" OR NOT stderr MATCHES "${err}")
    message(SEND_ERROR "portiva ${ARGN} (PORTIVA_SIM=${boards} ${driver}): exit ${rc}\n"
                       "stdout: [${stdout}]\nstderr: [${stderr}]\n"
                       "expected exit ${code}, stdout ~ ${out}, stderr ~ ${err}")
  endif()
endfunction()

foreach(driver cyusb ezusb)
  # The bench routine: start board 0, switch line 13 on, read port 1 back.
  check(1 ${driver} 0 "^0x20\n$" "^$"
        init 0 line-dir 0 13 out set-line 0 13 1 get-port 0 1)
  check(1 ${driver} 0 "^1\n0\nhigh\n$" "^$"
        init 0 port-dir 0 1 0xFF set-port 0 1 0x02 get-line 0 9 get-line 0 8 speed 0)
  check(2 ${driver} 0 "^board 0\nboard 1\n1\\.7\\.9\\.0\n$" "^$" list version)
  # The bus families against the simulated board's EEPROM, SPI loopback, UART and parallel bus.
  check(1 ${driver} 0
        "^0003: FF FF 00 11 22 33 44 55 66 77 88 99 AA BB CC DD\n0013: EE FF 00 11 22 33 FF FF\n$"
        "^$" init 0 eeprom-write 0 0x0005 00112233445566778899aabbccddeeff00112233
        eeprom-read 0 3 24)
  check(1 ${driver} 0 "^0000: CA FE\n$" "^$"
        init 0 eeprom-write 0 0x10 CAFE i2c-write 0 0x50 0010 i2c-read 0 0x50 2)
  check(1 ${driver} 0 "^0000: A5 5A 0F\n$" "^$" init 0 spi 0 9 3 a55a0f)
  check(1 ${driver} 0 "^$" "^$" init 0 uart-write 0 9600 414243 uart-read 0 10 par-init 0 1
        par-out 0 01020304 pattern 0 01010000000000000000960000000000)
endforeach()

# Bus commands: arguments the tool refuses, and failures with the library's messages.
check(1 cyusb 2 "^$" "^usage: portiva" init 0 spi 0 16 0 00)
check(1 cyusb 2 "^$" "^usage: portiva" init 0 eeprom-read 0 0 0)
check(1 cyusb 2 "^$" "^usage: portiva" init 0 i2c-write 0 0x50 abc)
check(1 cyusb 2 "^$" "^usage: portiva" init 0 pattern 0 0101)
check(1 cyusb 1 "^$" "uart-write failed\nerror 6: Invalid parameter\n" init 0 uart-write 0 300 41)
check(1 cyusb 1 "^$" "error 13: Parallel bus has to be initialized" init 0 par-in 0 4)
check(1 cyusb 1 "^$" "i2c-read failed\nerror 10: The i2c slave did not acknowledge\n"
      init 0 i2c-read 0 0x21 1)

# Failures: the exit status says so and the errors come with their messages.
check(1 cyusb 1 "^$" "error 7: Interface is not initialized\\. Call UsbInit\\(\\) before"
      set-line 0 13 1)
check(1 cyusb 1 "^$" "get-port failed\nerror 6: Invalid parameter\n" init 0 get-port 0 5)
check(1 cyusb 1 "^$" "error 2: Device not present" init 1)
check(0 cyusb 0 "^no board\n$" "^$" list)
# A PORTIVA_SIM that is no board count simulates no board rather than reaching for hardware.
check(abc cyusb 0 "^no board\n$" "^$" list)
check(257 cyusb 0 "^no board\n$" "^$" list)
check(3 something 0 "^board 0\nboard 1\nboard 2\n$" "^$" list)
check(1 cyusb 0 "^no error\n$" "^$" errors)
check(0 cyusb 0 "^portiva 1\\.7\\.9\\.0\n$" "^$" --version)
check(1 cyusb 2 "^$" "^usage: portiva" get-port 0)
check(1 cyusb 2 "^$" "^usage: portiva" init 0 set-line 0 13 2)
check(1 cyusb 2 "^$" "^usage: portiva" frobnicate)
check(1 cyusb 2 "^$" "^usage: portiva")
