// Loading, opening, serving and unloading a dynamic VxD on the simulated Windows 98 SE: the driver
// file from the virtual drive, run by VxdHost over the machine's PCI bus and physical memory.
#include "sim/vxd_device.h"

#include "sim/machine.h"
#include "sim/pe_module.h"
#include "sim/process.h"

namespace sim {

DWORD VxdDevice::open(const std::string& windowsPath, std::unique_ptr<VxdDevice>* device,
                      std::string* why) {
    std::vector<uint8_t> file;
    LeImage image;
    std::unique_ptr<VxdDevice> loaded(new VxdDevice(machine().driverBus()));
    if (!readHostFile(drive().hostPathOf(windowsPath), &file)) {
        *why = "cannot read " + windowsPath;
        return ERROR_FILE_NOT_FOUND;
    }
    if (!parseLeImage(file, &image, why) || !loaded->m_host.load(image, VxdHost::kDefaultBase, why))
        return ERROR_FILE_NOT_FOUND;
    VxdHost::Result init = loaded->m_host.control(kSysDynamicDeviceInit);
    if (!init.completed || init.carry) {
        *why = "Sys_Dynamic_Device_Init failed" + loaded->faultText();
        return ERROR_FILE_NOT_FOUND;
    }
    // Windows leaves a driver that refuses DIOC_OPEN loaded, with no handle to close it by: it
    // gets neither the close nor the exit message.
    VxdHost::Result opened =
        loaded->m_host.deviceIoControl(kDiocOpen, nullptr, 0, nullptr, 0, nullptr);
    if (!opened.completed || opened.eax != 0) {
        *why = "DIOC_OPEN refused" + loaded->faultText();
        return ERROR_NOT_SUPPORTED;
    }
    loaded->m_open = true;
    *device = std::move(loaded);
    return ERROR_SUCCESS;
}

std::string VxdDevice::faultText() const {
    return fault().empty() ? "" : ": " + fault();
}

VxdDevice::~VxdDevice() {
    if (!m_open)
        return;
    m_host.deviceIoControl(kDiocCloseHandle, nullptr, 0, nullptr, 0, nullptr);
    m_host.control(kSysDynamicDeviceExit);
}

DWORD VxdDevice::request(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) {
    uint32_t count = *returned;
    VxdHost::Result result = m_host.deviceIoControl(code, in, inSize, out, outSize, &count);
    *returned = count;
    if (!result.completed)
        return ERROR_GEN_FAILURE;
    return result.eax;
}

} // namespace sim
