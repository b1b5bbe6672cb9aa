// The late-bound voice binding against the voice object registered over "SAPI.SpVoice" in the
// test prefix (the recording voice): what reaches the object, and what the user reads when a
// call fails. The voice reads its settings when an object is created, so each test sets them in
// this process's environment first.
#include "speech/Automation.h"
#include "ui/Exceptions.h"

#include "tools/voice/Json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quenlet::voice::JsonValue;

constexpr const wchar_t* kVoiceSettings[] = {
    L"QUENLET_VOICE_LOG",       L"QUENLET_VOICE_MODE", L"QUENLET_VOICE_SPEAK_MS", L"QUENLET_VOICE_FAIL",
    L"QUENLET_VOICE_FAIL_CREATE", L"QUENLET_VOICE_WAV_DIR",
};

constexpr const wchar_t kProgId[] = L"SAPI.SpVoice";

bool Trimmable(wchar_t c)
{
    return static_cast<unsigned>(c) <= 0x20u || c == L'.';
}

bool TrimmedEmpty(const std::wstring& s)
{
    for (wchar_t c : s)
        if (!Trimmable(c))
            return false;
    return true;
}

std::wstring SystemText(HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    return text;
}

std::wstring OleErrorText(HRESULT code)
{
    wchar_t buf[32];
    std::swprintf(buf, 32, L"OLE error %08X", static_cast<unsigned>(code));
    return buf;
}

// The user must read the system's own description of `code` with its trailing blanks, control
// characters and full stops taken off and nothing else changed; or "OLE error XXXXXXXX" when the
// system has no description.
::testing::AssertionResult DescribesCode(const std::wstring& shown, HRESULT code)
{
    const std::wstring system = SystemText(code);
    std::size_t kept = system.size();
    while (kept && Trimmable(system[kept - 1]))
        --kept;
    if (kept == 0) {
        if (shown == OleErrorText(code))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the system has no text for the code; shown: \"" << shown << "\"";
    }
    if (shown == system.substr(0, kept))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "shown \"" << shown << "\", system text \"" << system << "\"";
}

template <class E>
std::optional<std::wstring> MessageOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const E& e) {
        return e.Message();
    }
    return std::nullopt;
}

class RecordingVoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        static int counter = 0;
        logPath_ = std::wstring(dir) + L"quenlet-automation-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++counter) + L".jsonl";
        DeleteFileW(logPath_.c_str());
        for (const wchar_t* name : kVoiceSettings)
            SetEnvironmentVariableW(name, nullptr);
        Set(L"QUENLET_VOICE_LOG", logPath_);
        Set(L"QUENLET_VOICE_MODE", L"record");
        Set(L"QUENLET_VOICE_SPEAK_MS", L"100");
        VariantInit(&voice_);
    }

    void TearDown() override
    {
        VariantClear(&voice_);
        for (const wchar_t* name : kVoiceSettings)
            SetEnvironmentVariableW(name, nullptr);
        DeleteFileW(logPath_.c_str());
        CoUninitialize();
    }

    static void Set(const wchar_t* name, const std::wstring& value) { SetEnvironmentVariableW(name, value.c_str()); }

    void Create()
    {
        CreateOleObject(voice_, kProgId);
        ASSERT_EQ(voice_.vt, VT_DISPATCH);
    }

    std::vector<JsonValue> Log() const
    {
        std::ifstream in(logPath_.c_str(), std::ios::binary);
        std::vector<JsonValue> out;
        std::string line;
        while (std::getline(in, line)) {
            if (auto v = quenlet::voice::ParseJson(line))
                out.push_back(*v);
            else
                ADD_FAILURE() << "not a log line: " << line;
        }
        return out;
    }

    // "ev" or "ev name" of every line whose event is one of `events`.
    std::vector<std::string> Trace(std::initializer_list<const char*> events) const
    {
        std::vector<std::string> out;
        for (const JsonValue& e : Log()) {
            const std::string ev = e.Find("ev")->string;
            for (const char* want : events) {
                if (ev != want)
                    continue;
                const JsonValue* name = e.Find("name");
                const JsonValue* text = e.Find("text");
                std::string item = ev;
                if (name && name->kind == JsonValue::Kind::String)
                    item += " " + name->string;
                if (text)
                    item += " " + text->string;
                out.push_back(item);
            }
        }
        return out;
    }

    std::vector<JsonValue> Events(const std::string& ev) const
    {
        std::vector<JsonValue> out;
        for (const JsonValue& e : Log())
            if (e.Find("ev")->string == ev)
                out.push_back(e);
        return out;
    }

    std::wstring logPath_;
    VARIANT voice_;
};

