// A client of the registered server, the way the OPOS control object reaches
// it: by ProgID through COM, then late-bound through IDispatch. The events
// connection point takes sinks but never calls them.
#include "ComTestSupport.h"

#include <thread>

namespace norvik::com::testing {
namespace {

// A sink for the events interface (or, when told so, only for IDispatch).
// Lives on the test's stack and counts its references and calls.
class FakeSink final : public IDispatch {
public:
    explicit FakeSink(bool speaksEvents = true) : speaksEvents_(speaksEvents) {}
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        const bool known = riid == IID_IUnknown || riid == IID_IDispatch ||
                           (speaksEvents_ && riid == DIID__INorvikMSRSOImplEvents);
        *ppv = known ? this : nullptr;
        if (!known) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }
    IFACEMETHODIMP GetTypeInfoCount(UINT*) override { return Called(); }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Called(); }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return Called();
    }
    IFACEMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                          UINT*) override {
        return Called();
    }
    ULONG refs = 1;
    int calls = 0;

private:
    HRESULT Called() {
        ++calls;
        return E_NOTIMPL;
    }
    bool speaksEvents_;
};

class ClientTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(S_OK, server_.Register());
        CLSID clsid = {};
        ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"NorvikMSR.SO", &clsid));
        ASSERT_EQ(CLSID_NorvikMSRSOImpl, clsid);
        ASSERT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                           object_.put_void()));
    }
    void TearDown() override {
        if (object_) {
            EXPECT_EQ(0u, object_.detach()->Release());
        }
        EXPECT_EQ(S_OK, server_.Unregister());
    }
    ComPtr<IDispatch> object_;
};

TEST_F(ClientTest, CreatedByProgIdAndCalledByName) {
    wchar_t method[] = L"GetPropertyNumber";
    LPOLESTR names[] = {method};
    DISPID dispid = 0;
    ASSERT_EQ(S_OK, object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid));
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(S_OK, InvokeMethod(object_.get(), dispid, {Long(506)}, &result));
    EXPECT_EQ(106, V_I4(&result));  // not a property

    // Threading model "Both": a multithreaded apartment gets the object too.
    HRESULT created = E_FAIL;
    std::thread([&] {
        CoInitializeScope apartment(COINIT_MULTITHREADED);
        ComPtr<INorvikMSRSOImpl> other;
        created = ::CoCreateInstance(CLSID_NorvikMSRSOImpl, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_INorvikMSRSOImpl, other.put_void());
    }).join();
    EXPECT_EQ(S_OK, created) << Hex(created);
}

TEST_F(ClientTest, OneConnectionPointHoldsSinksUnderNonZeroCookiesAndNeverCallsThem) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, object_.As(&container));
    IConnectionPoint* none = reinterpret_cast<IConnectionPoint*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, &none));
    EXPECT_EQ(nullptr, none);
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__INorvikMSRSOImplEvents, point.put()));
    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_EQ(DIID__INorvikMSRSOImplEvents, iid);
    ComPtr<IConnectionPointContainer> owner;
    ASSERT_EQ(S_OK, point->GetConnectionPointContainer(owner.put()));
    EXPECT_EQ(container.get(), owner.get());
    owner.reset();

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.put()));
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, listed, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point.get(), listed[0]);
    listed[0]->Release();
    points.reset();

    FakeSink first, second, stranger(false);
    DWORD cookies[3] = {};
    ASSERT_EQ(S_OK, point->Advise(&first, &cookies[0]));
    ASSERT_EQ(S_OK, point->Advise(&second, &cookies[1]));
    DWORD refused = 0xdeadbeef;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&stranger, &refused));
    EXPECT_EQ(0u, refused);
    EXPECT_EQ(1u, stranger.refs);
    EXPECT_NE(0u, cookies[0]);
    EXPECT_NE(0u, cookies[1]);
    EXPECT_NE(cookies[0], cookies[1]);
    EXPECT_EQ(2u, first.refs);

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.put()));
    CONNECTDATA data[3] = {};
    EXPECT_EQ(S_FALSE, connections->Next(3, data, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(static_cast<IUnknown*>(&first), data[0].pUnk);
    EXPECT_EQ(cookies[0], data[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&second), data[1].pUnk);
    EXPECT_EQ(cookies[1], data[1].dwCookie);
    data[0].pUnk->Release();
    data[1].pUnk->Release();
    connections.reset();

    EXPECT_EQ(S_OK, InvokeMethod(object_.get(), 2, {Long(4)}));  // raises nothing to sinks
    EXPECT_EQ(S_OK, point->Unadvise(cookies[0]));
    EXPECT_EQ(1u, first.refs);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookies[0]));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));
    ASSERT_EQ(S_OK, point->Advise(&first, &cookies[2]));
    EXPECT_NE(cookies[1], cookies[2]);  // never one still in use

    // A connection point keeps its object alive; the object lets its sinks go.
    container.reset();
    EXPECT_NE(0u, object_.detach()->Release());
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(0u, point.detach()->Release());
    EXPECT_EQ(1u, first.refs);
    EXPECT_EQ(1u, second.refs);
    EXPECT_EQ(0, first.calls + second.calls + stranger.calls);
}

}  // namespace
}  // namespace norvik::com::testing
