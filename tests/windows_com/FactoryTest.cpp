// The server's entry points, class factory, module lifetime and the COM
// identity of an instance, aggregated or not.
#include "ComTestSupport.h"

namespace norvik::com::testing {
namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));

using FactoryTest = ComTest;

TEST_F(FactoryTest, ClassObjectOnlyForTheServiceObjectClass) {
    void* object = kSentinel;
    HRESULT hr = server_.GetClassObject(CLSID_NULL, IID_IClassFactory, &object);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, hr) << Hex(hr);
    EXPECT_EQ(nullptr, object);

    object = kSentinel;
    hr = server_.GetClassObject(IID_INorvikMSRSOImpl, IID_IClassFactory, &object);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, hr) << Hex(hr);
    EXPECT_EQ(nullptr, object);

    object = kSentinel;
    hr = server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IDispatch, &object);
    EXPECT_EQ(E_NOINTERFACE, hr) << Hex(hr);
    EXPECT_EQ(nullptr, object);

    EXPECT_EQ(E_POINTER, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory, nullptr));

    ComPtr<IUnknown> factory;
    hr = server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IUnknown, factory.put_void());
    EXPECT_EQ(S_OK, hr) << Hex(hr);
    ComPtr<IClassFactory> asFactory;
    EXPECT_EQ(S_OK, factory.As(&asFactory));
    asFactory.reset();
    EXPECT_EQ(0u, factory.detach()->Release());
}

TEST_F(FactoryTest, CanUnloadOnlyWithoutInstancesAndServerLocks) {
    EXPECT_EQ(S_OK, server_.CanUnloadNow());

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                           factory.put_void()));
    // A class object alone does not pin the server; LockServer does.
    EXPECT_EQ(S_OK, server_.CanUnloadNow());

    ComPtr<IUnknown> instance;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, instance.put_void()));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    ComPtr<IUnknown> second;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, second.put_void()));
    EXPECT_EQ(0u, instance.detach()->Release());
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(0u, second.detach()->Release());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, server_.CanUnloadNow());

    EXPECT_EQ(0u, factory.detach()->Release());
}

TEST_F(FactoryTest, InstanceAnswersItsFourInterfacesWithOneIdentity) {
    ComPtr<INorvikMSRSOImpl> object = CreateServiceObject();
    ASSERT_TRUE(object);

    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch;
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, object.As(&unknown));
    ASSERT_EQ(S_OK, object.As(&dispatch));
    ASSERT_EQ(S_OK, object.As(&container));
    // IDispatch is the dual interface itself.
    EXPECT_EQ(static_cast<IUnknown*>(object.get()), static_cast<IUnknown*>(dispatch.get()));

    ComPtr<IUnknown> fromContainer;
    ASSERT_EQ(S_OK, container.As(&fromContainer));
    EXPECT_EQ(unknown.get(), fromContainer.get());

    for (const IID* other : {&IID_IPersist, &IID_IClassFactory, &IID_IConnectionPoint,
                             &DIID__INorvikMSRSOImplEvents, &IID_IProvideClassInfo}) {
        void* result = kSentinel;
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*other, &result));
        EXPECT_EQ(nullptr, result);
    }
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));

    fromContainer.reset();
    container.reset();
    dispatch.reset();
    unknown.reset();
    EXPECT_EQ(1u, RefCount(object.get()));
    EXPECT_EQ(0u, object.detach()->Release());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
}

// An outer object that forwards the service object's interfaces to its inner
// unknown, as an aggregating object does.
class FakeOuter final : public StackObject<IUnknown> {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IPersist) {  // the outer object's own, unknown to the inner one
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    IUnknown* inner = nullptr;
};

TEST_F(FactoryTest, AggregationHandsOutOnlyTheInnerUnknown) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                           factory.put_void()));
    FakeOuter outer;

    for (const IID* refused : {&IID_IDispatch, &IID_INorvikMSRSOImpl,
                               &IID_IConnectionPointContainer}) {
        void* result = kSentinel;
        const HRESULT hr = factory->CreateInstance(&outer, *refused, &result);
        EXPECT_EQ(CLASS_E_NOAGGREGATION, hr) << Hex(hr);
        EXPECT_EQ(nullptr, result);
    }
    EXPECT_EQ(1u, outer.refs());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());

    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown,
                                            reinterpret_cast<void**>(&outer.inner)));
    EXPECT_EQ(1u, outer.refs()) << "the inner object must not hold its outer object";

    // Interfaces of the inner object count their references on the outer one.
    ComPtr<INorvikMSRSOImpl> object;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_INorvikMSRSOImpl, object.put_void()));
    EXPECT_EQ(2u, outer.refs());
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IUnknown, identity.put_void()));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.get());
    ComPtr<IUnknown> outerOnly;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IPersist, outerOnly.put_void()));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), outerOnly.get());
    outerOnly.reset();
    identity.reset();

    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, object.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__INorvikMSRSOImplEvents, point.put()));
    EXPECT_EQ(4u, outer.refs());
    point.reset();
    container.reset();
    object.reset();
    EXPECT_EQ(1u, outer.refs());

    EXPECT_EQ(S_FALSE, server_.CanUnloadNow());
    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
    EXPECT_EQ(0u, factory.detach()->Release());
}

TEST_F(FactoryTest, CreateInstanceChecksItsOutPointer) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                           factory.put_void()));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    void* result = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IPersist, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(S_OK, server_.CanUnloadNow());
}

// Called through the vtable, a missing out-pointer is refused instead of
// written through; nothing else changes.
TEST_F(FactoryTest, VtableCallsRefuseMissingOutPointers) {
    ComPtr<INorvikMSRSOImpl> object = CreateServiceObject();
    ASSERT_TRUE(object);
    long rc = 0;
    BSTR text = nullptr;
    EXPECT_EQ(E_POINTER, object->GetPropertyNumber(6, nullptr));
    EXPECT_EQ(E_POINTER, object->GetPropertyString(1000001, nullptr));
    EXPECT_EQ(E_POINTER, object->CloseService(nullptr));
    EXPECT_EQ(E_POINTER, object->DirectIO(0, nullptr, &text, &rc));
    EXPECT_EQ(E_POINTER, object->DirectIO(0, &rc, nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->RetrieveStatistics(nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->CompareFirmwareVersion(nullptr, nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->RetrieveCardProperty(nullptr, nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->RetrieveDeviceAuthenticationData(nullptr, &rc));
    EXPECT_EQ(E_POINTER, object->OpenService(nullptr, nullptr, nullptr, nullptr));

    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, object.As(&container));
    EXPECT_EQ(E_POINTER, container->FindConnectionPoint(DIID__INorvikMSRSOImplEvents, nullptr));
    EXPECT_EQ(E_POINTER, container->EnumConnectionPoints(nullptr));

    UINT count = 7;
    EXPECT_EQ(E_POINTER, object->GetTypeInfoCount(nullptr));
    EXPECT_EQ(S_OK, object->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(kSentinel);
    EXPECT_EQ(DISP_E_BADINDEX, object->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(E_POINTER, object->GetTypeInfo(0, 0, nullptr));

    container.reset();
    EXPECT_EQ(0u, object.detach()->Release());
}

}  // namespace
}  // namespace norvik::com::testing
