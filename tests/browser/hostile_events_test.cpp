// Randomized, hostile arguments from a fixed seed: the helper object's Invoke
// and the download manager's Download must answer as the browser expects,
// never crash, never write through a pointer of the wrong type and keep
// every reference count balanced. Every by-reference target is a sentinel
// filled slot inside guard bytes, checked after each call: only the Cancel
// flag of a well-typed Cancel position may change, and only to 0 or 1.
#include "browser/download_manager.h"
#include "browser/ie_helper.h"
#include "browser/intercept_state.h"
#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "common/string_conversion.h"
#include "tests/support/agent_control.h"
#include "tests/support/fake_browser.h"
#include "tests/support/fake_moniker.h"
#include "tests/support/test_copy.h"
#include "tests/support/intercept_state_access.h"
#include "tests/support/com_apartment.h"
#include "tests/support/reference_count.h"

#include <exdispid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kSentinel = 0xA5;
constexpr size_t kGuard = 16;
constexpr size_t kPayload = 32;  // holds a VARIANT, a DECIMAL or a pointer

// One by-reference target with guard bytes on both sides.
struct Slot {
    unsigned char bytes[kGuard + kPayload + kGuard];
    void* Payload() { return bytes + kGuard; }
};

// Strings the browser might hand over, one of them a URL the policy takes.
class BstrPool {
  public:
    BstrPool() {
        strings_.push_back(nullptr);
        Add(L"");
        Add(L"http://host/a.zip");
        Add(L"about:blank");
        Add(L"gopher://host/a.zip");
        Add(L"mailto:someone@host");
        Add(L"javascript:void(0)");
        Add(L"about:x?y.zip");
        Add(L"about:\xD800.zip");  // lone high surrogate
        Add(L"\xDC00\xD800"
            L"about:b.zip");                       // reversed pair
        Add(std::wstring(L"about:a\0b.zip", 13));  // embedded zero
        Add(std::wstring(L"\0\0\0", 3));
        Add(L"12345");
        std::wstring huge = L"about:";
        huge.append(1024 * 1024 - huge.size(), L'a');
        Add(huge);
        hugeIndex_ = strings_.size() - 1;
        for (BSTR s : strings_)
            copies_.push_back(s == nullptr ? std::wstring() : std::wstring(s, SysStringLen(s)));
    }
    ~BstrPool() {
        for (BSTR s : strings_)
            SysFreeString(s);
    }
    BSTR Pick(std::mt19937& rng) {
        // The megabyte string is rare: it dominates the run time.
        if (rng() % 64 == 0)
            return strings_[hugeIndex_];
        return strings_[rng() % hugeIndex_];
    }
    // Whether every string still holds what it was made with.
    bool Intact() const {
        for (size_t i = 0; i < strings_.size(); ++i) {
            BSTR s = strings_[i];
            const std::wstring now =
                s == nullptr ? std::wstring() : std::wstring(s, SysStringLen(s));
            if (now != copies_[i])
                return false;
        }
        return true;
    }

  private:
    void Add(const std::wstring& s) {
        strings_.push_back(SysAllocStringLen(s.data(), static_cast<UINT>(s.size())));
    }
    std::vector<BSTR> strings_;
    std::vector<std::wstring> copies_;
    size_t hugeIndex_ = 0;
};

const VARTYPE kBaseTypes[] = {
    VT_EMPTY,   VT_NULL,    VT_I2,      VT_I4,       VT_R4,      VT_R8,    VT_CY,     VT_DATE,
    VT_BSTR,    VT_BSTR,    VT_BSTR,    VT_DISPATCH, VT_ERROR,   VT_BOOL,  VT_BOOL,   VT_VARIANT,
    VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,       VT_UI1,     VT_UI2,   VT_UI4,    VT_I8,
    VT_UI8,     VT_INT,     VT_UINT,    VT_VOID,     VT_HRESULT, VT_LPSTR, VT_LPWSTR, 15,
};

