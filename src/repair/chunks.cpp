// SPDX-License-Identifier: MIT
#include "repair/chunks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "repair/file.h"
#include "repair/repair.h"
#include "repair/scan.h"

namespace wavmend {
namespace {

bool Printable(const unsigned char* id) {
  return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

constexpr char kAppendedIds[][5] = {"LIST", "id3 ", "ID3 ", "bext", "iXML", "axml", "cue ", "smpl",
                                    "inst", "acid", "_PMX", "cart", "DISP", "JUNK", "PAD "};

// The first letters of those ids, so that the audio they follow is passed over at one look a byte.
constexpr std::array<bool, 256> kLeads = [] {
  std::array<bool, 256> leads{};
  for (const char* id : kAppendedIds) leads[static_cast<unsigned char>(id[0])] = true;
  return leads;
}();

// Static, to stay off the stack: where appended chunks are looked for when the window does not hold them, and
// where the trailing walk reads a chunk header the bytes at hand do not hold.
std::array<unsigned char, kAppendReach> tail;
std::array<unsigned char, kFirstBlock> block;

std::int64_t Size(const unsigned char* head) { return Assem4(std::span<const unsigned char, 4>(head + 4, 4)); }

// Where the chunk whose header `head` lies at `p` ends, after its pad byte; at most the file's `length`.
std::int64_t Next(const unsigned char* head, std::int64_t p, std::int64_t length) {
  const std::int64_t size = Size(head);
  return std::min(p + 8 + size + size % 2, length);
}

bool Appended(const unsigned char* id) {
  return kLeads[id[0]] && std::any_of(std::begin(kAppendedIds), std::end(kAppendedIds),
                                      [id](const char* want) { return std::memcmp(id, want, 4) == 0; });
}

}  // namespace

std::int64_t LocateTag(std::span<const unsigned char> buf, std::int64_t length) {
  const auto got = static_cast<std::int64_t>(buf.size());
  const bool whole = got >= std::min(length, kWindow);
  std::int64_t p = kFirstProbe;
  while (p <= kLastProbe) {
    if (p + 8 > got) {
      if (!whole) return kNeedMore;
      break;  // too near the end for a chunk: the probes find a tag cut short here
    }
    const unsigned char* head = buf.data() + p;
    if (std::memcmp(head, "data", 4) == 0) return p;
    if (!Printable(head) || p + 8 + Size(head) > length) break;
    p = Next(head, p, length);
  }
  if (p > kLastProbe) return p;
  const std::int64_t h = FindTag(buf, p + p % 2);
  return (h < 0 || h + 8 > got) && !whole ? kNeedMore : h;
}

std::int64_t LocateFarTag(int fd, std::int64_t pos, std::int64_t length, std::span<unsigned char, 8> head) {
  for (int chunks = 0; chunks < kMaxTrailingChunks && length - pos >= 4; ++chunks) {
    const std::int64_t want = std::min<std::int64_t>(8, length - pos);
    const std::int64_t got = ReadAt(fd, head.data(), want, pos);
    if (got < 0) return -2;
    if (got < want) return -1;  // the file shrank under us
    if (std::memcmp(head.data(), "data", 4) == 0) return pos;
    if (!Printable(head.data())) return -1;
    // A chunk that runs past the end leaves too little for another header: the loop ends.
    pos = Next(head.data(), pos, length);
  }
  return -1;
}

Trailer WalkChunks(int fd, std::int64_t pos, std::int64_t end, const unsigned char* buf, std::int64_t at,
                   std::int64_t have, bool cut) {
  for (int chunks = 0;; ++chunks) {
    if (pos == end) return Trailer::kChunks;
    const std::int64_t left = end - pos;
    // A cut chunk needs no more than its id to be seen.
    const std::int64_t need = std::min<std::int64_t>(left, 8);
    if (chunks == kMaxTrailingChunks || need < (cut ? 4 : 8)) return Trailer::kOther;
    if (pos + need > at + have) {
      have = ReadAt(fd, block.data(), std::min(kFirstBlock, left), pos);
      if (have < 0) return Trailer::kReadError;
      if (have < need) return Trailer::kOther;  // the file shrank under us
      buf = block.data();
      at = pos;
    }
    const unsigned char* head = buf + (pos - at);
    // A writer killed while it appended its last chunk, or a copy cut short, leaves that chunk cut at the end.
    if (cut && Appended(head) && (left < 8 || 8 + Size(head) > left)) return Trailer::kChunks;
    if (left < 8 || !Printable(head)) return Trailer::kOther;
    const std::int64_t size = Size(head);
    pos += 8 + size;
    if (pos > end) return Trailer::kOther;
    if (size % 2 == 1 && pos < end) ++pos;
  }
}

Trailer Trailing(int fd, std::int64_t audioEnd, bool odd, std::int64_t riffEnd, std::int64_t length,
                 const unsigned char* buf, std::int64_t have) {
  // Writers leave out the pad byte of odd audio, and tools leave a stray byte or two after the RIFF chunk: too
  // few to be a chunk, so they cannot be the start of audio a crash left unrecorded.
  auto chunksTo = [&](std::int64_t end) {
    const bool cut = end == length;
    const Trailer padded = WalkChunks(fd, audioEnd + odd, end, buf, 0, have, cut);
    return padded == Trailer::kOther && odd ? WalkChunks(fd, audioEnd, end, buf, 0, have, cut) : padded;
  };
  const std::int64_t stray = length - riffEnd;
  const Trailer t = chunksTo(length);
  return t == Trailer::kOther && stray >= 1 && stray < 8 ? chunksTo(riffEnd) : t;
}

std::int64_t FindAppended(int fd, std::int64_t from, std::int64_t length, const unsigned char* window,
                          std::int64_t got) {
  const std::int64_t at = std::max(from, length - kAppendReach);
  const unsigned char* buf = tail.data();  // holds the bytes [at, length) of the file
  if (got == length) {
    buf = window + at;
  } else if (ReadAt(fd, tail.data(), length - at, at) != length - at) {
    return -2;
  }
  for (std::int64_t p = at + (at & 1); length - p >= 8; p += 2) {
    // The whole run is in `buf`, so the walk never reads.
    if (Appended(buf + (p - at)) && WalkChunks(-1, p, length, buf, at, length - at) == Trailer::kChunks) return p;
  }
  return -1;
}

}  // namespace wavmend
