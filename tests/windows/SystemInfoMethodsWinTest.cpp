// The system information methods of quorvane.dll against the real psapi,
// version.dll, ws2_32 and the system message table, called through their
// exports with a JVM-less JNIEnv: FakeJni's, with the int arrays, method
// calls and object creation these methods use added on top.
#include <gtest/gtest.h>

#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "FakeJni.h"
#include "OnWine.h"
#include "QuorvaneDll.h"

namespace {

using qvtest::FakeJni;

typedef jboolean(JNICALL* NameMethod)(JNIEnv*, jclass, jstring);
typedef jboolean(JNICALL* VersionMethod)(JNIEnv*, jclass, jstring, jintArray, jintArray, jintArray, jintArray);
typedef jstring(JNICALL* MessageMethod)(JNIEnv*, jclass, jint, jstring);
typedef void(JNICALL* SetMethod)(JNIEnv*, jclass, jobject);

// FakeJni's table with what these methods add: int[] elements (an int[] is
// a std::vector<jint>), NewStringUTF, method ids, NetworkAddress objects
// (the vector of their eight setAddress values) and a set's add.
class SystemInfoJni {
 public:
  SystemInfoJni() {
    table_ = *jni.env()->functions;
    table_.reserved1 = this;
    table_.GetIntArrayElements = &GetInts;
    table_.ReleaseIntArrayElements = &ReleaseInts;
    table_.NewStringUTF = &NewStringUtf;
    table_.ExceptionClear = &ExceptionClear;
    table_.GetMethodID = &GetMethodId;
    // jni.h's C++ wrappers call the va_list forms.
    table_.NewObjectV = &NewAddress;
    table_.CallVoidMethodV = &SetAddress;
    table_.CallBooleanMethodV = &Add;
    env_.functions = &table_;
  }
  JNIEnv* env() { return &env_; }
  static jintArray Ints(std::vector<jint>& v) { return reinterpret_cast<jintArray>(&v); }

  FakeJni jni;
  std::vector<std::vector<jint>> set;  // what was added

 private:
  static SystemInfoJni& Of(JNIEnv* e) { return *static_cast<SystemInfoJni*>(e->functions->reserved1); }
  static jint* JNICALL GetInts(JNIEnv*, jintArray a, jboolean*) {
    return reinterpret_cast<std::vector<jint>*>(a)->data();
  }
  static void JNICALL ReleaseInts(JNIEnv*, jintArray, jint*, jint) {}
  static jstring JNICALL NewStringUtf(JNIEnv* e, const char* text) {
    const std::string s(text);
    return reinterpret_cast<jstring>(Of(e).jni.NewText(std::u16string(s.begin(), s.end())));
  }
  static void JNICALL ExceptionClear(JNIEnv* e) { Of(e).jni.pending.clear(); }
  static jmethodID JNICALL GetMethodId(JNIEnv*, jclass, const char* name, const char*) {
    return reinterpret_cast<jmethodID>(const_cast<char*>(name));
  }
  static jobject JNICALL NewAddress(JNIEnv* e, jclass, jmethodID, va_list) {
    return reinterpret_cast<jobject>(&Of(e).addresses_.emplace_back());
  }
  static void JNICALL SetAddress(JNIEnv*, jobject address, jmethodID, va_list args) {
    auto& values = *reinterpret_cast<std::vector<jint>*>(address);
    for (int i = 0; i < 8; ++i) values.push_back(va_arg(args, jint));
  }
  static jboolean JNICALL Add(JNIEnv* e, jobject, jmethodID, va_list args) {
    Of(e).set.push_back(*reinterpret_cast<std::vector<jint>*>(va_arg(args, jobject)));
    return JNI_TRUE;
  }

