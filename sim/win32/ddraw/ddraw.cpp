// DirectDrawCreate of the simulated PC: the profile chooses the result; the objects it hands out
// count their releases so that tests can see the probe let go of them.
#include "sim/machine.h"
#include "sim/process.h"

namespace {

class DirectDrawObject final : public IDirectDraw {
  public:
    // The probe needs no other interface of the object.
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        sim::machine().noteDirectDrawRelease();
        if (m_references > 0)
            --m_references;
        return m_references;
    }

  private:
    ULONG m_references = 1;
};

// `#! ddraw RESULT [object|null]`: the result, and whether an object comes with it (by default
// only with DD_OK).
HRESULT profileResult(bool* withObject) {
    const sim::Directive* d = sim::machine().profile().find("ddraw");
    uint32_t result = static_cast<uint32_t>(DD_OK);
    if (d)
        sim::parseDirectiveNumber(d->args[0], &result);
    *withObject = result == static_cast<uint32_t>(DD_OK);
    if (d && d->args.size() > 1)
        *withObject = d->args[1] == "object";
    return static_cast<HRESULT>(result);
}

} // namespace

HRESULT WINAPI DirectDrawCreate(GUID* driverGuid, LPDIRECTDRAW* directDraw, IUnknown* outer) {
    bool withObject = false;
    HRESULT result;
    if (outer != nullptr)
        result = CLASS_E_NOAGGREGATION;
    else if (directDraw == nullptr)
        result = E_INVALIDARG;
    else if (driverGuid != nullptr)
        result = DDERR_INVALIDDIRECTDRAWGUID; // only the active display driver exists
    else
        result = profileResult(&withObject);
    if (directDraw)
        *directDraw = withObject
                          ? sim::machine().keepDirectDraw(std::make_shared<DirectDrawObject>())
                          : nullptr;
    sim::TraceEntry entry;
    entry.kind = sim::TraceKind::DirectDrawCreate;
    entry.ok = SUCCEEDED(result);
    entry.error = static_cast<uint32_t>(result);
    sim::machine().record(entry);
    return result;
}
