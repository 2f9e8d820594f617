// The DirectDraw probe of discovery, on a thread of its own while the driver starts.
#include <string.h>

#include "agpcfg/directdraw_probe.h"

typedef HRESULT(WINAPI* DirectDrawCreateFunction)(GUID*, LPDIRECTDRAW*, IUnknown*);

// DirectDraw is loaded from the system folder by its full path: ddraw.dll is no DLL that Windows
// always takes from there, and one planted in the program's folder would run with the rights of
// this process.
static HMODULE loadSystemDirectDraw() {
    static const char fileName[] = "\\ddraw.dll";
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof fileName > MAX_PATH)
        return NULL;
    memcpy(path + length, fileName, sizeof fileName);
    return LoadLibraryA(path);
}

static AgpError directDrawFailure(HRESULT result) {
    switch (result) {
    case E_OUTOFMEMORY:
        return AGP_ERR_DDRAW_OUT_OF_MEMORY;
    case DDERR_INVALIDDIRECTDRAWGUID:
        return AGP_ERR_DDRAW_INVALID_GUID;
    case E_INVALIDARG:
        return AGP_ERR_DDRAW_INVALID_ARG;
    case DDERR_NODIRECTDRAWHW:
        return AGP_ERR_DDRAW_NO_HARDWARE;
    default:
        return AGP_ERR_DDRAW_OTHER;
    }
}

// 0, or the discovery code of DirectDrawCreate's failure. Without DirectDraw there is no display
// driver with hardware support to find.
static AgpError probeDirectDraw() {
    HMODULE ddraw = loadSystemDirectDraw();
    DirectDrawCreateFunction directDrawCreate =
        ddraw ? lookUpProc<DirectDrawCreateFunction>(ddraw, "DirectDrawCreate") : NULL;
    if (directDrawCreate == NULL) {
        if (ddraw != NULL)
            FreeLibrary(ddraw);
        return AGP_ERR_DDRAW_NO_HARDWARE;
    }
    LPDIRECTDRAW directDraw = NULL;
    HRESULT result = directDrawCreate(NULL, &directDraw, NULL);
    AgpError error = AGP_OK;
    if (result != DD_OK && result != DDERR_DIRECTDRAWALREADYCREATED)
        error = directDrawFailure(result);
    else if (directDraw != NULL)
        directDraw->Release();
    FreeLibrary(ddraw);
    return error;
}

void CDirectDrawProbe::begin(void* context) {
    CDirectDrawProbe* probe = static_cast<CDirectDrawProbe*>(context);
    if (probe->m_thread != NULL)
        return;
    // Windows 9x wants somewhere to put the thread's identifier.
    DWORD threadId = 0;
    probe->m_thread = CreateThread(NULL, 0, run, probe, 0, &threadId);
}

AgpError CDirectDrawProbe::result() {
    if (m_thread == NULL)
        return probeDirectDraw();
    wait();
    return m_result;
}

void CDirectDrawProbe::wait() {
    if (m_thread == NULL)
        return;
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    m_thread = NULL;
}

DWORD WINAPI CDirectDrawProbe::run(LPVOID context) {
    static_cast<CDirectDrawProbe*>(context)->m_result = probeDirectDraw();
    return 0;
}
