// The log-on task through the Task Scheduler 2.0 COM interfaces, with ole32 and oleaut32 loaded
// at run time: the reviewed import list holds only functions Windows 98 SE and NT 4.0 export.
#include "settings/logon_task.h"

#include <string.h>

namespace {

// Builtin\Administrators by its SID, which names the group in every language of Windows.
const char kAdministrators[] = "S-1-5-32-544";
const char kRootFolder[] = "\\";
// The task is Administrators' and SYSTEM's alone: nobody else may change what it runs.
const char kTaskSecurity[] = "D:P(A;;FA;;;BA)(A;;FA;;;SY)";
// Owners of a task that may stay as it is, in the forms an SDDL string gives them.
const char* const kAdministrativeOwners[] = {"BA", "SY", "S-1-5-32-544", "S-1-5-18"};

typedef HRESULT(WINAPI* CoInitializeExFunction)(LPVOID, DWORD);
typedef void(WINAPI* CoUninitializeFunction)(void);
typedef HRESULT(WINAPI* CoCreateInstanceFunction)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
typedef BSTR(WINAPI* SysAllocStringFunction)(const OLECHAR*);
typedef void(WINAPI* SysFreeStringFunction)(BSTR);

// An interface pointer released when it goes out of scope.
template <typename Interface> class ComRef {
  public:
    ComRef() : m_pointer(nullptr) {}
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    void reset() {
        if (m_pointer)
            m_pointer->Release();
        m_pointer = nullptr;
    }
    Interface** out() { return &m_pointer; }
    Interface* operator->() const { return m_pointer; }
    Interface* get() const { return m_pointer; }

  private:
    Interface* m_pointer;
};

// One conversation with the Task Scheduler: the COM DLLs, the COM library of this thread, the
// connected service and its root folder. Everything is given back in the destructor, in the
// reverse order.
class SchedulerSession {
  public:
    SchedulerSession();
    ~SchedulerSession();
    SchedulerSession(const SchedulerSession&) = delete;
    SchedulerSession& operator=(const SchedulerSession&) = delete;

    // Loads, initialises and connects; false when any step fails.
    bool open();
    ITaskService* service() const { return m_service.get(); }
    ITaskFolder* root() const { return m_root.get(); }

    // A BSTR of ANSI text, or null when it cannot be made; free it with freeString.
    BSTR string(const char* text) const;
    void freeString(BSTR text) const;

  private:
    HMODULE m_ole32;
    HMODULE m_oleaut32;
    CoUninitializeFunction m_coUninitialize;
    SysAllocStringFunction m_sysAllocString;
    SysFreeStringFunction m_sysFreeString;
    bool m_initialized;
    ComRef<ITaskService> m_service;
    ComRef<ITaskFolder> m_root;
};

// A BSTR freed when it goes out of scope.
class ScopedString {
  public:
    ScopedString(const SchedulerSession& scheduler, const char* text)
        : m_scheduler(scheduler), m_text(scheduler.string(text)) {}
    ~ScopedString() { m_scheduler.freeString(m_text); }
    ScopedString(const ScopedString&) = delete;
    ScopedString& operator=(const ScopedString&) = delete;

    BSTR get() const { return m_text; }

