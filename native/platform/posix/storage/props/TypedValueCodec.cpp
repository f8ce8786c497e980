#include "TypedValueCodec.h"

#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

#include "../../../../common/Utf16.h"
#include "../../text/CodePages.h"
#include "ByteCursor.h"
#include "PropertySetFormat.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "fixed-size values are copied as little-endian bytes");

namespace quorvane {
namespace posix {

namespace {

// Variants inside VT_VECTOR | VT_VARIANT may not nest deeper than this.
constexpr int kMaxVariantDepth = 2;

// Size on disk of a fixed-size scalar; 0 for the variable-size types.
size_t FixedSize(uint16_t base) {
  switch (base) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_FILETIME: return 8;
    case VT_CLSID: return 16;
    default: return 0;
  }
}

bool IsVariableScalar(uint16_t base) {
  return base == VT_LPSTR || base == VT_BSTR || base == VT_LPWSTR || base == VT_BLOB || base == VT_BLOB_OBJECT ||
         base == VT_CF;
}

bool IsVectorBase(uint16_t base) {
  if (base == VT_INT || base == VT_UINT || base == VT_BLOB || base == VT_BLOB_OBJECT) return false;
  return FixedSize(base) != 0 || base == VT_LPSTR || base == VT_BSTR || base == VT_LPWSTR || base == VT_CF ||
         base == VT_VARIANT;
}

// Smallest number of bytes one vector element takes, for bounding counts.
size_t MinElementSize(uint16_t base) {
  const size_t fixed = FixedSize(base);
  return fixed ? fixed : 4;
}

// Where a vector's elements live in a PROPVARIANT: every CA* member is
// {ULONG cElems; T* pElems;}, so the base type picks the member.
struct VectorSlot {
  ULONG* count;
  void** elems;
  size_t elemSize;
};

VectorSlot SlotOf(PROPVARIANT& v, uint16_t base) {
  switch (base) {
    case VT_I1: return {&v.cac.cElems, reinterpret_cast<void**>(&v.cac.pElems), sizeof(CHAR)};
    case VT_UI1: return {&v.caub.cElems, reinterpret_cast<void**>(&v.caub.pElems), sizeof(UCHAR)};
    case VT_I2: return {&v.cai.cElems, reinterpret_cast<void**>(&v.cai.pElems), sizeof(SHORT)};
    case VT_UI2: return {&v.caui.cElems, reinterpret_cast<void**>(&v.caui.pElems), sizeof(USHORT)};
    case VT_BOOL: return {&v.cabool.cElems, reinterpret_cast<void**>(&v.cabool.pElems), sizeof(VARIANT_BOOL)};
    case VT_I4: return {&v.cal.cElems, reinterpret_cast<void**>(&v.cal.pElems), sizeof(LONG)};
    case VT_UI4: return {&v.caul.cElems, reinterpret_cast<void**>(&v.caul.pElems), sizeof(ULONG)};
    case VT_R4: return {&v.caflt.cElems, reinterpret_cast<void**>(&v.caflt.pElems), sizeof(FLOAT)};
    case VT_ERROR: return {&v.cascode.cElems, reinterpret_cast<void**>(&v.cascode.pElems), sizeof(SCODE)};
    case VT_I8: return {&v.cah.cElems, reinterpret_cast<void**>(&v.cah.pElems), sizeof(LARGE_INTEGER)};
    case VT_UI8: return {&v.cauh.cElems, reinterpret_cast<void**>(&v.cauh.pElems), sizeof(ULARGE_INTEGER)};
    case VT_R8: return {&v.cadbl.cElems, reinterpret_cast<void**>(&v.cadbl.pElems), sizeof(DOUBLE)};
    case VT_CY: return {&v.cacy.cElems, reinterpret_cast<void**>(&v.cacy.pElems), sizeof(CY)};
    case VT_DATE: return {&v.cadate.cElems, reinterpret_cast<void**>(&v.cadate.pElems), sizeof(DATE)};
    case VT_FILETIME: return {&v.cafiletime.cElems, reinterpret_cast<void**>(&v.cafiletime.pElems), sizeof(FILETIME)};
    case VT_CLSID: return {&v.cauuid.cElems, reinterpret_cast<void**>(&v.cauuid.pElems), sizeof(CLSID)};
    case VT_BSTR: return {&v.cabstr.cElems, reinterpret_cast<void**>(&v.cabstr.pElems), sizeof(BSTR)};
    case VT_LPSTR: return {&v.calpstr.cElems, reinterpret_cast<void**>(&v.calpstr.pElems), sizeof(LPSTR)};
    case VT_LPWSTR: return {&v.calpwstr.cElems, reinterpret_cast<void**>(&v.calpwstr.pElems), sizeof(LPWSTR)};
    case VT_CF: return {&v.caclipdata.cElems, reinterpret_cast<void**>(&v.caclipdata.pElems), sizeof(CLIPDATA)};
    case VT_VARIANT:
      return {&v.capropvar.cElems, reinterpret_cast<void**>(&v.capropvar.pElems), sizeof(PROPVARIANT)};
    default: return {nullptr, nullptr, 0};
  }
}

const VectorSlot SlotOf(const PROPVARIANT& v, uint16_t base) { return SlotOf(const_cast<PROPVARIANT&>(v), base); }

// Text stored in the set -> caller text. Stored bytes that the set's code
// page cannot decode are replaced, never dropped.
std::string StoredToExternal(const uint8_t* chars, size_t size, const TextCodePages& cps) {
  size_t n = 0;
  if (cps.stored == oleps::kCodePageUnicode) {
    while (n + 1 < size && (chars[n] | chars[n + 1]) != 0) n += 2;
  } else {
    while (n < size && chars[n] != 0) ++n;
  }
  const char* bytes = reinterpret_cast<const char*>(chars);
  if (cps.stored == cps.external) return std::string(bytes, n);
  std::wstring wide;
  std::string out;
  if (!DecodeFromCodePage(cps.stored, bytes, n, wide, false)) return std::string(bytes, n);
  EncodeToCodePage(cps.external, wide.data(), wide.size(), out, false);
  return out;
}

std::wstring StoredToWide(const uint8_t* chars, size_t size, UINT stored) {
  size_t n = 0;
  if (stored == oleps::kCodePageUnicode) {
    while (n + 1 < size && (chars[n] | chars[n + 1]) != 0) n += 2;
  } else {
    while (n < size && chars[n] != 0) ++n;
  }
  std::wstring wide;
  DecodeFromCodePage(stored, reinterpret_cast<const char*>(chars), n, wide, false);
  return wide;
}

// Caller text -> the set's bytes, terminator included.
// Code pages that hold ASCII as ASCII, byte for byte.
bool KeepsAscii(UINT cp) {
  return (cp >= 1250 && cp <= 1258) || cp == oleps::kCodePageUtf8 || cp == 20127 || (cp >= 28591 && cp <= 28605);
}

bool IsAscii(const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  return true;
}

// Most property text is ASCII: it needs no round trip through wide text.
bool StoredAsGiven(const char* text, size_t n, const TextCodePages& cps) {
  return (cps.stored == cps.external && cps.stored != oleps::kCodePageUnicode) ||
         (KeepsAscii(cps.stored) && KeepsAscii(cps.external) && IsAscii(text, n));
}

// Text that is not StoredAsGiven, through wide text, terminator included.
HRESULT ExternalToStored(const char* text, size_t n, const TextCodePages& cps, std::string& out) {
  std::wstring wide;
  if (!DecodeFromCodePage(cps.external, text, n, wide, true)) return kTextNotRepresentable;
  if (!EncodeToCodePage(cps.stored, wide.data(), wide.size(), out, true)) return kTextNotRepresentable;
  out.append(cps.stored == oleps::kCodePageUnicode ? 2 : 1, '\0');
  return S_OK;
}

HRESULT WideToStored(const wchar_t* text, size_t n, UINT stored, std::string& out) {
  if (!EncodeToCodePage(stored, text, n, out, true)) return kTextNotRepresentable;
  out.append(stored == oleps::kCodePageUnicode ? 2 : 1, '\0');
  return S_OK;
}

template <typename T>
T* AllocArray(size_t count) {
  if (count == 0) return nullptr;
  return static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
}

// Decodes, or with `measureOnly` walks the value with the same checks but
// neither allocates nor copies: how a set is validated when it is parsed.
class Decoder {
 public:
  Decoder(ByteReader& r, const TextCodePages& cps, bool measureOnly = false)
      : r_(r), cps_(cps), measureOnly_(measureOnly) {}

