// A second point-of-sale process: opens the logical device named on the
// command line through the control object and exits with ClaimDevice's result.
#include <cstdio>
#include <cstdlib>

#include "PosClient.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    norvik::win32::CoInitializeScope com(COINIT_APARTMENTTHREADED);
    norvik::pos::MsrControl msr;
    if (!msr.Create()) return 3;
    const long opened = msr.Open(argv[1]);
    if (opened != 0) {
        std::printf("Open %ld\n", opened);
        return 4;
    }
    const long claimed = msr.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {norvik::pos::MsrControl::Long(0)});
    msr.Method(DISPID_NORVIKMSR_CLOSE);
    return static_cast<int>(claimed);
}
