# The sq71 program itself against the stand-in of FTDI's library, found by
# name as the real one is (libftd2xx.so through LD_LIBRARY_PATH natively,
# Ftd2xx.dll through WINEPATH under Wine): devices, read byte for byte, a
# fault mid-download with and without --keep-partial, an unplugged meter (not
# retried), an identity mismatch, and erase with and without a terminal to
# confirm on. Scenarios that are no small regular file fail at once
# (-DSANITIZED=ON: no memory bound).
#
# cmake -DSQ71=... -DRUNNER=... -DSTANDIN=... -DDATA=... -DWORK=... -DWINDOWS=ON|OFF -P this
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
if(WINDOWS)
  set(prefix "Z:")
  string(REPLACE "/" "\\" standin_dos "Z:${STANDIN}")
  set(ENV{WINEPATH} "${standin_dos}")
else()
  set(prefix "")
  set(ENV{LD_LIBRARY_PATH} "${STANDIN}")
  set(ENV{DYLD_LIBRARY_PATH} "${STANDIN}")
endif()

# Every meter fills the reply bytes the host ignores with values of its own.
file(WRITE ${WORK}/scenario.txt "timing = instant
trace = trace.txt
[device]
open_bytes = 0x5A
[device]
name = Faulty Meter
serial_number = CD710002
open_bytes = 0xC3
fault = record 7 no_reply
[device]
description = Recycled Chip
[device]
name = Pulled Meter
serial_number = CD710004
fault = record 12 unplug
")
set(ENV{SQ71_SIM} "${prefix}${WORK}/scenario.txt")

set(failures 0)
function(fail what)
  message(SEND_ERROR "${what}")
endfunction()

# Runs sq71 with the arguments given, over the d2xx backend (not auto's
# choice where libftdi is built in), in the work folder; sets status, out, err.
macro(sq71 command)
  execute_process(COMMAND ${RUNNER} ${SQ71} ${command} --backend d2xx ${ARGN}
                  WORKING_DIRECTORY ${WORK}
                  INPUT_FILE ${WORK}/scenario.txt
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
endmacro()

function(expect_status want)
  if(NOT status STREQUAL "${want}")
    fail("sq71 ${ARGN}: exit status ${status}, expected ${want}; stderr: ${err}")
  endif()
endfunction()

function(expect_same_file got want)
  file(SHA256 ${got} got_hash)
  file(SHA256 ${want} want_hash)
  if(NOT got_hash STREQUAL want_hash)
    fail("${got} differs from ${want}")
  endif()
endfunction()

sq71(devices)
expect_status(0 devices)
if(NOT out STREQUAL
   "0\tSQ-71 Meter\tCD710001\n1\tFaulty Meter\tCD710002\n3\tPulled Meter\tCD710004\n3 meters found\n")
  fail("devices printed:\n${out}")
endif()

sq71(read -o a.ulg --csv a.csv)
expect_status(0 read)
file(READ ${WORK}/trace.txt trace)
if(NOT trace MATCHES "READ 72 06 5A 5A 5A 5A 00 00 ")
  fail("the meter's read-record replies do not carry its own open bytes")
endif()
expect_same_file(${WORK}/a.ulg ${DATA}/sample.ulg)
expect_same_file(${WORK}/a.csv ${DATA}/sample.csv)

sq71(read -d 1 -o b.ulg)
expect_status(1 read -d 1)
if(NOT err STREQUAL
   "sq71: read: device 1 (d2xx, CD710002): record 7: Error - Handshake not received; nothing written\n")
  fail("read -d 1 said: ${err}")
endif()
if(EXISTS ${WORK}/b.ulg)
  fail("a failed read wrote b.ulg")
endif()

# Records 0 to 6 as the meter holds them, then the end of the log.
sq71(read -d 1 -o b.ulg --keep-partial -q)
expect_status(1 read -d 1 --keep-partial)
file(READ ${WORK}/b.ulg kept HEX)
file(READ ${DATA}/sample.ulg sample HEX LIMIT 448)
string(REPEAT "ff" 64 end_marker)
string(REPEAT "00" 64 zeros)
string(REPEAT "${zeros}" 1016 rest)
if(NOT kept STREQUAL "${sample}${end_marker}${rest}")
  fail("b.ulg is not the first 7 records followed by an end marker")
endif()

sq71(read -d 2 -o c.ulg)
expect_status(1 read -d 2)
if(NOT err MATCHES "^sq71: read: device 2 \\(d2xx, CD710001\\): The device has been upgraded")
  fail("read -d 2 said: ${err}")
endif()
if(EXISTS ${WORK}/c.ulg)
  fail("a refused device's read wrote c.ulg")
endif()

# A meter unplugged mid-download: the driver's I/O error ends the read like
# a silent meter, and --keep-partial keeps exactly the records that came.
sq71(read -d 3 -o d.ulg --keep-partial -q)
expect_status(1 read -d 3 --keep-partial)
if(NOT err MATCHES "record 12: Error - Handshake not received")
  fail("read -d 3 said: ${err}")
endif()
# A meter that is gone is not asked again.
file(READ ${WORK}/trace.txt trace)
string(FIND "${trace}" "UNPLUGGED" unplugged)
string(SUBSTRING "${trace}" ${unplugged} -1 after)
if(unplugged LESS 0 OR after MATCHES "FT_Write")
  fail("read -d 3 wrote to the unplugged meter")
endif()
file(READ ${WORK}/d.ulg kept HEX LIMIT 832)
file(READ ${DATA}/sample.ulg sample HEX LIMIT 768)
if(NOT kept STREQUAL "${sample}${end_marker}")
  fail("d.ulg is not the first 12 records followed by an end marker")
endif()

# Without a terminal nothing reaches the driver, not even an FT_Open.
file(REMOVE ${WORK}/trace.txt)
sq71(erase)
expect_status(2 erase)
if(EXISTS ${WORK}/trace.txt)
  file(READ ${WORK}/trace.txt trace)
  if(trace MATCHES "FT_Open")
    fail("erase without a terminal opened the device")
  endif()
endif()

sq71(erase --yes)
expect_status(0 erase --yes)
file(READ ${WORK}/trace.txt trace)
if(NOT trace MATCHES "METER 0 LE: reply 1 bytes" OR NOT out MATCHES "Meter log data erased")
  fail("erase --yes: ${out}${err}")
endif()

# Under a 256 MiB address-space limit (sanitizers reserve more than that, so
# their builds run unbounded); the time-out only keeps a blocking open from
# hanging the suite.
if(NOT WINDOWS)
  execute_process(COMMAND mkfifo ${WORK}/fifo)
  string(REPEAT "# comment line.\n" 131072 big)
  file(WRITE ${WORK}/big.txt "${big}")
  set(bound sh -c "ulimit -v 262144 && exec \"$@\"" sh)
  if(SANITIZED)
    set(bound "")
  endif()
  foreach(case "/dev/zero|is not a regular file" "${WORK}|is a directory"
               "${WORK}/fifo|is not a regular file" "${WORK}/big.txt|is larger than 1 MiB")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 scenario)
    list(GET case 1 reason)
    execute_process(COMMAND ${bound} ${SQ71} read --sim ${scenario} -o never.ulg
                    WORKING_DIRECTORY ${WORK} TIMEOUT 60
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    expect_status(1 read --sim ${scenario})
    if(NOT err STREQUAL "sq71: read: scenario file '${scenario}' ${reason}\n")
      fail("read --sim ${scenario} said: ${err}")
    endif()
  endforeach()
endif()
