// The application object registry and the program's entry point.
#include "framework/app.h"

namespace {
CWinApp* currentApp = nullptr;
HINSTANCE resourceHandle = nullptr;
HINSTANCE instanceHandle = nullptr;
} // namespace

CWinApp::CWinApp()
    : m_pMainWnd(nullptr), m_hInstance(nullptr), m_lpCmdLine(nullptr), m_nCmdShow(0),
      m_previous(currentApp) {
    currentApp = this;
}

CWinApp::~CWinApp() {
    if (currentApp == this)
        currentApp = m_previous;
}

CWinApp* AfxGetApp() {
    return currentApp;
}

HINSTANCE AfxGetResourceHandle() {
    return resourceHandle;
}

void AfxSetResourceHandle(HINSTANCE resources) {
    resourceHandle = resources;
}

HINSTANCE AfxGetInstanceHandle() {
    return instanceHandle;
}

int AfxLoadString(UINT id, LPSTR buffer, int size) {
    if (size > 0)
        buffer[0] = '\0';
    return ::LoadStringA(resourceHandle, id, buffer, size);
}

int AfxWinMain(HINSTANCE instance, LPSTR commandLine, int showCommand) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    instanceHandle = instance;
    resourceHandle = instance; // until the program installs its resource library
    app->m_hInstance = instance;
    app->m_lpCmdLine = commandLine;
    app->m_nCmdShow = showCommand;
    // There is no message loop of our own: every window is a modal dialog with its own loop, so
    // whatever InitInstance answers, the run ends here.
    app->InitInstance();
    return app->ExitInstance();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    return AfxWinMain(instance, commandLine, showCommand);
}
