// libFuzzer target over the client's reply path: header block, header parsing and body,
// checking that every way of cutting a reply into reads gives the same outcome.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reply_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string difference = CheckCutsAgree(data, size);
    if (!difference.empty()) {
        std::fprintf(stderr, "outcome depends on the reads:\n%s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