// A JSON array of integers or strings, as the log writes a call's arguments, for comparison.
std::string Render(const JsonValue& array)
{
    std::ostringstream out;
    out << '[';
    for (std::size_t i = 0; i < array.items.size(); ++i) {
        const JsonValue& v = array.items[i];
        if (i)
            out << ',';
        if (v.kind == JsonValue::Kind::String)
            out << '"' << v.string << '"';
        else if (v.kind == JsonValue::Kind::Number)
            out << static_cast<long long>(v.number);
        else
            out << '?';
    }
    out << ']';
    return out.str();
}

struct SeenCall {
    std::string name;
    int flags;
    std::string named, args, types;
    bool operator==(const SeenCall&) const = default;
};

void PrintTo(const SeenCall& c, std::ostream* os)
{
    *os << c.name << " flags " << c.flags << " named " << c.named << " args " << c.args << " types " << c.types;
}

TEST_F(RecordingVoice, EachMemberIsLookedUpByNameAtEveryCallAndGetsExactlyItsArguments)
{
    Create();
    {
        OleArg volume(100);
        OlePutProperty(voice_, L"Volume", volume);
    }
    for (const wchar_t* sentence : {L"Now is 9:5", L"  Today is Thursday  21th,February,2013"}) {
        OleArg text(sentence), async(1);
        OleCallMethod(voice_, L"Speak", {&text, &async});
        OleArg noTimeout(-1);
        OleCallMethod(voice_, L"WaitUntilDone", {&noTimeout});
    }

    // One look-up before every invoke: nothing is cached between calls.
    EXPECT_EQ(Trace({"getids", "invoke"}),
              (std::vector<std::string>{"getids Volume", "invoke Volume", "getids Speak", "invoke Speak",
                                        "getids WaitUntilDone", "invoke WaitUntilDone", "getids Speak", "invoke Speak",
                                        "getids WaitUntilDone", "invoke WaitUntilDone"}));
    std::vector<SeenCall> calls;
    for (const JsonValue& e : Events("invoke"))
        calls.push_back({e.Find("name")->string, static_cast<int>(e.Find("flags")->number), Render(*e.Find("named")),
                         Render(*e.Find("args")), Render(*e.Find("types"))});
    // A property write names its value DISPID_PROPERTYPUT (-3); texts go as BSTR (8), numbers as
    // 32-bit integers (3); methods are invoked as methods (1), the write as a property put (4).
    const std::vector<SeenCall> expected = {
        {"Volume", DISPATCH_PROPERTYPUT, "[-3]", "[100]", "[3]"},
        {"Speak", DISPATCH_METHOD, "[]", "[\"Now is 9:5\",1]", "[8,3]"},
        {"WaitUntilDone", DISPATCH_METHOD, "[]", "[-1]", "[3]"},
        {"Speak", DISPATCH_METHOD, "[]", "[\"  Today is Thursday  21th,February,2013\",1]", "[8,3]"},
        {"WaitUntilDone", DISPATCH_METHOD, "[]", "[-1]", "[3]"},
    };
    EXPECT_EQ(calls, expected);
    // The sentences were spoken whole, with the volume written first.
    for (const JsonValue& e : Events("speak_start"))
        EXPECT_EQ(e.Find("volume")->number, 100) << e.Find("text")->string;
    const auto ends = Events("speak_end");
    ASSERT_EQ(ends.size(), 2u);
    for (const JsonValue& e : ends)
        EXPECT_TRUE(e.Find("done")->boolean) << e.Find("text")->string;
}