// Builds random argument lists whose by-reference pointers are null or point
// into the slots.
class ArgumentMaker {
  public:
    ArgumentMaker(std::mt19937& rng, BstrPool& strings, IDispatch* object, SAFEARRAY* array)
        : rng_(rng), strings_(strings), object_(object), array_(array) {}

    void Reset() {
        used_ = 0;
        std::memset(slots_.data(), kSentinel, sizeof(Slot) * slots_.size());
    }

    // Fills `v` with a random type and value; `depth` limits nesting.
    void Fill(VARIANT& v, int depth) {
        std::memset(&v, 0, sizeof(v));
        VARTYPE base = kBaseTypes[rng_() % (sizeof(kBaseTypes) / sizeof(kBaseTypes[0]))];
        if (rng_() % 40 == 0)
            base = static_cast<VARTYPE>(rng_() % 0x1000);  // a type that does not exist
        const unsigned shape = rng_() % 100;
        if (shape < 55) {
            FillByValue(v, base);
        } else if (shape < 93) {
            FillByReference(v, base, depth);
        } else if (shape < 97) {
            v.vt = static_cast<VARTYPE>(VT_ARRAY |
                                        (base == VT_VARIANT ? static_cast<VARTYPE>(VT_I4) : base));
            v.parray = rng_() % 2 ? array_ : nullptr;
        } else {
            v.vt = static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | VT_I4);
            SAFEARRAY** target = static_cast<SAFEARRAY**>(Target());
            if (target != nullptr)
                *target = rng_() % 2 ? array_ : nullptr;
            v.pparray = target;
        }
        if (rng_() % 200 == 0)
            v.vt = static_cast<VARTYPE>(v.vt | (rng_() % 2 ? VT_VECTOR : VT_RESERVED));
    }

    // An argument of the type the browser puts at that position, with a
    // random value (and now and then a null pointer).
    void FillTyped(VARIANT& v, VARTYPE type) {
        std::memset(&v, 0, sizeof(v));
        if (type & VT_BYREF)
            FillByReference(v, static_cast<VARTYPE>(type & ~VT_BYREF), 0);
        else
            FillByValue(v, type);
    }

    // Snapshot of every slot, taken once the arguments are complete.
    void Snapshot() { expected_ = slots_; }

    // Compares the slots with the snapshot. A slot in `cancelSlots` may hold
    // 0 or 1 in its first two payload bytes; anything else is a fault.
    // Answers how many Cancel flags were written.
    int Check(const std::vector<const void*>& cancelSlots, const char* what, int round) {
        int written = 0;
        for (size_t i = 0; i < used_; ++i) {
            Slot& now = slots_[i];
            const Slot& was = expected_[i];
            bool cancelSlot = false;
            for (const void* p : cancelSlots)
                cancelSlot = cancelSlot || p == now.Payload();
            if (cancelSlot && std::memcmp(now.bytes, was.bytes, sizeof(now.bytes)) != 0) {
                VARIANT_BOOL value;
                std::memcpy(&value, now.Payload(), sizeof(value));
                const bool restIntact =
                    std::memcmp(now.bytes, was.bytes, kGuard) == 0 &&
                    std::memcmp(now.bytes + kGuard + sizeof(value),
                                was.bytes + kGuard + sizeof(value),
                                sizeof(now.bytes) - kGuard - sizeof(value)) == 0;
                EXPECT_TRUE(restIntact && (value == 0 || value == 1))
                    << what << " round " << round << ": Cancel written as " << value;
                ++written;
                cancelsSet_ += value == 1;
                continue;
            }
            EXPECT_EQ(0, std::memcmp(now.bytes, was.bytes, sizeof(now.bytes)))
                << what << " round " << round << ": by-reference target " << i
                << " was written through";
        }
        return written;
    }
    // How many Cancel flags were written as 1 over the run.
    int CancelsSet() const { return cancelsSet_; }

  private:
    void* Target() {
        if (rng_() % 5 == 0 || used_ == slots_.size())
            return nullptr;  // a null by-reference pointer
        return slots_[used_++].Payload();
    }

    void FillByValue(VARIANT& v, VARTYPE base) {
        v.vt = base;
        switch (base) {
            case VT_BSTR:
                v.bstrVal = strings_.Pick(rng_);
                break;
            case VT_DISPATCH:
            case VT_UNKNOWN:
                v.pdispVal = rng_() % 2 ? object_ : nullptr;
                break;
            case VT_DECIMAL:
                v.decVal.scale = static_cast<BYTE>(rng_());
                v.decVal.sign = static_cast<BYTE>(rng_());
                v.decVal.Hi32 = rng_();
                v.decVal.Lo64 = (static_cast<ULONGLONG>(rng_()) << 32) | rng_();
                v.vt = VT_DECIMAL;  // DECIMAL's reserved word is the type
                break;
            case VT_VARIANT:
            case VT_LPSTR:
            case VT_LPWSTR:
                break;  // not a by-value type; no pointer to follow
            default:
                v.llVal = (static_cast<LONGLONG>(rng_()) << 32) | rng_();
                break;
        }
    }

    void FillByReference(VARIANT& v, VARTYPE base, int depth) {
        if (base == VT_VARIANT && depth >= 2)
            base = VT_I4;
        v.vt = static_cast<VARTYPE>(VT_BYREF | base);
        void* target = Target();
        v.byref = target;
        if (target == nullptr)
            return;
        switch (base) {
            case VT_BSTR: {
                BSTR s = strings_.Pick(rng_);
                std::memcpy(target, &s, sizeof(s));
                break;
            }
            case VT_DISPATCH:
            case VT_UNKNOWN: {
                IDispatch* object = rng_() % 2 ? object_ : nullptr;
                std::memcpy(target, &object, sizeof(object));
                break;
            }
            case VT_VARIANT:
                Fill(*static_cast<VARIANT*>(target), depth + 1);
                break;
            case VT_LPSTR:
            case VT_LPWSTR:
                std::memset(target, 0, sizeof(void*));
                break;
            default:
                break;  // plain bits: the sentinel is a value like any other
        }
    }

    std::mt19937& rng_;
    BstrPool& strings_;
    IDispatch* object_;
    SAFEARRAY* array_;
    std::array<Slot, 64> slots_;
    std::array<Slot, 64> expected_;
    int cancelsSet_ = 0;
    size_t used_ = 0;
};

