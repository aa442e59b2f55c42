# Runs the command line once and checks its exit code and what it printed.
# Variables: CLI (the program, after its emulator when cross-compiled), ARGS (its arguments, a
# list with "|" for ";"), EXIT (the expected exit code), OUT and ERR (regular expressions standard
# output and standard error must match, several separated by "&&"; empty: anything), WORKDIR,
# and UNCHANGED: a file that must still have the SHA-256 SHA256 after the run (empty: none).
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${CLI} ${args} WORKING_DIRECTORY ${WORKDIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
set(problems "")
if(UNCHANGED)
    file(SHA256 ${UNCHANGED} after)
    if(NOT after STREQUAL SHA256)
        string(APPEND problems "${UNCHANGED} changed\n")
    endif()
endif()
if(NOT status STREQUAL EXIT)
    string(APPEND problems "exit code ${status}, expected ${EXIT}\n")
endif()
foreach(stream out err)
    string(TOUPPER ${stream} name)
    string(REPLACE "&&" ";" expressions "${${name}}")
    foreach(expression IN LISTS expressions)
        if(NOT "${${stream}}" MATCHES "${expression}")
            string(APPEND problems "std${stream} does not match '${expression}'\n")
        endif()
    endforeach()
endforeach()
if(problems)
    message(FATAL_ERROR "${problems}--- stdout\n${out}--- stderr\n${err}")
endif()
