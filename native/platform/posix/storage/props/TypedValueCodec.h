// TypedPropertyValue [MS-OLEPS] <-> PROPVARIANT. Text of type VT_LPSTR and
// VT_BSTR is stored in the set's code page (UTF-16 in a code page 1200 set)
// and handed out in the caller's code page (the system ANSI code page for
// the COM objects), converted on the way in and out. Types the codec does not
// interpret are kept by the section as raw bytes and never decoded.
#pragma once

#include <cstdint>
#include <vector>

#include "../PropIdl.h"

namespace quorvane {
namespace posix {

// Text that the set's code page cannot hold (or caller text that is invalid
// in the caller's code page).
constexpr HRESULT kTextNotRepresentable = static_cast<HRESULT>(0x80070459u);  // HRESULT_FROM_WIN32(1113)

struct TextCodePages {
  UINT stored;    // the set's code page
  UINT external;  // the code page of PROPVARIANT narrow text
};

// True for the types this codec reads and writes (scalars, strings, blobs,
// clipboard data, vectors of them and VT_VECTOR | VT_VARIANT).
bool IsInterpretedType(uint16_t vt);

// Decodes the TypedPropertyValue that starts at data[0] and ends at the
// latest at data[size]. On success fills `out` (the caller clears it) and
// `consumed` (bytes used up to the value's end, the trailing padding
// excluded). STG_E_DOCFILECORRUPT
// when a length or count runs past the end, STG_E_INVALIDPARAMETER for a type
// it does not interpret; `out` is then VT_EMPTY.
HRESULT DecodeTypedValue(const uint8_t* data, size_t size, const TextCodePages& cps, PROPVARIANT& out,
                         size_t& consumed);

// What DecodeTypedValue would consume, or the failure it would give, found
// without decoding: no allocation, no copy, no text conversion.
HRESULT MeasureTypedValue(const uint8_t* data, size_t size, size_t& consumed);

// Appends the TypedPropertyValue of `value` to `out` (trailing padding to 4
// bytes included). STG_E_INVALIDPARAMETER for a type a property set cannot
// hold; kTextNotRepresentable as above. `out` is unchanged on failure.
HRESULT EncodeTypedValue(const PROPVARIANT& value, const TextCodePages& cps, std::vector<uint8_t>& out);

// Whether the encoded value holds code-page text (VT_LPSTR, VT_BSTR, their
// vectors, or variants holding them): such values change with the set's
// code page.
bool HoldsCodePageText(const uint8_t* data, size_t size);

}  // namespace posix
}  // namespace quorvane
