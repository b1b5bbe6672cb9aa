#include "speech/Automation.h"

#include "speech/OleErrorText.h"
#include "ui/Exceptions.h"
#include "ui/Forms.h"

#include <vector>

OleArg::OleArg(int value)
{
    VariantInit(&v_);
    v_.vt = VT_I4;
    v_.lVal = value;
}

OleArg::OleArg(const std::wstring& text)
{
    VariantInit(&v_);
    v_.vt = VT_BSTR;
    v_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!v_.bstrVal)
        throw EOutOfResources(L"Out of memory");
}

OleArg::~OleArg()
{
    VariantClear(&v_);
}

namespace {

[[noreturn]] void RaiseOleError(HRESULT hr)
{
    throw EOleError(DescriptionOrOleError(SystemErrorText(static_cast<DWORD>(hr)), static_cast<std::uint32_t>(hr)));
}

IDispatch* DispatchOf(VARIANT& object)
{
    // Only a variant that holds an object can be called.
    if (object.vt == VT_DISPATCH && object.pdispVal)
        return object.pdispVal;
    throw EVariantInvalidOpError(std::wstring(kInvalidVariantOperation));
}

DISPID LookUp(IDispatch* dispatch, const wchar_t* name)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND)
        throw EOleError(MethodNotSupportedMessage(name));
    if (FAILED(hr))
        RaiseOleError(hr);
    return id;
}

void Invoke(IDispatch* dispatch, const wchar_t* name, WORD flags, std::initializer_list<OleArg*> args, bool propertyPut)
{
    const DISPID id = LookUp(dispatch, name);
    // IDispatch takes the arguments last to first.
    std::vector<VARIANT> reversed;
    for (auto it = std::rbegin(args); it != std::rend(args); ++it)
        reversed.push_back((*it)->get());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    if (propertyPut) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    EXCEPINFO info{};
    UINT argError = 0;
    const HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, &info, &argError);
    if (SUCCEEDED(hr))
        return;
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        std::wstring description = info.bstrDescription ? std::wstring(info.bstrDescription, SysStringLen(info.bstrDescription)) : L"";
        const HRESULT code = info.scode ? info.scode : static_cast<HRESULT>(info.wCode);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrHelpFile);
        description = TrimErrorDescription(description);
        if (!description.empty())
            throw EOleError(description);
        RaiseOleError(code);
    }
    RaiseOleError(hr);
}

} // namespace

void CreateOleObject(VARIANT& target, const wchar_t* progId)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    IDispatch* dispatch = nullptr;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) {
        const std::wstring description = DescriptionOrOleError(SystemErrorText(static_cast<DWORD>(hr)), static_cast<std::uint32_t>(hr));
        throw EOleError(VoiceCreationMessage(description, progId));
    }
    // The variant takes a reference of its own; the one creation returned is dropped here.
    VariantClear(&target);
    target.vt = VT_DISPATCH;
    target.pdispVal = dispatch;
    dispatch->AddRef();
    dispatch->Release();
}

void OleCallMethod(VARIANT& object, const wchar_t* name, std::initializer_list<OleArg*> args)
{
    Invoke(DispatchOf(object), name, DISPATCH_METHOD, args, false);
}

void OlePutProperty(VARIANT& object, const wchar_t* name, OleArg& value)
{
    Invoke(DispatchOf(object), name, DISPATCH_PROPERTYPUT, {&value}, true);
}
