// CryptProtectData / CryptUnprotectData: the Windows calls over the master
// key and the blob format. Output buffers are LocalAlloc blocks, for the
// caller's LocalFree (which wipes a block before freeing it).
#include <cstring>
#include <string>
#include <vector>

#include "../base/ErrnoMapping.h"
#include "../kernel/LocalMemory.h"
#include "DpapiApi.h"
#include "KeyCache.h"
#include "ProtectedBlob.h"

using namespace quorvane::posix;

namespace {

// LPCWSTR is UTF-32 here; the blob keeps UTF-16 as Windows does.
std::u16string ToUtf16(LPCWSTR text) {
  std::u16string out;
  for (; text != nullptr && *text != 0; ++text) {
    const auto c = static_cast<char32_t>(*text);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(c > 0x10FFFF ? u'\xFFFD' : static_cast<char16_t>(c));
    }
  }
  return out;
}

// The UTF-16LE description as a LocalAlloc'd wide string.
LPWSTR DescriptionCopy(const BYTE* bytes, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char32_t unit = bytes[i] | bytes[i + 1] << 8;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
      const char32_t low = bytes[i + 2] | bytes[i + 3] << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        text.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
    }
    text.push_back(static_cast<wchar_t>(unit));
  }
  auto* copy = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (text.size() + 1) * sizeof(WCHAR)));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return copy;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Only the per-user form without entropy or prompt exists here.
bool Supported(DATA_BLOB* in, DATA_BLOB* entropy, CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* out) {
  return in != nullptr && out != nullptr && (in->pbData != nullptr || in->cbData == 0) &&
         (entropy == nullptr || entropy->cbData == 0) && prompt == nullptr &&
         (flags & ~CRYPTPROTECT_UI_FORBIDDEN) == 0;
}

}  // namespace

BOOL CryptProtectData(DATA_BLOB* pDataIn, LPCWSTR szDataDescr, DATA_BLOB* pOptionalEntropy, void* pvReserved,
                      CRYPTPROTECT_PROMPTSTRUCT* pPromptStruct, DWORD dwFlags, DATA_BLOB* pDataOut) {
  if (!Supported(pDataIn, pOptionalEntropy, pPromptStruct, dwFlags, pDataOut)) return Fail(ERROR_INVALID_PARAMETER);
  UserIdentity user;
  if (!CurrentUser(user, false)) return Fail(static_cast<DWORD>(NTE_BAD_KEY_STATE));
  const std::u16string description = ToUtf16(szDataDescr);
  std::vector<BYTE> blob;
  if (const DWORD error = WithMasterKey(nullptr, [&](const MasterKey& key) {
        return SealBlob(key, user, description, pDataIn->pbData, pDataIn->cbData, blob);
      }))
    return Fail(error);
  if (blob.size() > 0xFFFFFFFFu) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  auto* out = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, blob.size()));
  if (out == nullptr) return FALSE;  // LocalAlloc set the code
  std::memcpy(out, blob.data(), blob.size());
  pDataOut->pbData = out;
  pDataOut->cbData = static_cast<DWORD>(blob.size());
  return TRUE;
}

BOOL CryptUnprotectData(DATA_BLOB* pDataIn, LPWSTR* ppszDataDescr, DATA_BLOB* pOptionalEntropy, void* pvReserved,
                        CRYPTPROTECT_PROMPTSTRUCT* pPromptStruct, DWORD dwFlags, DATA_BLOB* pDataOut) {
  if (!Supported(pDataIn, pOptionalEntropy, pPromptStruct, dwFlags, pDataOut)) return Fail(ERROR_INVALID_PARAMETER);
  BlobView view;
  if (!ParseBlob(pDataIn->pbData, pDataIn->cbData, view)) return Fail(ERROR_INVALID_DATA);
  UserIdentity user;
  if (!CurrentUser(user, view.version == kBlobVersionNamed)) return Fail(static_cast<DWORD>(NTE_BAD_KEY_STATE));
  // Another uid's blob (an account whose uid changed) is a key problem, not bad data; no store is read for it.
  if (view.hasUid && view.uid != user.uid) return Fail(static_cast<DWORD>(NTE_BAD_KEY_STATE));
  auto* plain = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, view.dataSize));
  if (plain == nullptr) return FALSE;
  if (const DWORD error =
          WithMasterKey(view.keyId, [&](const MasterKey& key) { return OpenBlob(key, user, view, plain); })) {
    LocalFree(plain);
    return Fail(error);
  }
  LPWSTR description = nullptr;
  if (ppszDataDescr != nullptr) {
    description = DescriptionCopy(view.description, view.descriptionSize);
    if (description == nullptr) {
      LocalFree(plain);
      return FALSE;
    }
    *ppszDataDescr = description;
  }
  pDataOut->pbData = plain;
  pDataOut->cbData = static_cast<DWORD>(view.dataSize);
  return TRUE;
}
