#include "TypedValues.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "Digest.h"
#include "Utf16.h"
#include "util.h"

namespace quorvane {
namespace jni {

namespace {

const size_t kFileTimeTextChars = 25;  // FormatFileTime's text needs 20

template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));  // every target is little-endian
  out.append(bytes, sizeof(T));
}

void PutWide(std::string& out, const wchar_t* text, size_t count) {
  const std::u16string units = Utf16FromWide(text, count);
  Put<int32_t>(out, static_cast<int32_t>(units.size()));
  out.append(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

// Narrow property text is in the ANSI code page; bytes it does not hold are
// taken one character each, so that nothing is lost from view.
void PutNarrow(std::string& out, const char* text) {
  if (text == nullptr) text = "";
  const int size = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
  std::wstring wide;
  if (size > 0) {
    wide.resize(static_cast<size_t>(size));
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, &wide[0], size) != size) wide.clear();
    else wide.resize(static_cast<size_t>(size - 1));
  }
  if (size <= 0 || (wide.empty() && *text != 0))
    for (const char* c = text; *c != 0; ++c) wide.push_back(static_cast<unsigned char>(*c));
  PutWide(out, wide.data(), wide.size());
}

// Binary data by length and SHA-256, and the bytes themselves only when
// asked: a thumbnail of half a megabyte costs the tool nothing to hash here.
void PutBytes(std::string& out, const void* bytes, ULONG size, bool withBytes) {
  const auto* data = static_cast<const unsigned char*>(bytes);
  Put<int32_t>(out, static_cast<int32_t>(size));
  const Sha256Digest digest = ComputeSha256(size > 0 ? data : nullptr, size);
  out.append(reinterpret_cast<const char*>(digest.data()), digest.size());
  Put<int32_t>(out, withBytes ? static_cast<int32_t>(size) : 0);
  if (withBytes && size > 0) out.append(static_cast<const char*>(bytes), size);
}

void PutValue(std::string& out, const PROPVARIANT& v, bool withBytes) {
  switch (v.vt) {
    case VT_I1: Put<int64_t>(out, v.cVal); break;
    case VT_UI1: Put<int64_t>(out, v.bVal); break;
    case VT_I2: Put<int64_t>(out, v.iVal); break;
    case VT_UI2: Put<int64_t>(out, v.uiVal); break;
    case VT_I4: Put<int64_t>(out, v.lVal); break;
    case VT_INT: Put<int64_t>(out, v.intVal); break;
    case VT_UI4: Put<int64_t>(out, v.ulVal); break;
    case VT_UINT: Put<int64_t>(out, v.uintVal); break;
    case VT_ERROR: Put<int64_t>(out, static_cast<uint32_t>(v.scode)); break;
    case VT_I8: Put<int64_t>(out, v.hVal.QuadPart); break;
    case VT_UI8: Put<int64_t>(out, static_cast<int64_t>(v.uhVal.QuadPart)); break;
    case VT_CY: Put<int64_t>(out, v.cyVal.int64); break;
    case VT_R4: Put<double>(out, v.fltVal); break;
    case VT_R8: Put<double>(out, v.dblVal); break;
    case VT_DATE: Put<double>(out, v.date); break;
    case VT_BOOL: Put<uint8_t>(out, v.boolVal != 0 ? 1 : 0); break;
    case VT_LPSTR: PutNarrow(out, v.pszVal); break;
    case VT_LPWSTR: PutWide(out, v.pwszVal ? v.pwszVal : L"", v.pwszVal ? std::wcslen(v.pwszVal) : 0); break;
    case VT_BSTR: PutWide(out, v.bstrVal ? v.bstrVal : L"", v.bstrVal ? SysStringLen(v.bstrVal) : 0); break;
    case VT_FILETIME: {
      Put<int64_t>(out, (static_cast<int64_t>(v.filetime.dwHighDateTime) << 32) | v.filetime.dwLowDateTime);
      char text[kFileTimeTextChars];
      FormatFileTime(v.filetime, text, kFileTimeTextChars);
      PutNarrow(out, text);
      break;
    }
    case VT_BLOB:
    case VT_BLOB_OBJECT: PutBytes(out, v.blob.pBlobData, v.blob.pBlobData ? v.blob.cbSize : 0, withBytes); break;
    case VT_CF: {
      const CLIPDATA* clip = v.pclipdata;
      const ULONG size = clip && clip->pClipData && clip->cbSize >= 4 ? clip->cbSize - 4 : 0;
      Put<int32_t>(out, clip ? clip->ulClipFmt : 0);
      PutBytes(out, clip ? clip->pClipData : nullptr, size, withBytes);
      break;
    }
    case VT_CLSID: {
      static const unsigned char kZero[16] = {};
      out.append(reinterpret_cast<const char*>(v.puuid ? static_cast<const void*>(v.puuid) : kZero), 16);
      break;
    }
    default: break;  // vectors and the rest: told by type alone
  }
}