  // One TypedPropertyValue at the reader's position.
  HRESULT Typed(PROPVARIANT& out, int depth) {
    const size_t origin = r_.Position();
    uint16_t vt, padding;
    if (!r_.ReadU16(vt) || !r_.ReadU16(padding)) return STG_E_DOCFILECORRUPT;
    dataEnd_ = r_.Position();
    const uint16_t base = vt & VT_TYPEMASK;
    HRESULT hr;
    if (vt & VT_VECTOR) {
      if ((vt & ~(VT_VECTOR | VT_TYPEMASK)) || !IsVectorBase(base)) return STG_E_INVALIDPARAMETER;
      if (base == VT_VARIANT && depth >= kMaxVariantDepth) return STG_E_DOCFILECORRUPT;
      hr = Vector(base, out, depth);
    } else {
      if (vt & ~VT_TYPEMASK) return STG_E_INVALIDPARAMETER;
      if (vt == VT_EMPTY || vt == VT_NULL) {
        hr = S_OK;
      } else if (FixedSize(vt) || IsVariableScalar(vt)) {
        hr = Scalar(vt, out);
      } else {
        return STG_E_INVALIDPARAMETER;
      }
    }
    if (FAILED(hr)) return hr;
    out.vt = vt;
    valueEnd_ = dataEnd_;
    // Scalars narrower than 4 bytes and vectors of them end on a boundary.
    r_.SkipZeroPaddingFrom(origin);
    return S_OK;
  }

