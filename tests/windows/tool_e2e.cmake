# kinetra.exe under Wine against kinetra-sim running on Linux behind a COM port,
# and against the ports scripts/test-windows.sh seeds: each case one run of the
# tool, bounded by a time-out, its exit code and a pattern of its output checked.
# With EXAMPLE (list_nodes.exe, beside the library's DLL in DLL_DIR), the
# example program against the same simulator too.
#   cmake -DTOOL=kinetra.exe -DWINE=wine [-DEXAMPLE=list_nodes.exe -DDLL_DIR=dir] -P tool_e2e.cmake
foreach(variable ADAPTER GENERIC TOOL_LOST)
  set(${variable} "$ENV{KINETRA_TEST_${variable}_PORT}")
  if(${variable} STREQUAL "")
    message("KINETRA_TEST_${variable}_PORT is not set (run make test-windows): skipped")
    return()
  endif()
endforeach()
string(REPEAT "7" 300 many_sevens)

# Each case, its fields apart by "~~": a name; the arguments; the exit code; a
# regular expression the output (standard output and error together) matches.
set(cases
  "scan finds the simulated nodes~~scan --port ${ADAPTER}~~0~~\n1 +1 +driver [^\n]*\n2 +2 +actuator [^\n]*\n3 +3 +imu [^\n]*\n4 +4 +encoder "
  "info reads a node~~info 1 --port ${ADAPTER}~~0~~class: +driver\n.*firmware: +2\\.4\\.17"
  "ports marks the adapter by its friendly name~~ports~~0~~(\\* +${ADAPTER} +Kinetra Zarvo USB-CAN Adapter.*\n +${GENERIC} +USB Serial Device|\n +${GENERIC} +USB Serial Device.*\n\\* +${ADAPTER} +Kinetra Zarvo USB-CAN Adapter)"
  "two adapters are not guessed between~~scan~~3~~several Kinetra adapters found: .*${ADAPTER}"
  "a generic port is no adapter~~scan --port ${GENERIC}~~3~~cannot open ${GENERIC}: its description does not name a Kinetra adapter"
  "a missing COM port~~scan --slcan COM249~~3~~cannot open COM249: Specified port, COM249, does not exist\\."
  "a device that is no serial port~~scan --slcan NUL~~3~~cannot open NUL: Error getting the serial port state\\."
  "a name longer than Windows allows~~scan --slcan COM${many_sevens}~~3~~cannot open COM7+: Unknown error opening the serial port"
  "an adapter that goes away while open~~scan --port ${TOOL_LOST}~~3~~kinetra: (no adapter answered on |adapter lost: |cannot send on )${TOOL_LOST}"
  "no in-process simulator in this build~~scan --sim~~2~~the simulator is not built into this kinetra")

set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "~~" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 arguments)
  list(GET fields 2 expected_code)
  list(GET fields 3 pattern)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  execute_process(COMMAND ${WINE} ${TOOL} ${arguments} TIMEOUT 60
    RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REPLACE "\r\n" "\n" output "${output}")
  if(NOT code STREQUAL expected_code OR NOT output MATCHES "${pattern}")
    math(EXPR failures "${failures} + 1")
    message("FAILED: ${name}: kinetra ${arguments}\n  exit ${code} (expected ${expected_code}), output:\n${output}")
  else()
    message("ok: ${name}")
  endif()
endforeach()
if(EXAMPLE)
  # Wine looks for the DLLs a program needs on WINEPATH too.
  set(ENV{WINEPATH} "${DLL_DIR}")
  execute_process(COMMAND ${WINE} ${EXAMPLE} ${ADAPTER} TIMEOUT 60
    RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REPLACE "\r\n" "\n" output "${output}")
  if(NOT code STREQUAL "0" OR NOT output MATCHES "adapter on ${ADAPTER}, firmware [^\n]*\nnode 1: device type 1\nnode 2: device type 2\nnode 3: device type 3\nnode 4: device type 4")
    math(EXPR failures "${failures} + 1")
    message("FAILED: list_nodes ${ADAPTER}\n  exit ${code} (expected 0), output:\n${output}")
  else()
    message("ok: the list_nodes example finds the simulated nodes")
  endif()
endif()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of the tool's cases failed")
endif()
