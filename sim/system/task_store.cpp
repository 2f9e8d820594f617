// The simulated Task Scheduler's tasks: one XML file each in C:\Windows\System32\Tasks of the
// virtual drive, in the shape Windows writes them (as UTF-8).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/file_lock.h"
#include "sim/process.h"
#include "sim/tasks.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescape(const std::string& text) {
    static const std::pair<const char*, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        for (const auto& entity : entities) {
            size_t length = std::char_traits<char>::length(entity.first);
            if (text.compare(i, length, entity.first) == 0) {
                out += entity.second;
                i += length - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += text[i];
    }
    return out;
}

// The text of the first <tag>...</tag> inside `scope`; false when there is none.
bool element(const std::string& scope, const std::string& tag, std::string* text) {
    size_t open = scope.find("<" + tag + ">");
    if (open == std::string::npos)
        return false;
    size_t start = open + tag.size() + 2;
    size_t close = scope.find("</" + tag + ">", start);
    if (close == std::string::npos)
        return false;
    *text = unescape(scope.substr(start, close - start));
    return true;
}

// The whole element, opening tag (with or without attributes) to closing tag.
bool block(const std::string& xml, const std::string& tag, std::string* text) {
    size_t open = xml.find("<" + tag);
    while (open != std::string::npos && xml[open + tag.size() + 1] != '>' &&
           xml[open + tag.size() + 1] != ' ')
        open = xml.find("<" + tag, open + 1);
    if (open == std::string::npos)
        return false;
    size_t close = xml.find("</" + tag + ">", open);
    if (close == std::string::npos)
        return false;
    *text = xml.substr(open, close + tag.size() + 3 - open);
    return true;
}

bool flag(const std::string& scope, const std::string& tag, bool fallback) {
    std::string text;
    if (!element(scope, tag, &text))
        return fallback;
    return text == "true";
}

std::string taskPath(const std::string& name) {
    return systemDirectory() + "\\Tasks\\" + name;
}

} // namespace

namespace {

// An SDDL string's owner part ("O:BA"); a descriptor without one is the root folder's default,
// made by an administrator.
std::string ownerPart(const std::string& sddl) {
    if (sddl.compare(0, 2, "O:") != 0)
        return "O:BA";
    size_t end = 2;
    while (end + 1 < sddl.size() &&
           !(sddl[end + 1] == ':' && (sddl[end] == 'G' || sddl[end] == 'D' || sddl[end] == 'S')))
        ++end;
    return sddl.substr(0, end + 1 < sddl.size() ? end : sddl.size());
}

} // namespace

std::string registeredSecurity(const std::string& kept, const std::string& given, bool withGiven) {
    std::string access = withGiven ? given : kept;
    if (access.compare(0, 2, "O:") == 0)
        access = access.substr(ownerPart(access).size());
    if (!withGiven && kept.empty())
        return "";
    return ownerPart(kept) + access;
}

