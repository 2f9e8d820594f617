// The simulated PC's Windows beyond XP: versions, 64-bit editions, the exports the program looks
// up at run time, and the Task Scheduler's interfaces, refusals and task files.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/com.h"
#include "sim/tasks.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "Interface: Method Method ..." for each interface of a header, in declaration order.
std::map<std::string, std::string> vtables(const std::string& header) {
    std::map<std::string, std::string> found;
    std::regex iface(
        R"((?:MIDL_INTERFACE\("[^"]+"\)\s*\n)?(?:struct\s+)?(I\w+) : (?:public )?(I\w+)\s*\{)");
    std::regex method(R"(virtual \w+ STDMETHODCALLTYPE (\w+)\()");
    for (std::sregex_iterator i(header.begin(), header.end(), iface), end; i != end; ++i) {
        size_t start = size_t(i->position() + i->length());
        std::string body = header.substr(start, header.find("\n};", start) - start);
        std::string names = (*i)[2].str() + ":";
        for (std::sregex_iterator m(body.begin(), body.end(), method); m != end; ++m)
            names += " " + (*m)[1].str();
        found[(*i)[1].str()] = names;
    }
    return found;
}

// The program calls these through the simulated PC's header on Linux and through mingw-w64's on
// Windows: their vtables must agree method for method.
TEST(TaskSchedulerHeader, DeclaresTheVtablesOfTheWindowsHeader) {
    const std::string windows = readFile("/usr/share/mingw-w64/include/taskschd.h");
    ASSERT_FALSE(windows.empty()) << "mingw-w64's taskschd.h is missing (mingw-w64-common)";
    const std::map<std::string, std::string> real = vtables(windows);
    const std::map<std::string, std::string> ours =
        vtables(readFile(TAVROL_SOURCE_DIR "/sim/include/win32/sim_taskschd.h"));
    ASSERT_EQ(11u, ours.size());
    for (const auto& entry : ours) {
        SCOPED_TRACE(entry.first);
        ASSERT_EQ(1u, real.count(entry.first));
        EXPECT_EQ(real.at(entry.first), entry.second);
    }
}

TEST(WindowsVersions, EachVersionReportsItselfAndExportsWhatItHas) {
    struct Case {
        const char* directives;
        DWORD major, minor, build, platform;
        bool isWow64ProcessExported, wow64, taskScheduler;
    };
    const Case cases[] = {
        {"#! windows 9x\n", 4, 10, 0x040A08AE, VER_PLATFORM_WIN32_WINDOWS, false, false, false},
        {"#! windows xp\n", 5, 1, 2600, VER_PLATFORM_WIN32_NT, true, false, false},
        {"#! windows vista\n", 6, 0, 6002, VER_PLATFORM_WIN32_NT, true, false, true},
        {"#! windows 7\n", 6, 1, 7601, VER_PLATFORM_WIN32_NT, true, false, true},
        {"#! windows 7\n#! 64-bit\n", 6, 1, 7601, VER_PLATFORM_WIN32_NT, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directives);
        sim::TestPc pc = sim::bootForTest(c.directives);
        ASSERT_TRUE(pc.ok()) << pc.error();
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;
        ASSERT_TRUE(GetVersionExA(&version));
        EXPECT_EQ(c.major, version.dwMajorVersion);
        EXPECT_EQ(c.minor, version.dwMinorVersion);
        EXPECT_EQ(c.build, version.dwBuildNumber);
        EXPECT_EQ(c.platform, version.dwPlatformId);

        HMODULE kernel32 = GetModuleHandleA("KERNEL32");
        ASSERT_NE(nullptr, kernel32);
        FARPROC isWow64 = GetProcAddress(kernel32, "IsWow64Process");
        EXPECT_EQ(c.isWow64ProcessExported, isWow64 != nullptr);
        BOOL wow64 = 7;
        if (isWow64) {
            EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
            EXPECT_EQ(c.wow64, wow64 != FALSE);
        } else {
            EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError());
        }

        EXPECT_EQ(nullptr, GetModuleHandleA("ole32.dll")) << "mapped before LoadLibraryA";
        HMODULE ole32 = LoadLibraryA("ole32.dll");
        ASSERT_NE(nullptr, ole32);
        EXPECT_NE(nullptr, GetProcAddress(ole32, "CoCreateInstance"));
        EXPECT_EQ(nullptr, GetProcAddress(ole32, "CoCreateInstanceEx")) << "not simulated";
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ITaskService* service = nullptr;
        HRESULT result = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_ITaskService, reinterpret_cast<void**>(&service));
        EXPECT_EQ(c.taskScheduler ? S_OK : REGDB_E_CLASSNOTREG, result);
        if (service)
            service->Release();
        CoUninitialize();
        EXPECT_TRUE(FreeLibrary(ole32));
        EXPECT_EQ(0, sim::comState().liveObjects);
        EXPECT_EQ(0, sim::comState().loadedSystemDlls);
    }
}

