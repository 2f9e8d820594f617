// DirectDraw of the simulated PC: only DirectDrawCreate, used as a probe of the display driver.
#pragma once

#include "sim_types.h"

#define MAKE_DDHRESULT(code) ((HRESULT)(0x88760000u | (code)))
#define DD_OK S_OK
#define DDERR_INVALIDDIRECTDRAWGUID MAKE_DDHRESULT(561)
#define DDERR_DIRECTDRAWALREADYCREATED MAKE_DDHRESULT(562)
#define DDERR_NODIRECTDRAWHW MAKE_DDHRESULT(563)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)

struct IUnknown {
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IDirectDraw : IUnknown {
protected:
    ~IDirectDraw() = default;
};
typedef IDirectDraw* LPDIRECTDRAW;

HRESULT WINAPI DirectDrawCreate(GUID* driverGuid, LPDIRECTDRAW* directDraw, IUnknown* outer);

#ifndef CLASS_E_NOAGGREGATION
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#endif
