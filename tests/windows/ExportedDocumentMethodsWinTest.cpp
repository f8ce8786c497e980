// The DLL's four compound-document exports on documents the test makes and reads with ole32 itself.
#include "ExportedMethods.h"  // first: winsock2.h before windows.h

#include <objbase.h>
#include <propidl.h>

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
                const std::vector<std::pair<std::wstring, std::string>>& byName) {
    IPropertyStorage* p = nullptr;
    HRESULT r = sets_->Create(set, nullptr, PROPSETFLAG_ANSI, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &p);
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
    IPropertyStorage* p = nullptr;
    if (FAILED(sets_->Open(set, STGM_READ | STGM_SHARE_EXCLUSIVE, &p))) return "<no set>";
    PROPSPEC spec{PRSPEC_LPWSTR, {}};
    spec.lpwstr = const_cast<LPOLESTR>(name.c_str());
    PROPVARIANT v;
    PropVariantInit(&v);
    std::string text = "<no property>";
    if (p->ReadMultiple(1, &spec, &v) == S_OK && v.vt == VT_LPSTR) text = v.pszVal;
    PropVariantClear(&v);
    p->Release();
    return text;
  }

  HRESULT hr;

 private:
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

TEST_F(ExportedMethods, DocumentPropertiesAreOle32s) {
  const fs::path doc = folder_ / "made.doc", bare = folder_ / "bare.doc";
  { ASSERT_EQ(S_OK, Ole32Document(doc, true).hr); }
  { ASSERT_EQ(S_OK, Ole32Document(bare, true).hr); }
  // The writing methods open the document as below and wait for its writer lock; Wine's ole32 has no such wait
  // (E_NOTIMPL), and there they answer that, writing nothing.
  const auto writable = [](const fs::path& path) {
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
  };
  Row("setCompoundDocumentUserProperties", "ole32 reads the text and a deletion removes the key, or ole32's "
      "refusal of the writer lock", [&] {
    const HRESULT platform = writable(doc);
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
    const HRESULT platform = writable(copy);
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

}  // namespace
