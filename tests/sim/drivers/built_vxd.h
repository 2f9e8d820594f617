// The TAVROL.VXD of this build, read and parsed once for the tests of this folder.
#pragma once

#include <gtest/gtest.h>

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
