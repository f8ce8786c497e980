// The file methods of quorvane.dll against the real kernel32 and ole32,
// called through their exports as the JVM calls them (FakeJni.h, with int[]
// elements added here). What is checked is the Windows side: the handle and
// results passed through, the change records copied into the Java array,
// and asynchronous calls refused before the platform sees them.
#include <gtest/gtest.h>

#include <jni.h>
#include <objbase.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "FakeJni.h"
#include "OnWine.h"
#include "QuorvaneDll.h"

namespace {

using qvtest::FakeJni;
using Value = FakeJni::Value;

typedef jint(JNICALL* CreateFileMethod)(JNIEnv*, jclass, jstring, jint, jint, jint, jint, jint, jint);
typedef jboolean(JNICALL* ReadChangesMethod)(JNIEnv*, jclass, jint, jbyteArray, jint, jboolean, jint, jintArray,
                                             jint, jint);
typedef jboolean(JNICALL* SetAttributesMethod)(JNIEnv*, jclass, jstring, jint);
typedef jint(JNICALL* TextToIntMethod)(JNIEnv*, jclass, jstring);
typedef jstring(JNICALL* TextToTextMethod)(JNIEnv*, jclass, jstring);

jint* JNICALL IntElements(JNIEnv*, jintArray a, jboolean*) {
  return reinterpret_cast<jint*>(reinterpret_cast<Value*>(a)->bytes.data());
}
void JNICALL ReleaseIntElements(JNIEnv*, jintArray, jint*, jint) {}

// One blocking ReadDirectoryChangesW call on a thread of its own.
struct Call {
  ReadChangesMethod method;
  JNIEnv* env;
  jint folder;
  jbyteArray bytes;
  jintArray counts;
  jboolean result;
};

DWORD WINAPI RunCall(LPVOID p) {
  auto& c = *static_cast<Call*>(p);
  c.result = c.method(c.env, nullptr, c.folder, c.bytes, 1 << 20, 0, FILE_NOTIFY_CHANGE_FILE_NAME, c.counts, 0, 0);
  return 0;
}

class FileMethods : public qvtest::QuorvaneDll {
 protected:
  void SetUp() override {
    QuorvaneDll::SetUp();
    // int[] elements live in a Value's bytes, as the fake has no int arrays.
    table_ = *jni_.env()->functions;
    table_.GetIntArrayElements = IntElements;
    table_.ReleaseIntArrayElements = ReleaseIntElements;
    env_.functions = &table_;
    folder_ = std::filesystem::temp_directory_path() / ("qv-files-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  jstring Text(const std::filesystem::path& path) {
    const std::wstring wide = path.wstring();
    return reinterpret_cast<jstring>(jni_.NewText(std::u16string(wide.begin(), wide.end())));
  }
  jint Open(const std::filesystem::path& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return Method<CreateFileMethod>("CreateFile", 36)(&env_, nullptr, Text(path), access, share, 0, disposition,
                                                      flags, 0);
  }

  FakeJni jni_;
  JNINativeInterface_ table_;
  JNIEnv env_;
  std::filesystem::path folder_;
};

TEST_F(FileMethods, CreateFileHandsBackTheHandleAndEnforcesShareModes) {
  const auto file = folder_ / "shared.txt";
  const jint writer = Open(file, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, 0);
  ASSERT_NE(-1, writer);
  EXPECT_EQ(-1, Open(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  const jint reader = Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  EXPECT_NE(-1, reader);
  EXPECT_EQ(-1, Open(folder_ / "missing", GENERIC_READ, 0, OPEN_EXISTING, 0));
  EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(writer))));
  EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(reader))));
}

TEST_F(FileMethods, DirectoryChangesReachTheJavaArray) {
  const auto readChanges = Method<ReadChangesMethod>("ReadDirectoryChangesW", 40);
  ASSERT_TRUE(readChanges);
  const jint folder = Open(folder_, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  ASSERT_NE(-1, folder);
  Value* buffer = jni_.NewBytes(4096);
  Value* count = jni_.NewBytes(sizeof(jint));
  const auto bytes = reinterpret_cast<jbyteArray>(buffer);
  const auto counts = reinterpret_cast<jintArray>(count);
  // Asynchronous completion would write into released elements: refused.
  EXPECT_FALSE(readChanges(&env_, nullptr, folder, bytes, 4096, 0, FILE_NOTIFY_CHANGE_FILE_NAME, counts, 1, 0));

  Call call{readChanges, &env_, folder, bytes, counts, 0};
  HANDLE thread = CreateThread(nullptr, 0, RunCall, &call, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  Sleep(200);
  std::ofstream(folder_ / "new.txt") << "x";
  if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
    CancelSynchronousIo(thread);
    WaitForSingleObject(thread, 2000);
    ADD_FAILURE() << "no change reported";
  }
  CloseHandle(thread);
  EXPECT_TRUE(call.result);
  const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer->bytes.data());
  EXPECT_LE(20, *reinterpret_cast<const jint*>(count->bytes.data())) << "bytes of records";
  EXPECT_EQ(static_cast<DWORD>(FILE_ACTION_ADDED), record->Action);
  EXPECT_EQ(L"new.txt", std::wstring(record->FileName, record->FileNameLength / 2));
  CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(folder)));
}

TEST_F(FileMethods, AttributesStorageTestAndDrivesAreThePlatformsAnswers) {
  const auto setAttributes = Method<SetAttributesMethod>("SetFileAttributes", 16);
  const auto isStorage = Method<TextToIntMethod>("StgIsStorageFile", 12);
  const auto driveType = Method<TextToIntMethod>("GetDriveType", 12);
  const auto dosDevice = Method<TextToTextMethod>("QueryDosDevice", 12);
  ASSERT_TRUE(setAttributes && isStorage && driveType && dosDevice);

  const auto text = folder_ / "plain.txt";
  std::ofstream(text) << "not a compound document";
  EXPECT_TRUE(setAttributes(&env_, nullptr, Text(text), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_NE(0u, GetFileAttributesW(text.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(setAttributes(&env_, nullptr, Text(folder_ / "missing"), FILE_ATTRIBUTE_NORMAL));

  const auto doc = folder_ / "made.doc";
  IStorage* storage = nullptr;
  ASSERT_EQ(S_OK, StgCreateDocfile(doc.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage));
  storage->Release();
  EXPECT_EQ(S_OK, isStorage(&env_, nullptr, Text(doc)));
  EXPECT_EQ(S_FALSE, isStorage(&env_, nullptr, Text(text)));
  const auto missing = folder_ / "missing.doc";
  EXPECT_EQ(StgIsStorageFile(missing.c_str()), isStorage(&env_, nullptr, Text(missing)));

  EXPECT_EQ(static_cast<jint>(GetDriveTypeW(L"C:\\")), driveType(&env_, nullptr, Text(L"C:\\")));
  wchar_t devices[1040] = {};
  ASSERT_NE(0u, QueryDosDeviceW(L"C:", devices, 1040));
  const jstring device = dosDevice(&env_, nullptr, Text(L"C:"));
  ASSERT_NE(nullptr, device);
  EXPECT_EQ(std::u16string(devices, devices + wcslen(devices)), FakeJni::Text(reinterpret_cast<Value*>(device)));
  EXPECT_EQ(nullptr, dosDevice(&env_, nullptr, Text(L"QV-NO-SUCH-DEVICE")));
  EXPECT_TRUE(jni_.pending.empty()) << jni_.pending;
}

}  // namespace
