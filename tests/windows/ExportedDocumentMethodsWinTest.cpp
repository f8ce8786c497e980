// The DLL's four compound-document exports on documents the test makes and reads with ole32 itself.
#include "ExportedMethods.h"  // first: winsock2.h before windows.h

#include <objbase.h>
#include <propidl.h>

#include <cstring>
#include <map>
#include <set>
#include <utility>

namespace {

using qvtest::DllJni;
namespace fs = std::filesystem;
using ExportedMethods = qvtest::ExportedMethods;
using Entries = std::map<std::u16string, std::u16string>;

// One property set of a document through ole32: ANSI texts written, or one read by name.
class Ole32Document {
 public:
  explicit Ole32Document(const fs::path& path, bool create = false) {
    const DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    hr = create ? StgCreateDocfile(path.c_str(), mode | STGM_CREATE, 0, &storage_)
                : StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, &storage_);
    if (SUCCEEDED(hr)) hr = storage_->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets_));
  }
  ~Ole32Document() {
    if (sets_) sets_->Release();
    if (storage_) storage_->Commit(STGC_DEFAULT), storage_->Release();
  }
  // Texts as VT_LPSTR by id (PIDSI) or by name.
  HRESULT Write(const FMTID& set, const std::vector<std::pair<PROPID, std::string>>& byId,
                const std::vector<std::pair<std::wstring, std::string>>& byName, DWORD flags = PROPSETFLAG_ANSI) {
    IPropertyStorage* p = nullptr;
    HRESULT r = sets_->Create(set, nullptr, flags, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &p);
    if (FAILED(r)) return r;
    for (const auto& [id, text] : byId) r = WriteOne(p, PROPSPEC{PRSPEC_PROPID, {id}}, text);
    for (const auto& [name, text] : byName) {
      PROPSPEC spec{PRSPEC_LPWSTR, {}};
      spec.lpwstr = const_cast<LPOLESTR>(name.c_str());
      r = WriteOne(p, spec, text);
    }
    if (SUCCEEDED(r)) r = p->Commit(STGC_DEFAULT);
    p->Release();
    return r;
  }
  // The text of the named property, "<hr>" when the set or property cannot be read.
  std::string Read(const FMTID& set, const std::wstring& name) {
    return ReadOne(set, name, [](const PROPVARIANT& v) { return v.vt == VT_LPSTR ? v.pszVal : "<no property>"; });
  }
  // One property by name as "vt:value" (integers, reals, booleans, wide text as UTF-8, blobs as their bytes).
  std::string Typed(const FMTID& set, const std::wstring& name) {
    return ReadOne(set, name, [](const PROPVARIANT& v) {
      std::string text = std::to_string(v.vt) + ":";
      if (v.vt == VT_I4) text += std::to_string(v.lVal);
      if (v.vt == VT_R8) text += std::to_string(v.dblVal);
      if (v.vt == VT_BOOL) text += v.boolVal ? "true" : "false";
      if (v.vt == VT_BLOB) text.append(reinterpret_cast<const char*>(v.blob.pBlobData), v.blob.cbSize);
      if (v.vt == VT_LPWSTR) {
        char utf8[64] = {};
        WideCharToMultiByte(CP_UTF8, 0, v.pwszVal, -1, utf8, sizeof utf8, nullptr, nullptr);
        text += utf8;
      }
      return text;
    });
  }
  // A blob by name into a set the document has.
  HRESULT WriteBlob(const FMTID& set, const std::wstring& name, const std::string& bytes) {
    IPropertyStorage* p = nullptr;
    HRESULT r = sets_->Open(set, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &p);
    if (FAILED(r)) return r;
    PROPSPEC spec{PRSPEC_LPWSTR, {}};
    spec.lpwstr = const_cast<LPOLESTR>(name.c_str());
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_BLOB;
    v.blob.cbSize = static_cast<ULONG>(bytes.size());
    v.blob.pBlobData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
    r = p->WriteMultiple(1, &spec, &v, PID_FIRST_USABLE);
    if (SUCCEEDED(r)) r = p->Commit(STGC_DEFAULT);
    p->Release();
    return r;
  }

  HRESULT hr;

 private:
  // The named property as `render` gives it; "<no set>" or "<no property>" when it cannot be read.
  template <typename Render>
  std::string ReadOne(const FMTID& set, const std::wstring& name, Render render) {
    IPropertyStorage* p = nullptr;
    if (FAILED(sets_->Open(set, STGM_READ | STGM_SHARE_EXCLUSIVE, &p))) return "<no set>";
    PROPSPEC spec{PRSPEC_LPWSTR, {}};
    spec.lpwstr = const_cast<LPOLESTR>(name.c_str());
    PROPVARIANT v;
    PropVariantInit(&v);
    std::string text = "<no property>";
    if (p->ReadMultiple(1, &spec, &v) == S_OK) text = render(v);
    PropVariantClear(&v);
    p->Release();
    return text;
  }
  static HRESULT WriteOne(IPropertyStorage* p, PROPSPEC spec, const std::string& text) {
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_LPSTR;
    v.pszVal = const_cast<char*>(text.c_str());
    return p->WriteMultiple(1, &spec, &v, PID_FIRST_USABLE);
  }
  IStorage* storage_ = nullptr;
  IPropertySetStorage* sets_ = nullptr;
};

