// IPropertySetStorage / IPropertyStorage over an in-memory stream store.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MemoryStorage.h"
#include "PropertyTestSets.h"
#include "Win32Api.h"
#include "posix/storage/props/PropertySetStorage.h"

using qvtest::Named;
using qvtest::Text;

namespace {

const std::u16string kDocSummary = u"\005DocumentSummaryInformation";
const std::u16string kSummary = u"\005SummaryInformation";

template <typename T>
struct Ref {
  T* p = nullptr;
  ~Ref() { reset(); }
  void reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** operator&() { return &p; }
  T* operator->() { return p; }
};

PROPSPEC ById(PROPID id) {
  PROPSPEC spec;
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = id;
  return spec;
}

struct Fixture {
  std::shared_ptr<qvtest::MemoryStreamStore> store = std::make_shared<qvtest::MemoryStreamStore>();
  Ref<IPropertySetStorage> sets;
  Fixture() { EXPECT_EQ(S_OK, CreatePropertySetStorage(store, &sets)); }
  std::string ReadText(IPropertyStorage* set, const PROPSPEC& spec) {
    PROPVARIANT v;
    const HRESULT hr = set->ReadMultiple(1, &spec, &v);
    std::string out = hr != S_OK ? "<absent>" : v.vt != VT_LPSTR ? "<type " + std::to_string(v.vt) + ">"
                                                                  : (v.pszVal ? v.pszVal : "<null>");
    PropVariantClear(&v);
    return out;
  }
};

}  // namespace

