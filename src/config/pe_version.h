// The file version an executable declares in its own version resource, read
// straight from the file's bytes: no language resource file beside it and no
// system loader take part, so the answer is the version of exactly the bytes
// that were checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Reads up to `size` bytes at `offset`; returns how many it read.
using ByteReader = std::function<std::size_t(std::uint64_t offset, void* buffer,
                                             std::size_t size)>;

// The four words of the fixed file version (VS_FIXEDFILEINFO) of a PE file,
// major first, as "a.b.c.d"; empty when the file is not a PE file, has no
// version resource, or any structure on the way lies outside the file.
// The first version resource in the resource directory is taken. Never
// throws on malformed input.
std::string readPeFileVersion(const ByteReader& read);
