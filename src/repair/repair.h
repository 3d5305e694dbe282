// SPDX-License-Identifier: MIT
// Checking and repairing the size field of a WAVE file's data chunk.
#pragma once

#include <cstdint>
#include <span>

namespace wavmend {

// Returns the unsigned 32-bit little-endian value in `field`: always 0 to 4,294,967,295.
std::int64_t Assem4(std::span<const unsigned char, 4> field);

// Stores the low 32 bits of `value` (two's complement when negative) in `field`, least significant byte first.
void Decon4(std::int64_t value, std::span<unsigned char, 4> field);

// Finds the "data" tag in the regular RIFF WAVE file at `path` (the first chunk so named in a walk over the
// well-formed chunks from offset 12, which reads at most 64 headers past 131,072, else the first "data" at an even
// offset from where that walk breaks, up to 131,072) and, when its size field disagrees with the audio that
// follows it (trailing and appended chunks are not audio, nor is a last one cut short, a pad byte left out or a
// stray byte after the RIFF chunk), rewrites those four bytes durably; raises the RIFF size at offset 4 to the
// file's length less 8 (at most FF FF FF FF) when that one ends before the audio, even under a right data size;
// and writes nothing else. Any other file is left unwritten, and so is one that may only be read, which is
// checked all the same; a failed write puts back what it changed. Never opens what is not a regular file, even
// when the path changes meanwhile. Prints exactly one line on standard output, with `path` written as Say writes
// names (so no two paths print alike), whatever happens, and always returns.
void FIX_SIZE(const char* path);

}  // namespace wavmend
