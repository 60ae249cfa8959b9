// Arbitrary command texts and modes through the feature-report packer. The
// text is copied into a buffer of its exact size so ASan sees any over-read.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/CommandCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t mode = data[0] % 3;                 // 0, 1 and "any other"
    const size_t featureLength = 3 + data[1] % 80;    // small reports reach the limit
    std::vector<char> command(data + 2, data + size);
    command.push_back('\0');
    std::vector<uint8_t> request(featureLength, 0);
    vorlex::ParseCommand(command.data(), mode, request.data(), request.size());
    if (request[0] != 0) __builtin_trap();  // the report ID is never written
    return 0;
}
