// The machine report as a profile: what the program writes on each shipped machine replays as
// the same virtual PC.
#include "sim_front_end.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "sim/machine.h"

namespace fs = std::filesystem;

namespace {

using namespace sim_front_end;

class ReportReplayTest : public SimFrontEnd {
  protected:
    // Runs the front end on a state directory of its own.
    Result simOn(const std::string& state, const std::string& args) {
        m_state = m_dir + "/" + state;
        return sim(args);
    }
};

std::string commandOutput(const std::string& command, int* status) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    *status = pclose(pipe);
    return text;
}

// Each function's address and its 256 bytes, one line each: what a dump's headers say besides
// the address is the writer's own.
std::string spaces(const sim::Profile& profile) {
    std::string text;
    char hex[4];
    for (const sim::PciFunctionImage& f : profile.functions) {
        std::snprintf(hex, sizeof hex, "%02x", f.bus);
        text += std::string(hex) + ":";
        std::snprintf(hex, sizeof hex, "%02x", f.device);
        text += std::string(hex) + "." + std::to_string(f.function);
        for (uint8_t byte : f.config) {
            std::snprintf(hex, sizeof hex, " %02x", byte);
            text += hex;
        }
        text += "\n";
    }
    return text;
}

// For every profile of machines/: the report holds exactly its configuration spaces, pciutils
// reads it, and a PC built from it probes as the profile's own.
TEST_F(ReportReplayTest, EveryShippedMachineReplaysFromItsReport) {
    bool havePciutils = std::system("lspci --version >/dev/null 2>&1") == 0;
    int machines = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(sim::machinesDir())) {
        if (entry.path().extension() != ".lspci")
            continue;
        ++machines;
        const std::string profilePath = entry.path().string();
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);

        Result run = simOn(name + "-pc", "--machine '" + profilePath +
                                             "' run -report 'C:\\Reports\\..\\report.txt'");
        ASSERT_EQ(0, run.status) << run.err << run.out;
        const std::string report = m_dir + "/" + name + "-pc/drive_c/report.txt";

        sim::Profile profile, replayed;
        std::string error;
        ASSERT_TRUE(sim::loadProfileFile(profilePath, &profile, &error)) << error;
        ASSERT_TRUE(sim::loadProfileFile(report, &replayed, &error)) << error;
        EXPECT_TRUE(replayed.directives.empty()) << "a report is a plain dump";
        EXPECT_EQ(spaces(profile), spaces(replayed));

        if (havePciutils) {
            int status = -1;
            std::string decoded = commandOutput("lspci -F '" + report + "' 2>&1", &status);
            EXPECT_EQ(0, status) << decoded;
            size_t lines = 0;
            for (char c : decoded)
                lines += c == '\n';
            EXPECT_EQ(profile.functions.size(), lines) << decoded;
        }

        Result fromProfile =
            simOn(name + "-profile", "--machine '" + profilePath + "' probe --json");
        Result fromReport = simOn(name + "-report", "--machine '" + report + "' probe --json");
        ASSERT_EQ(0, fromReport.status) << fromReport.err;
        EXPECT_EQ(fromProfile.out, fromReport.out);
    }
    EXPECT_GE(machines, 9);
}

} // namespace
