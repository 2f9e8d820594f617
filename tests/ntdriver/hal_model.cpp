#include "ntdriver/hal_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace ntdriver {
namespace {

HalModel* self(void* context) {
    return static_cast<HalModel*>(context);
}

int coreReadConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer,
                   uint32_t length) {
    return self(context)->getBusData(kPciConfiguration, bus, slot, static_cast<uint8_t*>(buffer),
                                     offset, length) == length;
}

int coreWriteConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, uint32_t value) {
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    return self(context)->setBusData(kPciConfiguration, bus, slot, bytes, offset, 4) == 4;
}

int coreReadPhys(void* context, uint64_t address, uint32_t* value) {
    return self(context)->machine().readPhys(address, value);
}

int coreWritePhys(void* context, uint64_t address, uint32_t value) {
    return self(context)->machine().writePhys(address, value);
}

} // namespace

HalModel::HalModel(const std::string& machineName) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(
        sim::loadProfileFile(sim::machinesDir() + "/" + machineName + ".lspci", &profile, &error))
        << error;
    m_machine.load(profile);
    for (const sim::PciFunctionImage& f : m_machine.functions()) {
        m_lastBus = std::max<uint32_t>(m_lastBus, f.bus);
        if ((f.config[0x0E] & 0x7F) == 1) // a bridge: its subordinate bus number
            m_lastBus = std::max<uint32_t>(m_lastBus, f.config[0x1A]);
    }
    m_coreBus = {this, coreReadConfig, coreWriteConfig, coreReadPhys, coreWritePhys};
}

bool HalModel::busExists(uint32_t bus) const {
    return bus <= m_lastBus;
}

uint32_t HalModel::getBusData(uint32_t type, uint32_t bus, uint32_t slot, uint8_t* buffer,
                              uint32_t offset, uint32_t length) {
    uint32_t result = 0;
    const int device = slot & 0x1F, function = (slot >> 5) & 7;
    if (type != kPciConfiguration) {
        m_fault = "bus data of type " + std::to_string(type);
    } else if (!busExists(bus)) {
        result = 0;
    } else if (!m_machine.function(static_cast<int>(bus), device, function)) {
        // PCI_INVALID_VENDORID where the vendor ID lies inside the range asked for.
        for (uint32_t i = offset; i < 2 && i < offset + length; ++i)
            buffer[i - offset] = 0xFF;
        result = 2;
    } else if (offset < 256) {
        result = std::min(length, 256 - offset);
        m_machine.readConfig(static_cast<int>(bus), device, function, offset, buffer, result);
    }
    m_calls.push_back({false, type, bus, slot, offset, length, result});
    return result;
}

uint32_t HalModel::setBusData(uint32_t type, uint32_t bus, uint32_t slot, const uint8_t* buffer,
                              uint32_t offset, uint32_t length) {
    uint32_t result = 0;
    const int device = slot & 0x1F, function = (slot >> 5) & 7;
    if (type != kPciConfiguration || length != 4 || (offset & 3) || offset > 252) {
        m_fault = "a configuration write of " + std::to_string(length) + " bytes at " +
                  std::to_string(offset);
    } else if (busExists(bus) && m_machine.function(static_cast<int>(bus), device, function)) {
        uint32_t value;
        std::memcpy(&value, buffer, 4);
        m_machine.writeConfigDword(static_cast<int>(bus), device, function, offset, value);
        result = 4;
    }
    m_calls.push_back({true, type, bus, slot, offset, length, result});
    return result;
}

} // namespace ntdriver
