# Runs `crenovix-cli info FILE` and compares its standard output with the expected text.
# Variables: CLI (the program, after its emulator when cross-compiled), FILE, EXPECTED.
execute_process(COMMAND ${CLI} info ${FILE}
                OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "crenovix-cli info exited with ${status}: ${errors}")
endif()
# A Windows console program ends its lines with CR LF.
string(REPLACE "\r\n" "\n" actual "${actual}")
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "Output differs.\n--- expected\n${expected}--- actual\n${actual}")
endif()
