# Turns a machine profile (lspci -xxx rows plus "#! phys ADDRESS VALUE" and "#! stuck BB:DD.F MASK"
# lines) into the C++ table of the virtual PC compiled into the driver built for the Wine suite.
#   cmake -DPROFILE=machines/default.lspci -DOUTPUT=vm_profile.cpp -P profile_to_c.cmake
# EXTRA may carry directive lines (a CMake list) that are read after the profile's own.
if(NOT PROFILE OR NOT OUTPUT)
    message(FATAL_ERROR "usage: cmake -DPROFILE=file -DOUTPUT=file -P profile_to_c.cmake")
endif()
file(STRINGS "${PROFILE}" lines)
list(APPEND lines ${EXTRA})

set(functions "")
set(phys "")
set(count 0)
set(physCount 0)
set(current "")
set(currentAddress "")
set(lineNumber 0)

# Stuck masks are looked up when a function is written out: the directive may come first.
set(stuckMasks "")
set(stuckLine 0)
foreach(line IN LISTS lines)
    math(EXPR stuckLine "${stuckLine} + 1")
    if(line MATCHES "^#![ \t]*stuck[ \t]+([0-9a-fA-F][0-9a-fA-F]:[0-9a-fA-F][0-9a-fA-F]\\.[0-7])[ \t]+(0[xX][0-9A-Fa-f]+|[0-9]+)[ \t]*$")
        string(TOLOWER "${CMAKE_MATCH_1}" stuckAddress)
        list(APPEND stuckMasks "${stuckAddress}=${CMAKE_MATCH_2}")
    elseif(line MATCHES "^#![ \t]*stuck([ \t]|$)")
        message(FATAL_ERROR "${PROFILE}:${stuckLine}: stuck needs BB:DD.F and a mask")
    endif()
endforeach()

macro(finish_function)
    if(current)
        set(stuck 0)
        foreach(entry IN LISTS stuckMasks)
            # Several directives for one function add up, as on the simulated PC.
            if(entry MATCHES "^${currentAddress}=(.*)$")
                math(EXPR stuck "${stuck} | ${CMAKE_MATCH_1}")
            endif()
        endforeach()
        string(APPEND functions "    {${current}, ${stuck}u, {")
        foreach(i RANGE 255)
            string(APPEND functions "0x${byte_${i}},")
        endforeach()
        string(APPEND functions "}},\n")
        math(EXPR count "${count} + 1")
    endif()
endmacro()

foreach(line IN LISTS lines)
    math(EXPR lineNumber "${lineNumber} + 1")
    string(STRIP "${line}" line)
    if(line MATCHES "^#![ \t]*phys([ \t]|$)" AND NOT
       line MATCHES "^#![ \t]*phys[ \t]+(0[xX][0-9A-Fa-f]+|[0-9]+)[ \t]+(0[xX][0-9A-Fa-f]+|[0-9]+)[ \t]*$")
        message(FATAL_ERROR "${PROFILE}:${lineNumber}: phys needs an address and a value")
    elseif(line MATCHES "^#![ \t]*phys[ \t]+([0-9A-Fa-fx]+)[ \t]+([0-9A-Fa-fx]+)")
        set(physAddress "${CMAKE_MATCH_1}")
        set(physValue "${CMAKE_MATCH_2}")
        string(APPEND phys "    {${physAddress}u, ${physValue}u},\n")
        math(EXPR physCount "${physCount} + 1")
    elseif(line MATCHES "^#" OR line STREQUAL "")
        # Comments and the directives the virtual PC has no use for.
    elseif(line MATCHES "^([0-9a-fA-F]+:)?([0-9a-fA-F][0-9a-fA-F]):([0-9a-fA-F][0-9a-fA-F])\\.([0-7])( |$)")
        # Taken before finish_function, whose own matching replaces CMAKE_MATCH_n.
        set(busText "${CMAKE_MATCH_2}")
        set(deviceText "${CMAKE_MATCH_3}")
        set(functionText "${CMAKE_MATCH_4}")
        finish_function()
        math(EXPR bus "0x${busText}")
        math(EXPR device "0x${deviceText}")
        set(current "${bus}, ${device}, ${functionText}, 0")
        string(TOLOWER "${busText}:${deviceText}.${functionText}" currentAddress)
        if(device GREATER 31)
            message(FATAL_ERROR "${PROFILE}:${lineNumber}: device number out of range")
        endif()
        foreach(i RANGE 255)
            set(byte_${i} "00")
        endforeach()
    elseif(line MATCHES "^([0-9a-fA-F]+):((( [0-9a-fA-F][0-9a-fA-F])+))")
        if(NOT current)
            message(FATAL_ERROR "${PROFILE}:${lineNumber}: data row before any function")
        endif()
        math(EXPR offset "0x${CMAKE_MATCH_1}")
        string(STRIP "${CMAKE_MATCH_2}" row)
        string(REPLACE " " ";" bytes "${row}")
        foreach(b IN LISTS bytes)
            if(offset LESS 256)
                set(byte_${offset} "${b}")
            endif()
            math(EXPR offset "${offset} + 1")
        endforeach()
    endif()
endforeach()
finish_function()

if(count EQUAL 0)
    message(FATAL_ERROR "${PROFILE}: no PCI function in the profile")
endif()
if(physCount EQUAL 0)
    set(phys "    {0, 0},\n")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${PROFILE} by wine/profile_to_c.cmake; do not edit.
#include \"vm_machine.h\"

VmFunction vmProfileFunctions[] = {
${functions}};
const uint32_t vmProfileFunctionCount = ${count};
const VmPhysWord vmProfilePhys[] = {
${phys}};
const uint32_t vmProfilePhysCount = ${physCount};
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