TEST_F(RecordingVoice, TheVariantHoldsTheOnlyReferenceAndClearingItEndsTheObject)
{
    Create();
    const auto releases = Events("release");
    ASSERT_FALSE(releases.empty());
    EXPECT_EQ(releases.back().Find("refs")->number, 1) << "references left when creation returned";
    EXPECT_TRUE(Events("destroy").empty());

    VariantClear(&voice_);
    EXPECT_EQ(voice_.vt, VT_EMPTY);
    EXPECT_EQ(Events("destroy").size(), 1u) << "a reference was left behind";
}

// ---------------------------------------------------------------------------------------------
// Creation failures: the system's description of the code, then the ProgID in quotation marks.

struct CreationCase {
    const char* label;
    const wchar_t* progId;
    const wchar_t* failCreate;  // QUENLET_VOICE_FAIL_CREATE, or null
    HRESULT code;               // the code the message must describe
    // Guards a case against testing the other branch by accident; the system's texts differ
    // between Windows and Wine, so some cases take either.
    enum { NoText, HasText, Either } systemText;
};

class CreationFailure : public RecordingVoice, public ::testing::WithParamInterface<CreationCase> {};

TEST_P(CreationFailure, NamesTheDescriptionAndTheProgIdAndLeavesTheVariantEmpty)
{
    const CreationCase& c = GetParam();
    if (c.failCreate)
        Set(L"QUENLET_VOICE_FAIL_CREATE", c.failCreate);
    if (c.systemText != CreationCase::Either) {
        ASSERT_EQ(!TrimmedEmpty(SystemText(c.code)), c.systemText == CreationCase::HasText)
            << "system text: " << SystemText(c.code);
    }

    const auto message = MessageOf<EOleError>([&] { CreateOleObject(voice_, c.progId); });
    ASSERT_TRUE(message) << "no EOleError";
    const std::wstring suffix = std::wstring(L", ProgID: \"") + c.progId + L"\"";
    ASSERT_GE(message->size(), suffix.size());
    EXPECT_EQ(message->substr(message->size() - suffix.size()), suffix) << *message;
    EXPECT_TRUE(DescribesCode(message->substr(0, message->size() - suffix.size()), c.code));
    EXPECT_EQ(voice_.vt, VT_EMPTY);
    // And the empty variant cannot be called afterwards.
    EXPECT_EQ(MessageOf<EVariantInvalidOpError>([&] {
                  OleArg text(L"Now is 9:5"), async(1);
                  OleCallMethod(voice_, L"Speak", {&text, &async});
              }),
              std::wstring(L"Invalid variant operation"));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CreationFailure,
    ::testing::Values(CreationCase{"UnspecifiedError", kProgId, L"80004005", E_FAIL, CreationCase::HasText},
                      CreationCase{"AccessDenied", kProgId, L"0x80070005", E_ACCESSDENIED, CreationCase::HasText},
                      CreationCase{"CodeWithoutText", kProgId, L"80041234", static_cast<HRESULT>(0x80041234),
                                   CreationCase::NoText},
                      // No class under the name: CLSIDFromProgID's own code.
                      CreationCase{"NoSuchProgId", L"Quenlet.NoSuchVoice", nullptr, CO_E_CLASSSTRING, CreationCase::Either}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RecordingVoice, CreationFailureWithoutSystemTextReadsAsTheUserSeesIt)
{
    // One case spelled out in full, as the start-up box shows it (no full stop is added there:
    // the text ends in a quotation mark).
    Set(L"QUENLET_VOICE_FAIL_CREATE", L"80041234");
    EXPECT_EQ(MessageOf<EOleError>([&] { CreateOleObject(voice_, kProgId); }),
              std::wstring(L"OLE error 80041234, ProgID: \"SAPI.SpVoice\""));
}

TEST(EmptyVoice, EveryCallIsAnInvalidVariantOperation)
{
    VARIANT empty;
    VariantInit(&empty);
    const std::vector<std::function<void()>> calls = {
        [&] {
            OleArg text(L"Now is 9:5"), async(1);
            OleCallMethod(empty, L"Speak", {&text, &async});
        },
        [&] {
            OleArg noTimeout(-1);
            OleCallMethod(empty, L"WaitUntilDone", {&noTimeout});
        },
        [&] {
            OleArg volume(100);
            OlePutProperty(empty, L"Volume", volume);
        },
    };
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(MessageOf<EVariantInvalidOpError>(calls[i]), std::wstring(L"Invalid variant operation")) << "call " << i;
    EXPECT_EQ(empty.vt, VT_EMPTY);
}

// ---------------------------------------------------------------------------------------------
// Failing calls on a live object.

enum class Call { Speak, WaitUntilDone, Volume, Pause };

struct CallFailureCase {
    const char* label;
    const wchar_t* fail;  // QUENLET_VOICE_FAIL
    Call call;
    const wchar_t* message;  // exact, or null: the system's description of `code`
    HRESULT code;
};

class CallFailure : public RecordingVoice, public ::testing::WithParamInterface<CallFailureCase> {
protected:
    void Make(Call call)
    {
        switch (call) {
        case Call::Speak: {
            OleArg text(L"Now is 9:5"), async(1);
            OleCallMethod(voice_, L"Speak", {&text, &async});
            break;
        }
        case Call::WaitUntilDone: {
            OleArg noTimeout(-1);
            OleCallMethod(voice_, L"WaitUntilDone", {&noTimeout});
            break;
        }
        case Call::Volume: {
            OleArg volume(100);
            OlePutProperty(voice_, L"Volume", volume);
            break;
        }
        case Call::Pause:
            OleCallMethod(voice_, L"Pause", {});
            break;
        }
    }
};

TEST_P(CallFailure, IsReportedInTheUsersWords)
{
    const CallFailureCase& c = GetParam();
    Set(L"QUENLET_VOICE_FAIL", c.fail);
    Create();
    const auto message = MessageOf<EOleError>([&] { Make(c.call); });
    ASSERT_TRUE(message) << "no EOleError";
    if (c.message)
        EXPECT_EQ(*message, c.message);
    else
        EXPECT_TRUE(DescribesCode(*message, c.code));
    // The voice reports nothing wrong with its own settings (a typo would test nothing).
    const auto created = Events("create");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_TRUE(created[0].Find("problems")->items.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CallFailure,
    ::testing::Values(
        // A name the object does not know.
        CallFailureCase{"UnknownSpeak", L"Speak=unknown", Call::Speak, L"Method 'Speak' not supported by automation object"},
        CallFailureCase{"UnknownVolume", L"Volume=unknown", Call::Volume, L"Method 'Volume' not supported by automation object"},
        CallFailureCase{"UnknownWait", L"WaitUntilDone=unknown", Call::WaitUntilDone,
                        L"Method 'WaitUntilDone' not supported by automation object"},
        CallFailureCase{"NoSuchMember", L"", Call::Pause, L"Method 'Pause' not supported by automation object"},
        // The object's own description, less trailing blanks, control characters and full stops.
        CallFailureCase{"FullStop", L"Speak=desc:The engine is busy.", Call::Speak, L"The engine is busy"},
        CallFailureCase{"ControlCharacters", L"Speak=desc:Audio device lost \t\r\n", Call::Speak, L"Audio device lost"},
        CallFailureCase{"MixedTail", L"Speak=desc:Stopped... . \r\n.", Call::Speak, L"Stopped"},
        CallFailureCase{"InnerStopsAndLeadingBlanks", L"Speak=desc:  Voice 5.3 failed!", Call::Speak, L"  Voice 5.3 failed!"},
        CallFailureCase{"OnVolume", L"Volume=desc:Volume is locked.", Call::Volume, L"Volume is locked"},
        CallFailureCase{"OnWait", L"WaitUntilDone=desc:Queue lost.\r\n", Call::WaitUntilDone, L"Queue lost"},
        // No description left: the system's description of the object's code (E_FAIL here).
        CallFailureCase{"EmptyDescription", L"Speak=desc:", Call::Speak, nullptr, E_FAIL},
        CallFailureCase{"OnlyTrimmable", L"Speak=desc: . \r\n", Call::Speak, nullptr, E_FAIL},
        // Any other failure code: its system description, or "OLE error".
        CallFailureCase{"AccessDenied", L"Speak=hr:80070005", Call::Speak, nullptr, E_ACCESSDENIED},
        CallFailureCase{"TypeMismatch", L"WaitUntilDone=hr:80020005", Call::WaitUntilDone, nullptr, DISP_E_TYPEMISMATCH},
        CallFailureCase{"CodeWithoutText", L"Volume=hr:80041234", Call::Volume, L"OLE error 80041234"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RecordingVoice, AnUnknownNameIsNeverInvoked)
{
    Set(L"QUENLET_VOICE_FAIL", L"Speak=unknown");
    Create();
    OleArg text(L"Now is 9:5"), async(1);
    EXPECT_THROW(OleCallMethod(voice_, L"Speak", {&text, &async}), EOleError);
    EXPECT_EQ(Trace({"getids", "invoke"}), std::vector<std::string>{"getids Speak"});
}

// ---------------------------------------------------------------------------------------------
// What the recording voice cannot do: an EXCEPINFO without a description whose code the system
// has no text for, and one filled in late through pfnDeferredFillIn.

class ScriptedDispatch final : public IDispatch {
public:
    std::function<void(EXCEPINFO&)> fill;  // sets up the EXCEPINFO returned with DISP_E_EXCEPTION
    bool deferred = false;                 // leave it to pfnDeferredFillIn
    bool resultAsked = false;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) override
    {
        ids[0] = 7;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO* info, UINT*) override
    {
        resultAsked = result != nullptr;
        if (!info)
            return E_POINTER;
        *info = EXCEPINFO{};
        if (deferred) {
            current_ = this;
            info->pfnDeferredFillIn = &FillLater;
        } else {
            fill(*info);
        }
        return DISP_E_EXCEPTION;
    }

    ULONG Refs() const { return refs_; }

private:
    static HRESULT STDMETHODCALLTYPE FillLater(EXCEPINFO* info)
    {
        current_->fill(*info);
        info->pfnDeferredFillIn = nullptr;
        return S_OK;
    }
    static inline ScriptedDispatch* current_ = nullptr;
    ULONG refs_ = 1;
};

struct ExcepInfoCase {
    const char* label;
    const wchar_t* description;  // null: none
    HRESULT scode;
    bool deferred;
    const wchar_t* message;
};

class ExcepInfoFailure : public ::testing::TestWithParam<ExcepInfoCase> {};

TEST_P(ExcepInfoFailure, IsReportedInTheUsersWords)
{
    const ExcepInfoCase& c = GetParam();
    ScriptedDispatch object;
    object.deferred = c.deferred;
    object.fill = [&](EXCEPINFO& info) {
        info.scode = c.scode;
        info.bstrSource = SysAllocString(L"Scripted");
        info.bstrDescription = c.description ? SysAllocString(c.description) : nullptr;
    };
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = &object;  // borrowed: never cleared
    OleArg text(L"Now is 9:5"), async(1);
    EXPECT_EQ(MessageOf<EOleError>([&] { OleCallMethod(v, L"Speak", {&text, &async}); }), std::wstring(c.message));
    EXPECT_FALSE(object.resultAsked) << "the engine's results are not collected";
    EXPECT_EQ(object.Refs(), 1u) << "a call must not keep or drop references";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExcepInfoFailure,
    ::testing::Values(ExcepInfoCase{"NoDescriptionNoSystemText", nullptr, static_cast<HRESULT>(0x80041234), false,
                                    L"OLE error 80041234"},
                      ExcepInfoCase{"DeferredDescription", L"Filled in later.\r\n", E_FAIL, true, L"Filled in later"},
                      ExcepInfoCase{"DeferredCodeOnly", nullptr, static_cast<HRESULT>(0x80041234), true,
                                    L"OLE error 80041234"}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
