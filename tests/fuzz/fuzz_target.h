#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "image/image_layout.h"

namespace qz {

void FuzzOne(std::span<const uint8_t> input);

// A broken promise aborts, so libFuzzer keeps the input that broke it.
inline void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

inline std::vector<uint8_t> PatternImage()
{
    std::vector<uint8_t> image(IMAGE_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

}  // namespace qz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qz::FuzzOne({data, size});
    return 0;
}
