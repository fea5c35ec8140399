// The scrambling of password-protected Paradox tables.
//
// Such a table keeps its header and field list in the clear and scrambles every data block of the ".db" and
// every block of the ".mb" in chunks of 256 bytes. A chunk is scrambled with four byte parameters (a, b, c, d):
// a fixed byte permutation (from substitution table C, shifted by d) mixed with the bytes of three substitution
// tables (A shifted by a, B by b, C by c). The 32-bit checksum stored in the header is derived from the password
// and is also the key: its low two bytes give a and b.
//
// These are the built-in implementations of the Paradox reader's decryption and password-checksum hooks
// (TDBParadox uses them when its Password is set and no hooks of the caller's are installed). The scrambling
// direction is here too, so that tests and fuzzing can make encrypted tables of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vez {

// The checksum of a password (0 for the empty password).
std::uint32_t ParadoxPasswordChecksum(std::string_view password);

// Unscrambles / scrambles one 256-byte chunk in place with the parameters (a, b, c, d).
void ParadoxUnscrambleChunk(std::uint8_t* chunk, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
void ParadoxScrambleChunk(std::uint8_t* chunk, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);

// A data block of the ".db" at 0-based block index `blockIndex` (the block's place in the file). `size` is the
// block size; only whole chunks of 256 bytes are processed.
void ParadoxDecryptDataBlock(std::uint8_t* block, std::size_t size, std::uint32_t checksum, std::int64_t blockIndex);
void ParadoxEncryptDataBlock(std::uint8_t* block, std::size_t size, std::uint32_t checksum, std::int64_t blockIndex);

// A window of the ".mb" that starts on a multiple of 256; `size` is rounded up to whole chunks (the buffer must
// hold them).
void ParadoxDecryptBlobWindow(std::uint8_t* window, std::size_t size, std::uint32_t checksum);
void ParadoxEncryptBlobWindow(std::uint8_t* window, std::size_t size, std::uint32_t checksum);

}  // namespace vez
