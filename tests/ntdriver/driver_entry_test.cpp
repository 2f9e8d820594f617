// TAVROL.sys's DriverEntry, create, close and unload on the emulated kernel.
#include "ntdriver/driver_fixture.h"

namespace ntdriver {
namespace {

const uint32_t kGenericAll = 0x10000000, kFileAllAccess = 0x001F01FF;
const uint32_t kDaclSecurityInformation = 0x4, kDaclPresent = 0x4;

class DriverEntry : public DriverTest {};

TEST_P(DriverEntry, MakesOneSecureDeviceWithItsLink) {
    ASSERT_EQ(1u, m_kernel->devices().size());
    const DeviceRecord& device = m_kernel->devices()[0];
    EXPECT_EQ("\\Device\\Tavrol", device.name);
    EXPECT_EQ(0x8001u, device.type);
    EXPECT_EQ(FILE_DEVICE_SECURE_OPEN, device.characteristics);
    EXPECT_FALSE(device.exclusive);
    EXPECT_EQ(GetParam() == Flavor::X86_64 ? 8u : 4u, device.extensionSize) << "one pointer";
    EXPECT_EQ((std::map<std::string, std::string>{{"\\DosDevices\\Tavrol", "\\Device\\Tavrol"}}),
              m_kernel->links());
    EXPECT_EQ(DO_BUFFERED_IO, m_kernel->deviceFlags()) << "buffered, and initialised";
    EXPECT_EQ(0, m_kernel->openHandles());
}

TEST_P(DriverEntry, GrantsTheDeviceToSystemAndAdministratorsOnly) {
    const DeviceRecord& device = m_kernel->devices()[0];
    ASSERT_TRUE(device.secured);
    EXPECT_TRUE(device.securedEarly) << "set before the link exists and while initialising";
    EXPECT_EQ(kDaclSecurityInformation, device.securityInformation);
    EXPECT_EQ(kDaclPresent, device.descriptorControl) << "a DACL present and not defaulted";
    EXPECT_FALSE(device.ownerOrGroupOrSacl);
    ASSERT_EQ(2u, device.dacl.size());
    const char* sids[] = {"S-1-5-18", "S-1-5-32-544"}; // LocalSystem, BUILTIN\Administrators
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(sids[i]);
        EXPECT_EQ(sids[i], device.dacl[i].sid);
        EXPECT_EQ(0, device.dacl[i].type) << "ACCESS_ALLOWED_ACE_TYPE";
        EXPECT_EQ(0, device.dacl[i].flags);
        EXPECT_EQ(kGenericAll, device.dacl[i].mask);
        EXPECT_EQ(kFileAllAccess, device.dacl[i].rights);
    }
}

TEST_P(DriverEntry, ServesCreateCloseAndDeviceControlOnly) {
    const uint64_t base = m_kernel->imageBase(), end = base + m_kernel->imageSize();
    for (int major = 0; major < static_cast<int>(IRP_MJ_COUNT); ++major) {
        SCOPED_TRACE(major);
        const uint64_t routine = m_kernel->majorFunction(major);
        if (major == IRP_MJ_CREATE || major == IRP_MJ_CLOSE || major == IRP_MJ_DEVICE_CONTROL) {
            EXPECT_GE(routine, base);
            EXPECT_LT(routine, end);
        } else {
            EXPECT_EQ(m_kernel->defaultDispatch(), routine);
        }
    }
    EXPECT_GE(m_kernel->unloadRoutine(), base);
    EXPECT_LT(m_kernel->unloadRoutine(), end);
}

// A service that fails leaves nothing behind: no device, no link, no open handle, and DriverEntry
// returns the service's status, so that the service manager reports the start as failed.
TEST_P(DriverEntry, AFailingServiceLeavesNothingBehind) {
    const char* services[] = {"IoCreateDevice",
                              "RtlCreateAcl",
                              "RtlAddAccessAllowedAce",
                              "RtlCreateSecurityDescriptor",
                              "RtlSetDaclSecurityDescriptor",
                              "ObOpenObjectByPointer",
                              "ZwSetSecurityObject",
                              "IoCreateSymbolicLink"};
    for (const char* service : services) {
        SCOPED_TRACE(service);
        ASSERT_NO_FATAL_FAILURE(start("default", 0, false));
        m_kernel->failService(service, STATUS_INSUFFICIENT_RESOURCES);
        bool completed = false;
        EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, m_kernel->driverEntry(&completed));
        EXPECT_TRUE(completed) << m_kernel->fault();
        for (const DeviceRecord& device : m_kernel->devices())
            EXPECT_TRUE(device.deleted);
        EXPECT_TRUE(m_kernel->links().empty());
        EXPECT_EQ(0, m_kernel->openHandles());
    }
}

