# The Windows flavor a tree builds. i686: one binary for Windows 98 SE to 7, 9x and NT alike.
# x86_64: 64-bit Windows XP, Server 2003, Vista and 7, the NT path only. The native tree takes the
# i686 values, since the simulated PC loads the i686 resource library. Each directory that needs
# the values includes this file.
if(WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(TAVROL_FLAVOR x86_64)
    set(TAVROL_MINGW_TRIPLE x86_64-w64-mingw32)
    set(TAVROL_PE_EMULATION i386pep)
    # The first x64 Windows, XP x64 and Server 2003 x64, are NT 5.2; the Microsoft linker writes
    # no lower version into an x64 image.
    set(TAVROL_WINDOWS_VERSION 5.2)
    # x64 has one calling convention and no stdcall decoration.
    set(TAVROL_DRIVER_ENTRY DriverEntry)
    set(TAVROL_DIST_SUFFIX win64)
else()
    set(TAVROL_FLAVOR i686)
    set(TAVROL_MINGW_TRIPLE i686-w64-mingw32)
    set(TAVROL_PE_EMULATION i386pe)
    # Windows 98 SE and NT 4.0 load images of version 4.0.
    set(TAVROL_WINDOWS_VERSION 4.0)
    set(TAVROL_DRIVER_ENTRY _DriverEntry@8)
    set(TAVROL_DIST_SUFFIX win32)
endif()
string(REPLACE "." ";" _tavrol_version_parts ${TAVROL_WINDOWS_VERSION})
list(GET _tavrol_version_parts 0 TAVROL_WINDOWS_VERSION_MAJOR)
list(GET _tavrol_version_parts 1 TAVROL_WINDOWS_VERSION_MINOR)
