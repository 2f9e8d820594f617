// The DirectDraw probe of discovery: creating a DirectDraw object proves that a display driver
// with hardware support is active; the object itself is not needed.
#pragma once

#include "agpcfg/agpcfg.h"

// ddraw.dll brings in the Direct3D runtime and the window and graphics libraries, and loading
// them and creating the object takes tens of milliseconds: about as long as the service manager
// takes to start a small driver, while the caller does nothing but wait. So on NT the probe runs
// on a thread of its own, begun as the driver's start companion, and discovery takes its result
// once the driver is up. Only a start that then fails has probed for nothing: its object was
// released at once, and discovery ends with the driver's code, as it would have.
class CDirectDrawProbe {
  public:
    CDirectDrawProbe() : m_thread(NULL), m_result(AGP_ERR_DDRAW_OTHER) {}
    // Waits for a probe still running: the thread uses the object.
    ~CDirectDrawProbe() { wait(); }
    CDirectDrawProbe(const CDirectDrawProbe&) = delete;
    CDirectDrawProbe& operator=(const CDirectDrawProbe&) = delete;

    // A DriverStartCompanion; context is the probe object. Begins once.
    static void begin(void* context);
    // The probe's result: the one begun, once it has ended, or one run here and now when none
    // was begun or its thread could not be made.
    AgpError result();

  private:
    static DWORD WINAPI run(LPVOID context);
    void wait();

    HANDLE m_thread;
    AgpError m_result; // written by the thread, read after it has ended
};
