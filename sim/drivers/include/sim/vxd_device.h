// Windows 9x's side of a dynamically loaded VxD, for kernel32 of the simulated PC: CreateFileA
// loads the driver file and opens it, DeviceIoControl passes requests to it, CloseHandle closes
// and unloads it. The driver itself runs on the emulated CPU of VxdHost.
#pragma once

#include <memory>
#include <string>

#include "sim/vxd_host.h"
#include "sim_win32.h"

namespace sim {

class VxdDevice {
  public:
    // Loads the driver file at that Windows path (Sys_Dynamic_Device_Init) and opens it
    // (DIOC_OPEN): ERROR_SUCCESS; ERROR_FILE_NOT_FOUND for a file that does not load as a
    // dynamic VxD; ERROR_NOT_SUPPORTED for a driver that does not take device I/O control. `why`
    // receives the reason of a failure.
    static DWORD open(const std::string& windowsPath, std::unique_ptr<VxdDevice>* device,
                      std::string* why);
    // Closes (DIOC_CLOSEHANDLE) and unloads (Sys_Dynamic_Device_Exit): the program opens the
    // driver with FILE_FLAG_DELETE_ON_CLOSE, and the driver keeps nothing between requests but
    // its mapping of the straps, which a load makes again, so one loaded copy for each handle
    // serves as Windows' one reference-counted copy does.
    ~VxdDevice();

    // One W32_DEVICEIOCONTROL: ERROR_SUCCESS or the error code the driver answered.
    // ERROR_GEN_FAILURE, with fault() saying why, when the driver faulted (on Windows a fault in
    // a VxD stops the machine).
    DWORD request(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                  DWORD* returned);
    const std::string& fault() const { return m_host.fault(); }

  private:
    explicit VxdDevice(const TavrolBus& bus) : m_host(bus) {}
    std::string faultText() const; // ": " and the fault, or nothing
    VxdHost m_host;
    bool m_open = false;
};

} // namespace sim
