// Every property of a set with its stored type, packed into bytes for the
// docprops tool (com.quorvane.tools.TypedProperties decodes them), and the
// typed values it writes back, unpacked. Little-endian throughout.
//
// A set: i32 status (0 read, 1 missing or empty, else the HRESULT), i32
// count, then per property: u16 vt, i32 propid, i32 name length in UTF-16
// units (-1: unnamed) and the units, then the value:
//   integers, VT_ERROR, VT_CY   i64 (unsigned types zero-extended)
//   VT_R4, VT_R8, VT_DATE       f64
//   VT_BOOL                     u8 0 or 1
//   text (LPSTR, LPWSTR, BSTR)  i32 units, UTF-16 units
//   VT_FILETIME                 i64 ticks, then the library's date text as text
//   VT_BLOB, VT_BLOB_OBJECT     i32 length, 32-byte SHA-256, i32 bytes carried
//                               (the length when asked for, else 0), those bytes
//   VT_CF                       i32 format, then as a blob
//   VT_CLSID                    16 bytes
//   anything else               nothing (told by type only)
#pragma once

#include <string>

#include "PropertyStorage.h"

namespace quorvane {
namespace jni {

// Appends the set's entries to `out`, binary values' bytes only `withBytes`;
// HResultException when it cannot be read.
void PackSet(const PropertySet& set, bool withBytes, std::string& out);
// Appends a set that was not read, with its status.
void PackStatus(HRESULT status, std::string& out);

// A write: i32 count, then per property: i32 name length, the UTF-16 units,
// u16 vt (VT_EMPTY deletes) and the value as above (texts, integers, reals,
// booleans and FILETIME ticks without text). Writes them into `set` in one
// WriteMultiple; HResultException for bytes of another shape.
void WritePacked(PropertySet& set, const unsigned char* bytes, size_t size);

}  // namespace jni
}  // namespace quorvane