std::string formatTaskXml(const ScheduledTask& task) {
    auto boolText = [](bool on) { return on ? "true" : "false"; };
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<Task version=\"1.2\" "
         "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n";
    if (!task.securityDescriptor.empty())
        x << "  <RegistrationInfo>\n    <SecurityDescriptor>" << escape(task.securityDescriptor)
          << "</SecurityDescriptor>\n  </RegistrationInfo>\n";
    x << "  <Triggers>\n";
    if (task.logonTrigger) {
        x << "    <LogonTrigger>\n      <Enabled>true</Enabled>\n";
        if (!task.logonTriggerUser.empty())
            x << "      <UserId>" << escape(task.logonTriggerUser) << "</UserId>\n";
        x << "    </LogonTrigger>\n";
    }
    x << "  </Triggers>\n  <Principals>\n    <Principal id=\"Author\">\n";
    if (!task.groupId.empty())
        x << "      <GroupId>" << escape(task.groupId) << "</GroupId>\n";
    if (!task.userId.empty())
        x << "      <UserId>" << escape(task.userId) << "</UserId>\n";
    if (!task.logonType.empty() && task.logonType != "Group")
        x << "      <LogonType>" << escape(task.logonType) << "</LogonType>\n";
    x << "      <RunLevel>" << (task.highestRunLevel ? "HighestAvailable" : "LeastPrivilege")
      << "</RunLevel>\n    </Principal>\n  </Principals>\n  <Settings>\n"
      << "    <DisallowStartIfOnBatteries>" << boolText(task.disallowStartIfOnBatteries)
      << "</DisallowStartIfOnBatteries>\n"
      << "    <StopIfGoingOnBatteries>" << boolText(task.stopIfGoingOnBatteries)
      << "</StopIfGoingOnBatteries>\n"
      << "    <Enabled>" << boolText(task.enabled) << "</Enabled>\n  </Settings>\n"
      << "  <Actions Context=\"Author\">\n    <Exec>\n"
      << "      <Command>" << escape(task.command) << "</Command>\n";
    if (!task.arguments.empty())
        x << "      <Arguments>" << escape(task.arguments) << "</Arguments>\n";
    x << "    </Exec>\n  </Actions>\n</Task>\n";
    return x.str();
}

bool parseTaskXml(const std::string& name, const std::string& xml, ScheduledTask* task) {
    std::string taskBlock, exec;
    if (!block(xml, "Task", &taskBlock) || !block(taskBlock, "Exec", &exec))
        return false;
    ScheduledTask parsed;
    parsed.name = name;
    if (!element(exec, "Command", &parsed.command) || parsed.command.empty())
        return false;
    element(exec, "Arguments", &parsed.arguments);
    std::string trigger, principal, settings, registration;
    if (block(taskBlock, "RegistrationInfo", &registration))
        element(registration, "SecurityDescriptor", &parsed.securityDescriptor);
    if (block(taskBlock, "LogonTrigger", &trigger)) {
        parsed.logonTrigger = flag(trigger, "Enabled", true);
        element(trigger, "UserId", &parsed.logonTriggerUser);
    }
    if (block(taskBlock, "Principal", &principal)) {
        element(principal, "GroupId", &parsed.groupId);
        element(principal, "UserId", &parsed.userId);
        if (!element(principal, "LogonType", &parsed.logonType) && !parsed.groupId.empty())
            parsed.logonType = "Group";
        std::string level;
        parsed.highestRunLevel =
            element(principal, "RunLevel", &level) && level == "HighestAvailable";
    }
    if (block(taskBlock, "Settings", &settings)) {
        parsed.disallowStartIfOnBatteries = flag(settings, "DisallowStartIfOnBatteries", true);
        parsed.stopIfGoingOnBatteries = flag(settings, "StopIfGoingOnBatteries", true);
        parsed.enabled = flag(settings, "Enabled", true);
    }
    *task = parsed;
    return true;
}

std::vector<ScheduledTask> scheduledTasks() {
    std::vector<ScheduledTask> tasks;
    std::string folder = drive().hostPathOf(systemDirectory() + "\\Tasks");
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error))
        return tasks;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file(error))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::string text;
        ScheduledTask task;
        if (readStateFile(file.string(), &text) &&
            parseTaskXml(file.filename().string(), text, &task))
            tasks.push_back(task);
    }
    return tasks;
}

bool findScheduledTask(const std::string& name, ScheduledTask* task) {
    std::string host = drive().hostPathOf(taskPath(name));
    std::string text;
    return !host.empty() && readStateFile(host, &text) && parseTaskXml(name, text, task);
}

bool storeScheduledTask(const ScheduledTask& task) {
    return drive().writeFile(taskPath(task.name), formatTaskXml(task));
}

bool removeScheduledTask(const std::string& name) {
    return drive().fileExists(taskPath(name)) && drive().removeFile(taskPath(name));
}

} // namespace sim
