// DirectDraw of the simulated PC: only DirectDrawCreate, used as a probe of the display driver.
#pragma once

#include "sim_ole.h"

#define MAKE_DDHRESULT(code) ((HRESULT)(0x88760000u | (code)))
#define DD_OK S_OK
#define DDERR_INVALIDDIRECTDRAWGUID MAKE_DDHRESULT(561)
#define DDERR_DIRECTDRAWALREADYCREATED MAKE_DDHRESULT(562)
#define DDERR_NODIRECTDRAWHW MAKE_DDHRESULT(563)

struct IDirectDraw : IUnknown {
  protected:
    ~IDirectDraw() = default;
};
typedef IDirectDraw* LPDIRECTDRAW;

HRESULT WINAPI DirectDrawCreate(GUID* driverGuid, LPDIRECTDRAW* directDraw, IUnknown* outer);
