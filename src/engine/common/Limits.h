#pragma once

#include <cstddef>
#include <cstdint>

#include "support/InputFile.h"

// Sizes that bound what the engine holds in memory, each defined once.
namespace engine {

// A file up to this size is read whole into memory; a larger one streams through in pieces of
// support::FilePieceBytes, so that memory stays small whatever a disc holds.
inline constexpr std::uint64_t WholeFileLimit = std::uint64_t {16} << 20;

// How large the pieces are that the decoders read and hand on (the fuzzing build makes them smaller,
// so that each input costs little and more inputs fall across a boundary).
#ifndef ZP_CHUNK_BYTES
#define ZP_CHUNK_BYTES (256 * 1024)
#endif
inline constexpr std::size_t ChunkBytes = ZP_CHUNK_BYTES;

} // namespace engine
