// The helper object's identity: one object, one count behind three tables.
#include "browser/ie_helper.h"

#include "common/identifiers.h"
#include "common/module_state.h"
#include "tests/support/reference_count.h"

#include <gtest/gtest.h>

namespace {

WebCorvaneIEHelper* NewHelper() {
    return new WebCorvaneIEHelper();
}

TEST(IeHelperIdentity, EveryInterfaceAnswersTheSameTable) {
    WebCorvaneIEHelper* helper = NewHelper();
    IUnknown* primary = static_cast<IWebCorvaneIEHelper*>(helper);
    IUnknown* entries[] = {primary, static_cast<IObjectWithSite*>(helper),
                           static_cast<IObjectSafety*>(helper)};
    struct Expect {
        const IID* iid;
        IUnknown* pointer;
    } table[] = {
        {&IID_IUnknown, primary},
        {&IID_IDispatch, primary},
        {&IID_ObjectWithSite, static_cast<IObjectWithSite*>(helper)},
        {&IID_ObjectSafety, static_cast<IObjectSafety*>(helper)},
        {&IID_IWebCorvaneIEHelper, primary},
    };
    for (IUnknown* entry : entries) {
        for (const Expect& e : table) {
            void* out = nullptr;
            ASSERT_EQ(S_OK, entry->QueryInterface(*e.iid, &out));
            EXPECT_EQ(e.pointer, out);
            EXPECT_EQ(2, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helper)));
            static_cast<IUnknown*>(out)->Release();
        }
        // Identifiers outside the table, the event interface included.
        for (const IID* iid : {&DIID_WebBrowserEvents2, &IID_IClassFactory, &IID_WebBrowser2,
                               &IID_ConnectionPointContainer}) {
            void* out = reinterpret_cast<void*>(1);
            EXPECT_EQ(E_NOINTERFACE, entry->QueryInterface(*iid, &out));
            EXPECT_EQ(nullptr, out);
            EXPECT_EQ(1, ReferencesOf(static_cast<IWebCorvaneIEHelper*>(helper)));
        }
    }
    EXPECT_EQ(2u, entries[1]->AddRef());
    EXPECT_EQ(1u, entries[2]->Release());
    EXPECT_EQ(0u, primary->Release());
}

TEST(IeHelperIdentity, CountsInLiveObjectsWhileItLives) {
    const LONG before = liveObjectCount;
    WebCorvaneIEHelper* helper = NewHelper();
    EXPECT_EQ(before + 1, liveObjectCount);
    static_cast<IWebCorvaneIEHelper*>(helper)->Release();
    EXPECT_EQ(before, liveObjectCount);
}

TEST(IeHelperIdentity, UnsupportedOperationsAnswerWhatTheyClaim) {
    WebCorvaneIEHelper* helper = NewHelper();
    // No type information, no names and no safety: each answer is written.
    UINT count = 77;
    EXPECT_EQ(S_OK, helper->GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Navigate"), const_cast<LPOLESTR>(L"AddTask"),
                        const_cast<LPOLESTR>(L"")};
    DISPID ids[] = {250, 251, 273};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, helper->GetIDsOfNames(IID_NULL, names, 3, 0, ids));
    for (DISPID id : ids)
        EXPECT_EQ(DISPID_UNKNOWN, id);
    DWORD supported = 3, enabled = 4;
    EXPECT_EQ(S_OK, helper->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(0u, supported);
    EXPECT_EQ(0u, enabled);
    EXPECT_EQ(E_POINTER, helper->GetTypeInfoCount(nullptr));
    EXPECT_EQ(E_POINTER, helper->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr));
    EXPECT_EQ(E_POINTER, helper->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
    EXPECT_EQ(E_POINTER, helper->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr));

    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(E_FAIL, helper->GetTypeInfo(0, 0, &info));
    EXPECT_EQ(reinterpret_cast<ITypeInfo*>(1), info);
    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, helper->GetSite(IID_IUnknown, &site));
    EXPECT_EQ(reinterpret_cast<void*>(1), site);
    EXPECT_EQ(S_OK, helper->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1));
    EXPECT_EQ(E_FAIL, helper->SetSite(nullptr));
    // A site without a browser connects nothing and says so.
    IUnknown* notABrowser = static_cast<IObjectSafety*>(NewHelper());
    EXPECT_TRUE(FAILED(helper->SetSite(notABrowser)));
    EXPECT_EQ(1, ReferencesOf(notABrowser));  // nothing of it is kept
    notABrowser->Release();
    static_cast<IWebCorvaneIEHelper*>(helper)->Release();
}

}  // namespace
