// The COM plumbing of the simulated PC's Task Scheduler objects: IUnknown and IDispatch, each
// object counted in the COM state, and the BSTR and VARIANT helpers of their methods.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "sim/com.h"
#include "sim_win32.h"

namespace sim {
namespace com {

inline bool sameIid(REFIID a, REFIID b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// BSTRs hold Latin-1 text on the simulated PC, as its code page does.
inline std::string narrow(BSTR text) {
    std::string out;
    for (const OLECHAR* c = text; c && *c; ++c)
        out += static_cast<char>(*c <= 0xFF ? *c : '?');
    return out;
}

inline HRESULT give(BSTR* out, const std::string& text) {
    if (out == nullptr)
        return E_POINTER;
    std::vector<OLECHAR> wide(text.begin(), text.end());
    for (size_t i = 0; i < text.size(); ++i)
        wide[i] = static_cast<unsigned char>(text[i]);
    wide.push_back(0);
    *out = SysAllocString(wide.data());
    return *out ? S_OK : E_OUTOFMEMORY;
}

inline HRESULT giveBool(VARIANT_BOOL* out, bool value) {
    if (out == nullptr)
        return E_POINTER;
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

template <typename Interface, typename Object>
inline HRESULT hand(Object* object, Interface** out) {
    if (out == nullptr)
        return E_POINTER;
    object->AddRef();
    *out = object;
    return S_OK;
}

inline bool isEmpty(const VARIANT& v) {
    return v.vt == VT_EMPTY || v.vt == VT_NULL;
}

// IUnknown and IDispatch for every object; implements() adds an object's own interface.
template <typename Interface> class ComObject : public Interface {
  public:
    ComObject() { ++sim::mutableComState().liveObjects; }
    virtual ~ComObject() { --sim::mutableComState().liveObjects; }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (sameIid(iid, IID_IUnknown) || sameIid(iid, IID_IDispatch) || implements(iid)) {
            AddRef();
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

  protected:
    virtual bool implements(REFIID) const { return false; }

  private:
    ULONG m_references = 1;
};

} // namespace com
} // namespace sim
