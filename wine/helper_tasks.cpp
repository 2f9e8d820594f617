// tavrol-driver.exe: the Task Scheduler's root folder through its COM interfaces, as Wine
// implements them (it keeps tasks as XML files in C:\windows\system32\tasks).
#include "helper.h"

#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>

namespace {

std::wstring wide(const char* text) {
    std::wstring out;
    while (*text)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*text++));
    return out;
}

std::string narrow(const wchar_t* text) {
    std::string out;
    while (text && *text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
        ++text;
    }
    return out;
}

// The root folder of the local Task Scheduler, or null with error= printed.
ITaskFolder* openRoot(ITaskService** service) {
    *service = nullptr;
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result)) {
        fail("CoInitializeEx " + std::to_string(result));
        return nullptr;
    }
    result = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                              reinterpret_cast<void**>(service));
    if (FAILED(result)) {
        fail("CoCreateInstance " + std::to_string(result));
        return nullptr;
    }
    VARIANT empty;
    VariantInit(&empty);
    ITaskFolder* root = nullptr;
    BSTR path = SysAllocString(L"\\");
    if (FAILED(result = (*service)->Connect(empty, empty, empty, empty)) ||
        FAILED(result = (*service)->GetFolder(path, &root)))
        fail("Task Scheduler " + std::to_string(result));
    SysFreeString(path);
    return root;
}

void closeRoot(ITaskService* service, ITaskFolder* root) {
    if (root)
        root->Release();
    if (service)
        service->Release();
    CoUninitialize();
}

} // namespace

int taskGet(const char* name) {
    ITaskService* service = nullptr;
    ITaskFolder* root = openRoot(&service);
    if (!root) {
        closeRoot(service, root);
        return 2;
    }
    BSTR path = SysAllocString(wide(name).c_str());
    IRegisteredTask* task = nullptr;
    HRESULT result = root->GetTask(path, &task);
    SysFreeString(path);
    if (FAILED(result)) {
        print("task", "absent");
        printNumber("result", static_cast<unsigned long>(result));
    } else {
        print("task", "present");
        BSTR xml = nullptr;
        if (SUCCEEDED(task->get_Xml(&xml)))
            print("xml", narrow(xml));
        SysFreeString(xml);
        task->Release();
    }
    closeRoot(service, root);
    return 0;
}

// Registers a task from its XML, as an earlier run of the program would have left it.
int taskRegister(const char* name, const char* xml) {
    ITaskService* service = nullptr;
    ITaskFolder* root = openRoot(&service);
    if (!root) {
        closeRoot(service, root);
        return 2;
    }
    BSTR path = SysAllocString(wide(name).c_str());
    BSTR text = SysAllocString(wide(xml).c_str());
    VARIANT empty;
    VariantInit(&empty);
    IRegisteredTask* task = nullptr;
    HRESULT result = root->RegisterTask(path, text, TASK_CREATE_OR_UPDATE, empty, empty,
                                        TASK_LOGON_INTERACTIVE_TOKEN, empty, &task);
    SysFreeString(path);
    SysFreeString(text);
    if (task)
        task->Release();
    closeRoot(service, root);
    if (FAILED(result))
        return fail("RegisterTask " + std::to_string(result));
    print("registered", name);
    return 0;
}