 private:
  // One value of a scalar type, into the union member that type uses.
  HRESULT Scalar(uint16_t base, PROPVARIANT& out) {
    const size_t fixed = FixedSize(base);
    if (fixed) {
      if (base == VT_CLSID && measureOnly_) {
        if (!r_.Skip(fixed)) return STG_E_DOCFILECORRUPT;
        dataEnd_ = r_.Position();
        return S_OK;
      }
      if (base == VT_CLSID) {
        out.puuid = AllocArray<CLSID>(1);
        if (!out.puuid) return E_OUTOFMEMORY;
        if (!r_.ReadRaw(out.puuid, fixed)) {
          CoTaskMemFree(out.puuid);
          out.puuid = nullptr;
          return STG_E_DOCFILECORRUPT;
        }
        dataEnd_ = r_.Position();
        return S_OK;
      }
      if (!r_.ReadRaw(&out.hVal, fixed)) return STG_E_DOCFILECORRUPT;
      dataEnd_ = r_.Position();
      return S_OK;
    }
    switch (base) {
      case VT_LPSTR: return NarrowString(out.pszVal);
      case VT_BSTR: return Bstr(out.bstrVal);
      case VT_LPWSTR: return WideString(out.pwszVal);
      case VT_BLOB:
      case VT_BLOB_OBJECT: return Blob(out.blob);
      case VT_CF: {
        if (measureOnly_) {
          CLIPDATA unused;
          return ClipData(unused);
        }
        out.pclipdata = AllocArray<CLIPDATA>(1);
        if (!out.pclipdata) return E_OUTOFMEMORY;
        const HRESULT hr = ClipData(*out.pclipdata);
        if (FAILED(hr)) {
          CoTaskMemFree(out.pclipdata);
          out.pclipdata = nullptr;
        }
        return hr;
      }
      default: return STG_E_INVALIDPARAMETER;
    }
  }

