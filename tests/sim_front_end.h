// A fixture for tests of tavrolin-sim itself: a state directory of its own per test, files to
// hand the front end, and runs of it without a terminal.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sim_front_end {

const std::string kSim = std::string(TAVROL_BINARY_DIR) + "/sim/cli/tavrolin-sim";

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class SimFrontEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrolin-sim-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_dir = pattern;
        m_state = m_dir + "/pc";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string file(const std::string& name, const std::string& text) {
        std::string path = m_dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    static std::string slurp(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Runs tavrolin-sim with `args` on this test's state directory, without a terminal: stdin
    // from /dev/null, stdout and stderr to files.
    Result sim(const std::string& args) {
        std::string out = m_dir + "/out.txt", err = m_dir + "/err.txt";
        std::string line = "'" + kSim + "' --state '" + m_state + "' " + args + " </dev/null >'" +
                           out + "' 2>'" + err + "'";
        Result r;
        int raw = system(line.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }

    std::string m_dir;
    std::string m_state;
};

} // namespace sim_front_end
