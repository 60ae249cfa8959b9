// The server's entry points, class factory and module lifetime, and the COM
// identity of an instance, aggregated or not.
#include "ComTestSupport.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"

namespace norvik::com::testing {
namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));

using FactoryTest = ComTest;

TEST_F(FactoryTest, ClassObjectOnlyForTheServiceObjectClass) {
    for (const CLSID* other : {&CLSID_NULL, &IID_INorvikMSRSOImpl, &LIBID_NorvikMSRSOLib}) {
        void* object = kSentinel;
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, server_.GetClassObject(*other, IID_IClassFactory, &object));
        EXPECT_EQ(nullptr, object);
    }
    void* object = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory, nullptr));

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                           factory.put_void()));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    object = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IPersist, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0u, factory.detach()->Release());
}

TEST_F(FactoryTest, CanUnloadOnlyWithoutObjectsAndServerLocks) {
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                           factory.put_void()));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());  // a client may call the class object at any time

    ComPtr<IUnknown> first, second;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, first.put_void()));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, second.put_void()));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(0u, first.detach()->Release());
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(0u, second.detach()->Release());
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(0u, factory.detach()->Release());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
}

TEST_F(FactoryTest, AnEnumeratorOutlivingItsObjectPinsTheServer) {
    ComPtr<INorvikMSRSOImpl> object = CreateServiceObject();
    ASSERT_TRUE(object);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, object.As(&container));
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.put()));
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(S_OK, points->Next(1, &point, nullptr));
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.put()));
    point->Release();
    points.reset();
    container.reset();
    EXPECT_EQ(0u, object.detach()->Release());
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());  // the connections' enumerator holds no object
    connections.reset();
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
}

TEST_F(FactoryTest, AnOpenReaderPinsTheServer) {
    VorlexSimEnable(1);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);
    ASSERT_EQ(0, VorlexOpenDevice(""));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());  // its read thread runs in Vorlex.dll
    VorlexCloseDevice();
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
    VorlexSimReset();
    VorlexSimEnable(0);
}

TEST_F(FactoryTest, InstanceAnswersItsInterfacesWithOneIdentity) {
    ComPtr<INorvikMSRSOImpl> object = CreateServiceObject();
    ASSERT_TRUE(object);
    ComPtr<IUnknown> unknown, fromContainer;
    ComPtr<IDispatch> dispatch;
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, object.As(&unknown));
    ASSERT_EQ(S_OK, object.As(&dispatch));
    ASSERT_EQ(S_OK, object.As(&container));
    ASSERT_EQ(S_OK, container.As(&fromContainer));
    EXPECT_EQ(unknown.get(), fromContainer.get());
    EXPECT_EQ(static_cast<IDispatch*>(object.get()), dispatch.get());  // the dual interface

    for (const IID* other : {&IID_IPersist, &IID_IConnectionPoint, &DIID__INorvikMSRSOImplEvents,
                             &IID_IProvideClassInfo, &IID_IMarshal}) {
        void* result = kSentinel;
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*other, &result));
        EXPECT_EQ(nullptr, result);
    }
    fromContainer.reset();
    container.reset();
    dispatch.reset();
    unknown.reset();
    EXPECT_EQ(0u, object.detach()->Release());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
}

// An outer object that hands the service object's interfaces out of its inner unknown.
class FakeOuter final : public IUnknown {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IPersist) {  // IPersist: the outer's own
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST_F(FactoryTest, AggregatedInstanceDelegatesToItsOuterObject) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                           factory.put_void()));
    FakeOuter outer;
    for (const IID* refused : {&IID_IDispatch, &IID_INorvikMSRSOImpl}) {
        void* result = kSentinel;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, *refused, &result));
        EXPECT_EQ(nullptr, result);
    }
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown,
                                            reinterpret_cast<void**>(&outer.inner)));
    EXPECT_EQ(1u, outer.refs) << "the inner object must not hold its outer object";

    ComPtr<INorvikMSRSOImpl> object;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_INorvikMSRSOImpl, object.put_void()));
    ComPtr<IUnknown> identity, outerOnly;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IUnknown, identity.put_void()));
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IPersist, outerOnly.put_void()));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.get());
    EXPECT_EQ(static_cast<IUnknown*>(&outer), outerOnly.get());
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, object.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__INorvikMSRSOImplEvents, point.put()));
    EXPECT_EQ(6u, outer.refs);  // every reference above counts on the outer object

    point.reset();
    container.reset();
    outerOnly.reset();
    identity.reset();
    object.reset();
    EXPECT_EQ(1u, outer.refs);
    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(0u, factory.detach()->Release());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
}

// Through the vtable a missing out-pointer is refused, not written through.
TEST_F(FactoryTest, VtableCallsRefuseMissingPointers) {
    ComPtr<INorvikMSRSOImpl> object = CreateServiceObject();
    ASSERT_TRUE(object);
    long rc = 0;
    BSTR text = nullptr;
    EXPECT_EQ(E_POINTER, object->GetPropertyNumber(6, nullptr));
    EXPECT_EQ(E_POINTER, object->GetPropertyString(1000001, nullptr));
    EXPECT_EQ(E_POINTER, object->ClaimDevice(0, nullptr));
    EXPECT_EQ(E_POINTER, object->DirectIO(0, nullptr, &text, &rc));
    EXPECT_EQ(E_POINTER, object->DirectIO(0, &rc, nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->RetrieveStatistics(nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->CompareFirmwareVersion(nullptr, nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->RetrieveCardProperty(nullptr, nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->OpenService(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, object->GetTypeInfoCount(nullptr));
    ITypeInfo* info = static_cast<ITypeInfo*>(kSentinel);
    EXPECT_EQ(DISP_E_BADINDEX, object->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(0u, object.detach()->Release());
}

}  // namespace
}  // namespace norvik::com::testing