  private:
    const SchedulerSession& m_scheduler;
    BSTR m_text;
};

VARIANT emptyVariant() {
    VARIANT v;
    memset(&v, 0, sizeof v);
    V_VT(&v) = VT_EMPTY;
    return v;
}

SchedulerSession::SchedulerSession()
    : m_ole32(nullptr), m_oleaut32(nullptr), m_coUninitialize(nullptr), m_sysAllocString(nullptr),
      m_sysFreeString(nullptr), m_initialized(false) {}

SchedulerSession::~SchedulerSession() {
    // The interfaces go before the COM library that made them, and the library before its DLL.
    m_root.reset();
    m_service.reset();
    if (m_initialized)
        m_coUninitialize();
    if (m_oleaut32)
        FreeLibrary(m_oleaut32);
    if (m_ole32)
        FreeLibrary(m_ole32);
}

bool SchedulerSession::open() {
    m_ole32 = LoadLibraryA("ole32.dll");
    m_oleaut32 = LoadLibraryA("oleaut32.dll");
    if (!m_ole32 || !m_oleaut32)
        return false;
    CoInitializeExFunction coInitializeEx =
        lookUpProc<CoInitializeExFunction>(m_ole32, "CoInitializeEx");
    CoCreateInstanceFunction coCreateInstance =
        lookUpProc<CoCreateInstanceFunction>(m_ole32, "CoCreateInstance");
    m_coUninitialize = lookUpProc<CoUninitializeFunction>(m_ole32, "CoUninitialize");
    m_sysAllocString = lookUpProc<SysAllocStringFunction>(m_oleaut32, "SysAllocString");
    m_sysFreeString = lookUpProc<SysFreeStringFunction>(m_oleaut32, "SysFreeString");
    if (!coInitializeEx || !coCreateInstance || !m_coUninitialize || !m_sysAllocString ||
        !m_sysFreeString)
        return false;
    // S_FALSE: already initialised on this thread, which still asks for a matching uninitialise;
    // RPC_E_CHANGED_MODE: initialised otherwise, usable as it is, and not ours to undo.
    HRESULT result = coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_initialized = SUCCEEDED(result);
    if (FAILED(result) && result != RPC_E_CHANGED_MODE)
        return false;
    if (FAILED(coCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskService, reinterpret_cast<void**>(m_service.out()))))
        return false;
    // The local service, with the account of this elevated process.
    if (FAILED(m_service->Connect(emptyVariant(), emptyVariant(), emptyVariant(), emptyVariant())))
        return false;
    ScopedString root(*this, kRootFolder);
    return root.get() && SUCCEEDED(m_service->GetFolder(root.get(), m_root.out()));
}

BSTR SchedulerSession::string(const char* text) const {
    OLECHAR wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH) == 0)
        return nullptr;
    return m_sysAllocString(wide);
}

void SchedulerSession::freeString(BSTR text) const {
    if (text)
        m_sysFreeString(text);
}

// The task's one action: start the program with the log-on switch.
bool addProgramAction(const SchedulerSession& scheduler, ITaskDefinition* definition,
                      const char* command, const char* arguments) {
    ComRef<IActionCollection> actions;
    ComRef<IAction> action;
    ComRef<IExecAction> exec;
    ScopedString path(scheduler, command);
    ScopedString switches(scheduler, arguments);
    return path.get() && switches.get() && SUCCEEDED(definition->get_Actions(actions.out())) &&
           SUCCEEDED(actions->Create(TASK_ACTION_EXEC, action.out())) &&
           SUCCEEDED(
               action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(exec.out()))) &&
           SUCCEEDED(exec->put_Path(path.get())) && SUCCEEDED(exec->put_Arguments(switches.get()));
}

// A log-on trigger without a user starts the task whenever anyone logs on.
bool addLogonTrigger(ITaskDefinition* definition) {
    ComRef<ITriggerCollection> triggers;
    ComRef<ITrigger> trigger;
    return SUCCEEDED(definition->get_Triggers(triggers.out())) &&
           SUCCEEDED(triggers->Create(TASK_TRIGGER_LOGON, trigger.out()));
}

// Members of Administrators get their full token, without a prompt: the program installs a
// driver. A group principal runs in the session of whoever logs on, so a message reaches them.
bool runAsAdministrators(const SchedulerSession& scheduler, ITaskDefinition* definition) {
    ComRef<IPrincipal> principal;
    ScopedString group(scheduler, kAdministrators);
    return group.get() && SUCCEEDED(definition->get_Principal(principal.out())) &&
           SUCCEEDED(principal->put_GroupId(group.get())) &&
           SUCCEEDED(principal->put_LogonType(TASK_LOGON_GROUP)) &&
           SUCCEEDED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST));
}

