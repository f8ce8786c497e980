// encryptUserWin32 / decryptUserWin32 of quorvane.dll against the real
// crypt32 (Wine's in CI), called through their exports with a JVM-less
// JNIEnv. FakeJni lacks array creation and the Win32Exception constructor;
// this file's table adds the first and leaves the second missing, so a
// failure arrives as the "<text>: 0x<CODE>" message.
#include <gtest/gtest.h>

#include <jni.h>
#include <windows.h>
#include <dpapi.h>

#include <cstring>
#include <vector>

#include "FakeJni.h"
#include "QuorvaneDll.h"

namespace {

using qvtest::FakeJni;
using Value = FakeJni::Value;
typedef jbyteArray(JNICALL* BytesMethod)(JNIEnv*, jclass, jbyteArray);

FakeJni& Jni(JNIEnv* e) { return *static_cast<FakeJni*>(e->functions->reserved0); }
jbyteArray JNICALL NewByteArray(JNIEnv* e, jsize n) { return reinterpret_cast<jbyteArray>(Jni(e).NewBytes(n)); }
void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize n, const jbyte* from) {
  std::memcpy(reinterpret_cast<Value*>(a)->bytes.data() + start, from, static_cast<size_t>(n));
}
jmethodID JNICALL GetMethodID(JNIEnv* e, jclass, const char*, const char*) {
  Jni(e).pending = "NoSuchMethodError";
  return nullptr;
}
void JNICALL ExceptionClear(JNIEnv* e) { Jni(e).pending.clear(); }

class ProtectionMethods : public qvtest::QuorvaneDll {
 protected:
  ProtectionMethods() : table_(*jni_.env()->functions) {
    table_.NewByteArray = NewByteArray;
    table_.SetByteArrayRegion = SetByteArrayRegion;
    table_.GetMethodID = GetMethodID;
    table_.ExceptionClear = ExceptionClear;
    env_.functions = &table_;
  }
  jbyteArray Bytes(const std::vector<jbyte>& bytes) {
    Value* v = jni_.NewObject();
    v->bytes = bytes;
    return reinterpret_cast<jbyteArray>(v);
  }
  static std::vector<jbyte>& Of(jbyteArray a) { return reinterpret_cast<Value*>(a)->bytes; }

  FakeJni jni_;
  JNINativeInterface_ table_;
  JNIEnv env_;
};

TEST_F(ProtectionMethods, BlobsLabelledArkSecretOpenAndDamagedOrMissingOnesRaise) {
  const auto encrypt = Method<BytesMethod>("encryptUserWin32", 12);
  const auto decrypt = Method<BytesMethod>("decryptUserWin32", 12);
  ASSERT_TRUE(encrypt && decrypt);
  const std::vector<jbyte> plain = {'s', 'e', 'c', 'r', 'e', 't', 0, -1};
  const jbyteArray blob = encrypt(&env_, nullptr, Bytes(plain));
  ASSERT_NE(nullptr, blob) << jni_.pending;
  const jbyteArray back = decrypt(&env_, nullptr, blob);
  ASSERT_NE(nullptr, back) << jni_.pending;
  EXPECT_EQ(plain, Of(back));

  DATA_BLOB in = {static_cast<DWORD>(Of(blob).size()), reinterpret_cast<BYTE*>(Of(blob).data())}, out = {};
  LPWSTR description = nullptr;
  ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out));
  EXPECT_STREQ(L"ark_secret", description);
  LocalFree(description);
  LocalFree(out.pbData);

  Of(blob).back() ^= 0x40;  // inside the signature
  EXPECT_EQ(nullptr, decrypt(&env_, nullptr, blob));
  EXPECT_EQ(0u, jni_.pending.rfind("Error unencrypting data: 0x", 0)) << jni_.pending;
  for (auto [method, text] : {std::pair{encrypt, "Error, plain text buffer is null or empty"},
                              std::pair{decrypt, "Error, cipher text buffer is null or empty"}}) {
    jni_.pending.clear();
    EXPECT_EQ(nullptr, method(&env_, nullptr, Bytes({})));
    EXPECT_EQ(text, jni_.pending);
  }
}

}  // namespace