// The writing methods open a document as below and wait for its writer lock; Wine's ole32 has no such wait
// (E_NOTIMPL), and there they answer that, writing nothing.
HRESULT WriterAccess(const fs::path& path) {
  IStorage* storage = nullptr;
  HRESULT r = StgOpenStorage(path.c_str(), nullptr, STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE,
                             nullptr, 0, &storage);
  IDirectWriterLock* lock = nullptr;
  if (SUCCEEDED(r)) r = storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock));
  if (SUCCEEDED(r)) {
    r = lock->WaitForWriteAccess(0);
    if (r == S_OK) lock->ReleaseWriteAccess();
    lock->Release();
  }
  if (storage) storage->Release();
  return r;
}

TEST_F(ExportedMethods, DocumentPropertiesAreOle32s) {
  const fs::path doc = folder_ / "made.doc", bare = folder_ / "bare.doc";
  { ASSERT_EQ(S_OK, Ole32Document(doc, true).hr); }
  { ASSERT_EQ(S_OK, Ole32Document(bare, true).hr); }
  Row("setCompoundDocumentUserProperties", "ole32 reads the text and a deletion removes the key, or ole32's "
      "refusal of the writer lock", [&] {
    const HRESULT platform = WriterAccess(doc);
    const jobject p = jni_.NewProperties({{u"Client", u"Acme 1"}, {u"Gone", u"##DEL##"}});
    const jint hr = Call<jint>("setCompoundDocumentUserProperties", Str(doc), p);
    if (platform == S_OK) {
      EXPECT_EQ(0, hr);
      EXPECT_EQ("Acme 1", Ole32Document(doc).Read(FMTID_UserDefinedProperties, L"Client"));
      EXPECT_EQ((Entries{{u"Client", u"Acme 1"}}), DllJni::Entries(p));
    } else {
      EXPECT_EQ(jint(platform), hr);
      EXPECT_EQ("<no set>", Ole32Document(doc).Read(FMTID_UserDefinedProperties, L"Client"));
      EXPECT_EQ((Entries{{u"Client", u"Acme 1"}, {u"Gone", u"##DEL##"}}), DllJni::Entries(p));
    }
    EXPECT_EQ(jint(STG_E_FILENOTFOUND), Call<jint>("setCompoundDocumentUserProperties", Str(folder_ / "none.doc"),
                                                   jni_.NewProperties()));
  });
  // Wine hands out the names of an ANSI set as its narrow bytes with whatever follows them in memory
  // (WineMain.cpp), different from one enumeration to the next: there the values are compared, and the names only
  // off Wine.
  const fs::path written = folder_ / "written.doc";
  {
    Ole32Document d(written, true);
    ASSERT_EQ(S_OK, d.Write(FMTID_UserDefinedProperties, {}, {{L"Client", "Acme 2"}, {L"Due", "soon"}}));
    ASSERT_EQ(S_OK, d.Write(FMTID_SummaryInformation, {{PIDSI_TITLE, "Heading"}, {PIDSI_AUTHOR, "Zoe"}}, {}));
  }
  for (const jboolean check : {jboolean(0), jboolean(1)}) {
    Row("getCompoundDocumentUserProperties", std::string("ole32's texts, check ") + (check ? "on" : "off"), [&] {
      const jobject p = jni_.NewProperties({{u"kept", u"yes"}});
      EXPECT_EQ(0, Call<jint>("getCompoundDocumentUserProperties", Str(written), p, check));
      const Entries expected = {{u"Client", u"Acme 2"}, {u"Due", u"soon"}, {u"kept", u"yes"}};
      const auto values = [](const Entries& entries) {
        std::multiset<std::u16string> v;
        for (const auto& e : entries) v.insert(e.second);
        return v;
      };
      if (qvtest::OnWine())
        EXPECT_EQ(values(expected), values(DllJni::Entries(p)));
      else
        EXPECT_EQ(expected, DllJni::Entries(p));
      EXPECT_EQ(1, Call<jint>("getCompoundDocumentUserProperties", Str(bare), jni_.NewProperties(), check))
          << "no user-defined set";
    });
  }
  Row("getCompoundDocumentSummaryProperties", "ole32's summary texts under their PIDSI names; 1 without the set, "
      "ole32's error for a missing file and for one that is no compound file", [&] {
    const jobject p = jni_.NewProperties();
    EXPECT_EQ(0, Call<jint>("getCompoundDocumentSummaryProperties", Str(written), p));
    EXPECT_EQ(u"Heading", DllJni::Entries(p)[u"PIDSI_TITLE"]);
    EXPECT_EQ(u"Zoe", DllJni::Entries(p)[u"PIDSI_AUTHOR"]);
    std::ofstream(folder_ / "plain.doc") << "not a compound file";
    for (const auto& [name, hr] : {std::pair{"bare.doc", 1}, std::pair{"missing.doc", int(STG_E_FILENOTFOUND)},
                                   std::pair{"plain.doc", int(STG_E_FILEALREADYEXISTS)}})
      EXPECT_EQ(hr, Call<jint>("getCompoundDocumentSummaryProperties", Str(folder_ / name), jni_.NewProperties()))
          << name;
  });
  Row("copySummaryPropertiesToUserProperties", "ole32 reads the copy under its new name, or ole32's refusal of the "
      "writer lock; an empty name copies nothing", [&] {
    const fs::path copy = folder_ / "copy.doc";
    {
      Ole32Document d(copy, true);
      ASSERT_EQ(S_OK, d.Write(FMTID_SummaryInformation, {{PIDSI_TITLE, "Heading"}}, {}));
    }
    const HRESULT platform = WriterAccess(copy);
    const jint refused = Call<jint>("copySummaryPropertiesToUserProperties", Str(copy),
                                    jni_.NewProperties({{u"PIDSI_TITLE", u""}}));
    EXPECT_EQ(jint(platform == S_OK ? STG_E_INVALIDPARAMETER : platform), refused);
    EXPECT_EQ("<no set>", Ole32Document(copy).Read(FMTID_UserDefinedProperties, L"Copied"));
    EXPECT_EQ(jint(platform), Call<jint>("copySummaryPropertiesToUserProperties", Str(copy),
                                         jni_.NewProperties({{u"PIDSI_TITLE", u"Copied"}})));
    EXPECT_EQ(platform == S_OK ? "Heading" : "<no set>", Ole32Document(copy).Read(FMTID_UserDefinedProperties,
                                                                                 L"Copied"));
  });
}

