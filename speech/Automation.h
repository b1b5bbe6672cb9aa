#pragma once
// Late-bound automation: members of an object are looked up by name at every call and invoked
// through IDispatch; nothing is cached. Failures become exceptions worded for the user.
#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <string>

// An automation argument: a 32-bit integer or a text.
class OleArg {
public:
    OleArg(int value);
    OleArg(const std::wstring& text);
    ~OleArg();
    OleArg(const OleArg&) = delete;
    OleArg& operator=(const OleArg&) = delete;
    VARIANT& get() { return v_; }

private:
    VARIANT v_;
};

// Creates the object registered under progId (in-process or local server) and puts its IDispatch
// into `target`, which holds the one reference from then on.
void CreateOleObject(VARIANT& target, const wchar_t* progId);

// object.Name(args...), no result asked for.
void OleCallMethod(VARIANT& object, const wchar_t* name, std::initializer_list<OleArg*> args);

// object.Name := value
void OlePutProperty(VARIANT& object, const wchar_t* name, OleArg& value);
