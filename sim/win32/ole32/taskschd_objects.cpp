// The Task Scheduler 2.0 objects of the simulated PC: the service, its root folder, task
// definitions with their log-on triggers, program actions, principal and settings. Methods the
// program does not use answer E_NOTIMPL; the ones it uses check their arguments as Windows does
// and keep the tasks in the files of sim/tasks.h. Every object counts itself in the COM state.
#include <cstring>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/com.h"
#include "sim/tasks.h"
#include "com_object.h"
#include "taskschd_objects.h"

namespace {

using namespace sim::com;

const DWORD kErrorOnlyIfConnected = 1251;                       // ERROR_ONLY_IF_CONNECTED
const HRESULT kMissingNode = static_cast<HRESULT>(0x80041319u); // SCHED_E_MISSINGNODE

HRESULT noteCall(const char* step) {
    sim::mutableComState().calls.push_back(step);
    return sim::taskFault(step);
}

// A task path in the root folder: "name" or "\name"; nothing deeper, since only the root exists.
bool taskName(BSTR path, std::string* name) {
    std::string text = narrow(path);
    if (!text.empty() && text[0] == '\\')
        text.erase(0, 1);
    if (text.empty() || text.find('\\') != std::string::npos)
        return false;
    *name = text;
    return true;
}

class LogonTrigger final : public ComObject<ITrigger> {
  public:
    bool enabled() const { return m_enabled; }
    HRESULT get_Type(TASK_TRIGGER_TYPE2* type) override {
        if (type == nullptr)
            return E_POINTER;
        *type = TASK_TRIGGER_LOGON;
        return S_OK;
    }
    HRESULT get_Id(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_Id(BSTR) override { return E_NOTIMPL; }
    HRESULT get_Repetition(IRepetitionPattern**) override { return E_NOTIMPL; }
    HRESULT put_Repetition(IRepetitionPattern*) override { return E_NOTIMPL; }
    HRESULT get_ExecutionTimeLimit(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_ExecutionTimeLimit(BSTR) override { return E_NOTIMPL; }
    HRESULT get_StartBoundary(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_StartBoundary(BSTR) override { return E_NOTIMPL; }
    HRESULT get_EndBoundary(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_EndBoundary(BSTR) override { return E_NOTIMPL; }
    HRESULT get_Enabled(VARIANT_BOOL* enabled) override {
        if (enabled == nullptr)
            return E_POINTER;
        *enabled = m_enabled ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_Enabled(VARIANT_BOOL enabled) override {
        m_enabled = enabled != VARIANT_FALSE;
        return S_OK;
    }

  private:
    bool m_enabled = true;
};

// The items a collection made, each held by one reference until the collection goes. A Create
// call may fail as the profile says (`call`), and makes only the kind the simulated service knows.
template <class Item> class MadeItems {
  public:
    MadeItems() = default;
    MadeItems(const MadeItems&) = delete;
    MadeItems& operator=(const MadeItems&) = delete;
    ~MadeItems() {
        for (Item* item : m_items)
            item->Release();
    }
    const std::vector<Item*>& items() const { return m_items; }
    HRESULT count(LONG* count) const {
        if (count == nullptr)
            return E_POINTER;
        *count = LONG(m_items.size());
        return S_OK;
    }
    template <class Interface> HRESULT make(const char* call, bool known, Interface** made) {
        if (made == nullptr)
            return E_POINTER;
        *made = nullptr;
        HRESULT fault = noteCall(call);
        if (FAILED(fault))
            return fault;
        if (!known)
            return E_NOTIMPL;
        Item* item = new Item;
        item->AddRef();
        m_items.push_back(item);
        *made = item;
        return S_OK;
    }

  private:
    std::vector<Item*> m_items;
};

class TriggerCollection final : public ComObject<ITriggerCollection> {
  public:
    const std::vector<LogonTrigger*>& items() const { return m_made.items(); }
    HRESULT get_Count(LONG* count) override { return m_made.count(count); }
    HRESULT get_Item(LONG, ITrigger**) override { return E_NOTIMPL; }
    HRESULT get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    // The simulated service knows log-on triggers only.
    HRESULT Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) override {
        return m_made.make("TriggerCreate", type == TASK_TRIGGER_LOGON, trigger);
    }
    HRESULT Remove(VARIANT) override { return E_NOTIMPL; }
    HRESULT Clear() override { return E_NOTIMPL; }

  private:
    MadeItems<LogonTrigger> m_made;
};

class ExecAction final : public ComObject<IExecAction> {
  public:
    bool implements(REFIID iid) const override { return sameIid(iid, IID_IExecAction); }
    const std::string& path() const { return m_path; }
    const std::string& arguments() const { return m_arguments; }
    HRESULT get_Id(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_Id(BSTR) override { return E_NOTIMPL; }
    HRESULT get_Type(TASK_ACTION_TYPE* type) override {
        if (type == nullptr)
            return E_POINTER;
        *type = TASK_ACTION_EXEC;
        return S_OK;
    }
    HRESULT get_Path(BSTR* path) override { return give(path, m_path); }
    HRESULT put_Path(BSTR path) override {
        m_path = narrow(path);
        return S_OK;
    }
    HRESULT get_Arguments(BSTR* argument) override { return give(argument, m_arguments); }
    HRESULT put_Arguments(BSTR argument) override {
        m_arguments = narrow(argument);
        return S_OK;
    }
    HRESULT get_WorkingDirectory(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_WorkingDirectory(BSTR) override { return E_NOTIMPL; }

  private:
    std::string m_path;
    std::string m_arguments;
};

class ActionCollection final : public ComObject<IActionCollection> {
  public:
    const std::vector<ExecAction*>& items() const { return m_made.items(); }
    HRESULT get_Count(LONG* count) override { return m_made.count(count); }
    HRESULT get_Item(LONG, IAction**) override { return E_NOTIMPL; }
    HRESULT get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT get_XmlText(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_XmlText(BSTR) override { return E_NOTIMPL; }
    // The simulated service starts programs only.
    HRESULT Create(TASK_ACTION_TYPE type, IAction** action) override {
        return m_made.make("ActionCreate", type == TASK_ACTION_EXEC, action);
    }
    HRESULT Remove(VARIANT) override { return E_NOTIMPL; }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT get_Context(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_Context(BSTR) override { return E_NOTIMPL; }

  private:
    MadeItems<ExecAction> m_made;
};

class Principal final : public ComObject<IPrincipal> {
  public:
    const std::string& user() const { return m_user; }
    const std::string& group() const { return m_group; }
    TASK_LOGON_TYPE logonType() const { return m_logon; }
    TASK_RUNLEVEL_TYPE runLevel() const { return m_level; }
    HRESULT get_Id(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_Id(BSTR) override { return E_NOTIMPL; }
    HRESULT get_DisplayName(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_DisplayName(BSTR) override { return E_NOTIMPL; }
    HRESULT get_UserId(BSTR* user) override { return give(user, m_user); }
    HRESULT put_UserId(BSTR user) override {
        m_user = narrow(user);
        return S_OK;
    }
    HRESULT get_LogonType(TASK_LOGON_TYPE* logon) override {
        if (logon == nullptr)
            return E_POINTER;
        *logon = m_logon;
        return S_OK;
    }
    HRESULT put_LogonType(TASK_LOGON_TYPE logon) override {
        m_logon = logon;
        return S_OK;
    }
    HRESULT get_GroupId(BSTR* group) override { return give(group, m_group); }
    HRESULT put_GroupId(BSTR group) override {
        m_group = narrow(group);
        return S_OK;
    }
    HRESULT get_RunLevel(TASK_RUNLEVEL_TYPE* level) override {
        if (level == nullptr)
            return E_POINTER;
        *level = m_level;
        return S_OK;
    }
    HRESULT put_RunLevel(TASK_RUNLEVEL_TYPE level) override {
        if (level != TASK_RUNLEVEL_LUA && level != TASK_RUNLEVEL_HIGHEST)
            return E_INVALIDARG;
        m_level = level;
        return S_OK;
    }

  private:
    std::string m_user;
    std::string m_group;
    TASK_LOGON_TYPE m_logon = TASK_LOGON_NONE;
    TASK_RUNLEVEL_TYPE m_level = TASK_RUNLEVEL_LUA;
};

class TaskSettings final : public ComObject<ITaskSettings> {
  public:
    bool stopOnBatteries() const { return m_stopOnBatteries; }
    bool disallowOnBatteries() const { return m_disallowOnBatteries; }
    bool enabled() const { return m_enabled; }
    HRESULT get_AllowDemandStart(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_AllowDemandStart(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_RestartInterval(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_RestartInterval(BSTR) override { return E_NOTIMPL; }
    HRESULT get_RestartCount(INT*) override { return E_NOTIMPL; }
    HRESULT put_RestartCount(INT) override { return E_NOTIMPL; }
    HRESULT get_MultipleInstances(TASK_INSTANCES_POLICY*) override { return E_NOTIMPL; }
    HRESULT put_MultipleInstances(TASK_INSTANCES_POLICY) override { return E_NOTIMPL; }
    HRESULT get_StopIfGoingOnBatteries(VARIANT_BOOL* stop) override {
        return giveBool(stop, m_stopOnBatteries);
    }
    HRESULT put_StopIfGoingOnBatteries(VARIANT_BOOL stop) override {
        m_stopOnBatteries = stop != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT get_DisallowStartIfOnBatteries(VARIANT_BOOL* disallow) override {
        return giveBool(disallow, m_disallowOnBatteries);
    }
    HRESULT put_DisallowStartIfOnBatteries(VARIANT_BOOL disallow) override {
        m_disallowOnBatteries = disallow != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT get_AllowHardTerminate(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_AllowHardTerminate(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_StartWhenAvailable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_StartWhenAvailable(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_XmlText(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_XmlText(BSTR) override { return E_NOTIMPL; }
    HRESULT get_RunOnlyIfNetworkAvailable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_RunOnlyIfNetworkAvailable(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_ExecutionTimeLimit(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_ExecutionTimeLimit(BSTR) override { return E_NOTIMPL; }
    HRESULT get_Enabled(VARIANT_BOOL* enabled) override { return giveBool(enabled, m_enabled); }
    HRESULT put_Enabled(VARIANT_BOOL enabled) override {
        m_enabled = enabled != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT get_DeleteExpiredTaskAfter(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_DeleteExpiredTaskAfter(BSTR) override { return E_NOTIMPL; }
    HRESULT get_Priority(INT*) override { return E_NOTIMPL; }
    HRESULT put_Priority(INT) override { return E_NOTIMPL; }
    HRESULT get_Compatibility(TASK_COMPATIBILITY*) override { return E_NOTIMPL; }
    HRESULT put_Compatibility(TASK_COMPATIBILITY) override { return E_NOTIMPL; }
    HRESULT get_Hidden(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_Hidden(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_IdleSettings(IIdleSettings**) override { return E_NOTIMPL; }
    HRESULT put_IdleSettings(IIdleSettings*) override { return E_NOTIMPL; }
    HRESULT get_RunOnlyIfIdle(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_RunOnlyIfIdle(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_WakeToRun(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_WakeToRun(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT get_NetworkSettings(INetworkSettings**) override { return E_NOTIMPL; }
    HRESULT put_NetworkSettings(INetworkSettings*) override { return E_NOTIMPL; }

  private:
    bool m_stopOnBatteries = true;
    bool m_disallowOnBatteries = true;
    bool m_enabled = true;
};

class TaskDefinition final : public ComObject<ITaskDefinition> {
  public:
    TaskDefinition()
        : m_triggers(new TriggerCollection), m_actions(new ActionCollection),
          m_principal(new Principal), m_settings(new TaskSettings) {}
    ~TaskDefinition() override {
        m_triggers->Release();
        m_actions->Release();
        m_principal->Release();
        m_settings->Release();
    }
    // The task this definition registers as, with the account RegisterTaskDefinition names.
    HRESULT toTask(const std::string& name, const VARIANT& user, TASK_LOGON_TYPE logon,
                   sim::ScheduledTask* task) const;
    HRESULT get_RegistrationInfo(IRegistrationInfo**) override { return E_NOTIMPL; }
    HRESULT put_RegistrationInfo(IRegistrationInfo*) override { return E_NOTIMPL; }
    HRESULT get_Triggers(ITriggerCollection** triggers) override {
        return hand<ITriggerCollection>(m_triggers, triggers);
    }
    HRESULT put_Triggers(ITriggerCollection*) override { return E_NOTIMPL; }
    HRESULT get_Settings(ITaskSettings** settings) override {
        return hand<ITaskSettings>(m_settings, settings);
    }
    HRESULT put_Settings(ITaskSettings*) override { return E_NOTIMPL; }
    HRESULT get_Data(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_Data(BSTR) override { return E_NOTIMPL; }
    HRESULT get_Principal(IPrincipal** principal) override {
        return hand<IPrincipal>(m_principal, principal);
    }
    HRESULT put_Principal(IPrincipal*) override { return E_NOTIMPL; }
    HRESULT get_Actions(IActionCollection** actions) override {
        return hand<IActionCollection>(m_actions, actions);
    }
    HRESULT put_Actions(IActionCollection*) override { return E_NOTIMPL; }
    HRESULT get_XmlText(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_XmlText(BSTR) override { return E_NOTIMPL; }

  private:
    TriggerCollection* m_triggers;
    ActionCollection* m_actions;
    Principal* m_principal;
    TaskSettings* m_settings;
};

class RegisteredTask final : public ComObject<IRegisteredTask> {
  public:
    explicit RegisteredTask(const std::string& name, const std::string& sddl = "")
        : m_name(name), m_sddl(sddl) {}
    HRESULT get_Name(BSTR* name) override { return give(name, m_name); }
    HRESULT get_Path(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_State(TASK_STATE*) override { return E_NOTIMPL; }
    HRESULT get_Enabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT Run(VARIANT, IRunningTask**) override { return E_NOTIMPL; }
    HRESULT RunEx(VARIANT, LONG, LONG, BSTR, IRunningTask**) override { return E_NOTIMPL; }
    HRESULT GetInstances(LONG, IRunningTaskCollection**) override { return E_NOTIMPL; }
    HRESULT get_LastRunTime(DATE*) override { return E_NOTIMPL; }
    HRESULT get_LastTaskResult(LONG*) override { return E_NOTIMPL; }
    HRESULT get_NumberOfMissedRuns(LONG*) override { return E_NOTIMPL; }
    HRESULT get_NextRunTime(DATE*) override { return E_NOTIMPL; }
    HRESULT get_Definition(ITaskDefinition**) override { return E_NOTIMPL; }
    HRESULT get_Xml(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetSecurityDescriptor(LONG, BSTR* sddl) override {
        return give(sddl, m_sddl.empty() ? "O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)" : m_sddl);
    }
    HRESULT SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT Stop(LONG) override { return E_NOTIMPL; }
    HRESULT GetRunTimes(const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*) override {
        return E_NOTIMPL;
    }

  private:
    std::string m_name;
    std::string m_sddl;
};

class TaskFolder final : public ComObject<ITaskFolder> {
  public:
    HRESULT get_Name(BSTR* name) override { return give(name, "\\"); }
    HRESULT get_Path(BSTR* path) override { return give(path, "\\"); }
    HRESULT GetFolder(BSTR, ITaskFolder**) override { return E_NOTIMPL; }
    HRESULT GetFolders(LONG, ITaskFolderCollection**) override { return E_NOTIMPL; }
    HRESULT CreateFolder(BSTR, VARIANT, ITaskFolder**) override { return E_NOTIMPL; }
    HRESULT DeleteFolder(BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT GetTask(BSTR path, IRegisteredTask** task) override {
        std::string name;
        sim::ScheduledTask stored;
        if (task == nullptr || !taskName(path, &name))
            return E_INVALIDARG;
        *task = nullptr;
        if (!sim::findScheduledTask(name, &stored))
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        *task = new RegisteredTask(name, stored.securityDescriptor);
        return S_OK;
    }
    HRESULT GetTasks(LONG, IRegisteredTaskCollection**) override { return E_NOTIMPL; }
    HRESULT DeleteTask(BSTR name, LONG flags) override {
        HRESULT fault = noteCall("DeleteTask");
        if (FAILED(fault))
            return fault;
        std::string task;
        if (flags != 0 || !taskName(name, &task))
            return E_INVALIDARG;
        return sim::removeScheduledTask(task) ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT RegisterTask(BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT,
                         IRegisteredTask**) override {
        return E_NOTIMPL;
    }
    HRESULT RegisterTaskDefinition(BSTR path, ITaskDefinition* definition, LONG flags, VARIANT user,
                                   VARIANT password, TASK_LOGON_TYPE logon, VARIANT sddl,
                                   IRegisteredTask** task) override {
        if (task != nullptr)
            *task = nullptr;
        HRESULT fault = noteCall("RegisterTaskDefinition");
        if (FAILED(fault))
            return fault;
        std::string name;
        bool withSddl = V_VT(&sddl) == VT_BSTR && V_BSTR(&sddl) != nullptr;
        if (definition == nullptr || !taskName(path, &name) || !isEmpty(password) ||
            (!withSddl && !isEmpty(sddl)))
            return E_INVALIDARG;
        if (flags != TASK_CREATE && flags != TASK_UPDATE && flags != TASK_CREATE_OR_UPDATE)
            return E_INVALIDARG;
        sim::ScheduledTask stored;
        bool exists = sim::findScheduledTask(name, &stored);
        if (flags == TASK_CREATE && exists)
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        if (flags == TASK_UPDATE && !exists)
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        sim::ScheduledTask made;
        HRESULT result = static_cast<TaskDefinition*>(definition)->toTask(name, user, logon, &made);
        if (FAILED(result))
            return result;
        made.securityDescriptor =
            sim::registeredSecurity(exists ? stored.securityDescriptor : std::string(),
                                    withSddl ? narrow(V_BSTR(&sddl)) : std::string(), withSddl);
        if (!sim::storeScheduledTask(made))
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        if (task != nullptr)
            *task = new RegisteredTask(name);
        return S_OK;
    }
    HRESULT GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
};

class TaskService final : public ComObject<ITaskService> {
  public:
    bool implements(REFIID iid) const override { return sameIid(iid, IID_ITaskService); }
    HRESULT GetFolder(BSTR path, ITaskFolder** folder) override {
        if (folder == nullptr)
            return E_POINTER;
        *folder = nullptr;
        HRESULT fault = noteCall("GetFolder");
        if (FAILED(fault))
            return fault;
        if (!m_connected)
            return HRESULT_FROM_WIN32(kErrorOnlyIfConnected);
        // Only the root folder exists on the simulated PC.
        if (narrow(path) != "\\")
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        *folder = new TaskFolder;
        return S_OK;
    }
    HRESULT GetRunningTasks(LONG, IRunningTaskCollection**) override { return E_NOTIMPL; }
    HRESULT NewTask(DWORD flags, ITaskDefinition** definition) override {
        if (definition == nullptr)
            return E_POINTER;
        *definition = nullptr;
        HRESULT fault = noteCall("NewTask");
        if (FAILED(fault))
            return fault;
        if (!m_connected)
            return HRESULT_FROM_WIN32(kErrorOnlyIfConnected);
        if (flags != 0)
            return E_INVALIDARG;
        *definition = new TaskDefinition;
        return S_OK;
    }
    HRESULT Connect(VARIANT server, VARIANT user, VARIANT domain, VARIANT password) override {
        HRESULT fault = noteCall("Connect");
        if (FAILED(fault))
            return fault;
        // The local service with the caller's own account: no server, user, domain or password.
        for (const VARIANT* v : {&server, &user, &domain, &password})
            if (!isEmpty(*v))
                return E_NOTIMPL;
        m_connected = true;
        return S_OK;
    }
    HRESULT get_Connected(VARIANT_BOOL* connected) override {
        if (connected == nullptr)
            return E_POINTER;
        *connected = m_connected ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT get_TargetServer(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_ConnectedUser(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_ConnectedDomain(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_HighestVersion(DWORD* version) override {
        if (version == nullptr)
            return E_POINTER;
        *version = sim::machine().version() == sim::WindowsVersion::Vista ? 0x10002 : 0x10003;
        return S_OK;
    }

  private:
    bool m_connected = false;
};

HRESULT TaskDefinition::toTask(const std::string& name, const VARIANT& user, TASK_LOGON_TYPE logon,
                               sim::ScheduledTask* task) const {
    if (m_actions->items().empty())
        return kMissingNode; // a task must do something
    task->name = name;
    for (const LogonTrigger* trigger : m_triggers->items())
        task->logonTrigger |= trigger->enabled();
    const ExecAction* action = m_actions->items()[0];
    if (action->path().empty())
        return kMissingNode;
    task->command = action->path();
    task->arguments = action->arguments();
    task->highestRunLevel = m_principal->runLevel() == TASK_RUNLEVEL_HIGHEST;
    task->disallowStartIfOnBatteries = m_settings->disallowOnBatteries();
    task->stopIfGoingOnBatteries = m_settings->stopOnBatteries();
    task->enabled = m_settings->enabled();
    std::string account = user.vt == VT_BSTR ? narrow(user.bstrVal) : std::string();
    if (!isEmpty(user) && user.vt != VT_BSTR)
        return E_INVALIDARG;
    if (logon == TASK_LOGON_NONE)
        logon = m_principal->logonType();
    switch (logon) {
    case TASK_LOGON_GROUP:
        // A group task runs for every member who logs on, with no password stored.
        task->logonType = "Group";
        task->groupId = account.empty() ? m_principal->group() : account;
        return task->groupId.empty() ? E_INVALIDARG : S_OK;
    case TASK_LOGON_INTERACTIVE_TOKEN:
        task->logonType = "InteractiveToken";
        task->userId = account.empty() ? m_principal->user() : account;
        return S_OK;
    default:
        return E_NOTIMPL; // stored passwords and service accounts are not simulated
    }
}

} // namespace

namespace sim {

IUnknown* newTaskService() {
    return new TaskService;
}

} // namespace sim