  JNINativeInterface_ table_;
  JNIEnv env_;
  std::deque<std::vector<jint>> addresses_;
};

std::u16string Units(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

class SystemInfoMethods : public qvtest::QuorvaneDll {
 protected:
  jstring Text(const std::wstring& text) {
    return reinterpret_cast<jstring>(fake_.jni.NewText(Units(text)));
  }
  SystemInfoJni fake_;
};

TEST_F(SystemInfoMethods, OwnProcessFoundByBaseNameOnly) {
  const auto running = Method<NameMethod>("isProcessRunning", 12);
  ASSERT_TRUE(running);
  wchar_t path[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, path, MAX_PATH));
  std::wstring name = std::wstring(path).substr(std::wstring(path).find_last_of(L"\\/") + 1);
  std::wstring upper = name;
  CharUpperW(&upper[0]);
  EXPECT_TRUE(running(fake_.env(), nullptr, Text(upper)));
  EXPECT_FALSE(running(fake_.env(), nullptr, Text(path))) << "a full path never matches";
  EXPECT_FALSE(running(fake_.env(), nullptr, Text(name.substr(0, name.size() - 4)))) << "nor a name without .exe";
  EXPECT_FALSE(running(fake_.env(), nullptr, nullptr));
}

TEST_F(SystemInfoMethods, MessagesAreTheSystemsWithTheInsert) {
  const auto message = Method<MessageMethod>("getSystemMessage", 16);
  ASSERT_TRUE(message);
  const auto text = [&](jint id, const wchar_t* insert) {
    return FakeJni::Text(reinterpret_cast<FakeJni::Value*>(message(fake_.env(), nullptr, id, Text(insert))));
  };
  const std::u16string notFound = text(2, L"x");
  ASSERT_GT(notFound.size(), 3u);
  EXPECT_EQ(u".\r\n", notFound.substr(notFound.size() - 3));
  EXPECT_EQ(notFound, text(static_cast<jint>(0x80070002), L"x"));
  EXPECT_NE(std::u16string::npos, text(193, L"tool.exe").find(u"tool.exe")) << "%1 takes the insert";
  EXPECT_EQ(u"Unknown error (couldn't find a system message for it).", text(0x7FFFFFFF, L"x"));
  EXPECT_TRUE(fake_.jni.pending.empty()) << fake_.jni.pending;
}

TEST_F(SystemInfoMethods, FileVersionsOfVersionedFilesOnly) {
  const auto version = Method<VersionMethod>("getFileVersionNumber", 28);
  ASSERT_TRUE(version);
  wchar_t system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
  const std::wstring kernel = std::wstring(system) + L"\\kernel32.dll";
  std::vector<jint> parts[4] = {{-1}, {-1}, {-1}, {-1}};
  const auto call = [&](jstring path) {
    for (auto& p : parts) p[0] = -1;
    return version(fake_.env(), nullptr, path, SystemInfoJni::Ints(parts[0]), SystemInfoJni::Ints(parts[1]),
                   SystemInfoJni::Ints(parts[2]), SystemInfoJni::Ints(parts[3]));
  };
  ASSERT_TRUE(call(Text(kernel)));
  // What version.dll itself reads from the same file.
  std::vector<BYTE> block(GetFileVersionInfoSizeW(kernel.c_str(), nullptr));
  ASSERT_TRUE(GetFileVersionInfoW(kernel.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length));
  EXPECT_EQ((std::vector<jint>{jint(HIWORD(info->dwFileVersionMS)), jint(LOWORD(info->dwFileVersionMS)),
                               jint(HIWORD(info->dwFileVersionLS)), jint(LOWORD(info->dwFileVersionLS))}),
            (std::vector<jint>{parts[0][0], parts[1][0], parts[2][0], parts[3][0]}));

  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring textFile = std::wstring(temp) + L"qv-version-text.txt";
  std::ofstream(textFile.c_str()) << "no version here\n";
  EXPECT_FALSE(call(Text(textFile)));
  EXPECT_EQ(-1, parts[0][0]) << "untouched";
  DeleteFileW(textFile.c_str());
}

TEST_F(SystemInfoMethods, InterfacesAreUpIpv4AndNotLoopback) {
  const auto interfaces = Method<SetMethod>("getNetworkInterfaceInfo", 12);
  ASSERT_TRUE(interfaces);
  interfaces(fake_.env(), nullptr, nullptr);
  EXPECT_EQ("Error, in/out value cannot be null", fake_.jni.pending);
  fake_.jni.pending.clear();
  interfaces(fake_.env(), nullptr, FakeJni::Ref(fake_.jni.NewObject()));
  EXPECT_TRUE(fake_.jni.pending.empty()) << fake_.jni.pending;
  for (const auto& address : fake_.set) {
    ASSERT_EQ(8u, address.size());
    EXPECT_NE(127, address[0]) << "loopback";
    const uint32_t mask = uint32_t(address[4]) << 24 | address[5] << 16 | address[6] << 8 | address[7];
    EXPECT_EQ(0u, (~mask + 1) & ~mask) << "mask bits are contiguous";
  }
}

}  // namespace