TEST(TaskScheduler, RefusesWhatWindowsRefuses) {
    sim::TestPc pc = sim::bootForTest("#! windows 7\n");
    ASSERT_TRUE(pc.ok()) << pc.error();
    ITaskService* service = nullptr;
    EXPECT_EQ(CO_E_NOTINITIALIZED,
              CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                               reinterpret_cast<void**>(&service)));
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITaskService, reinterpret_cast<void**>(&service)));
    OLECHAR root[] = {'\\', 0};
    BSTR rootPath = SysAllocString(root);
    ITaskFolder* folder = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(1251), service->GetFolder(rootPath, &folder))
        << "ERROR_ONLY_IF_CONNECTED";
    VARIANT empty = {};
    ASSERT_EQ(S_OK, service->Connect(empty, empty, empty, empty));
    ASSERT_EQ(S_OK, service->GetFolder(rootPath, &folder));
    ITaskDefinition* definition = nullptr;
    ASSERT_EQ(S_OK, service->NewTask(0, &definition));
    OLECHAR name[] = {'T', 0};
    BSTR taskName = SysAllocString(name);
    EXPECT_EQ(static_cast<HRESULT>(0x80041319u),
              folder->RegisterTaskDefinition(taskName, definition, TASK_CREATE, empty, empty,
                                             TASK_LOGON_INTERACTIVE_TOKEN, empty, nullptr))
        << "a task without an action";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), folder->DeleteTask(taskName, 0));
    SysFreeString(taskName);
    SysFreeString(rootPath);
    definition->Release();
    folder->Release();
    service->Release();
    CoUninitialize();
    EXPECT_EQ(0, sim::comState().liveObjects);
    EXPECT_EQ(0, sim::comState().liveStrings);
}

// A task file as Windows 7 writes it (attributes, other elements) is read for what matters.
TEST(TaskFiles, ReadWindowsXmlAndRoundTrip) {
    const std::string windows =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
        "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
        "  <RegistrationInfo><Author>PC\\admin</Author></RegistrationInfo>\n"
        "  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>\n"
        "  <Principals><Principal id=\"Author\"><GroupId>S-1-5-32-544</GroupId>"
        "<RunLevel>HighestAvailable</RunLevel></Principal></Principals>\n"
        "  <Settings><DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
        "<Enabled>true</Enabled></Settings>\n"
        "  <Actions Context=\"Author\"><Exec><Command>\"C:\\a &amp; b\\Tavrol.exe\"</Command>"
        "<Arguments>-startup</Arguments></Exec></Actions>\n</Task>\n";
    sim::ScheduledTask task;
    ASSERT_TRUE(sim::parseTaskXml("T", windows, &task));
    EXPECT_EQ("\"C:\\a & b\\Tavrol.exe\"", task.command);
    EXPECT_EQ("-startup", task.arguments);
    EXPECT_TRUE(task.logonTrigger);
    EXPECT_EQ("S-1-5-32-544", task.groupId);
    EXPECT_EQ("Group", task.logonType);
    EXPECT_TRUE(task.highestRunLevel);
    EXPECT_FALSE(task.disallowStartIfOnBatteries);
    EXPECT_TRUE(task.stopIfGoingOnBatteries) << "Windows' default when the element is missing";

    sim::ScheduledTask again;
    ASSERT_TRUE(sim::parseTaskXml("T", sim::formatTaskXml(task), &again));
    EXPECT_EQ(sim::formatTaskXml(task), sim::formatTaskXml(again));
    EXPECT_FALSE(sim::parseTaskXml("T", "<Task><Triggers/></Task>", &again)) << "no action";
    EXPECT_FALSE(sim::parseTaskXml("T", "not xml", &again));
}

} // namespace
