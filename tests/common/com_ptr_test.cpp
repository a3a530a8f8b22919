#include "common/com_ptr.h"
#include "common/guid_text.h"
#include "common/variant.h"

#include <gtest/gtest.h>

namespace {
// Counts its references and records the order of queries and releases.
class CountingObject : public IUnknown {
  public:
    explicit CountingObject(std::string* log = nullptr) : log_(log) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (log_ != nullptr)
            *log_ += "Q";
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override {
        if (log_ != nullptr)
            *log_ += "R";
        return --refs;
    }
    ULONG refs = 1;

  private:
    std::string* log_;
};
}  // namespace

TEST(ComPtr, QueryFromAsksBeforeReleasingTheOldPointer) {
    std::string log;
    CountingObject first(&log), second(&log);
    ComPtr<IUnknown> holder;
    ASSERT_EQ(S_OK, holder.QueryFrom(&first, IID_IUnknown));
    EXPECT_EQ(2u, first.refs);
    log.clear();
    ASSERT_EQ(S_OK, holder.QueryFrom(&second, IID_IUnknown));
    EXPECT_EQ("QR", log);  // the new one asked first, the old one released after
    EXPECT_EQ(1u, first.refs);
    EXPECT_EQ(2u, second.refs);
    holder.Reset();
    EXPECT_EQ(1u, second.refs);
}

TEST(ComPtr, QueryFromNullOrUnsupportedLeavesItEmpty) {
    CountingObject object;
    ComPtr<IUnknown> holder;
    holder.QueryFrom(&object, IID_IUnknown);
    EXPECT_TRUE(FAILED(holder.QueryFrom(nullptr, IID_IUnknown)));
    EXPECT_FALSE(holder);
    EXPECT_EQ(1u, object.refs);
    EXPECT_EQ(E_NOINTERFACE, holder.QueryFrom(&object, IID_IDispatch));
    EXPECT_FALSE(holder);
    EXPECT_EQ(1u, object.refs);
}

TEST(ComPtr, ReleasesOnDestructionAndMove) {
    CountingObject object;
    {
        ComPtr<IUnknown> holder;
        object.AddRef();
        holder.Attach(&object);
        ComPtr<IUnknown> moved(std::move(holder));
        EXPECT_FALSE(holder);
        EXPECT_EQ(2u, object.refs);
    }
    EXPECT_EQ(1u, object.refs);
}

TEST(Variant, ClearsItsStringOnDestruction) {
    Variant v;
    v.Get()->vt = VT_BSTR;
    v.Get()->bstrVal = SysAllocString(L"text");
    EXPECT_EQ(VT_BSTR, v.Type());
    v.Reset();
    EXPECT_EQ(VT_EMPTY, v.Type());
}

TEST(GuidText, IsTheUpperCaseRegistryForm) {
    const GUID guid = {
        0x00000AAA, 0xA363, 0x466E, {0xBE, 0xF5, 0x9B, 0xB6, 0x86, 0x97, 0xAA, 0x7F}};
    std::string text;
    ASSERT_TRUE(GuidToText(guid, text));
    EXPECT_EQ("{00000AAA-A363-466E-BEF5-9BB68697AA7F}", text);
    EXPECT_EQ(38u, text.size());
}