// Little-endian fields as the tool's typed methods pack them.
template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void PutText(std::string& out, const std::u16string& text) {
  Put<int32_t>(out, static_cast<int32_t>(text.size()));
  out.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}
template <typename T>
T Take(const std::string& in, size_t& at) {
  T value{};
  if (at + sizeof value <= in.size()) std::memcpy(&value, in.data() + at, sizeof value);
  at += sizeof value;
  return value;
}

// The docprops tool's own exports: typed values written are what ole32 reads, and a blob ole32 wrote comes back
// by length and SHA-256, with its bytes only when asked.
TEST_F(ExportedMethods, ToolTypedValuesAreOle32s) {
  class_ = "Java_com_quorvane_tools_TypedProperties_";
  const fs::path doc = folder_ / "typed.doc";
  {
    Ole32Document made(doc, true);
    // A Unicode set: Wine's ole32 enumerates the names of an ANSI set read from disk as narrow text.
    ASSERT_EQ(S_OK, made.Write(FMTID_UserDefinedProperties, {}, {{L"Client", "ACME"}}, 0));
    ASSERT_EQ(S_OK, made.WriteBlob(FMTID_UserDefinedProperties, L"Blob", "abc"));
  }
  std::string changes;
  Put<int32_t>(changes, 4);
  PutText(changes, u"N"), Put<uint16_t>(changes, VT_I4), Put<int64_t>(changes, -7);
  PutText(changes, u"R"), Put<uint16_t>(changes, VT_R8), Put<double>(changes, 2.5);
  PutText(changes, u"B"), Put<uint16_t>(changes, VT_BOOL), Put<uint8_t>(changes, 1);
  PutText(changes, u"W"), Put<uint16_t>(changes, VT_LPWSTR), PutText(changes, u"M\u00fcller \u2713");
  const HRESULT platform = WriterAccess(doc);
  const jint written = Call<jint>("write", Str(doc), jni_.Bytes(changes));
  if (platform != S_OK) {
    EXPECT_EQ(jint(platform), written);
    const std::string none = Ole32Document(doc).Typed(FMTID_UserDefinedProperties, L"N");
    EXPECT_TRUE(none == "<no property>" || none == "0:") << none;  // Wine answers VT_EMPTY for a missing one
  } else {
    EXPECT_EQ(0, written);
    Ole32Document read(doc);
    EXPECT_EQ("3:-7", read.Typed(FMTID_UserDefinedProperties, L"N"));
    EXPECT_EQ("5:2.500000", read.Typed(FMTID_UserDefinedProperties, L"R"));
    EXPECT_EQ("11:true", read.Typed(FMTID_UserDefinedProperties, L"B"));
    EXPECT_EQ("31:M\xc3\xbcller \xe2\x9c\x93", read.Typed(FMTID_UserDefinedProperties, L"W"));
    EXPECT_EQ("65:abc", read.Typed(FMTID_UserDefinedProperties, L"Blob"));
  }
  for (const bool withBytes : {false, true}) {
    SCOPED_TRACE(withBytes ? "with bytes" : "without bytes");
    DllJni::Value* result = jni_.NewArray(DllJni::Kind::kObjectArray);
    result->elements.resize(1);
    const auto array = reinterpret_cast<jobjectArray>(DllJni::Ref(result));
    ASSERT_EQ(0, Call<jint>("read", Str(doc), jboolean(withBytes), array));
    ASSERT_NE(nullptr, result->elements[0]);
    const std::vector<jbyte>& packed = result->elements[0]->bytes;
    const std::string in(packed.begin(), packed.end());
    size_t at = 0;
    EXPECT_NE(0, Take<int32_t>(in, at)) << "the document has no summary set";
    EXPECT_EQ(0, Take<int32_t>(in, at)) << "so no summary entries";
    EXPECT_EQ(0, Take<int32_t>(in, at)) << "the user-defined set was read";
    std::map<std::string, std::string> found;  // name -> vt and the value's packed bytes
    for (int32_t i = 0, count = Take<int32_t>(in, at); i < count && at < in.size(); ++i) {
      const uint16_t vt = Take<uint16_t>(in, at);
      Take<int32_t>(in, at);  // the id
      std::string name;
      for (int32_t units = Take<int32_t>(in, at); units > 0; --units) name += static_cast<char>(Take<char16_t>(in, at));
      size_t size = vt == VT_BOOL ? 1 : 8, peek = at;
      if (vt == VT_LPSTR || vt == VT_LPWSTR) size = 4 + 2 * static_cast<size_t>(Take<int32_t>(in, peek));
      if (vt == VT_BLOB) peek += 36, size = 40 + static_cast<size_t>(Take<int32_t>(in, peek));
      found[name] = std::to_string(vt) + ":" + in.substr(at, size);
      at += size;
    }
    EXPECT_EQ(platform == S_OK ? 6u : 2u, found.size());
    std::string names;
    for (const auto& [name, value] : found) names += name + " ";
    SCOPED_TRACE("read: " + names);
    if (platform == S_OK) {
      EXPECT_EQ(std::to_string(VT_I4) + ":" + std::string("\xf9\xff\xff\xff\xff\xff\xff\xff", 8), found["N"]);
    }
    // 3 bytes, SHA-256 of "abc", then the bytes carried.
    const std::string sha("\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
                            "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad",
                          32);
    EXPECT_EQ(std::to_string(VT_BLOB) + ":" + std::string("\x03\0\0\0", 4) + sha +
                  (withBytes ? std::string("\x03\0\0\0abc", 7) : std::string(4, '\0')),
              found["Blob"]);
  }
}

}  // namespace
