# The drivers a program accepts: the SHA-256 digests of driver images built in this tree, compiled
# into the program as the table `acceptedDriverTable` (src/agpcfg/driver_digest.h).
#
#   tavrol_accepted_drivers(TARGET [DRIVERS target...] [FILES file... DEPENDS target...])
#
# DRIVERS names driver targets: the digest is taken of each one's final file, after every
# post-build step of that target (checksum, signature). FILES names other images, made by the
# targets listed in DEPENDS.
set(TAVROL_DIGEST_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write_driver_digests.cmake)

function(tavrol_accepted_drivers target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "DRIVERS;FILES;DEPENDS")
    set(images ${ARG_FILES})
    foreach(driver ${ARG_DRIVERS})
        list(APPEND images $<TARGET_FILE:${driver}>)
    endforeach()
    set(table ${CMAKE_CURRENT_BINARY_DIR}/${target}_accepted_drivers.cpp)
    add_custom_command(OUTPUT ${table}
        COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${table}" "-DIMAGES=${images}"
                -P ${TAVROL_DIGEST_SCRIPT}
        DEPENDS ${ARG_DRIVERS} ${ARG_FILES} ${ARG_DEPENDS} ${TAVROL_DIGEST_SCRIPT}
        COMMENT "Taking the digests of the drivers ${target} accepts"
        VERBATIM)
    target_sources(${target} PRIVATE ${table})
endfunction()
