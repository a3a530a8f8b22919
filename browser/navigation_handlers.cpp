// The three navigation events: read the event, ask the page, apply the
// intercept-state transition under its lock, and hand over outside it.
#include "browser/ie_helper.h"

#include "browser/shared_intercept_state.h"
#include "browser/page_inspection.h"
#include "common/boundary.h"
#include "common/string_conversion.h"
#include "common/variant.h"
#include "handoff/agent_client.h"
#include "handoff/handoff_policy.h"

namespace {

constexpr VARTYPE kByRefVariant = VT_BYREF | VT_VARIANT;
constexpr VARTYPE kByRefBool = VT_BYREF | VT_BOOL;

// The Cancel flag, when `arg` really is one: a VARIANT_BOOL by reference
// with somewhere to write. Anything else is never written through.
VARIANT_BOOL* CancelFlag(const VARIANT& arg) noexcept {
    return arg.vt == kByRefBool ? arg.pboolVal : nullptr;
}

// Whether `value`, or a VARIANT it refers to, is by reference with nowhere
// to refer to. The system's conversions follow such a pointer without a
// test, so a value like that is never handed to them.
bool HoldsNullReference(const VARIANT& value) noexcept {
    const VARIANT* v = &value;
    // A chain of VARIANTs by reference is not well-formed past the first
    // step; a few steps are followed before the value counts as unreadable.
    for (int step = 0; step < 4; ++step) {
        if ((v->vt & VT_BYREF) == 0)
            return false;
        if (v->byref == nullptr)
            return true;
        if ((v->vt & ~VT_BYREF) != VT_VARIANT)
            return false;
        v = v->pvarVal;
    }
    return true;
}

// Whether `bytes` holds at least one byte; a null array holds none, and
// one of another shape cannot be read as empty.
bool HoldsBytes(const SAFEARRAY* bytes) noexcept {
    if (bytes == nullptr)
        return false;
    LONG lower = 0, upper = -1;
    SAFEARRAY* array = const_cast<SAFEARRAY*>(bytes);
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return true;
    return upper >= lower;
}

// Whether BeforeNavigate2's PostData argument carries a body, or cannot be
// read as carrying none. A form posted with POST is a request the agent
// could only repeat as a GET, which asks the server for something else: it
// stays with the browser, which sends it as it should.
bool CarriesPostData(const VARIANT& arg) noexcept {
    const VARIANT* v = &arg;
    for (int step = 0; step < 4 && v->vt == kByRefVariant; ++step) {
        if (v->pvarVal == nullptr)
            return true;
        v = v->pvarVal;
    }
    switch (v->vt) {
        case VT_EMPTY:
        case VT_NULL:
            return false;
        case VT_ARRAY | VT_UI1:
            return HoldsBytes(v->parray);
        case VT_BYREF | VT_ARRAY | VT_UI1:
            return v->pparray == nullptr || HoldsBytes(*v->pparray);
        default:
            return true;
    }
}

// The event's URL argument in UTF-8. False when it cannot be read as a
// string; the browser's own argument is never changed.
bool ReadUrlArgument(const VARIANT& arg, std::string& url) {
    if (arg.pvarVal == nullptr || HoldsNullReference(*arg.pvarVal))
        return false;
    // The browser passes a string: it is read where it is. A copy changed to
    // a string would hold the same text, and under Wine the copy and the
    // change cost more than all the rest of a "?" navigation.
    if (arg.pvarVal->vt == VT_BSTR) {
        url = WideToUtf8(arg.pvarVal->bstrVal);
        return true;
    }
    Variant copy;
    if (FAILED(VariantCopy(copy.Get(), arg.pvarVal)))
        return false;
    if (FAILED(VariantChangeType(copy.Get(), copy.Get(), 0, VT_BSTR)))
        return false;
    url = WideToUtf8(copy.Get()->bstrVal);
    return true;
}

// The one effect on the browser, written once, with a 16-bit store, and only
// where the event gave a flag to write.
void WriteCancel(VARIANT_BOOL* cancel, bool accepted) noexcept {
    if (cancel != nullptr)
        *cancel = accepted ? 1 : 0;  // 1, not VARIANT_TRUE
}

// Asks the agent and writes the outcome. The policy decides first: the link
// text and the cookie are read only for a URL it takes, since an ordinary
// page would pay for a WinINet lookup and a walk of its document for nothing.
//
// While the offer waits, COM's modal loop dispatches calls and sent messages
// on this thread, and so may deliver another event here. That event's
// transition runs at once, in the order the events came, but it gets no offer
// of its own: the agent client answers it at once as busy, and it writes
// Cancel 0, so the browser handles that link itself. A second wait inside the
// first would hold this thread until both ended, up to twice the bound.
void HandOver(IWebBrowser2* browser, const std::string& url, const std::string& referrer,
              bool postData, VARIANT_BOOL* cancel) {
    bool accepted = false;
    if (!postData && PolicyAllows(url)) {
        AgentTask task;
        task.url = Utf8ToWide(url);
        task.comment = Utf8ToWide(GetFocusedLinkText(browser));
        task.referrer = Utf8ToWide(referrer);
        task.cookie = GetCookiesForUrl(task.url);
        accepted = OfferTaskToAgent(std::move(task)) == OfferOutcome::kTaken;
    }
    WriteCancel(cancel, accepted);
}

void Apply(const NavigationDecision& decision, IWebBrowser2* browser, const std::string& url,
           VARIANT_BOOL* cancel, bool postData = false) {
    switch (decision.action) {
        case NavigationDecision::kLeaveCancel:
            break;
        case NavigationDecision::kWriteZero:
            WriteCancel(cancel, false);
            break;
        case NavigationDecision::kAskAgent:
            HandOver(browser, url, decision.referrer, postData, cancel);
            break;
    }
}

// Reads an event's URL into `url`. When that fails (memory ran short) after
// the page was found, the page is still recorded, as it would be had the
// steps run one after another, and the event ends there.
template <typename ReadUrl>
bool ReadUrlRecordingPage(const std::string& page, ReadUrl&& readUrl, std::string& url) {
    if (GuardBoundary(false, [&] {
            url = readUrl();
            return true;
        })) {
        return true;
    }
    interceptState.Apply([&](InterceptState& s) { s.pageUrl = page; });
    return false;
}

}  // namespace

