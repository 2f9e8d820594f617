# The names the program defines in its headers, for the set-up script: set-up and removal use the
# program's own names (registry keys, the Run value, the task, the mutex, the driver service),
# never copies typed a second time. A line `#define NAME "text"` gives the text with adjacent
# string literals joined, C's "\\" made one backslash and NSIS's "$" doubled. Any other escape, a
# name defined twice or not at all, or a value that is not a string stops the build.
#
# include() it for tavrol_header_string(), or run it as a script that writes the NSIS lines
# `!define NAME "text"` of the names into OUTPUT:
#   cmake -DHEADER=file.h -DNAMES=NAME1;NAME2 -DOUTPUT=file.nsh -P header_names.cmake

function(tavrol_header_string out header name)
    file(STRINGS "${header}" lines REGEX "^#define[ \t]+${name}([ \t]|$)")
    list(LENGTH lines count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "${header}: expected one #define ${name}, found ${count}")
    endif()
    string(REGEX REPLACE "^#define[ \t]+${name}[ \t]*" "" rest "${lines}")
    set(literals "")
    set(pieces 0)
    while(NOT rest STREQUAL "" AND NOT rest MATCHES "^//")
        if(NOT rest MATCHES "^\"(([^\"\\\\]|\\\\.)*)\"[ \t]*(.*)$")
            message(FATAL_ERROR "${header}: ${name} is not a string: ${lines}")
        endif()
        string(APPEND literals "${CMAKE_MATCH_1}")
        set(rest "${CMAKE_MATCH_3}")
        math(EXPR pieces "${pieces} + 1")
    endwhile()
    if(pieces EQUAL 0)
        message(FATAL_ERROR "${header}: ${name} is not a string: ${lines}")
    endif()
    # Only "\\" may stand in a name: any other escape would need C's rules to read.
    string(REPLACE "\\\\" "" unescaped "${literals}")
    if(unescaped MATCHES "\\\\")
        message(FATAL_ERROR "${header}: ${name} holds an escape other than \\\\: ${lines}")
    endif()
    string(REPLACE "\\\\" "\\" text "${literals}")
    string(REPLACE "$" "$$" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT HEADER OR NOT OUTPUT)
        message(FATAL_ERROR "usage: cmake -DHEADER=file.h -DNAMES=A;B -DOUTPUT=file.nsh -P "
                            "header_names.cmake")
    endif()
    set(defines "")
    foreach(name ${NAMES})
        tavrol_header_string(text "${HEADER}" ${name})
        string(APPEND defines "!define ${name} \"${text}\"\n")
    endforeach()
    file(WRITE "${OUTPUT}" "${defines}")
endif()
