# The window and graphics libraries are imported for loading on first use: a log-on run that
# shows nothing reaches them only through DirectDraw, whose probe loads them on a thread of its
# own while the driver starts, instead of paying for their start-up before the program's first
# line. GNU ld links delay-load libraries that dlltool makes from the toolchain's import
# libraries; tools/delay_imports.py then lists them in the image's delay import directory.

# Makes lib<name>_delay.a for each library name (user32, gdi32, ...) and puts the list of them in
# out_var; the target tavrol_delay_imports builds them.
function(tavrol_delay_import_libraries out_var)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(tool ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tools/delay_imports.py)
    set(libraries)
    set(dir ${PROJECT_BINARY_DIR}/delay_imports)
    if(TAVROL_FLAVOR STREQUAL "i686")
        set(underscore --leading-underscore)
        set(kill_at -k)
    endif()
    foreach(name IN LISTS ARGN)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${name}.a
                        OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${import_library}" OR NOT EXISTS "${import_library}")
            message(FATAL_ERROR "the toolchain has no import library lib${name}.a")
        endif()
        string(TOUPPER ${name} dll)
        set(def ${dir}/${name}.def)
        set(library ${dir}/lib${name}_delay.a)
        add_custom_command(OUTPUT ${library}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${Python3_EXECUTABLE} ${tool} def --nm ${CMAKE_NM}
                    --lib ${import_library} --dll ${dll}.dll --out ${def} ${underscore}
            COMMAND ${CMAKE_DLLTOOL} ${kill_at} -d ${def} -y ${library}
            DEPENDS ${import_library} ${tool}
            COMMENT "Delay-load library of ${dll}.dll"
            VERBATIM)
        list(APPEND libraries ${library})
    endforeach()
    add_custom_target(tavrol_delay_imports DEPENDS ${libraries})
    set(${out_var} ${libraries} PARENT_SCOPE)
endfunction()

# Strips the linked executable and fills in its delay import directory.
function(tavrol_seal_delay_imports target)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(tool ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tools/delay_imports.py)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${Python3_EXECUTABLE} ${tool} seal --nm ${CMAKE_NM}
                --strip ${CMAKE_STRIP} $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