// The NT loader puts a driver wherever it has room; every absolute address must be relocated.
TEST_P(DriverEntry, RunsAtAnyBase) {
    const uint64_t bases[] = {GetParam() == Flavor::X86_64 ? 0xFFFFF8800CD70000ull : 0xBA5E0000ull,
                              GetParam() == Flavor::X86_64 ? 0xFFFFFA6000010000ull : 0x80010000ull};
    for (uint64_t base : bases) {
        SCOPED_TRACE(base);
        ASSERT_NO_FATAL_FAILURE(start("default", base));
        const IrpOutcome open = m_kernel->create(u"", false);
        EXPECT_TRUE(open.completed) << m_kernel->fault();
        EXPECT_EQ(STATUS_SUCCESS, open.status);
    }
}

// Only the device itself opens: a name below it, or an open relative to another file object, is
// refused. Close always succeeds. Each IRP is completed once, with no priority boost, and the
// dispatch routine returns the status it completed with.
TEST_P(DriverEntry, OpensOnlyTheDeviceItselfAndAlwaysCloses) {
    const struct {
        const char* what;
        bool close;
        std::u16string name;
        bool related;
        uint32_t status;
    } cases[] = {
        {"the device", false, u"", false, STATUS_SUCCESS},
        {"a name below it", false, u"\\x", false, STATUS_ACCESS_DENIED},
        {"relative to another file", false, u"", true, STATUS_ACCESS_DENIED},
        {"a name relative to another file", false, u"x", true, STATUS_ACCESS_DENIED},
        {"close", true, u"", false, STATUS_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const IrpOutcome o = c.close ? m_kernel->close() : m_kernel->create(c.name, c.related);
        ASSERT_TRUE(o.completed) << m_kernel->fault();
        EXPECT_EQ(1, o.completions);
        EXPECT_EQ(0, o.boost) << "IO_NO_INCREMENT";
        EXPECT_EQ(c.status, o.status);
        EXPECT_EQ(c.status, o.returned);
        EXPECT_EQ(0u, o.information);
    }
}

TEST_P(DriverEntry, UnloadDeletesLinkAndDeviceAndLeavesNothingMapped) {
    m_hal->machine().pokePhysWord(0xE0101000, 0xEA3);
    PhysDwordRequest read = {1, 0xE0101000, 0, 0};
    std::vector<uint8_t> input(reinterpret_cast<uint8_t*>(&read),
                               reinterpret_cast<uint8_t*>(&read + 1));
    ASSERT_TRUE(m_kernel->deviceControl(IOCTL_PHYS_READ_DWORD, input, 16).completed)
        << m_kernel->fault();
    ASSERT_TRUE(m_kernel->unload()) << m_kernel->fault();
    EXPECT_TRUE(m_kernel->links().empty());
    ASSERT_EQ(1u, m_kernel->devices().size());
    EXPECT_TRUE(m_kernel->devices()[0].deleted);
    EXPECT_FALSE(m_kernel->mappings().empty());
    for (const Mapping& mapping : m_kernel->mappings())
        EXPECT_TRUE(mapping.unmapped);
    EXPECT_EQ(0, m_kernel->openHandles());
}

NT_DRIVER_FLAVORS(DriverEntry);

} // namespace
} // namespace ntdriver
