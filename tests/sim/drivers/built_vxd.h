// The TAVROL.VXD of this build, read and parsed once for the tests of this folder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/le_image.h"
#include "sim/pe_module.h"
#include "sim/process.h"
#include "sim/vxd_host.h"

inline const std::vector<uint8_t>& builtVxdFile() {
    static const std::vector<uint8_t> file = [] {
        std::vector<uint8_t> bytes;
        sim::readHostFile(sim::builtVxdPath(), &bytes);
        return bytes;
    }();
    return file;
}

// Parses the built file; a test that needs it stops with the reason when it does not parse.
#define BUILT_VXD_IMAGE(image)                                                                     \
    sim::LeImage image;                                                                            \
    {                                                                                              \
        std::string parseError;                                                                    \
        ASSERT_FALSE(builtVxdFile().empty()) << "no TAVROL.VXD at " << sim::builtVxdPath();        \
        ASSERT_TRUE(sim::parseLeImage(builtVxdFile(), &image, &parseError)) << parseError;         \
    }

// One copy of the driver loaded at the default base over a bus, and requests with separate input
// and output records of one type; the output starts filled with 0xBD.
class LoadedVxd {
  public:
    explicit LoadedVxd(const TavrolBus& bus) : m_host(bus) { load(); }
    // Answers the driver's EAX; returned() then gives the byte count it reported.
    template <typename Record> uint32_t send(uint32_t code, const Record& in, Record* out) {
        std::memset(out, 0xBD, sizeof *out);
        m_returned = 0xDEADBEEF;
        sim::VxdHost::Result r =
            m_host.deviceIoControl(code, &in, sizeof in, out, sizeof *out, &m_returned);
        EXPECT_TRUE(r.completed) << m_host.fault();
        return r.eax;
    }
    uint32_t returned() const { return m_returned; }
    sim::VxdHost& host() { return m_host; }

  private:
    void load() {
        BUILT_VXD_IMAGE(image);
        std::string error;
        ASSERT_TRUE(m_host.load(image, sim::VxdHost::kDefaultBase, &error)) << error;
    }
    sim::VxdHost m_host;
    uint32_t m_returned = 0;
};
