// A second program that holds the claim on a logical device while a test
// runs: opens and claims the name given on its command line through the
// control object, signals "SwipeBenchTestClaimHeld" and keeps the claim until
// "SwipeBenchTestClaimRelease" is signalled (or 30 s pass). Its exit code is
// the claim's result.
#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "Msr1.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: swipebench_claim_holder <logical device name>\n");
        return 2;
    }
    HANDLE held = ::CreateEventA(nullptr, TRUE, FALSE, "SwipeBenchTestClaimHeld");
    HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, "SwipeBenchTestClaimRelease");
    if (!held || !release || FAILED(::OleInitialize(nullptr))) return 3;
    long result = 3;
    {
        swipebench::CMsr1 msr;
        if (SUCCEEDED(msr.Create(nullptr, nullptr)) && msr.Open(argv[1]) == 0) {
            result = msr.ClaimDevice(1000);
            ::SetEvent(held);
            ::WaitForSingleObject(release, 30000);
        }
    }  // releasing the control closes the device and frees the claim
    ::OleUninitialize();
    ::CloseHandle(held);
    ::CloseHandle(release);
    return static_cast<int>(result);
}
