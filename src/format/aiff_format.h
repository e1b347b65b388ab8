// The AIFF container as Kitweaver writes it and its inspector reads it: chunk
// identifiers and fixed sizes, shared by both.
//
// samplepack.aif, all numbers big-endian (N frames, metadata of L bytes,
// A = L rounded up to a multiple of 4):
//
//   0       "FORM", container size (file length - 8), "AIFF"
//   12      "COMM", 18, channels 1, frames N, bits 16,
//           rate 44100 as an 80-bit extended: 40 0E AC 44 00 00 00 00 00 00
//   38      "APPL", A, the metadata text (its "op-1" is the application
//           signature), A - L spaces
//   46 + A  "SSND", 2N + 8, offset 0, block size 0, the pack's 2N bytes
//   62 + A + 2N  zero bytes up to a multiple of 4 of the file length
//
// An OP-1 field kit, as the field writes its own (N stereo frames, text of
// L bytes):
//
//   0       "FORM", container size (file length - 8), "AIFC"
//   12      "FVER", 4, the AIFC version A2 80 51 40
//   24      "COMM", 64, channels 2, frames N, bits 16, rate 44100,
//           compression "sowt", its name as a Pascal string (a length byte of
//           41 and "Signed integer (little-endian) linear PCM")
//   96      "APPL", 4100, "op-1", the metadata text, "\n", then spaces up to
//           4096 bytes after the signature
//   4204    "SSND", 4N + 8, offset 0, block size 0, the frames, left and right
//           interleaved, little-endian
//
// Other writers may use the form type "AIFC", whose COMM chunk adds a 4-byte
// compression type after the rate ("NONE" or "twos": big-endian samples,
// "sowt": little-endian, "fl32" and "fl64": big-endian IEEE 754 floats; any
// other is compressed sound), and may order chunks freely.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kitweaver {

inline constexpr char kFormId[] = "FORM";
inline constexpr char kAiffType[] = "AIFF";
inline constexpr char kAifcType[] = "AIFC";
inline constexpr char kCommId[] = "COMM";
inline constexpr char kApplId[] = "APPL";
inline constexpr char kSsndId[] = "SSND";
inline constexpr char kAppSignature[] = "op-1";
inline constexpr char kCompressionNone[] = "NONE";
inline constexpr char kCompressionTwos[] = "twos";
inline constexpr char kCompressionSowt[] = "sowt";
inline constexpr char kCompressionFloat32[] = "fl32";
inline constexpr char kCompressionFloat64[] = "fl64";
inline constexpr char kFverId[] = "FVER";
inline constexpr std::uint32_t kAifcVersion1 = 0xA2805140;
inline constexpr char kSowtName[] = "Signed integer (little-endian) linear PCM";

inline constexpr std::size_t kFormHeaderSize = 12;
inline constexpr std::size_t kChunkHeaderSize = 8;
inline constexpr std::uint32_t kCommSize = 18;
inline constexpr std::uint32_t kAifcCommMinSize = 22;
inline constexpr std::uint32_t kSsndPrefixSize = 8;  // offset and block size
inline constexpr std::uint32_t kFverSize = 4;
inline constexpr std::uint32_t kFieldCommSize = 64;   // 18, the type, and its name of 41 characters
inline constexpr std::size_t kFieldTextBytes = 4096;  // the text after the signature, padded

}  // namespace kitweaver
