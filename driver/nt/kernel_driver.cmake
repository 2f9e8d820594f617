# How a kernel driver image is compiled and linked: shared by TAVROL.sys and the Wine suite's
# variant of it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/windows_flavor.cmake)
# Nothing of Win32 may slip into a driver image by default.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
set(TAVROL_DRIVER_COMPILE_OPTIONS -fno-exceptions -fno-rtti -ffreestanding -ffunction-sections
    -fdata-sections -fno-stack-protector)
# x64 Windows walks kernel stacks by the unwind tables, so an x64 driver keeps them.
if(NOT TAVROL_FLAVOR STREQUAL "x86_64")
    list(APPEND TAVROL_DRIVER_COMPILE_OPTIONS -fno-asynchronous-unwind-tables)
endif()
set(TAVROL_DRIVER_NT_DIR ${CMAKE_CURRENT_LIST_DIR})

# Links a kernel driver image: native subsystem, DriverEntry as entry, relocatable, no C or C++
# runtime; every import comes from ntoskrnl.exe or hal.dll. A missing entry symbol is an error:
# the linker would otherwise collect every section away and leave an empty image. The link map
# beside the image (NAME.sys.map) names the entry's address, which the image is stripped of.
function(tavrol_kernel_driver target)
    set_target_properties(${target} PROPERTIES SUFFIX ".sys")
    target_compile_options(${target} PRIVATE ${TAVROL_DRIVER_COMPILE_OPTIONS})
    target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/packaging)
    target_link_options(${target} PRIVATE -nostdlib -nostartfiles -s
        -Wl,--subsystem,native:${TAVROL_WINDOWS_VERSION} -Wl,--entry,${TAVROL_DRIVER_ENTRY}
        -Wl,--require-defined,${TAVROL_DRIVER_ENTRY} -Wl,-Map,$<TARGET_FILE:${target}>.map
        -Wl,--image-base,0x10000
        -Wl,--dynamicbase -Wl,--disable-nxcompat -Wl,--gc-sections
        -Wl,--major-os-version,${TAVROL_WINDOWS_VERSION_MAJOR}
        -Wl,--minor-os-version,${TAVROL_WINDOWS_VERSION_MINOR})
    target_link_libraries(${target} PRIVATE tavrol_nt_dispatch driver_core ntoskrnl hal)
    # Windows refuses a kernel image whose checksum is wrong; the linker leaves it zero.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${Python3_EXECUTABLE} ${TAVROL_DRIVER_NT_DIR}/set_pe_checksum.py
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