void WebCorvaneIEHelper::OnBeforeNavigate2(DISPPARAMS* params) {
    if (params == nullptr || params->rgvarg == nullptr || params->cArgs < 6)
        return;
    VARIANT_BOOL* cancel = CancelFlag(params->rgvarg[0]);
    if (cancel == nullptr || params->rgvarg[5].vt != kByRefVariant)
        return;

    // The event keeps the browser it began with, whatever SetSite does while
    // it waits for the agent.
    const ComPtr<IWebBrowser2> shown = ComPtr<IWebBrowser2>::Share(browser.Get());
    const std::string page = GetPageUrl(shown.Get());
    std::string url;
    if (!ReadUrlArgument(params->rgvarg[5], url))
        return;

    // PostData comes third from the end of the seven arguments.
    const bool postData = params->cArgs >= 7 && CarriesPostData(params->rgvarg[2]);

    const NavigationDecision decision = interceptState.Apply(
        [&](InterceptState& s) { return BeforeNavigate2Transition(s, page, url); });
    Apply(decision, shown.Get(), url, cancel, postData);
}

void WebCorvaneIEHelper::OnNewWindow2(DISPPARAMS* params) {
    if (params == nullptr || params->rgvarg == nullptr || params->cArgs < 1)
        return;
    VARIANT_BOOL* cancel = CancelFlag(params->rgvarg[0]);
    if (cancel == nullptr)
        return;

    const ComPtr<IWebBrowser2> shown = ComPtr<IWebBrowser2>::Share(browser.Get());
    const std::string page = GetPageUrl(shown.Get());
    std::string url;
    if (!ReadUrlRecordingPage(
            page, [&] { return GetFocusedLinkUrl(shown.Get()); }, url))
        return;

    const NavigationDecision decision =
        interceptState.Apply([&](InterceptState& s) { return NewWindow2Transition(s, page, url); });
    Apply(decision, shown.Get(), url, cancel);
}

void WebCorvaneIEHelper::OnNewWindow3(DISPPARAMS* params) {
    if (params == nullptr || params->rgvarg == nullptr || params->cArgs != 5)
        return;
    if (params->rgvarg[0].vt != VT_BSTR || params->rgvarg[1].vt != VT_BSTR)
        return;

    const std::string context = WideToUtf8(params->rgvarg[1].bstrVal);
    std::string url;
    if (!ReadUrlRecordingPage(
            context, [&] { return WideToUtf8(params->rgvarg[0].bstrVal); }, url)) {
        return;
    }
    VARIANT_BOOL* cancel = CancelFlag(params->rgvarg[3]);
    const ComPtr<IWebBrowser2> shown = ComPtr<IWebBrowser2>::Share(browser.Get());

    const NavigationDecision decision = interceptState.Apply([&](InterceptState& s) {
        return NewWindow3Transition(s, context, url, cancel != nullptr);
    });
    Apply(decision, shown.Get(), url, cancel);
}