DISPID PickDispId(std::mt19937& rng) {
    const unsigned r = rng() % 100;
    if (r < 25)
        return DISPID_BEFORENAVIGATE2;
    if (r < 40)
        return DISPID_NEWWINDOW2;
    if (r < 65)
        return DISPID_NEWWINDOW3;
    if (r < 70)
        return DISPID_QUIT;
    if (r < 75)
        return DISPID_ONQUIT;
    const DISPID others[] = {DISPID_DOCUMENTCOMPLETE, DISPID_NAVIGATECOMPLETE2, 0, -1,
                             DISPID_STATUSTEXTCHANGE};
    if (r < 95)
        return others[rng() % 5];
    return static_cast<DISPID>(rng());
}

// The positions where the browser puts the Cancel flag of an event, and
// thus the only by-reference targets an event may write.
std::vector<const void*> CancelTargets(DISPID id, const DISPPARAMS* params) {
    std::vector<const void*> targets;
    if (params == nullptr || params->rgvarg == nullptr)
        return targets;
    auto add = [&](UINT index) {
        if (index < params->cArgs && params->rgvarg[index].vt == (VT_BYREF | VT_BOOL))
            targets.push_back(params->rgvarg[index].pboolVal);
    };
    if (id == DISPID_BEFORENAVIGATE2 && params->cArgs >= 6)
        add(0);
    if (id == DISPID_NEWWINDOW2)
        add(0);
    if (id == DISPID_NEWWINDOW3 && params->cArgs == 5)
        add(3);
    return targets;
}

