// SPDX-License-Identifier: MIT
// Batch mode: a list file of names, each checked under a directory prefix.
#pragma once

namespace wavmend {

// Reads names from the list file at `path` into up to `max` slots of `width` bytes, the first at `names`,
// and returns how many it stored. LF runs separate names, a zero byte ends the list, and a name longer
// than `width` - 1 bytes keeps its place as an empty slot. The list is read as a stream, so its size need
// not be known. Prints a line and ends the process with status 1 if the list cannot be opened or read, and
// the usage text if its first bytes are a RIFF, RF64 or BW64 WAVE file's.
int ReadList(char* names, const char* path, int max, int width);

// Prints the count of names in the list at `list`, then one line for each name with `prefix` put in front
// of it. Returns the exit status: 1 when the list yields no names, else 0 (see ReadList for the rest).
int Batch(const char* list, const char* prefix);

}  // namespace wavmend
