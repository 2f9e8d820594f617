// ole32 and oleaut32 of the simulated PC: the COM library's initialisation, CoCreateInstance of
// the Task Scheduler, and BSTRs laid out as Windows lays them out (a byte length before the
// characters), counted so that tests see every string freed.
#include <cstdlib>
#include <cstring>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/com.h"
#include "taskschd_objects.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const CLSID CLSID_TaskScheduler = {
    0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const IID IID_ITaskService = {
    0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
const IID IID_IExecAction = {
    0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};

namespace {

struct ComRuntime {
    unsigned generation = 0;
    sim::ComState state;
    DWORD model = 0; // of the first successful CoInitializeEx
};

ComRuntime& runtime() {
    static ComRuntime* r = new ComRuntime;
    if (r->generation != sim::bootGeneration()) {
        *r = ComRuntime();
        r->generation = sim::bootGeneration();
    }
    return *r;
}

HRESULT recordCall(const char* name) {
    runtime().state.calls.push_back(name);
    return sim::taskFault(name);
}

} // namespace

namespace sim {

const ComState& comState() {
    return runtime().state;
}

ComState& mutableComState() {
    return runtime().state;
}

HRESULT taskFault(const char* step) {
    for (const Directive* d : machine().profile().findAll("task-fail")) {
        uint32_t result = 0;
        if (d->args[0] == step && parseDirectiveNumber(d->args[1], &result))
            return static_cast<HRESULT>(result);
    }
    return S_OK;
}

} // namespace sim

HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags) {
    HRESULT fault = recordCall("CoInitializeEx");
    if (FAILED(fault))
        return fault;
    if (reserved != nullptr || (flags != COINIT_APARTMENTTHREADED && flags != COINIT_MULTITHREADED))
        return E_INVALIDARG;
    ComRuntime& r = runtime();
    if (r.state.initializations > 0 && flags != r.model)
        return RPC_E_CHANGED_MODE; // not counted: the caller must not uninitialise
    if (r.state.initializations++ > 0)
        return S_FALSE;
    r.model = flags;
    return S_OK;
}

void WINAPI CoUninitialize(void) {
    runtime().state.calls.push_back("CoUninitialize");
    if (runtime().state.initializations > 0)
        --runtime().state.initializations;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                LPVOID* object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    HRESULT fault = recordCall("CoCreateInstance");
    if (FAILED(fault))
        return fault;
    if (runtime().state.initializations == 0)
        return CO_E_NOTINITIALIZED;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    // The Task Scheduler 2.0 class exists from Vista on, as an in-process server.
    if (std::memcmp(&clsid, &CLSID_TaskScheduler, sizeof clsid) != 0 ||
        !sim::machine().isVistaOrLater() || !(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    IUnknown* service = sim::newTaskService();
    HRESULT result = service->QueryInterface(iid, object);
    service->Release();
    return result;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (text == nullptr)
        return nullptr;
    size_t length = 0;
    while (text[length])
        ++length;
    DWORD bytes = DWORD(length * sizeof(OLECHAR));
    char* block = static_cast<char*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
    if (block == nullptr)
        return nullptr;
    std::memcpy(block, &bytes, sizeof bytes);
    BSTR string = reinterpret_cast<BSTR>(block + sizeof(DWORD));
    std::memcpy(string, text, bytes + sizeof(OLECHAR));
    ++runtime().state.liveStrings;
    return string;
}

void WINAPI SysFreeString(BSTR text) {
    if (text == nullptr)
        return;
    --runtime().state.liveStrings;
    std::free(reinterpret_cast<char*>(text) - sizeof(DWORD));
}

UINT WINAPI SysStringLen(BSTR text) {
    if (text == nullptr)
        return 0;
    DWORD bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - sizeof(DWORD), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}
