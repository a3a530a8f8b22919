// The class objects as COM's clients see them.
#include "common/com_ptr.h"
#include "common/identifiers.h"
#include "common/module_state.h"

#include <downloadmgr.h>
#include <ocidl.h>

#include <gtest/gtest.h>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, LPVOID*);
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

namespace {

ComPtr<IClassFactory> ClassObject(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, DllGetClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()));
    return factory;
}

TEST(ClassFactory, UnknownClassIsNotAvailable) {
    const LONG before = liveObjectCount;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, liveObjectCount);
}

TEST(ClassFactory, UnsupportedInterfaceDestroysTheNewClassObject) {
    const LONG before = liveObjectCount;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CLSID_WebCorvaneIEHelper, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, liveObjectCount);
}

TEST(ClassFactory, EachCallGivesANewClassObjectThatKeepsTheLibraryLoaded) {
    ASSERT_EQ(S_OK, DllCanUnloadNow());
    for (const CLSID* clsid : {&CLSID_WebCorvaneIEHelper, &CLSID_VDownloadManager}) {
        ComPtr<IUnknown> first, second;
        ASSERT_EQ(S_OK, DllGetClassObject(*clsid, IID_IUnknown, first.ReceiveVoid()));
        ASSERT_EQ(S_OK, DllGetClassObject(*clsid, IID_IUnknown, second.ReceiveVoid()));
        EXPECT_NE(first.Get(), second.Get());
        EXPECT_EQ(2, liveObjectCount);
        EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    }
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST(ClassFactory, LockServerIsNotSupportedAndKeepsNothingLoaded) {
    ComPtr<IClassFactory> factory = ClassObject(CLSID_VDownloadManager);
    EXPECT_EQ(E_NOTIMPL, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST(ClassFactory, AggregationIsRefused) {
    ComPtr<IClassFactory> factory = ClassObject(CLSID_WebCorvaneIEHelper);
    const LONG before = liveObjectCount;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.Get(), IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, liveObjectCount);
}

TEST(ClassFactory, CreatesEachClassWithTheCallerHoldingTheOnlyReference) {
    struct Case {
        const CLSID* clsid;
        const IID* iid;
    } cases[] = {{&CLSID_WebCorvaneIEHelper, &IID_ObjectWithSite},
                 {&CLSID_WebCorvaneIEHelper, &IID_IDispatch},
                 {&CLSID_VDownloadManager, &IID_DownloadManagerInterface}};
    for (const Case& c : cases) {
        ComPtr<IClassFactory> factory = ClassObject(*c.clsid);
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, *c.iid, object.ReceiveVoid()));
        EXPECT_EQ(2, liveObjectCount);
        object->AddRef();
        EXPECT_EQ(1u, object->Release());  // the caller's is the only one
    }
    EXPECT_EQ(0, liveObjectCount);
}

TEST(ClassFactory, UnsupportedInterfaceOfTheNewObjectDestroysItAgain) {
    ComPtr<IClassFactory> factory = ClassObject(CLSID_VDownloadManager);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_ObjectWithSite, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1, liveObjectCount);  // the class object alone
}

}  // namespace