// The browser's argument types, rgvarg[0] first.
struct EventShape {
    DISPID id;
    std::vector<VARTYPE> types;
};
const EventShape kEventShapes[] = {
    {DISPID_BEFORENAVIGATE2,
     {VT_BYREF | VT_BOOL, VT_BYREF | VT_VARIANT, VT_BYREF | VT_VARIANT, VT_BYREF | VT_VARIANT,
      VT_BYREF | VT_VARIANT, VT_BYREF | VT_VARIANT, VT_DISPATCH}},
    {DISPID_NEWWINDOW2, {VT_BYREF | VT_BOOL, VT_BYREF | VT_DISPATCH}},
    {DISPID_NEWWINDOW3, {VT_BSTR, VT_BSTR, VT_UI4, VT_BYREF | VT_BOOL, VT_BYREF | VT_DISPATCH}},
};

const IID* const kQueriedInterfaces[] = {
    &IID_IUnknown,     &IID_IDispatch,           &IID_ObjectWithSite,
    &IID_ObjectSafety, &IID_IWebCorvaneIEHelper, &IID_WebBrowser2,
    &IID_IClassFactory};

TEST(HostileEvents, InvokeSurvivesRandomArgumentsAndWritesOnlyCancel) {
    constexpr int kEvents = 20000;
    ComApartment com;
    AgentSession agent;
    RunningAgent runningAgent;  // hand-offs meet an agent that is up
    ASSERT_TRUE(runningAgent.Running());
    SetInterceptState();
    const LONG liveBefore = liveObjectCount;

    // Two helpers: one never sited, one sited on a browser whose events it
    // receives (Quit disconnects it).
    ComPtr<FakeBrowser> browser = MakeFake<FakeBrowser>(L"about:page");
    browser->hasConnectionPoints = true;
    ComPtr<FakeSite> site = MakeFake<FakeSite>(browser->AsBrowser());
    WebCorvaneIEHelper* helpers[2] = {new WebCorvaneIEHelper(), new WebCorvaneIEHelper()};
    ASSERT_EQ(S_OK, helpers[1]->SetSite(site.Get()));
    const LONG refsBefore[2] = {ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helpers[0])),
                                ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helpers[1]))};

    ComPtr<FakeBrowser> argumentObject = MakeFake<FakeBrowser>(L"about:other");
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
    ASSERT_NE(nullptr, array);

    std::mt19937 rng(20261208u);
    BstrPool strings;
    ArgumentMaker maker(rng, strings, argumentObject->AsBrowser(), array);
    std::vector<VARIANT> args(10);
    std::vector<VARIANT> argsBefore(10);
    int cancelWrites = 0, nullParams = 0, byRefArgs = 0;
    int perDispId[3] = {};

    for (int round = 0; round < kEvents; ++round) {
        maker.Reset();
        const DISPID id = PickDispId(rng);
        UINT count = rng() % 11;
        for (UINT i = 0; i < count; ++i)
            maker.Fill(args[i], 0);
        // Most navigation events come close to the browser's own shape, so
        // that the handlers get past their first tests; some positions keep
        // a random argument.
        const std::vector<VARTYPE>* shape = nullptr;
        for (const EventShape& known : kEventShapes) {
            if (known.id == id && rng() % 10 < 7)
                shape = &known.types;
        }
        if (shape != nullptr) {
            count = static_cast<UINT>(shape->size());
            if (rng() % 10 == 0)
                count += rng() % 3;  // more arguments than the event has
            for (UINT i = 0; i < count; ++i) {
                if (i < shape->size() && rng() % 8 != 0)
                    maker.FillTyped(args[i], (*shape)[i]);
                else
                    maker.Fill(args[i], 0);
            }
        }
        for (UINT i = 0; i < count; ++i)
            byRefArgs += (args[i].vt & VT_BYREF) != 0;
        DISPPARAMS params = {args.data(), nullptr, count, 0};
        if (rng() % 20 == 0)
            params.rgvarg = nullptr;
        DISPPARAMS* passed = &params;
        if (rng() % 50 == 0) {
            passed = nullptr;
            ++nullParams;
        }
        maker.Snapshot();
        argsBefore = args;
        VARIANT result;
        std::memset(&result, kSentinel, sizeof(result));
        const VARIANT resultBefore = result;

        // The agent takes some URLs and refuses others.
        if (round % 1000 == 0)
            agent.SetAnswer(round % 2000 == 0 ? L"1" : L"0");
        WebCorvaneIEHelper* helper = helpers[round % 2];
        const HRESULT hr =
            helper->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, passed, &result, nullptr, nullptr);
        EXPECT_EQ(S_OK, hr) << "round " << round << " dispid " << id;

        cancelWrites += maker.Check(CancelTargets(id, passed), "Invoke", round);
        EXPECT_EQ(0, std::memcmp(args.data(), argsBefore.data(), sizeof(VARIANT) * count))
            << "round " << round << ": the browser's own arguments changed";
        EXPECT_EQ(0, std::memcmp(&result, &resultBefore, sizeof(result))) << "round " << round;
        if (id == DISPID_BEFORENAVIGATE2)
            ++perDispId[0];
        if (id == DISPID_NEWWINDOW2)
            ++perDispId[1];
        if (id == DISPID_NEWWINDOW3)
            ++perDispId[2];

        // Interfaces asked for and given back now and then.
        if (rng() % 8 == 0) {
            IUnknown* asked = nullptr;
            const IID& iid = *kQueriedInterfaces[rng() % 7];
            if (SUCCEEDED(helper->QueryInterface(iid, reinterpret_cast<void**>(&asked))))
                asked->Release();
        }
        if (::testing::Test::HasFailure())
            break;  // one fault is enough; its round is in the message
    }

    EXPECT_TRUE(strings.Intact());
    EXPECT_EQ(refsBefore[0], ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helpers[0])));
    // The sited helper loses only the connection's reference, at its first Quit.
    const LONG connectionRefs = browser->Events().connections.empty() ? 1 : 0;
    EXPECT_EQ(refsBefore[1] - connectionRefs,
              ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helpers[1])));
    EXPECT_GT(cancelWrites, 0);  // the run did reach the handlers' last step
    EXPECT_EQ(1u, argumentObject->RefCount());
    // Cancel is 1 exactly for the URLs the agent took.
    const std::vector<AgentRecord> records = agent.Records();
    const auto taken = std::count_if(records.begin(), records.end(),
                                     [](const AgentRecord& r) { return r.answer == L"1"; });
    EXPECT_GT(taken, 0);
    EXPECT_EQ(taken, maker.CancelsSet());

    std::printf(
        "[ hostile  ] %d events (BeforeNavigate2 %d, NewWindow2 %d, NewWindow3 %d), "
        "%d by-reference arguments, %d null argument lists, %d Cancel writes, "
        "%zu agent calls, %d taken\n",
        kEvents, perDispId[0], perDispId[1], perDispId[2], byRefArgs, nullParams, cancelWrites,
        records.size(), maker.CancelsSet());

    // Disconnect for good, then everything goes.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    helpers[1]->Invoke(DISPID_QUIT, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_EQ(1, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helpers[1])));
    static_cast<IWebCorvaneIEHelper*>(helpers[0])->Release();
    static_cast<IWebCorvaneIEHelper*>(helpers[1])->Release();
    EXPECT_EQ(liveBefore, liveObjectCount);
    site.Reset();
    EXPECT_EQ(1u, browser->RefCount());
    SafeArrayDestroy(array);
}

