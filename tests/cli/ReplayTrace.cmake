# Records a simulated update, replays the trace (exit 0), then replays it with one byte of write
# WRITE changed: the replay must stop at that write with exit 1.
# Variables: CLI (after its emulator when cross-compiled), FILE, WORKDIR, WRITE.
set(trace ${WORKDIR}/replay-${WRITE}.jsonl)
execute_process(COMMAND ${CLI} update --simulate hid --record ${trace} ${FILE}
                OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the recorded update exited with ${status}")
endif()
execute_process(COMMAND ${CLI} replay ${trace} ${FILE} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out MATCHES "Replay matches the trace")
    message(FATAL_ERROR "the replay exited with ${status}\n${out}${err}")
endif()

# Change the last hex digit of the recorded write number WRITE (from 0).
file(STRINGS ${trace} lines)
set(edited "")
set(writes 0)
foreach(line IN LISTS lines)
    if(line MATCHES "\"dir\": \"out\"")
        if(writes EQUAL WRITE)
            string(REGEX MATCH "([0-9a-f])\"}$" last "${line}")
            if(CMAKE_MATCH_1 STREQUAL "0")
                set(other "1")
            else()
                set(other "0")
            endif()
            string(REGEX REPLACE "[0-9a-f]\"}$" "${other}\"}" line "${line}")
        endif()
        math(EXPR writes "${writes} + 1")
    endif()
    string(APPEND edited "${line}\n")
endforeach()
file(WRITE ${trace} "${edited}")
execute_process(COMMAND ${CLI} replay ${trace} ${FILE} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE status)
if(NOT status EQUAL 1 OR NOT err MATCHES "Write ${WRITE} differs from the trace")
    message(FATAL_ERROR "the edited replay exited with ${status}\n${out}${err}")
endif()
