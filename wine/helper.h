// tavrol-driver.exe: the Wine suite's hands inside Wine. Shared pieces of its files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

const DWORD kWaitMs = 30000;

// Output: one "key=value" line per observation; values are escaped onto one line.
void print(const char* key, const std::string& value);
void printNumber(const char* key, unsigned long value);
std::string hex(const unsigned char* bytes, size_t length);
bool parseHex(const std::string& text, std::vector<unsigned char>* bytes);
// Prints error=WHAT and returns the exit code of a failed command.
int fail(const std::string& what);

// The service TAVROL, raw device requests and the registry (HKLM).
int serviceStart(const char* path);
int serviceRemove();
int serviceQuery();
int servicePath();
int sendRequests(int count, char** specs);
int deviceOpen(int count, char** paths);
int registryGet(const char* path, const char* name);
int registrySet(const char* path, const char* name, const char* type, const char* value);
int registryDelete(const char* path, const char* name);

// Tasks of the Task Scheduler's root folder: task=present with xml=..., or task=absent.
int taskGet(const char* name);
int taskRegister(const char* name, const char* xml);

// Runs a command line and waits for every process it starts: prints run.exit=CODE (of the process
// started) or run.exit=timeout.
int runToTheEnd(const std::string& commandLine);

// Runs the program and works through the steps in order.
int session(const std::string& exe, const std::string& arguments, int count, char** steps);
