// The Task Scheduler 2.0 interfaces of the simulated PC (taskschd.h on Windows): every method in
// its vtable order, so that the program's calls mean on the simulated PC what they mean on Vista
// and 7. The simulated service implements what the program uses; the rest answers E_NOTIMPL.
#pragma once

#include "sim_ole.h"

typedef enum _TASK_STATE {
    TASK_STATE_UNKNOWN = 0,
    TASK_STATE_DISABLED = 1,
    TASK_STATE_QUEUED = 2,
    TASK_STATE_READY = 3,
    TASK_STATE_RUNNING = 4
} TASK_STATE;
typedef enum _TASK_LOGON_TYPE {
    TASK_LOGON_NONE = 0,
    TASK_LOGON_PASSWORD = 1,
    TASK_LOGON_S4U = 2,
    TASK_LOGON_INTERACTIVE_TOKEN = 3,
    TASK_LOGON_GROUP = 4,
    TASK_LOGON_SERVICE_ACCOUNT = 5,
    TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD = 6
} TASK_LOGON_TYPE;
typedef enum _TASK_RUNLEVEL { TASK_RUNLEVEL_LUA = 0, TASK_RUNLEVEL_HIGHEST = 1 } TASK_RUNLEVEL_TYPE;
typedef enum _TASK_TRIGGER_TYPE2 {
    TASK_TRIGGER_EVENT = 0,
    TASK_TRIGGER_TIME = 1,
    TASK_TRIGGER_DAILY = 2,
    TASK_TRIGGER_WEEKLY = 3,
    TASK_TRIGGER_MONTHLY = 4,
    TASK_TRIGGER_MONTHLYDOW = 5,
    TASK_TRIGGER_IDLE = 6,
    TASK_TRIGGER_REGISTRATION = 7,
    TASK_TRIGGER_BOOT = 8,
    TASK_TRIGGER_LOGON = 9,
    TASK_TRIGGER_SESSION_STATE_CHANGE = 11
} TASK_TRIGGER_TYPE2;
typedef enum _TASK_ACTION_TYPE {
    TASK_ACTION_EXEC = 0,
    TASK_ACTION_COM_HANDLER = 5,
    TASK_ACTION_SEND_EMAIL = 6,
    TASK_ACTION_SHOW_MESSAGE = 7
} TASK_ACTION_TYPE;
typedef enum _TASK_INSTANCES_POLICY {
    TASK_INSTANCES_PARALLEL = 0,
    TASK_INSTANCES_QUEUE = 1,
    TASK_INSTANCES_IGNORE_NEW = 2,
    TASK_INSTANCES_STOP_EXISTING = 3
} TASK_INSTANCES_POLICY;
typedef enum _TASK_COMPATIBILITY {
    TASK_COMPATIBILITY_AT = 0,
    TASK_COMPATIBILITY_V1 = 1,
    TASK_COMPATIBILITY_V2 = 2,
    TASK_COMPATIBILITY_V2_1 = 3
} TASK_COMPATIBILITY;
typedef enum _TASK_CREATION {
    TASK_VALIDATE_ONLY = 1,
    TASK_CREATE = 2,
    TASK_UPDATE = 4,
    TASK_CREATE_OR_UPDATE = 6,
    TASK_DISABLE = 8,
    TASK_DONT_ADD_PRINCIPAL_ACE = 16,
    TASK_IGNORE_REGISTRATION_TRIGGERS = 32
} TASK_CREATION;

extern const CLSID CLSID_TaskScheduler;
extern const IID IID_ITaskService;
extern const IID IID_IExecAction;

// Interfaces the program never calls into; only their pointers appear in signatures.
struct IRunningTask;
struct IRunningTaskCollection;
struct IRegisteredTaskCollection;
struct ITaskFolderCollection;
struct IRegistrationInfo;
struct IRepetitionPattern;
struct IIdleSettings;
struct INetworkSettings;
typedef struct _SYSTEMTIME* LPSYSTEMTIME;

struct ITaskFolder;
struct ITaskDefinition;
struct ITriggerCollection;
struct ITrigger;
struct IActionCollection;
struct IAction;
struct IPrincipal;
struct ITaskSettings;
struct IRegisteredTask;

struct ITaskService : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRunningTasks(LONG flags,
                                                      IRunningTaskCollection** tasks) = 0;
    virtual HRESULT STDMETHODCALLTYPE NewTask(DWORD flags, ITaskDefinition** definition) = 0;
    virtual HRESULT STDMETHODCALLTYPE Connect(VARIANT server, VARIANT user, VARIANT domain,
                                              VARIANT password) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TargetServer(BSTR* server) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectedUser(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectedDomain(BSTR* domain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HighestVersion(DWORD* version) = 0;

  protected:
    ~ITaskService() = default;
};

struct ITaskFolder : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFolders(LONG flags, ITaskFolderCollection** folders) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFolder(BSTR name, VARIANT sddl,
                                                   ITaskFolder** folder) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteFolder(BSTR name, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTask(BSTR path, IRegisteredTask** task) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** tasks) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterTask(BSTR path, BSTR xml, LONG flags, VARIANT user,
                                                   VARIANT password, TASK_LOGON_TYPE logonType,
                                                   VARIANT sddl, IRegisteredTask** task) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition,
                                                             LONG flags, VARIANT user,
                                                             VARIANT password,
                                                             TASK_LOGON_TYPE logon, VARIANT sddl,
                                                             IRegisteredTask** task) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG info, BSTR* sddl) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR sddl, LONG flags) = 0;

  protected:
    ~ITaskFolder() = default;
};