// Reads little-endian fields from a write's bytes; any overrun is a bad argument.
class Reader {
 public:
  Reader(const unsigned char* bytes, size_t size) : at(bytes), end(bytes + size) {}
  template <typename T>
  T Get() {
    Need(sizeof(T));
    T value;
    std::memcpy(&value, at, sizeof(T));
    at += sizeof(T);
    return value;
  }
  std::wstring Text() {
    const int32_t units = Get<int32_t>();
    if (units < 0) throw HResultException(E_INVALIDARG);
    Need(static_cast<size_t>(units) * 2);
    std::u16string text(static_cast<size_t>(units), u'\0');
    std::memcpy(&text[0], at, text.size() * 2);
    at += text.size() * 2;
    return WideFromUtf16(text.data(), text.size());
  }
  bool Done() const { return at == end; }

 private:
  void Need(size_t n) const {
    if (static_cast<size_t>(end - at) < n) throw HResultException(E_INVALIDARG);
  }
  const unsigned char* at;
  const unsigned char* end;
};

}  // namespace

void PackStatus(HRESULT status, std::string& out) {
  Put<int32_t>(out, status);
  Put<int32_t>(out, 0);
}

void PackSet(const PropertySet& set, bool withBytes, std::string& out) {
  const size_t start = out.size();
  PackStatus(0, out);
  PropertyEnumeration entries(set.Properties());
  PropVariantArray value(1);  // each entry's, freed before the next is read
  int32_t count = 0;
  STATPROPSTG entry;
  while (entries.Next(entry)) {
    entries.ReadValue(entry, value);
    Put<uint16_t>(out, value[0].vt);
    Put<int32_t>(out, static_cast<int32_t>(entry.propid));
    if (entry.lpwstrName != nullptr)
      PutWide(out, entry.lpwstrName, std::wcslen(entry.lpwstrName));
    else
      Put<int32_t>(out, -1);
    PutValue(out, value[0], withBytes);
    ++count;
  }
  const int32_t status = count == 0 ? S_FALSE : 0;  // as the text read answers for an empty set
  std::memcpy(&out[start], &status, 4);
  std::memcpy(&out[start + 4], &count, 4);
}

void WritePacked(PropertySet& set, const unsigned char* bytes, size_t size) {
  Reader in(bytes, size);
  const int32_t count = in.Get<int32_t>();
  if (count < 0 || static_cast<size_t>(count) > size) throw HResultException(E_INVALIDARG);
  std::vector<std::wstring> names(static_cast<size_t>(count));
  std::vector<std::wstring> texts(static_cast<size_t>(count));
  std::vector<PROPSPEC> specs(static_cast<size_t>(count));
  std::vector<PROPVARIANT> values(static_cast<size_t>(count));
  std::memset(values.data(), 0, values.size() * sizeof(PROPVARIANT));
  for (size_t i = 0; i < names.size(); ++i) {
    names[i] = in.Text();
    PROPVARIANT& v = values[i];
    v.vt = in.Get<uint16_t>();
    switch (v.vt) {
      case VT_EMPTY: break;
      case VT_I2: v.iVal = static_cast<SHORT>(in.Get<int64_t>()); break;
      case VT_UI2: v.uiVal = static_cast<USHORT>(in.Get<int64_t>()); break;
      case VT_I4: v.lVal = static_cast<LONG>(in.Get<int64_t>()); break;
      case VT_UI4: v.ulVal = static_cast<ULONG>(in.Get<int64_t>()); break;
      case VT_I8: v.hVal.QuadPart = in.Get<int64_t>(); break;
      case VT_UI8: v.uhVal.QuadPart = static_cast<uint64_t>(in.Get<int64_t>()); break;
      case VT_R4: v.fltVal = static_cast<FLOAT>(in.Get<double>()); break;
      case VT_R8: v.dblVal = in.Get<double>(); break;
      case VT_BOOL: v.boolVal = in.Get<uint8_t>() != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
      case VT_LPWSTR:
        texts[i] = in.Text();
        v.pwszVal = &texts[i][0];
        break;
      case VT_FILETIME: {
        const uint64_t ticks = static_cast<uint64_t>(in.Get<int64_t>());
        v.filetime.dwLowDateTime = static_cast<DWORD>(ticks);
        v.filetime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
        break;
      }
      default: throw HResultException(E_INVALIDARG);  // no other type is written
    }
  }
  if (!in.Done()) throw HResultException(E_INVALIDARG);
  for (size_t i = 0; i < names.size(); ++i) {
    specs[i].ulKind = PRSPEC_LPWSTR;
    specs[i].lpwstr = &names[i][0];
  }
  if (count > 0)
    ThrowIfFailed(set.Properties()->WriteMultiple(static_cast<ULONG>(count), specs.data(), values.data(), MinimumId));
}

}  // namespace jni
}  // namespace quorvane
