// Request batches: the channel operations of one controller operation share one open of the
// kernel driver's device, and no open outlives the batch.
#include <gtest/gtest.h>

#include <functional>

#include "agp_pc.h"
#include "tavrol_ioctl.h"

using namespace agptest;

namespace {

const char kDriverDevice[] = "\\\\.\\Tavrol";
const char kVxdDevice[] = "\\\\.\\TAVROL.VXD";

size_t opensOf(const char* device) {
    size_t opens = 0;
    for (const sim::TraceEntry& entry : sim::machine().traceOf(sim::TraceKind::DeviceOpen))
        opens += entry.name == device ? 1 : 0;
    return opens;
}

// Boots the PC with its driver started (NT) and the trace cleared.
sim::TestPc startPc(PcSpec layout) {
    sim::TestPc pc = boot(layout);
    EXPECT_TRUE(pc.ok()) << pc.error();
    isNt = layout.nt ? 1 : 0;
    if (layout.nt) {
        EXPECT_EQ(0, installDriver());
    }
    sim::machine().clearTrace();
    return pc;
}

struct BatchCase {
    const char* name;
    bool nt;
    std::function<void()> operations;
    const char* device;
    size_t opens;
    size_t requests; // at least: how many discovery needs is its own business
};

void PrintTo(const BatchCase& value, std::ostream* out) {
    *out << value.name;
}

void readGraphicsCommand() {
    DWORD value = 0;
    EXPECT_EQ(1, readConfigDword(kGraphics, kGraphicsCap + 8, &value));
}

void readStraps() {
    DWORD value = 0;
    EXPECT_EQ(0, readPhysDword(1, 0xE0101000, &value));
}

class RequestBatches : public testing::TestWithParam<BatchCase> {
  protected:
    void TearDown() override {
        if (isNt)
            removeDriver();
    }
};

TEST_P(RequestBatches, OpenTheDeviceAsOftenAsTheyShouldAndLeaveItClosed) {
    const BatchCase& c = GetParam();
    sim::TestPc pc = startPc(nvidiaPc(c.nt, 0x100));
    ASSERT_TRUE(pc.ok());
    c.operations();
    EXPECT_EQ(c.opens, opensOf(c.device)) << sim::machine().traceText();
    EXPECT_LE(c.requests, hardwareRequests().size()) << sim::machine().traceText();
    EXPECT_EQ(0, sim::machine().openDeviceCount(c.device)) << "the device was left open";
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RequestBatches,
    testing::Values(BatchCase{"WithoutABatchEachRequestOpensTheDevice", true,
                              [] {
                                  readGraphicsCommand();
                                  readGraphicsCommand();
                              },
                              kDriverDevice, 2, 2},
                    BatchCase{"ABatchOpensTheDeviceOnce", true,
                              [] {
                                  CRequestBatch batch;
                                  readGraphicsCommand();
                                  readStraps();
                                  readGraphicsCommand();
                              },
                              kDriverDevice, 1, 3},
                    BatchCase{"AnInnerBatchKeepsTheOuterOpen", true,
                              [] {
                                  CRequestBatch outer;
                                  readGraphicsCommand();
                                  {
                                      CRequestBatch inner;
                                      readGraphicsCommand();
                                  }
                                  readGraphicsCommand();
                              },
                              kDriverDevice, 1, 3},
                    BatchCase{"ABatchWithoutRequestsOpensNothing", true,
                              [] { CRequestBatch batch; }, kDriverDevice, 0, 0},
                    BatchCase{"DiscoveryIsOneBatch", true, [] { CAgpConfig config; }, kDriverDevice,
                              1, 10},
                    BatchCase{"AModeCycleIsOneBatch", true,
                              [] {
                                  CAgpConfig config;
                                  sim::machine().clearTrace();
                                  EXPECT_EQ(1, config.setFastWrite(AGP_MODE_ON));
                              },
                              kDriverDevice, 1, 8},
                    // The virtual device driver loads with each open and goes with each close.
                    BatchCase{"Windows9xKeepsOneOpenOfItsVxdPerRequest", false,
                              [] {
                                  CRequestBatch batch;
                                  readStraps();
                                  readStraps();
                              },
                              kVxdDevice, 2, 2}),
    [](const testing::TestParamInfo<BatchCase>& info) { return std::string(info.param.name); });

// An open that fails inside a batch fails that request as it would alone, last error and all;
// the next request tries again.
TEST(RequestBatchOpenFailure, FailsTheRequestAloneAndIsTriedAgain) {
    PcSpec layout = nvidiaPc(true, 0x100);
    layout.directives.push_back(std::string("open-fail ") + kDriverDevice + " 50 0 1");
    sim::TestPc pc = startPc(layout);
    ASSERT_TRUE(pc.ok());
    {
        CRequestBatch batch;
        DWORD value = 0xdeadbeef;
        EXPECT_EQ(1, readPhysDword(1, 0xE0101000, &value));
        EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
        EXPECT_EQ(0xdeadbeefu, value);
        EXPECT_EQ(0, readPhysDword(1, 0xE0101000, &value));
        readGraphicsCommand();
        EXPECT_EQ(1, sim::machine().openDeviceCount(kDriverDevice));
    }
    EXPECT_EQ(2u, opensOf(kDriverDevice)) << "the failed open and the one the batch kept";
    EXPECT_EQ(2u, hardwareRequests().size());
    EXPECT_EQ(0, sim::machine().openDeviceCount(kDriverDevice));
    removeDriver();
}

} // namespace
