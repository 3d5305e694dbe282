// SPDX-License-Identifier: MIT
// Walks over chunks: those before the audio, to find the tag, and those after it, trailing a stored size or
// appended after the audio.
#pragma once

#include <cstdint>
#include <span>

namespace wavmend {

// Editors and recorders append no more than this many chunks after the audio.
inline constexpr int kMaxTrailingChunks = 64;
// Holds the tag of nearly every real file, and the headers of the small chunks that usually follow audio.
inline constexpr std::int64_t kFirstBlock = 4096;

// LocateTag's answer when `buf` ends before the answer does.
inline constexpr std::int64_t kNeedMore = -2;

// Returns the offset of the "data" tag in the RIFF WAVE file of `length` bytes whose first bytes `buf` holds, or -1
// when there is none. Well-formed chunks from offset 12 are walked over, so text inside them is never taken for
// the tag; from where the walk breaks, the tag is probed for at even offsets up to kLastProbe. Returns the offset
// of the next chunk, past kLastProbe, when the walk gets there: LocateFarTag goes on from it. Returns kNeedMore
// when `buf` holds fewer than the file's first kWindow bytes and the answer, or the tag's size field, lies past them.
std::int64_t LocateTag(std::span<const unsigned char> buf, std::int64_t length);

// Goes on with the walk over well-formed chunks of file `fd` of `length` bytes at `pos`, past kLastProbe, reading
// at most kMaxTrailingChunks chunk headers, 8 bytes each. Returns the offset of the "data" tag it reaches, with its
// header's bytes, fewer where the file ends, in `head`; -1 when the walk breaks or runs out first; -2 when reading
// fails.
std::int64_t LocateFarTag(int fd, std::int64_t pos, std::int64_t length, std::span<unsigned char, 8> head);

enum class Trailer { kChunks, kOther, kReadError };

// How far before the end of a file a run of appended chunks may begin.
inline constexpr std::int64_t kAppendReach = 1 << 20;

// Tells whether [pos, end) of file `fd` is a run of at most 64 well-formed chunks, the last one's pad byte
// optional; with `cut`, the last one may instead be one with an appended id that `end` cuts short, inside its size
// field or its body. `buf` holds the `have` bytes of the file from offset `at`; where the walk leaves them, it
// reads a block of its own at the next chunk.
Trailer WalkChunks(int fd, std::int64_t pos, std::int64_t end, const unsigned char* buf, std::int64_t at,
                   std::int64_t have, bool cut = false);

// Tells whether what follows audio that ends at `audioEnd` by its stored size (`odd` when that size is odd) is
// what healthy files carry: well-formed chunks that run exactly to the file's `length`, or up to an appended one
// that the end of the file cuts short, from after the pad byte or, for odd audio, from right after it; or, when 1 to 7
// stray bytes follow the RIFF chunk's end `riffEnd`, such chunks (or none) from the same places exactly to `riffEnd`.
// `buf` holds the file's first `have` bytes.
Trailer Trailing(int fd, std::int64_t audioEnd, bool odd, std::int64_t riffEnd, std::int64_t length,
                 const unsigned char* buf, std::int64_t have);

// Returns the earliest even offset from `from` on, and no more than kAppendReach before the end of file `fd`
// of `length` bytes, at which a chunk with an id that writers append after the audio ("LIST", "id3 ", "bext",
// "JUNK", ...) starts such a run ending exactly at the end; -1 when none does, and -2 when reading fails.
// `window` holds the first `got` bytes of the file; the rest is read in one call, at most kAppendReach bytes.
std::int64_t FindAppended(int fd, std::int64_t from, std::int64_t length, const unsigned char* window,
                          std::int64_t got);

}  // namespace wavmend
