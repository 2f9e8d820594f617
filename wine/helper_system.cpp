// tavrol-driver.exe: the driver service, raw requests to the driver, and the registry.
#include "helper.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kServiceName[] = "TAVROL";

// Service manager

std::string serviceState(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
    if (!service)
        return "absent";
    SERVICE_STATUS status;
    std::string state = "unknown";
    if (QueryServiceStatus(service, &status)) {
        switch (status.dwCurrentState) {
        case SERVICE_STOPPED:
            state = "stopped";
            break;
        case SERVICE_START_PENDING:
            state = "start-pending";
            break;
        case SERVICE_STOP_PENDING:
            state = "stop-pending";
            break;
        case SERVICE_RUNNING:
            state = "running";
            break;
        default:
            break;
        }
    }
    CloseServiceHandle(service);
    return state;
}

bool waitForState(SC_HANDLE manager, const std::string& wanted, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 100) {
        if (serviceState(manager) == wanted)
            return true;
        Sleep(100);
    }
    return serviceState(manager) == wanted;
}

} // namespace

// Installs and starts the driver at `path`. The first start after a fresh prefix can fail once
// while Wine's device host comes up, so a failed start is retried a few times.
int serviceStart(const char* path) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    SC_HANDLE service =
        CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
        service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (!service) {
        const DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return fail("CreateServiceA " + std::to_string(error));
    }
    DWORD lastError = 0;
    bool running = false;
    for (int attempt = 0; attempt < 5 && !running; ++attempt) {
        if (StartServiceA(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
            running = waitForState(manager, "running", 10000);
        else
            lastError = GetLastError();
        if (!running)
            Sleep(500);
    }
    CloseServiceHandle(service);
    print("service", serviceState(manager));
    CloseServiceHandle(manager);
    if (!running)
        return fail("StartServiceA " + std::to_string(lastError));
    return 0;
}

int serviceRemove() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        waitForState(manager, "stopped", 10000);
        DeleteService(service);
        CloseServiceHandle(service);
        waitForState(manager, "absent", 10000);
    }
    print("service", serviceState(manager));
    CloseServiceHandle(manager);
    return 0;
}

// The image path the service manager holds for TAVROL ("absent" without the service).
int servicePath() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_QUERY_CONFIG);
    std::string path = "absent";
    if (service) {
        DWORD needed = 0;
        QueryServiceConfigA(service, nullptr, 0, &needed);
        std::vector<unsigned char> buffer(needed + sizeof(QUERY_SERVICE_CONFIGA));
        QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        path =
            QueryServiceConfigA(service, config, buffer.size(), &needed) && config->lpBinaryPathName
                ? config->lpBinaryPathName
                : "unknown";
        CloseServiceHandle(service);
    }
    print("service.path", path);
    CloseServiceHandle(manager);
    return 0;
}

int serviceQuery() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return fail("OpenSCManagerA " + std::to_string(GetLastError()));
    print("service", serviceState(manager));
    CloseServiceHandle(manager);
    return 0;
}

// Raw requests to the kernel driver

// One request per argument: "code,inputLength,outputLength[,inputHex]". Input bytes beyond the
// hex are zero. The output buffer carries a 0xbd fill four bytes past its end and the byte count
// starts as 0xdeadbeef, so the suite sees exactly what the driver wrote.
int sendRequests(int count, char** lines) {
    for (int i = 0; i < count; ++i) {
        unsigned long code = 0, inLength = 0, outLength = 0;
        char inputHex[2048] = "";
        const int fields =
            sscanf(lines[i], "%lx,%lu,%lu,%2047s", &code, &inLength, &outLength, inputHex);
        std::vector<unsigned char> input;
        if (fields < 3 || inLength > 4096 || outLength > 4096 || !parseHex(inputHex, &input) ||
            input.size() > inLength)
            return fail(std::string("bad request line: ") + lines[i]);
        input.resize(inLength, 0);
        std::vector<unsigned char> output(outLength + 4, 0xbd);

        HANDLE device = CreateFileA("\\\\.\\Tavrol", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            printf("request=%d open-error=%lu\n", i, GetLastError());
            fflush(stdout);
            continue;
        }
        DWORD returned = 0xdeadbeef;
        SetLastError(0);
        const BOOL ok =
            DeviceIoControl(device, code, inLength ? input.data() : nullptr, inLength,
                            outLength ? output.data() : nullptr, outLength, &returned, nullptr);
        const DWORD error = ok ? 0 : GetLastError();
        CloseHandle(device);
        printf("request=%d ok=%d error=%lu bytes=%lu out=%s tail=%s\n", i, ok ? 1 : 0, error,
               returned, hex(output.data(), outLength).c_str(),
               hex(output.data() + outLength, 4).c_str());
        fflush(stdout);
    }
    return 0;
}

// Opens each path as the program opens the driver's device and prints "open=ok" or
// "open=error N", closing it again.
int deviceOpen(int count, char** paths) {
    for (int i = 0; i < count; ++i) {
        HANDLE device = CreateFileA(paths[i], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            print("open", "error " + std::to_string(GetLastError()));
            continue;
        }
        CloseHandle(device);
        print("open", "ok");
    }
    return 0;
}

// Registry (HKLM only: everything the program keeps lives there)

int registryGet(const char* path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        print("key", "absent");
        return 0;
    }
    print("key", "present");
    DWORD type = 0, size = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS) {
        print("value", "absent");
        RegCloseKey(key);
        return 0;
    }
    std::vector<unsigned char> data(size + 1, 0);
    result = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return fail("RegQueryValueExA " + std::to_string(result));
    printNumber("type", type);
    printNumber("size", size);
    print("data", hex(data.data(), size));
    if (type == REG_DWORD && size == 4)
        printNumber("dword", *reinterpret_cast<DWORD*>(data.data()));
    if (type == REG_SZ)
        print("string", reinterpret_cast<const char*>(data.data()));
    return 0;
}

int registrySet(const char* path, const char* name, const char* type, const char* value) {
    std::vector<unsigned char> data;
    DWORD regType;
    if (!strcmp(type, "dword")) {
        const DWORD number = strtoul(value, nullptr, 0);
        data.assign(reinterpret_cast<const unsigned char*>(&number),
                    reinterpret_cast<const unsigned char*>(&number) + 4);
        regType = REG_DWORD;
    } else if (!strcmp(type, "binary") && parseHex(value, &data)) {
        regType = REG_BINARY;
    } else if (!strcmp(type, "string")) {
        data.assign(value, value + strlen(value) + 1);
        regType = REG_SZ;
    } else {
        return fail(std::string("bad value type or data: ") + type);
    }
    HKEY key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
        return fail(std::string("RegCreateKeyA ") + path);
    const LONG result = RegSetValueExA(key, name, 0, regType, data.data(), data.size());
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return fail("RegSetValueExA " + std::to_string(result));
    print("set", name);
    return 0;
}

namespace {

LONG deleteTree(HKEY root, const std::string& path) {
    HKEY key;
    LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    char child[256];
    while (RegEnumKeyA(key, 0, child, sizeof child) == ERROR_SUCCESS) {
        if (deleteTree(root, path + "\\" + child) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return RegDeleteKeyA(root, path.c_str());
}

} // namespace

int registryDelete(const char* path, const char* name) {
    if (name) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name);
            RegCloseKey(key);
        }
    } else {
        deleteTree(HKEY_LOCAL_MACHINE, path);
    }
    print("deleted", path);
    return 0;
}
