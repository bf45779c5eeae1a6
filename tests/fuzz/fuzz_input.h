// Shared helpers of the fuzz targets. Each target source holds the entry
// points of one family of inputs; the build makes one libFuzzer program per
// entry point by defining HBR_FUZZ_ENTRY to its name (tests/fuzz/CMakeLists.txt).
#ifndef HBR_FUZZ_INPUT_H
#define HBR_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace hbr_fuzz {

// The input as a NUL-terminated text (embedded NULs stay and cut it short).
inline std::string Text(const uint8_t *data, size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}

// Two inputs from one: the first byte gives the length of the first part
// (clipped to what there is), the rest is the second part.
struct Split {
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
};

inline Split SplitInput(const uint8_t *data, size_t size)
{
    Split split;
    if (size == 0) {
        return split;
    }
    size_t n = data[0];
    if (n > size - 1) {
        n = size - 1;
    }
    split.first.assign(data + 1, data + 1 + n);
    split.second.assign(data + 1 + n, data + size);
    return split;
}

}  // namespace hbr_fuzz

#define HBR_FUZZ_DEFINE_ENTRY()                                                   \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)       \
    {                                                                             \
        HBR_FUZZ_ENTRY(data, size);                                               \
        return 0;                                                                 \
    }

#endif  // HBR_FUZZ_INPUT_H
