// A PCI bus in memory for the driver's request core: functions, physical words and counters.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "request_core.h"

class FakeBus {
  public:
    struct Function {
        uint8_t config[256] = {};
    };

    FakeBus() {
        m_bus.context = this;
        m_bus.readConfig = &FakeBus::readConfig;
        m_bus.writeConfig = &FakeBus::writeConfig;
        m_bus.readPhys = &FakeBus::readPhys;
        m_bus.writePhys = &FakeBus::writePhys;
    }

    const TavrolBus* bus() const { return &m_bus; }

    // Adds a function with vendor/device, 24-bit class code and header type.
    Function& add(uint32_t bus, uint32_t device, uint32_t function, uint32_t classCode,
                  uint8_t headerType = 0, uint16_t vendor = 0x8086) {
        Function& f = m_functions[std::make_tuple(bus, device, function)];
        f.config[0] = static_cast<uint8_t>(vendor);
        f.config[1] = static_cast<uint8_t>(vendor >> 8);
        f.config[2] = 0x34;
        f.config[3] = 0x12;
        f.config[9] = static_cast<uint8_t>(classCode);
        f.config[10] = static_cast<uint8_t>(classCode >> 8);
        f.config[11] = static_cast<uint8_t>(classCode >> 16);
        f.config[0x0E] = headerType;
        return f;
    }

    static void setDword(Function& f, uint32_t offset, uint32_t value) {
        std::memcpy(f.config + offset, &value, 4);
    }

    // Puts an AGP capability at `offset`, linked from the capabilities pointer.
    static void addAgp(Function& f, uint8_t offset, uint32_t command = 0x102) {
        f.config[0x06] |= 0x10; // the status register announces a capability list
        f.config[0x34] = offset;
        f.config[offset] = 2;
        f.config[offset + 1] = 0;
        setDword(f, offset + 4, 0x1F000217);
        setDword(f, offset + 8, command);
    }

    std::map<uint64_t, uint32_t> phys;
    int configReads = 0;
    int physAccesses = 0;
    struct Write {
        uint32_t bus, slot, offset, value;
    };
    std::vector<Write> configWrites;
    // Makes every configuration read of this (bus, slot) fail.
    std::vector<std::pair<uint32_t, uint32_t>> failingReads;

  private:
    static FakeBus* self(void* context) { return static_cast<FakeBus*>(context); }

    // Configuration mechanism #1 carries 8 bits of bus and of device and function: like a
    // platform that passes the rest on unchecked, the fake answers for the low bits alone.
    Function* find(uint32_t bus, uint32_t slot) {
        auto f = m_functions.find(std::make_tuple(bus & 0xFF, slot & 0x1F, (slot >> 5) & 7));
        return f == m_functions.end() ? nullptr : &f->second;
    }

    static int readConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer,
                          uint32_t length) {
        FakeBus* fake = self(context);
        ++fake->configReads;
        for (const auto& failing : fake->failingReads)
            if (failing.first == bus && failing.second == slot)
                return 0;
        Function* f = fake->find(bus, slot);
        if (!f) {
            // An empty slot answers all ones, as a real bus does.
            std::memset(buffer, 0xFF, length);
            return offset + length <= 256;
        }
        if (offset + length > 256)
            return 0;
        std::memcpy(buffer, f->config + offset, length);
        return 1;
    }

    static int writeConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset,
                           uint32_t value) {
        FakeBus* fake = self(context);
        fake->configWrites.push_back({bus, slot, offset, value});
        Function* f = fake->find(bus, slot);
        if (!f)
            return 0;
        setDword(*f, offset, value);
        return 1;
    }

    static int readPhys(void* context, uint64_t address, uint32_t* value) {
        FakeBus* fake = self(context);
        ++fake->physAccesses;
        auto word = fake->phys.find(address);
        *value = word == fake->phys.end() ? 0 : word->second;
        return 1;
    }

    static int writePhys(void* context, uint64_t address, uint32_t value) {
        FakeBus* fake = self(context);
        ++fake->physAccesses;
        fake->phys[address] = value;
        return 1;
    }

    TavrolBus m_bus;
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, Function> m_functions;
};
