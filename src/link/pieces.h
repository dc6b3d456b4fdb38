#pragma once
#include <algorithm>
#include <cstddef>

namespace qz {

// A transfer of size bytes cut into pieces of at most piece_bytes:
// transfer(offset, count) moves one piece and says whether it went through.
// Returns size, or error at the first piece that failed.
template <typename Transfer>
int InPieces(size_t size, size_t piece_bytes, int error, Transfer transfer)
{
    for (size_t done = 0; done < size; done += piece_bytes) {
        if (!transfer(done, std::min(size - done, piece_bytes)))
            return error;
    }
    return static_cast<int>(size);
}

}  // namespace qz