struct IRegisteredTask : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_State(TASK_STATE* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(VARIANT params, IRunningTask** task) = 0;
    virtual HRESULT STDMETHODCALLTYPE RunEx(VARIANT params, LONG flags, LONG sessionID, BSTR user,
                                            IRunningTask** task) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInstances(LONG flags, IRunningTaskCollection** tasks) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastRunTime(DATE* date) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastTaskResult(LONG* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumberOfMissedRuns(LONG* runs) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NextRunTime(DATE* date) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** task) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Xml(BSTR* xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG info, BSTR* sddl) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR sddl, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop(LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRunTimes(const LPSYSTEMTIME start, const LPSYSTEMTIME end,
                                                  DWORD* count, LPSYSTEMTIME* time) = 0;

  protected:
    ~IRegisteredTask() = default;
};

struct ITaskDefinition : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RegistrationInfo(IRegistrationInfo* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection** triggers) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Triggers(ITriggerCollection* triggers) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** settings) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Settings(ITaskSettings* settings) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Data(BSTR* data) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Data(BSTR data) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** principal) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Principal(IPrincipal* principal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** actions) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Actions(IActionCollection* actions) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_XmlText(BSTR* xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_XmlText(BSTR xml) = 0;

  protected:
    ~ITaskDefinition() = default;
};

struct ITriggerCollection : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(LONG index, ITrigger** trigger) = 0;
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** penum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(VARIANT index) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;

  protected:
    ~ITriggerCollection() = default;
};

struct ITrigger : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Type(TASK_TRIGGER_TYPE2* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Id(BSTR id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Repetition(IRepetitionPattern** repeat) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Repetition(IRepetitionPattern* repeat) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExecutionTimeLimit(BSTR* limit) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExecutionTimeLimit(BSTR limit) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StartBoundary(BSTR* start) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StartBoundary(BSTR start) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_EndBoundary(BSTR* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_EndBoundary(BSTR end) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) = 0;

  protected:
    ~ITrigger() = default;
};

struct IActionCollection : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** penum) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_XmlText(BSTR* xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_XmlText(BSTR xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE Type, IAction** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(VARIANT index) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(BSTR* ctx) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Context(BSTR ctx) = 0;

  protected:
    ~IActionCollection() = default;
};

struct IAction : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Id(BSTR id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) = 0;

  protected:
    ~IAction() = default;
};

struct IExecAction : IAction {
    virtual HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Path(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Arguments(BSTR* argument) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Arguments(BSTR argument) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WorkingDirectory(BSTR* directory) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WorkingDirectory(BSTR directory) = 0;

  protected:
    ~IExecAction() = default;
};

struct IPrincipal : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Id(BSTR id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DisplayName(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LogonType(TASK_LOGON_TYPE* logon) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LogonType(TASK_LOGON_TYPE logon) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_GroupId(BSTR* group) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_GroupId(BSTR group) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RunLevel(TASK_RUNLEVEL_TYPE* level) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RunLevel(TASK_RUNLEVEL_TYPE level) = 0;

  protected:
    ~IPrincipal() = default;
};

struct ITaskSettings : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_AllowDemandStart(VARIANT_BOOL* allow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AllowDemandStart(VARIANT_BOOL allow) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RestartInterval(BSTR* interval) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RestartInterval(BSTR interval) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RestartCount(INT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RestartCount(INT count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MultipleInstances(TASK_INSTANCES_POLICY* policy) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MultipleInstances(TASK_INSTANCES_POLICY policy) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StopIfGoingOnBatteries(VARIANT_BOOL* stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StopIfGoingOnBatteries(VARIANT_BOOL stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DisallowStartIfOnBatteries(VARIANT_BOOL* disallow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DisallowStartIfOnBatteries(VARIANT_BOOL disallow) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AllowHardTerminate(VARIANT_BOOL* allow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AllowHardTerminate(VARIANT_BOOL allow) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StartWhenAvailable(VARIANT_BOOL* start) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StartWhenAvailable(VARIANT_BOOL start) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_XmlText(BSTR* xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_XmlText(BSTR xml) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RunOnlyIfNetworkAvailable(VARIANT_BOOL* run) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RunOnlyIfNetworkAvailable(VARIANT_BOOL run) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExecutionTimeLimit(BSTR* limit) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExecutionTimeLimit(BSTR limit) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DeleteExpiredTaskAfter(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DeleteExpiredTaskAfter(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Priority(INT* priority) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Priority(INT priority) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Compatibility(TASK_COMPATIBILITY* level) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Compatibility(TASK_COMPATIBILITY level) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Hidden(VARIANT_BOOL* hidden) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Hidden(VARIANT_BOOL hidden) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IdleSettings(IIdleSettings** settings) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IdleSettings(IIdleSettings* settings) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RunOnlyIfIdle(VARIANT_BOOL* run) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RunOnlyIfIdle(VARIANT_BOOL run) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WakeToRun(VARIANT_BOOL* wake) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WakeToRun(VARIANT_BOOL wake) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NetworkSettings(INetworkSettings** settings) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_NetworkSettings(INetworkSettings* settings) = 0;

  protected:
    ~ITaskSettings() = default;
};
