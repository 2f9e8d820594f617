// The HAL of a PC made from a machine profile: HalGetBusDataByOffset and HalSetBusDataByOffset
// with the return values the DDK documents for PCIConfiguration, over the simulated machine's
// registers and physical memory. The emulated kernel answers the driver from it, and the request
// core runs over it too, as TAVROL.sys's HAL back end builds its bus, so that the two can be
// compared request by request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "request_core.h"
#include "sim/machine.h"

namespace ntdriver {

const uint32_t kPciConfiguration = 4; // BUS_DATA_TYPE

class HalModel {
  public:
    // Loads machines/<name>.lspci; fails the calling test when the profile does not load.
    explicit HalModel(const std::string& machineName);

    // The number of bytes read: 0 for a bus the PC does not have, 2 for an empty slot (the buffer
    // then holds PCI_INVALID_VENDORID where the vendor ID lies, nothing else). PCI_SLOT_NUMBER
    // holds the device in bits 4..0 and the function in bits 7..5; the HAL ignores the reserved
    // bits above.
    uint32_t getBusData(uint32_t type, uint32_t bus, uint32_t slot, uint8_t* buffer,
                        uint32_t offset, uint32_t length);
    // The number of bytes written; only whole aligned dwords (all the driver writes) are modelled.
    uint32_t setBusData(uint32_t type, uint32_t bus, uint32_t slot, const uint8_t* buffer,
                        uint32_t offset, uint32_t length);
    // A bus exists when it is bus 0 or lies behind a PCI-to-PCI bridge of the profile.
    bool busExists(uint32_t bus) const;

    struct Call {
        bool set;
        uint32_t type, bus, slot, offset, length, result;
    };
    const std::vector<Call>& calls() const { return m_calls; }
    // Shapes the model does not know (another bus type, a write of other than one aligned dword).
    const std::string& fault() const { return m_fault; }

    sim::Machine& machine() { return m_machine; }
    // The request core's bus over this HAL: configuration access succeeds only for the full
    // length, physical memory is the machine's.
    const TavrolBus* coreBus() const { return &m_coreBus; }

  private:
    sim::Machine m_machine;
    uint32_t m_lastBus = 0;
    std::vector<Call> m_calls;
    std::string m_fault;
    TavrolBus m_coreBus;
};

} // namespace ntdriver
