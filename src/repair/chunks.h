// Chunks that follow the audio: trailing ones after a stored size, and runs appended after the audio.
#pragma once

#include <cstdint>

namespace wavmend {

// Editors and recorders append no more than this many chunks after the audio.
inline constexpr int kMaxTrailingChunks = 64;
// Holds the tag of nearly every real file, and the headers of the small chunks that usually follow audio.
inline constexpr std::int64_t kFirstBlock = 4096;

enum class Trailer { kChunks, kOther, kReadError };

// How far before the end of a file a run of appended chunks may begin.
inline constexpr std::int64_t kAppendReach = 1 << 20;

// Tells whether [pos, end) of file `fd` is a run of at most 64 well-formed chunks, the last one's pad byte
// optional. `buf` holds the `have` bytes of the file from offset `at`; where the walk leaves them, it reads a
// block of its own at the next chunk.
Trailer WalkChunks(int fd, std::int64_t pos, std::int64_t end, const unsigned char* buf, std::int64_t at,
                   std::int64_t have);

// Returns the earliest even offset from `from` on, and no more than kAppendReach before the end of file `fd`
// of `length` bytes, at which a chunk with an id that writers append after the audio ("LIST", "id3 ", "bext",
// "JUNK", ...) starts such a run ending exactly at the end; -1 when none does, and -2 when reading fails.
// `window` holds the first `got` bytes of the file; the rest is read in one call, at most kAppendReach bytes.
std::int64_t FindAppended(int fd, std::int64_t from, std::int64_t length, const unsigned char* window,
                          std::int64_t got);

}  // namespace wavmend
