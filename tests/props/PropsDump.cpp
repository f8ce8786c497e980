// compare_with_poi.py's tool: prints property-set streams as POI's dump does; --relayout DIR, --set-user FILE N V.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "DumpText.h"
#include "Win32Api.h"
#include "posix/storage/props/PropertySetStream.h"
#include "posix/storage/props/TypedValueCodec.h"

using namespace quorvane::posix;

// NAME and VALUE arrive as UTF-8; VALUE is handed over in the system ANSI code page.
int SetUserProperty(const char* file, const char* name, const char* value) {
  std::wstring wideName = qvdump::Wide(name);
  const std::wstring wideValue = qvdump::Wide(value);
  std::string ansi;
  if (!EncodeToCodePage(GetACP(), wideValue.data(), wideValue.size(), ansi, true)) return 2;
  const DWORD setMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  qvdump::Com<IStorage> storage;
  qvdump::Com<IPropertySetStorage> sets;
  qvdump::Com<IPropertyStorage> set;
  HRESULT hr = StgOpenStorage(qvdump::Wide(file).c_str(), nullptr,
                              STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE, nullptr, 0, &storage.p);
  if (SUCCEEDED(hr)) hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets.p));
  if (SUCCEEDED(hr) && (hr = sets->Open(FMTID_UserDefinedProperties, setMode, &set.p)) == STG_E_FILENOTFOUND)
    hr = sets->Create(FMTID_UserDefinedProperties, &FMTID_UserDefinedProperties, PROPSETFLAG_ANSI, setMode, &set.p);
  PROPSPEC spec = {PRSPEC_LPWSTR, {}};
  spec.lpwstr = &wideName[0];
  PROPVARIANT v = qvdump::Var(VT_LPSTR);
  v.pszVal = &ansi[0];
  if (SUCCEEDED(hr)) hr = set->WriteMultiple(1, &spec, &v, 4096);
  if (SUCCEEDED(hr)) hr = set->Commit(STGC_DEFAULT);
  if (SUCCEEDED(hr)) hr = storage->Commit(STGC_DEFAULT);
  if (FAILED(hr)) std::fprintf(stderr, "set-user failed: %s\n", qvdump::Hex(hr).c_str());
  return FAILED(hr) ? 1 : 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--set-user") return SetUserProperty(argv[2], argv[3], argv[4]);
  std::string relayout;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--relayout" && i + 1 < argc) {
      relayout = argv[++i];
      continue;
    }
    std::ifstream in(argv[i], std::ios::binary);
    PropertySetStream stream;
    const HRESULT hr = PropertySetStream::Parse({std::istreambuf_iterator<char>(in), {}}, stream);
    const std::string name = std::string(argv[i]).substr(std::string(argv[i]).find_last_of('/') + 1);
    if (FAILED(hr)) {
      std::printf("stream %s error %s\n", name.c_str(), qvdump::Hex(hr).c_str());
      status = 1;
      continue;
    }
    std::printf("stream %s sections=%zu\n", name.c_str(), stream.Sections().size());
    for (const PropertySection& s : stream.Sections()) {
      const GUID& g = s.Fmtid();
      std::printf("section {%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X} cp=%u\n", static_cast<unsigned>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7], s.HasCodePage() ? s.CodePage() : 0);
      std::map<PROPID, std::wstring> names;
      for (const auto& e : s.Names()) names[e.id] = e.name;
      for (const auto& [id, n] : names) std::printf("name %u \"%s\"\n", id, qvdump::Escape(n).c_str());
      std::map<PROPID, const SectionProperty*> props;
      for (const auto& p : s.Properties()) props[p.id] = &p;
      for (const auto& e : props) {
        if (e.first == PID_DICTIONARY || e.first == PID_CODEPAGE) continue;
        const auto& raw = e.second->value;
        const uint16_t vt = static_cast<uint16_t>(raw[0] | (raw[1] << 8));
        std::string text = "-";
        PROPVARIANT v;
        size_t used;
        if (IsInterpretedType(vt) &&
            SUCCEEDED(DecodeTypedValue(raw.data(), raw.size(), TextCodePages{s.CodePage(), CP_UTF8}, v, used))) {
          text = qvdump::Value(v, CP_UTF8);  // the codec was asked for UTF-8 text
          PropVariantClear(&v);
        }
        std::printf("prop %u %u %s\n", e.first, vt, text.c_str());
      }
    }
    if (!relayout.empty()) {
      const std::vector<uint8_t> out = stream.Serialize(true);
      std::ofstream(relayout + "/" + name, std::ios::binary) << std::string(out.begin(), out.end());
    }
  }
  return status;
}