// A URL argument that refers, directly or through a VARIANT by reference, to
// nothing: the system's conversion would follow the null pointer.
TEST(HostileEvents, UrlArgumentWithANullReferenceIsIgnored) {
    const VARTYPE nullTypes[] = {VT_BYREF | VT_BSTR, VT_BYREF | VT_I4, VT_BYREF | VT_VARIANT,
                                 VT_BYREF | VT_DECIMAL};
    WebCorvaneIEHelper* helper = new WebCorvaneIEHelper();
    for (int chained = 0; chained < 2; ++chained) {
        for (VARTYPE type : nullTypes) {
            interceptState.Apply([](InterceptState& s) { s = {"p", "n", "w2", "w3"}; });
            VARIANT end;
            end.vt = type;
            end.byref = nullptr;
            VARIANT link;
            link.vt = VT_BYREF | VT_VARIANT;
            link.pvarVal = &end;
            VARIANT_BOOL cancel = 7;
            VARIANT args[7];
            for (VARIANT& a : args)
                VariantInit(&a);
            args[0].vt = VT_BYREF | VT_BOOL;
            args[0].pboolVal = &cancel;
            args[5].vt = VT_BYREF | VT_VARIANT;
            args[5].pvarVal = chained ? &link : &end;
            DISPPARAMS params = {args, nullptr, 7, 0};
            EXPECT_EQ(S_OK, helper->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD,
                                           &params, nullptr, nullptr, nullptr));
            EXPECT_EQ(7, cancel) << type;
            EXPECT_EQ("n", interceptState.Apply([](InterceptState& s) { return s.navigateUrl; }));
        }
    }
    static_cast<IWebCorvaneIEHelper*>(helper)->Release();
}

