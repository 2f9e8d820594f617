# How a kernel driver image is compiled and linked: shared by TAVROL.sys and the Wine suite's
# variant of it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# Nothing of Win32 may slip into a driver image by default.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
set(TAVROL_DRIVER_COMPILE_OPTIONS -fno-exceptions -fno-rtti -ffreestanding -ffunction-sections
    -fdata-sections -fno-stack-protector -fno-asynchronous-unwind-tables)
set(TAVROL_DRIVER_NT_DIR ${CMAKE_CURRENT_LIST_DIR})

# Links a kernel driver image: native subsystem, DriverEntry as entry, relocatable, no C or C++
# runtime; every import comes from ntoskrnl.exe or hal.dll.
function(tavrol_kernel_driver target)
    set_target_properties(${target} PROPERTIES SUFFIX ".sys")
    target_compile_options(${target} PRIVATE ${TAVROL_DRIVER_COMPILE_OPTIONS})
    target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/packaging)
    target_link_options(${target} PRIVATE -nostdlib -nostartfiles -s
        -Wl,--subsystem,native:4.0 -Wl,--entry,_DriverEntry@8 -Wl,--image-base,0x10000
        -Wl,--dynamicbase -Wl,--disable-nxcompat -Wl,--gc-sections
        -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
    target_link_libraries(${target} PRIVATE tavrol_nt_dispatch driver_core ntoskrnl hal)
    # Windows refuses a kernel image whose checksum is wrong; the linker leaves it zero.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${Python3_EXECUTABLE} ${TAVROL_DRIVER_NT_DIR}/set_pe_checksum.py
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
