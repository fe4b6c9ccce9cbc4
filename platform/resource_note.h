// How a module built for this platform carries its string table and version
// record: ELF notes in an allocated section, so that they are mapped with the
// module and listed among its PT_NOTE segments. The resource compiler writes
// them at build time; LoadStringA and UdmGetVersionInfo read them.
//
// Every note has the owner name "UDM". Integers are little-endian, texts are
// Windows-1252 without a terminating zero.
//   string table (type 1): entries of  u16 language, u16 id, u16 length, text
//   version      (type 2): u16 file version[4], u16 product version[4],
//                          then entries of  u16 language, u16 length, comments
#pragma once

#include <cstdint>

namespace udm::resnote {

inline constexpr char kSection[] = ".note.udm.resources";
inline constexpr char kOwner[] = "UDM";  // 4 bytes with its terminating zero
inline constexpr uint32_t kOwnerBytes = sizeof kOwner;
inline constexpr uint32_t kStringTable = 1;
inline constexpr uint32_t kVersion = 2;

inline constexpr uint16_t kEnglishUS = 1033;
inline constexpr uint16_t kGerman = 1031;

}  // namespace udm::resnote