// Download only reads its moniker where Windows reports a version below 6:
// these cases run in a copy of this executable that Wine reports as XP.
TEST(HostileDownloads, RandomMonikersAndArgumentsOnXp) {
    if (!RunsAsCopy())
        GTEST_SKIP() << "runs in the copy that reports Windows XP";
    constexpr int kRequests = 2000;
    // No request may hold the browser's thread for long; an agent that is
    // already running answers within milliseconds.
    constexpr DWORD kLongestRequestMs = 5000;
    ComApartment com;
    AgentSession agent;
    RunningAgent runningAgent;
    ASSERT_TRUE(runningAgent.Running());
    const LONG liveBefore = liveObjectCount;

    std::mt19937 rng(20261209u);
    std::wstring huge = L"gopher://host/";
    huge.append(1024 * 1024, L'b');
    huge += L".zip";
    struct Name {
        std::wstring text;
        bool policyTakes;  // with the default settings
    };
    const Name names[] = {
        {L"", false},
        {L"gopher://host/a.zip", false},
        {L"about:blank", false},
        {L"gopher://host/q?.zip", false},
        {L"gopher://host/\xD800.zip", false},
        {L"\xDFFF", false},
        {L"mailto:x@host", false},
        {L"file:///c:/a.zip", false},
        {huge, false},
        {L"http://127.0.0.1:1/refused.zip", true},
        {L"http://host/?.zip", true},
        {L"FTP://host/\xD800/SETUP.EXE", true},
    };
    const wchar_t* headers[] = {nullptr, L"", L"Accept: */*\r\n", L"\xD800\xD800", huge.c_str()};
    const FakeMoniker::Mode modes[] = {FakeMoniker::kName, FakeMoniker::kName, FakeMoniker::kFail,
                                       FakeMoniker::kFalseWithName, FakeMoniker::kOkWithoutName};
    ComPtr<IBindCtx> bindContext;
    ASSERT_EQ(S_OK, CreateBindCtx(0, bindContext.Receive()));
    bindContext->AddRef();
    const ULONG bindRefs = bindContext->Release();

    VDownloadManager* manager = new VDownloadManager();
    int answers[2] = {};  // S_OK, E_NOTIMPL
    int faultsTried = 0;
    int offered = 0;
    int taken = 0;
    DWORD longestMs = 0;
    std::wstring agentAnswer;
    for (int round = 0; round < kRequests; ++round) {
        // Huge names are rare, and so are names the agent is asked about.
        size_t nameIndex = rng() % 8;
        if (rng() % 64 == 0)
            nameIndex = 8;
        if (rng() % 8 == 0)
            nameIndex = 9 + rng() % 3;
        const Name& name = names[nameIndex];
        // Sometimes an earlier navigation or window took this URL already.
        InterceptState before;
        const std::string narrow = WideToUtf8(name.text.c_str());
        switch (rng() % 4) {
            case 0:
                before.navigateUrl = narrow;
                break;
            case 1:
                before.newWindowUrl = narrow;
                break;
            default:
                break;
        }
        SetInterceptState(before);
        const size_t modeIndex = rng() % 5;
        FakeMoniker moniker(modes[modeIndex], name.text);
        const bool noMoniker = rng() % 20 == 0;
        IBindCtx* pbc = rng() % 2 ? bindContext.Get() : nullptr;
        const wchar_t* header = headers[rng() % 5];
        const std::wstring answer = rng() % 2 ? L"1" : L"0";
        // Mostly GET, which alone the agent can repeat; now and then any verb.
        const DWORD verb = rng() % 4 == 0 ? static_cast<DWORD>(rng()) : DWORD{BINDVERB_GET};
        if (answer != agentAnswer) {
            agent.SetAnswer(answer);
            agentAnswer = answer;
        }
        // What the request must come to: the agent is asked only about a name
        // the moniker gave, that no earlier event took, that the policy takes,
        // asked for by GET, with something to bind with.
        const bool nameGiven = !noMoniker && modes[modeIndex] == FakeMoniker::kName;
        const bool asksAgent = nameGiven && !DownloadRequestTransition(before, narrow).decline &&
                               (header != nullptr || pbc != nullptr) && name.policyTakes &&
                               verb == BINDVERB_GET;
        // A BINDINFO the browser owns, with guard bytes around it.
        unsigned char bindInfo[kGuard + sizeof(BINDINFO) + kGuard];
        std::memset(bindInfo, kSentinel, sizeof(bindInfo));
        unsigned char bindInfoBefore[sizeof(bindInfo)];
        std::memcpy(bindInfoBefore, bindInfo, sizeof(bindInfo));
        const DWORD startTick = GetTickCount();
        const HRESULT hr =
            manager->Download(noMoniker ? nullptr : &moniker, pbc, verb, static_cast<LONG>(rng()),
                              rng() % 2 ? reinterpret_cast<BINDINFO*>(bindInfo + kGuard) : nullptr,
                              header, rng() % 2 ? names[rng() % 8].text.c_str() : nullptr, rng());
        const DWORD tookMs = GetTickCount() - startTick;
        longestMs = std::max(longestMs, tookMs);
        faultsTried += noMoniker || modeIndex >= 2 || !name.policyTakes;
        offered += asksAgent;
        taken += asksAgent && answer == L"1";
        const HRESULT expected = asksAgent && answer == L"1" ? S_OK : E_NOTIMPL;
        EXPECT_EQ(expected, hr) << "round " << round;
        answers[hr == S_OK ? 0 : 1]++;
        EXPECT_LT(tookMs, kLongestRequestMs) << "round " << round;
        EXPECT_EQ(1, moniker.refs) << "round " << round;
        EXPECT_LE(moniker.displayNameCalls, 1) << "round " << round;
        EXPECT_EQ(0, std::memcmp(bindInfo, bindInfoBefore, sizeof(bindInfo)))
            << "round " << round << ": BINDINFO was written";
        if (::testing::Test::HasFailure())
            break;
    }
    bindContext->AddRef();
    EXPECT_EQ(bindRefs, bindContext->Release());
    EXPECT_EQ(1, ReferencesOf(manager));
    manager->Release();
    EXPECT_EQ(liveBefore, liveObjectCount);
    EXPECT_GT(taken, 0);  // the run did reach the hand-off
    EXPECT_EQ(static_cast<size_t>(offered), agent.Records().size());
    std::printf(
        "[ hostile  ] %d download requests (%d hostile): %d offered to the agent, %d taken, "
        "%d declined; longest request %lu ms\n",
        kRequests, faultsTried, offered, answers[0], answers[1],
        static_cast<unsigned long>(longestMs));
}

}  // namespace
