// PROPVARIANT and BSTR memory management, and the property-set identifiers.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

#include "../PropIdl.h"

const IID IID_IPropertySetStorage = {0x0000013A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPropertyStorage = {0x00000138, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumSTATPROPSTG = {0x00000139, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const FMTID FMTID_SummaryInformation = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
const FMTID FMTID_DocSummaryInformation = {0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
const FMTID FMTID_UserDefinedProperties = {0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};

// A BSTR points just past a 32-bit byte count and is followed by a wide
// terminator, as on Windows.
namespace {
constexpr size_t kBstrPrefix = sizeof(uint32_t);

void FreeClipData(CLIPDATA& clip) {
  CoTaskMemFree(clip.pClipData);
  clip.pClipData = nullptr;
}

bool KnownScalar(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL:
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: case VT_I8:
    case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: case VT_FILETIME: case VT_CLSID: case VT_BSTR:
    case VT_LPSTR: case VT_LPWSTR: case VT_BLOB: case VT_BLOB_OBJECT: case VT_CF:
      return true;
    default:
      return false;
  }
}
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > (std::numeric_limits<uint32_t>::max() - kBstrPrefix) / sizeof(OLECHAR) - 1) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(kBstrPrefix + (ui + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  const uint32_t bytes = ui * sizeof(OLECHAR);
  std::memcpy(block, &bytes, sizeof bytes);
  auto* text = reinterpret_cast<OLECHAR*>(block + kBstrPrefix);
  if (strIn) {
    std::wmemcpy(text, strIn, ui);
  } else {
    std::wmemset(text, L'\0', ui);
  }
  text[ui] = L'\0';
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz)));
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(reinterpret_cast<uint8_t*>(bstrString) - kBstrPrefix);
}

UINT SysStringLen(BSTR pbstr) {
  if (!pbstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<uint8_t*>(pbstr) - kBstrPrefix, sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

HRESULT PropVariantClear(PROPVARIANT* pvar) {
  if (!pvar) return E_INVALIDARG;
  const VARTYPE vt = pvar->vt;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_VECTOR) {
    if ((vt & ~(VT_VECTOR | VT_TYPEMASK)) || !(KnownScalar(base) || base == VT_VARIANT))
      return STG_E_INVALIDPARAMETER;
    // Every CA* member starts {ULONG cElems; T* pElems;}.
    const ULONG count = pvar->cal.cElems;
    switch (base) {
      case VT_BSTR:
        for (ULONG i = 0; i < count; ++i) SysFreeString(pvar->cabstr.pElems[i]);
        break;
      case VT_LPSTR:
        for (ULONG i = 0; i < count; ++i) CoTaskMemFree(pvar->calpstr.pElems[i]);
        break;
      case VT_LPWSTR:
        for (ULONG i = 0; i < count; ++i) CoTaskMemFree(pvar->calpwstr.pElems[i]);
        break;
      case VT_CF:
        for (ULONG i = 0; i < count; ++i) FreeClipData(pvar->caclipdata.pElems[i]);
        break;
      case VT_VARIANT:
        for (ULONG i = 0; i < count; ++i) PropVariantClear(&pvar->capropvar.pElems[i]);
        break;
      default:
        break;
    }
    CoTaskMemFree(pvar->cal.pElems);
  } else {
    if (vt & ~VT_TYPEMASK || !KnownScalar(vt)) return STG_E_INVALIDPARAMETER;
    switch (vt) {
      case VT_BSTR: SysFreeString(pvar->bstrVal); break;
      case VT_LPSTR: CoTaskMemFree(pvar->pszVal); break;
      case VT_LPWSTR: CoTaskMemFree(pvar->pwszVal); break;
      case VT_CLSID: CoTaskMemFree(pvar->puuid); break;
      case VT_BLOB:
      case VT_BLOB_OBJECT: CoTaskMemFree(pvar->blob.pBlobData); break;
      case VT_CF:
        if (pvar->pclipdata) FreeClipData(*pvar->pclipdata);
        CoTaskMemFree(pvar->pclipdata);
        break;
      default: break;
    }
  }
  std::memset(pvar, 0, sizeof *pvar);
  return S_OK;
}

HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars) {
  if (!rgvars) return E_INVALIDARG;
  for (ULONG i = 0; i < cVariants; ++i) {
    // Unknown types are zeroed like Windows does, so the array is reusable.
    if (FAILED(PropVariantClear(&rgvars[i]))) std::memset(&rgvars[i], 0, sizeof rgvars[i]);
  }
  return S_OK;
}
