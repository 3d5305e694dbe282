// Chunks that follow the audio: trailing ones after a stored size, and runs appended after the audio.
#pragma once

#include <cstdint>

namespace wavmend {

// Editors and recorders append no more than this many chunks after the audio.
inline constexpr int kMaxTrailingChunks = 64;
// Holds the tag of nearly every real file, and the headers of the small chunks that usually follow audio.
inline constexpr std::int64_t kFirstBlock = 4096;

enum class Trailer { kChunks, kOther, kReadError };

// Tells whether [pos, end) of file `fd` is a run of at most 64 well-formed chunks, the last one's pad byte
// optional. `buf` holds the first `have` bytes of the file and has room for kFirstBlock; where the walk
// leaves them, a block is read at the next chunk.
Trailer WalkChunks(int fd, std::int64_t pos, std::int64_t end, unsigned char* buf, std::int64_t have);

}  // namespace wavmend
