// A client of the registered server, the way the OPOS control object reaches
// it: by ProgID through COM, then late-bound through IDispatch. The events
// connection point takes sinks but never calls them.
#include "ComTestSupport.h"

#include <thread>

namespace norvik::com::testing {
namespace {

class ClientTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(S_OK, server_.Register());
        CLSID clsid = {};
        ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"NorvikMSR.SO", &clsid));
        ASSERT_EQ(CLSID_NorvikMSRSOImpl, clsid);
        const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                              object_.put_void());
        ASSERT_EQ(S_OK, hr) << Hex(hr);
        ASSERT_EQ(S_OK, object_.As(&container_));
    }
    void TearDown() override {
        container_.reset();
        if (object_) {
            EXPECT_EQ(0u, object_.detach()->Release());
        }
        EXPECT_EQ(S_OK, server_.Unregister());
    }

    ComPtr<IConnectionPoint> EventsPoint() {
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(S_OK, container_->FindConnectionPoint(DIID__INorvikMSRSOImplEvents, point.put()));
        return point;
    }

    ComPtr<IDispatch> object_;
    ComPtr<IConnectionPointContainer> container_;
};

TEST_F(ClientTest, ProgIdAndClassIdNameEachOther) {
    LPOLESTR progId = nullptr;
    ASSERT_EQ(S_OK, ::ProgIDFromCLSID(CLSID_NorvikMSRSOImpl, &progId));
    EXPECT_STREQ(L"NorvikMSR.SO", progId);
    ::CoTaskMemFree(progId);
}

TEST_F(ClientTest, LateBoundCallByNameReachesTheServiceObject) {
    wchar_t method[] = L"GetPropertyNumber";
    LPOLESTR names[] = {method};
    DISPID dispid = 0;
    ASSERT_EQ(S_OK, object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid));
    EXPECT_EQ(2, dispid);

    VARIANTARG index;
    ::VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = 506;  // not a property: answered with 106
    DISPPARAMS params = {&index, nullptr, 1, 0};
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(S_OK, object_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(106, V_I4(&result));
}

TEST_F(ClientTest, CreatableFromAMultithreadedApartmentToo) {
    HRESULT hr = E_FAIL;
    LONG answer = 0;
    std::thread worker([&] {
        CoInitializeScope apartment(COINIT_MULTITHREADED);
        ComPtr<INorvikMSRSOImpl> object;
        hr = ::CoCreateInstance(CLSID_NorvikMSRSOImpl, nullptr, CLSCTX_INPROC_SERVER,
                                IID_INorvikMSRSOImpl, object.put_void());
        if (SUCCEEDED(hr)) hr = object->GetPropertyNumber(7016, &answer);
    });
    worker.join();
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    EXPECT_EQ(106, answer);
}

TEST_F(ClientTest, OneConnectionPointForTheEventsInterface) {
    ComPtr<IConnectionPoint> point = EventsPoint();
    ASSERT_TRUE(point);
    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_EQ(DIID__INorvikMSRSOImplEvents, iid);

    ComPtr<IConnectionPointContainer> owner;
    ASSERT_EQ(S_OK, point->GetConnectionPointContainer(owner.put()));
    ComPtr<IUnknown> ownerIdentity;
    ComPtr<IUnknown> objectIdentity;
    ASSERT_EQ(S_OK, owner.As(&ownerIdentity));
    ASSERT_EQ(S_OK, object_.As(&objectIdentity));
    EXPECT_EQ(objectIdentity.get(), ownerIdentity.get());

    IConnectionPoint* none = reinterpret_cast<IConnectionPoint*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container_->FindConnectionPoint(IID_IDispatch, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(CONNECT_E_NOCONNECTION,
              container_->FindConnectionPoint(IID_INorvikMSRSOImpl, &none));

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container_->EnumConnectionPoints(points.put()));
    IConnectionPoint* found[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, found, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point.get(), found[0]);
    found[0]->Release();
    EXPECT_EQ(S_OK, points->Reset());
    ComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(S_OK, points->Clone(clone.put()));
    EXPECT_EQ(S_OK, clone->Next(1, found, nullptr));
    found[0]->Release();
    EXPECT_EQ(S_FALSE, clone->Skip(1));
}

TEST_F(ClientTest, AdviseHoldsSinksUnderNonZeroCookiesAndNeverCallsThem) {
    ComPtr<IConnectionPoint> point = EventsPoint();
    ASSERT_TRUE(point);
    FakeSink first;
    FakeSink second;
    DWORD firstCookie = 0;
    DWORD secondCookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&first, &firstCookie));
    ASSERT_EQ(S_OK, point->Advise(&second, &secondCookie));
    EXPECT_NE(0u, firstCookie);
    EXPECT_NE(0u, secondCookie);
    EXPECT_NE(firstCookie, secondCookie);
    EXPECT_EQ(2u, first.refs());
    EXPECT_EQ(2u, second.refs());

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.put()));
    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, connections->Next(3, data, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(static_cast<IUnknown*>(&first), data[0].pUnk);
    EXPECT_EQ(firstCookie, data[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&second), data[1].pUnk);
    EXPECT_EQ(secondCookie, data[1].dwCookie);
    data[0].pUnk->Release();
    data[1].pUnk->Release();
    connections.reset();

    // A method call on the object raises nothing through the point.
    VARIANTARG index;
    ::VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = 4;
    DISPPARAMS params = {&index, nullptr, 1, 0};
    EXPECT_EQ(S_OK, object_->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                                    nullptr));

    EXPECT_EQ(S_OK, point->Unadvise(firstCookie));
    EXPECT_EQ(1u, first.refs());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(firstCookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));

    // Cookies are not handed out twice while the first holder is still advised.
    DWORD thirdCookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&first, &thirdCookie));
    EXPECT_NE(0u, thirdCookie);
    EXPECT_NE(secondCookie, thirdCookie);
    EXPECT_EQ(S_OK, point->Unadvise(thirdCookie));

    EXPECT_EQ(0, first.calls);
    EXPECT_EQ(0, second.calls);

    // The object lets go of a sink still advised when it is destroyed.
    point.reset();
    container_.reset();
    EXPECT_EQ(0u, object_.detach()->Release());
    EXPECT_EQ(1u, second.refs());
    EXPECT_EQ(1u, first.refs());
}

TEST_F(ClientTest, AdviseRefusesSinksWithoutTheEventsInterface) {
    ComPtr<IConnectionPoint> point = EventsPoint();
    ASSERT_TRUE(point);
    FakeSink stranger(false);
    DWORD cookie = 0xdeadbeef;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&stranger, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1u, stranger.refs());
    EXPECT_EQ(E_POINTER, point->Advise(nullptr, &cookie));
    EXPECT_EQ(E_POINTER, point->Advise(&stranger, nullptr));

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.put()));
    CONNECTDATA data = {};
    EXPECT_EQ(S_FALSE, connections->Next(1, &data, nullptr));
}

TEST_F(ClientTest, AConnectionPointKeepsItsObjectAlive) {
    ComPtr<IConnectionPoint> point = EventsPoint();
    ASSERT_TRUE(point);
    container_.reset();
    EXPECT_NE(0u, object_.detach()->Release());
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());

    FakeSink sink;
    DWORD cookie = 0;
    EXPECT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(0u, point.detach()->Release());
    EXPECT_EQ(1u, sink.refs());
}

}  // namespace
}  // namespace norvik::com::testing
