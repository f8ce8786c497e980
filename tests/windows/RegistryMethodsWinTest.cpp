// RegCreateKey and RegSetValueEx of quorvane.dll, called through its exports
// with a JVM-less JNIEnv (int[] added to the fake's arrays), against the
// registry of the Windows in use (Wine's under CI); read back with advapi32.
#include <gtest/gtest.h>

#include <jni.h>

#include <string>
#include <vector>

#include "FakeJni.h"
#include "OnWine.h"
#include "QuorvaneDll.h"

using qvtest::FakeJni;

namespace {

typedef jint(JNICALL* CreateKeyMethod)(JNIEnv*, jclass, jint, jstring, jintArray);
typedef jint(JNICALL* SetValueMethod)(JNIEnv*, jclass, jint, jstring, jint, jint, jbyteArray, jint);

const wchar_t kKey[] = L"Software\\Quorvane Wine Registry Test";

// The fake's table with int[] elements: an int[] is a vector<jint>.
class IntArrayJni {
 public:
  IntArrayJni() {
    table_ = *fake.env()->functions;
    table_.GetIntArrayElements = GetIntArrayElements;
    table_.ReleaseIntArrayElements = ReleaseIntArrayElements;
    table_.GetArrayLength = GetArrayLength;
    fakeLength_ = fake.env()->functions->GetArrayLength;
    table_.reserved1 = this;
    env_.functions = &table_;
  }
  JNIEnv* env() { return &env_; }
  jintArray NewInts(size_t n) {
    ints_.push_back(new std::vector<jint>(n, 0));
    ints_.back()->reserve(1);  // a JVM hands out elements of an empty array too
    return reinterpret_cast<jintArray>(ints_.back());
  }
  ~IntArrayJni() {
    for (auto* v : ints_) delete v;
  }
  static std::vector<jint>& Ints(jintArray a) { return *reinterpret_cast<std::vector<jint>*>(a); }
  jstring Text(const std::u16string& t) { return reinterpret_cast<jstring>(fake.NewText(t)); }
  jbyteArray Bytes(const std::string& b) {
    FakeJni::Value* v = fake.NewBytes(b.size());
    v->bytes.assign(b.begin(), b.end());
    return reinterpret_cast<jbyteArray>(v);
  }

  FakeJni fake;

 private:
  static IntArrayJni& Of(JNIEnv* e) { return *static_cast<IntArrayJni*>(e->functions->reserved1); }
  static jint* JNICALL GetIntArrayElements(JNIEnv*, jintArray a, jboolean*) { return Ints(a).data(); }
  static void JNICALL ReleaseIntArrayElements(JNIEnv*, jintArray, jint*, jint) {}
  static jsize JNICALL GetArrayLength(JNIEnv* e, jarray a) {
    for (auto* v : Of(e).ints_)
      if (reinterpret_cast<jarray>(v) == a) return static_cast<jsize>(v->size());
    return Of(e).fakeLength_(e, a);
  }
  JNINativeInterface_ table_;
  JNIEnv env_;
  std::vector<std::vector<jint>*> ints_;
  jsize(JNICALL* fakeLength_)(JNIEnv*, jarray) = nullptr;
};

class RegistryMethods : public qvtest::QuorvaneDll {
 protected:
  void TearDown() override {
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Nested").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
  }
};

jint Java(HKEY key) { return static_cast<jint>(reinterpret_cast<intptr_t>(key)); }
HKEY Key(jint key) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(key)); }

TEST_F(RegistryMethods, KeysAndValuesOfEveryTypeReachTheRegistry) {
  const auto createKey = Method<CreateKeyMethod>("RegCreateKey", 20);
  const auto setValue = Method<SetValueMethod>("RegSetValueEx", 32);
  ASSERT_TRUE(createKey && setValue);
  IntArrayJni jni;
  jintArray handle = jni.NewInts(1);
  ASSERT_EQ(ERROR_SUCCESS, createKey(jni.env(), nullptr, Java(HKEY_CURRENT_USER),
                                     jni.Text(u"Software\\Quorvane Wine Registry Test\\Nested"), handle));
  const jint nested = IntArrayJni::Ints(handle)[0];
  ASSERT_NE(0, nested);
  jintArray itself = jni.NewInts(1);
  ASSERT_EQ(ERROR_SUCCESS, createKey(jni.env(), nullptr, nested, nullptr, itself));
  ASSERT_NE(0, IntArrayJni::Ints(itself)[0]);

  struct Case {
    const char16_t* name;  // null: the default value
    DWORD type;
    std::string data;
  };
  const Case cases[] = {
      {nullptr, REG_SZ, std::string("d\0\xe9\0\0\0", 6)},
      {u"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {u"qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x80", 8)},
      {u"binary", REG_BINARY, std::string("\0\xff", 2)},
      {u"multi", REG_MULTI_SZ, std::string("a\0\0\0\0\0", 6)},
      {u"expand", REG_EXPAND_SZ, std::string("%\0\0\0", 4)},
      {u"unknown", 0x1234, std::string("\x09", 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(ERROR_SUCCESS, setValue(jni.env(), nullptr, IntArrayJni::Ints(itself)[0],
                                      c.name ? jni.Text(c.name) : nullptr, 0, static_cast<jint>(c.type),
                                      jni.Bytes(c.data), static_cast<jint>(c.data.size())));
    std::string stored(64, '\0');
    DWORD type = 0, size = static_cast<DWORD>(stored.size());
    const std::wstring name = c.name ? std::wstring(c.name, c.name + std::char_traits<char16_t>::length(c.name)) : L"";
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(Key(nested), name.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(&stored[0]), &size));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.data, stored.substr(0, size));
  }
  RegCloseKey(Key(IntArrayJni::Ints(itself)[0]));
  RegCloseKey(Key(nested));
}

TEST_F(RegistryMethods, RefusalsComeBackAsRegistryErrors) {
  const auto createKey = Method<CreateKeyMethod>("RegCreateKey", 20);
  const auto setValue = Method<SetValueMethod>("RegSetValueEx", 32);
  ASSERT_TRUE(createKey && setValue);
  IntArrayJni jni;
  EXPECT_EQ(ERROR_INVALID_HANDLE, setValue(jni.env(), nullptr, 0x12345676, jni.Text(u"v"), 0, REG_BINARY,
                                           jni.Bytes("x"), 1));
  EXPECT_EQ(ERROR_NOACCESS, setValue(jni.env(), nullptr, Java(HKEY_CURRENT_USER), jni.Text(u"v"), 0, REG_BINARY,
                                     jni.Bytes("x"), 2))
      << "the length must stay within the array";
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            createKey(jni.env(), nullptr, Java(HKEY_CURRENT_USER), jni.Text(u"Software"), jni.NewInts(0)));
}

}  // namespace
