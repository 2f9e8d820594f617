// DLLs planted where a load by bare name would look first: the program never loads them.
#include <gtest/gtest.h>

#include "agp_pc.h"

using namespace agptest;

namespace {

// DirectDraw comes from the system folder: a ddraw.dll planted beside the program, which is the
// current folder too and where a load by bare name would look first, is never loaded.
TEST(Discovery, DirectDrawIsTheSystemsWhateverLiesBesideTheProgram) {
    for (bool nt : {true, false}) {
        SCOPED_TRACE(nt ? "NT" : "Windows 9x");
        sim::TestPc pc = boot(agpPc(nt, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x));
        ASSERT_TRUE(pc.ok());
        ASSERT_TRUE(
            sim::drive().writeFile(std::string(sim::kProgramDirectory) + "\\ddraw.dll", "planted"));
        CAgpConfig config;
        EXPECT_EQ(AGP_OK, config.getInitError());
        EXPECT_EQ(1u, sim::machine().traceOf(sim::TraceKind::DirectDrawCreate).size());
        EXPECT_EQ(nullptr, GetModuleHandleA("ddraw.dll")) << "DirectDraw was not freed";
    }
}

} // namespace