TEST(PropsStorage, OpenCreateDeleteFollowTheWindowsContract) {
  Fixture f;
  Ref<IPropertyStorage> set;
  EXPECT_EQ(STG_E_FILENOTFOUND, f.sets->Open(FMTID_UserDefinedProperties, STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ(nullptr, set.p);
  EXPECT_EQ(STG_E_INVALIDFLAG, f.sets->Open(FMTID_SummaryInformation, STGM_SHARE_DENY_NONE, &set));
  EXPECT_EQ(STG_E_INVALIDFLAG,
            f.sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_NONSIMPLE, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));

  const CLSID clsid = FMTID_UserDefinedProperties;
  ASSERT_EQ(S_OK, f.sets->Create(FMTID_SummaryInformation, &clsid, PROPSETFLAG_ANSI,
                                 STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ(1u, f.store->streams.count(kSummary)) << "Create writes the empty set at once";
  Ref<IPropertyStorage> second;
  EXPECT_EQ(STG_E_ACCESSDENIED, f.sets->Open(FMTID_SummaryInformation, STGM_SHARE_EXCLUSIVE, &second))
      << "a set is open once at a time";
  EXPECT_EQ(STG_E_ACCESSDENIED, f.sets->Delete(FMTID_SummaryInformation));
  STATPROPSETSTG stat;
  ASSERT_EQ(S_OK, set->Stat(&stat));
  EXPECT_TRUE(stat.clsid == clsid);
  EXPECT_EQ(static_cast<DWORD>(PROPSETFLAG_ANSI), stat.grfFlags);
  PROPVARIANT cp;
  const PROPSPEC codePage = ById(PID_CODEPAGE);
  ASSERT_EQ(S_OK, set->ReadMultiple(1, &codePage, &cp));
  EXPECT_EQ(VT_I2, cp.vt);
  EXPECT_EQ(GetACP(), static_cast<UINT>(static_cast<uint16_t>(cp.iVal)));
  set.reset();

  EXPECT_EQ(STG_E_FILEALREADYEXISTS, f.sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_DEFAULT,
                                                    STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  ASSERT_EQ(S_OK, f.sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_DEFAULT,
                                 STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  ASSERT_EQ(S_OK, set->Stat(&stat));
  EXPECT_EQ(0u, stat.grfFlags) << "without PROPSETFLAG_ANSI the new set is Unicode";
  set.reset();

  EXPECT_EQ(S_OK, f.sets->Delete(FMTID_SummaryInformation));
  EXPECT_EQ(0u, f.store->streams.count(kSummary));
  EXPECT_EQ(STG_E_FILENOTFOUND, f.sets->Delete(FMTID_SummaryInformation));

  f.store->writable = false;
  EXPECT_EQ(STG_E_ACCESSDENIED, f.sets->Open(FMTID_SummaryInformation, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set))
      << "a write open of a read-only storage is refused before the set is looked for";
  EXPECT_EQ(STG_E_ACCESSDENIED, f.sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_ANSI,
                                               STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
}

TEST(PropsStorage, NamedPropertiesGetIdsFromTheMinimumUpAndMatchWithoutCase) {
  Fixture f;
  Ref<IPropertyStorage> set;
  ASSERT_EQ(S_OK, f.sets->Create(FMTID_UserDefinedProperties, &FMTID_UserDefinedProperties, PROPSETFLAG_ANSI,
                                 STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  const PROPSPEC specs[] = {Named(L"Alpha"), Named(L"Beta"), Named(L"ALPHA")};
  const PROPVARIANT values[] = {Text("1"), Text("2"), Text("3")};
  ASSERT_EQ(S_OK, set->WriteMultiple(3, specs, values, 4096));
  EXPECT_EQ("3", f.ReadText(set.p, Named(L"alpha"))) << "one property, written twice";
  EXPECT_EQ("2", f.ReadText(set.p, ById(4097)));

  PROPVARIANT none[2];
  const PROPSPEC missing[] = {Named(L"gamma"), ById(77)};
  EXPECT_EQ(S_FALSE, set->ReadMultiple(2, missing, none));
  EXPECT_EQ(VT_EMPTY, none[0].vt);

  const PROPSPEC gone = Named(L"beta");
  ASSERT_EQ(S_OK, set->DeleteMultiple(1, &gone));
  const PROPSPEC delta = Named(L"Delta");
  const PROPVARIANT four = Text("4");
  ASSERT_EQ(S_OK, set->WriteMultiple(1, &delta, &four, 4096));

  Ref<IEnumSTATPROPSTG> items;
  ASSERT_EQ(S_OK, set->Enum(&items));
  STATPROPSTG stat[4];
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, items->Next(4, stat, &fetched));
  ASSERT_EQ(2u, fetched) << "the code page is not enumerated";
  EXPECT_STREQ(L"Alpha", stat[0].lpwstrName);
  EXPECT_EQ(4096u, stat[0].propid);
  EXPECT_STREQ(L"Delta", stat[1].lpwstrName);
  EXPECT_EQ(4097u, stat[1].propid) << "the freed id is free again";
  EXPECT_EQ(VT_LPSTR, stat[1].vt);
  for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(stat[i].lpwstrName);
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Skip(3));
  EXPECT_EQ(STG_E_INVALIDPARAMETER, items->Next(2, stat, nullptr));

  const PROPSPEC bad = Named(L"x");
  EXPECT_EQ(STG_E_INVALIDPARAMETER, set->WriteMultiple(1, &bad, &four, 1)) << "ids below 2 are reserved";
  const PROPSPEC dictionary = ById(PID_DICTIONARY);
  EXPECT_EQ(STG_E_INVALIDPARAMETER, set->WriteMultiple(1, &dictionary, &four, 4096));
}

TEST(PropsStorage, ChangesReachTheStoreOnCommitOrFinalReleaseButNotWhenTransactedAndReleased) {
  Fixture f;
  {
    Ref<IPropertyStorage> set;
    ASSERT_EQ(S_OK, f.sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_ANSI,
                                   STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
    const PROPSPEC title = ById(PIDSI_TITLE);
    const PROPVARIANT value = Text("direct");
    ASSERT_EQ(S_OK, set->WriteMultiple(1, &title, &value, 2));
    EXPECT_EQ(2u, set->AddRef());
    EXPECT_EQ(1u, set->Release());
  }  // released without Commit
  Ref<IPropertyStorage> set;
  ASSERT_EQ(S_OK, f.sets->Open(FMTID_SummaryInformation, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED, &set));
  EXPECT_EQ("direct", f.ReadText(set.p, ById(PIDSI_TITLE)));
  const PROPSPEC title = ById(PIDSI_TITLE);
  const PROPVARIANT value = Text("transacted");
  ASSERT_EQ(S_OK, set->WriteMultiple(1, &title, &value, 2));
  ASSERT_EQ(S_OK, set->Revert());
  EXPECT_EQ("direct", f.ReadText(set.p, ById(PIDSI_TITLE)));
  ASSERT_EQ(S_OK, set->WriteMultiple(1, &title, &value, 2));
  set.reset();
  ASSERT_EQ(S_OK, f.sets->Open(FMTID_SummaryInformation, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ("direct", f.ReadText(set.p, ById(PIDSI_TITLE)));
  const int writes = f.store->writes;
  EXPECT_EQ(S_OK, set->Commit(STGC_DEFAULT));
  EXPECT_EQ(writes, f.store->writes) << "nothing changed, nothing written";
  EXPECT_EQ(STG_E_INVALIDFLAG, set->Commit(0x100));
  set.reset();

  ASSERT_EQ(S_OK, f.sets->Open(FMTID_SummaryInformation, STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ(STG_E_ACCESSDENIED, set->WriteMultiple(1, &title, &value, 2));
  EXPECT_EQ(STG_E_ACCESSDENIED, set->DeleteMultiple(1, &title));
}

TEST(PropsStorage, ASingleByteSetTakingTextItCannotHoldBecomesUtf8) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "needs a UTF-8 system code page to pass such text in";
  Fixture f;
  Ref<IPropertyStorage> set;
  ASSERT_EQ(S_OK, f.sets->Create(FMTID_UserDefinedProperties, nullptr, PROPSETFLAG_ANSI,
                                 STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set));
  PROPSPEC cpSpec = ById(PID_CODEPAGE);
  PROPVARIANT cp;
  std::memset(&cp, 0, sizeof cp);
  cp.vt = VT_I2;
  cp.iVal = 1252;
  ASSERT_EQ(S_OK, set->WriteMultiple(1, &cpSpec, &cp, 2)) << "the code page may change while the set is empty";
  const PROPSPEC first = Named(L"caf\u00e9");
  const PROPVARIANT latin = Text("\xC3\xA9t\xC3\xA9");
  ASSERT_EQ(S_OK, set->WriteMultiple(1, &first, &latin, 4096));
  EXPECT_EQ(STG_E_INVALIDPARAMETER, set->WriteMultiple(1, &cpSpec, &cp, 2)) << "... and only then";
  const PROPSPEC second = Named(L"\u4e2d");
  const PROPVARIANT han = Text("\xE6\x96\x87");
  ASSERT_EQ(S_OK, set->WriteMultiple(1, &second, &han, 4096));
  PROPVARIANT now;
  ASSERT_EQ(S_OK, set->ReadMultiple(1, &cpSpec, &now));
  EXPECT_EQ(-535, now.iVal);
  set.reset();
  ASSERT_EQ(S_OK, f.sets->Open(FMTID_UserDefinedProperties, STGM_SHARE_EXCLUSIVE, &set));
  EXPECT_EQ("\xC3\xA9t\xC3\xA9", f.ReadText(set.p, Named(L"CAF\u00c9")));
  EXPECT_EQ("\xE6\x96\x87", f.ReadText(set.p, Named(L"\u4e2d")));
}
