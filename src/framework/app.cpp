// The application object registry and the program's entry point.
#include "framework/app.h"

namespace {
CWinApp* currentApp = nullptr;
HINSTANCE resourceHandle = nullptr;
HINSTANCE instanceHandle = nullptr;

typedef void(WINAPI* InitCommonControlsFunction)();
enum CommonControlsState { NOT_TRIED, LOADED, UNAVAILABLE };
CommonControlsState commonControls = NOT_TRIED;
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

BOOL AfxInitCommonControls() {
    if (commonControls == NOT_TRIED) {
        // By name, as the loader found the import this replaces: the manifest's activation
        // context sends the name to common controls 6 where Windows has them. The library stays
        // loaded, as an import would: its window classes serve every later window.
        HMODULE comctl32 = LoadLibraryA("comctl32.dll");
        InitCommonControlsFunction initCommonControls =
            comctl32 ? lookUpProc<InitCommonControlsFunction>(comctl32, "InitCommonControls")
                     : nullptr;
        if (initCommonControls)
            initCommonControls();
        commonControls = initCommonControls ? LOADED : UNAVAILABLE;
    }
    return commonControls == LOADED;
}

int AfxShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    AfxInitCommonControls();
    return ::MessageBoxA(owner, text, caption, type);
}

int AfxWinMain(HINSTANCE instance, LPSTR commandLine, int showCommand) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    instanceHandle = instance;
    resourceHandle = instance; // until the program installs its resource library
    commonControls = NOT_TRIED;
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