// The Task Scheduler's defaults keep a task from starting on batteries: AGP notebooks log on
// from their batteries too.
bool runOnBatteries(ITaskDefinition* definition) {
    ComRef<ITaskSettings> settings;
    return SUCCEEDED(definition->get_Settings(settings.out())) &&
           SUCCEEDED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) &&
           SUCCEEDED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE));
}

// Whether an SDDL string names one of the administrative owners: "O:" up to the next part.
bool administrativeOwner(const OLECHAR* sddl) {
    if (!sddl || sddl[0] != 'O' || sddl[1] != ':')
        return false;
    const OLECHAR* owner = sddl + 2;
    size_t length = 0;
    while (owner[length] &&
           !(owner[length + 1] == ':' &&
             (owner[length] == 'G' || owner[length] == 'D' || owner[length] == 'S')))
        ++length;
    for (const char* known : kAdministrativeOwners) {
        size_t i = 0;
        while (i < length && known[i] && owner[i] == static_cast<OLECHAR>(known[i]))
            ++i;
        if (i == length && known[i] == '\0')
            return true;
    }
    return false;
}

// A task of our name that someone else owns goes before ours is made: updating it would keep
// its owner, who could change what it runs with administrator rights at every log-on. One whose
// owner cannot be read goes too; ours is made anew either way.
void deleteForeignTask(const SchedulerSession& scheduler, BSTR name) {
    ComRef<IRegisteredTask> existing;
    if (FAILED(scheduler.root()->GetTask(name, existing.out())) || !existing.get())
        return;
    BSTR sddl = nullptr;
    bool ours = SUCCEEDED(existing->GetSecurityDescriptor(OWNER_SECURITY_INFORMATION, &sddl)) &&
                administrativeOwner(sddl);
    scheduler.freeString(sddl);
    if (!ours)
        scheduler.root()->DeleteTask(name, 0);
}

} // namespace

bool usesLogonTask() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           version.dwMajorVersion >= 6;
}

bool registerLogonTask(const char* command, const char* arguments) {
    SchedulerSession scheduler;
    if (!scheduler.open())
        return false;
    ComRef<ITaskDefinition> definition;
    if (FAILED(scheduler.service()->NewTask(0, definition.out())) ||
        !addLogonTrigger(definition.get()) ||
        !addProgramAction(scheduler, definition.get(), command, arguments) ||
        !runAsAdministrators(scheduler, definition.get()) || !runOnBatteries(definition.get()))
        return false;
    ScopedString name(scheduler, LOGON_TASK_NAME);
    ScopedString group(scheduler, kAdministrators);
    ScopedString security(scheduler, kTaskSecurity);
    if (!name.get() || !group.get() || !security.get())
        return false;
    deleteForeignTask(scheduler, name.get());
    VARIANT user = emptyVariant();
    V_VT(&user) = VT_BSTR;
    V_BSTR(&user) = group.get();
    VARIANT sddl = emptyVariant();
    V_VT(&sddl) = VT_BSTR;
    V_BSTR(&sddl) = security.get();
    ComRef<IRegisteredTask> registered;
    return SUCCEEDED(scheduler.root()->RegisterTaskDefinition(
        name.get(), definition.get(), TASK_CREATE_OR_UPDATE, user, emptyVariant(), TASK_LOGON_GROUP,
        sddl, registered.out()));
}

bool deleteLogonTask() {
    SchedulerSession scheduler;
    if (!scheduler.open())
        return false;
    ScopedString name(scheduler, LOGON_TASK_NAME);
    if (!name.get())
        return false;
    HRESULT result = scheduler.root()->DeleteTask(name.get(), 0);
    return SUCCEEDED(result) || result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}