  HRESULT Vector(uint16_t base, PROPVARIANT& out, int depth) {
    uint32_t count;
    if (!r_.ReadU32(count)) return STG_E_DOCFILECORRUPT;
    if (count > r_.Remaining() / MinElementSize(base)) return STG_E_DOCFILECORRUPT;
    if (measureOnly_) return MeasureVector(base, count, depth);
    VectorSlot slot = SlotOf(out, base);
    void* elems = nullptr;
    if (count) {
      elems = CoTaskMemAlloc(count * slot.elemSize);
      if (!elems) return E_OUTOFMEMORY;
      std::memset(elems, 0, count * slot.elemSize);
    }
    *slot.count = count;
    *slot.elems = elems;
    out.vt = VT_VECTOR | base;  // so that a failure part-way clears what was read
    dataEnd_ = r_.Position();
    const size_t fixed = FixedSize(base);
    if (fixed) {
      if (!r_.ReadRaw(elems, fixed * count)) return STG_E_DOCFILECORRUPT;
      dataEnd_ = r_.Position();
      return S_OK;
    }
    for (uint32_t i = 0; i < count; ++i) {
      HRESULT hr;
      switch (base) {
        case VT_LPSTR: hr = NarrowString(static_cast<LPSTR*>(elems)[i]); break;
        case VT_BSTR: hr = Bstr(static_cast<BSTR*>(elems)[i]); break;
        case VT_LPWSTR: hr = WideString(static_cast<LPWSTR*>(elems)[i]); break;
        case VT_CF: hr = ClipData(static_cast<CLIPDATA*>(elems)[i]); break;
        default: {
          PROPVARIANT& element = static_cast<PROPVARIANT*>(elems)[i];
          hr = Typed(element, depth + 1);
          // A variant element may not itself be a vector of variants.
          if (SUCCEEDED(hr) && element.vt == (VT_VECTOR | VT_VARIANT)) hr = STG_E_DOCFILECORRUPT;
          break;
        }
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  HRESULT MeasureVector(uint16_t base, uint32_t count, int depth) {
    dataEnd_ = r_.Position();
    const size_t fixed = FixedSize(base);
    if (fixed) {
      if (!r_.Skip(fixed * count)) return STG_E_DOCFILECORRUPT;
      dataEnd_ = r_.Position();
      return S_OK;
    }
    for (uint32_t i = 0; i < count; ++i) {
      PROPVARIANT element;
      std::memset(&element, 0, sizeof element);  // nothing is allocated into it
      HRESULT hr;
      switch (base) {
        case VT_LPSTR: hr = NarrowString(element.pszVal); break;
        case VT_BSTR: hr = Bstr(element.bstrVal); break;
        case VT_LPWSTR: hr = WideString(element.pwszVal); break;
        case VT_CF: {
          CLIPDATA unused;
          hr = ClipData(unused);
          break;
        }
        default:
          hr = Typed(element, depth + 1);
          if (SUCCEEDED(hr) && element.vt == (VT_VECTOR | VT_VARIANT)) hr = STG_E_DOCFILECORRUPT;
          break;
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  // CodePageString: uint32 Size (bytes, terminator included), characters,
  // zero padding to 4 bytes.
  HRESULT ReadCodePageChars(const uint8_t*& chars, uint32_t& size) {
    const size_t origin = r_.Position();
    if (!r_.ReadU32(size)) return STG_E_DOCFILECORRUPT;
    if (size > r_.Remaining()) return STG_E_DOCFILECORRUPT;
    chars = r_.Here();
    r_.Skip(size);
    dataEnd_ = r_.Position();
    r_.SkipZeroPaddingFrom(origin);
    return S_OK;
  }

  HRESULT NarrowString(LPSTR& out) {
    const uint8_t* chars;
    uint32_t size;
    HRESULT hr = ReadCodePageChars(chars, size);
    if (FAILED(hr) || size == 0 || measureOnly_) return hr;
    const std::string text = StoredToExternal(chars, size, cps_);
    out = AllocArray<char>(text.size() + 1);
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return S_OK;
  }

  HRESULT Bstr(BSTR& out) {
    const uint8_t* chars;
    uint32_t size;
    HRESULT hr = ReadCodePageChars(chars, size);
    if (FAILED(hr) || size == 0 || measureOnly_) return hr;
    const std::wstring text = StoredToWide(chars, size, cps_.stored);
    out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return out ? S_OK : E_OUTOFMEMORY;
  }

  // UnicodeString: uint32 Length (characters, terminator included), UTF-16,
  // zero padding to 4 bytes.
  HRESULT WideString(LPWSTR& out) {
    const size_t origin = r_.Position();
    uint32_t length;
    if (!r_.ReadU32(length)) return STG_E_DOCFILECORRUPT;
    if (length > r_.Remaining() / 2) return STG_E_DOCFILECORRUPT;
    if (measureOnly_) {
      r_.Skip(length * size_t{2});
      dataEnd_ = r_.Position();
      r_.SkipZeroPaddingFrom(origin);
      return S_OK;
    }
    std::u16string units(length, u'\0');
    for (auto& u : units) r_.ReadU16(reinterpret_cast<uint16_t&>(u));
    dataEnd_ = r_.Position();
    r_.SkipZeroPaddingFrom(origin);
    if (length == 0) return S_OK;
    const std::wstring text = WideFromUtf16(units.c_str(), std::char_traits<char16_t>::length(units.c_str()));
    out = AllocArray<wchar_t>(text.size() + 1);
    if (!out) return E_OUTOFMEMORY;
    std::wmemcpy(out, text.c_str(), text.size() + 1);
    return S_OK;
  }

  HRESULT Blob(BLOB& out) {
    const size_t origin = r_.Position();
    uint32_t size;
    if (!r_.ReadU32(size) || size > r_.Remaining()) return STG_E_DOCFILECORRUPT;
    out.cbSize = size;
    if (measureOnly_) return SkipData(size, origin);
    out.pBlobData = AllocArray<BYTE>(size);
    if (size && !out.pBlobData) return E_OUTOFMEMORY;
    r_.ReadRaw(out.pBlobData, size);
    dataEnd_ = r_.Position();
    r_.SkipZeroPaddingFrom(origin);
    return S_OK;
  }

  // ClipboardData: uint32 Size (Format and Data), int32 Format, Data.
  HRESULT ClipData(CLIPDATA& out) {
    const size_t origin = r_.Position();
    uint32_t size, format;
    if (!r_.ReadU32(size) || size < 4 || !r_.ReadU32(format) || size - 4 > r_.Remaining())
      return STG_E_DOCFILECORRUPT;
    out.cbSize = size;
    out.ulClipFmt = static_cast<LONG>(format);
    if (measureOnly_) return SkipData(size - 4, origin);
    out.pClipData = AllocArray<BYTE>(size - 4);
    if (size > 4 && !out.pClipData) return E_OUTOFMEMORY;
    r_.ReadRaw(out.pClipData, size - 4);
    dataEnd_ = r_.Position();
    r_.SkipZeroPaddingFrom(origin);
    return S_OK;
  }

  // The data of a blob or clipboard value, already checked to fit.
  HRESULT SkipData(size_t size, size_t origin) {
    r_.Skip(size);
    dataEnd_ = r_.Position();
    r_.SkipZeroPaddingFrom(origin);
    return S_OK;
  }

  ByteReader& r_;
  const TextCodePages& cps_;
  const bool measureOnly_;

 public:
  size_t valueEnd_ = 0;  // where the last value read ended, before its padding

 private:
  size_t dataEnd_ = 0;  // end of the last bytes that carried data
};

class Encoder {
 public:
  Encoder(ByteWriter& w, const TextCodePages& cps) : w_(w), cps_(cps) {}

  HRESULT Typed(const PROPVARIANT& v, int depth) {
    const size_t origin = w_.Position();
    const uint16_t base = v.vt & VT_TYPEMASK;
    w_.U16(v.vt);
    w_.U16(0);
    HRESULT hr = S_OK;
    if (v.vt & VT_VECTOR) {
      if ((v.vt & ~(VT_VECTOR | VT_TYPEMASK)) || !IsVectorBase(base)) return STG_E_INVALIDPARAMETER;
      if (base == VT_VARIANT && depth >= kMaxVariantDepth) return STG_E_INVALIDPARAMETER;
      hr = Vector(v, base, depth);
    } else if (v.vt == VT_EMPTY || v.vt == VT_NULL) {
      hr = S_OK;
    } else if (v.vt & ~VT_TYPEMASK) {
      return STG_E_INVALIDPARAMETER;
    } else {
      hr = Scalar(v, base);
    }
    if (FAILED(hr)) return hr;
    w_.PadTo4From(origin);
    return S_OK;
  }

 private:
  HRESULT Scalar(const PROPVARIANT& v, uint16_t base) {
    const size_t fixed = FixedSize(base);
    if (base == VT_CLSID) {
      if (!v.puuid) return STG_E_INVALIDPARAMETER;
      w_.Raw(v.puuid, fixed);
      return S_OK;
    }
    if (base == VT_BOOL) {  // only the two canonical values are stored
      w_.U16(v.boolVal ? 0xFFFF : 0);
      return S_OK;
    }
    if (fixed) {
      w_.Raw(&v.hVal, fixed);
      return S_OK;
    }
    switch (base) {
      case VT_LPSTR: return NarrowString(v.pszVal);
      case VT_BSTR: return Bstr(v.bstrVal);
      case VT_LPWSTR: return WideString(v.pwszVal);
      case VT_BLOB:
      case VT_BLOB_OBJECT:
        if (v.blob.cbSize && !v.blob.pBlobData) return STG_E_INVALIDPARAMETER;
        w_.U32(v.blob.cbSize);
        w_.Raw(v.blob.pBlobData, v.blob.cbSize);
        w_.PadTo4From(0);
        return S_OK;
      case VT_CF: return v.pclipdata ? ClipData(*v.pclipdata) : STG_E_INVALIDPARAMETER;
      default: return STG_E_INVALIDPARAMETER;
    }
  }

  HRESULT Vector(const PROPVARIANT& v, uint16_t base, int depth) {
    const VectorSlot slot = SlotOf(v, base);
    const ULONG count = *slot.count;
    const void* elems = *slot.elems;
    if (count && !elems) return STG_E_INVALIDPARAMETER;
    w_.U32(count);
    const size_t fixed = FixedSize(base);
    if (fixed) {
      if (base == VT_BOOL) {
        for (ULONG i = 0; i < count; ++i) w_.U16(static_cast<const VARIANT_BOOL*>(elems)[i] ? 0xFFFF : 0);
      } else {
        w_.Raw(elems, fixed * count);
      }
      return S_OK;
    }
    for (ULONG i = 0; i < count; ++i) {
      HRESULT hr;
      switch (base) {
        case VT_LPSTR: hr = NarrowString(static_cast<const LPSTR*>(elems)[i]); break;
        case VT_BSTR: hr = Bstr(static_cast<const BSTR*>(elems)[i]); break;
        case VT_LPWSTR: hr = WideString(static_cast<const LPWSTR*>(elems)[i]); break;
        case VT_CF: hr = ClipData(static_cast<const CLIPDATA*>(elems)[i]); break;
        default: {
          const PROPVARIANT& element = static_cast<const PROPVARIANT*>(elems)[i];
          if (element.vt == (VT_VECTOR | VT_VARIANT)) return STG_E_INVALIDPARAMETER;
          hr = Typed(element, depth + 1);
          break;
        }
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  // size bytes of chars and then `nuls` zero bytes, counted, padded.
  HRESULT CodePageChars(const char* chars, size_t size, size_t nuls) {
    if (size > std::numeric_limits<uint32_t>::max() - nuls) return STG_E_INVALIDPARAMETER;
    const size_t origin = w_.Position();
    w_.U32(static_cast<uint32_t>(size + nuls));
    w_.Raw(chars, size);
    for (size_t i = 0; i < nuls; ++i) w_.U8(0);
    w_.PadTo4From(origin);
    return S_OK;
  }

  HRESULT NarrowString(const char* text) {
    if (!text) {
      w_.U32(0);
      return S_OK;
    }
    const size_t n = std::strlen(text);
    if (StoredAsGiven(text, n, cps_)) return CodePageChars(text, n, 1);  // straight in: no copy of its own
    std::string bytes;
    const HRESULT hr = ExternalToStored(text, n, cps_, bytes);
    return FAILED(hr) ? hr : CodePageChars(bytes.data(), bytes.size(), 0);
  }

  HRESULT Bstr(BSTR text) {
    if (!text) {
      w_.U32(0);
      return S_OK;
    }
    std::string bytes;
    const HRESULT hr = WideToStored(text, SysStringLen(text), cps_.stored, bytes);
    return FAILED(hr) ? hr : CodePageChars(bytes.data(), bytes.size(), 0);
  }

  HRESULT WideString(const wchar_t* text) {
    const size_t origin = w_.Position();
    if (!text) {
      w_.U32(0);
      return S_OK;
    }
    const std::u16string units = Utf16FromWide(text, std::wcslen(text));
    w_.U32(static_cast<uint32_t>(units.size() + 1));
    for (char16_t u : units) w_.U16(u);
    w_.U16(0);
    w_.PadTo4From(origin);
    return S_OK;
  }

  HRESULT ClipData(const CLIPDATA& clip) {
    const size_t origin = w_.Position();
    if (clip.cbSize < 4 || (clip.cbSize > 4 && !clip.pClipData)) return STG_E_INVALIDPARAMETER;
    w_.U32(clip.cbSize);
    w_.U32(static_cast<uint32_t>(clip.ulClipFmt));
    w_.Raw(clip.pClipData, clip.cbSize - 4);
    w_.PadTo4From(origin);
    return S_OK;
  }

  ByteWriter& w_;
  const TextCodePages& cps_;
};

}  // namespace

bool IsInterpretedType(uint16_t vt) {
  const uint16_t base = vt & VT_TYPEMASK;
  if (vt & VT_VECTOR) return !(vt & ~(VT_VECTOR | VT_TYPEMASK)) && IsVectorBase(base);
  if (vt & ~VT_TYPEMASK) return false;
  return vt == VT_EMPTY || vt == VT_NULL || FixedSize(vt) != 0 || IsVariableScalar(vt);
}

HRESULT DecodeTypedValue(const uint8_t* data, size_t size, const TextCodePages& cps, PROPVARIANT& out,
                         size_t& consumed) {
  std::memset(&out, 0, sizeof out);
  ByteReader r(data, size);
  Decoder decoder(r, cps);
  const HRESULT hr = decoder.Typed(out, 0);
  if (FAILED(hr)) {
    PropVariantClear(&out);
    std::memset(&out, 0, sizeof out);
    return hr;
  }
  consumed = decoder.valueEnd_;
  return S_OK;
}

HRESULT MeasureTypedValue(const uint8_t* data, size_t size, size_t& consumed) {
  ByteReader r(data, size);
  const TextCodePages unused{0, 0};
  Decoder decoder(r, unused, true);
  PROPVARIANT shape;  // types only: nothing is allocated into it
  std::memset(&shape, 0, sizeof shape);
  const HRESULT hr = decoder.Typed(shape, 0);
  if (FAILED(hr)) return hr;
  consumed = decoder.valueEnd_;
  return S_OK;
}

HRESULT EncodeTypedValue(const PROPVARIANT& value, const TextCodePages& cps, std::vector<uint8_t>& out) {
  // Written in place, so a buffer reused across values is not allocated
  // again; a refused value takes its part back out.
  const size_t start = out.size();
  ByteWriter w(out);
  Encoder encoder(w, cps);
  const HRESULT hr = encoder.Typed(value, 0);
  if (FAILED(hr)) out.resize(start);
  return hr;
}

bool HoldsCodePageText(const uint8_t* data, size_t size) {
  ByteReader r(data, size);
  uint16_t vt;
  if (!r.ReadU16(vt)) return false;
  const uint16_t base = vt & VT_TYPEMASK;
  return base == VT_LPSTR || base == VT_BSTR || base == VT_VARIANT;
}

}  // namespace posix
}  // namespace quorvane
