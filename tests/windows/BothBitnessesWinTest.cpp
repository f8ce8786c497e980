// What must not depend on which DLL the JVM loads: the registry view and the processes found. And what a 64-bit
// DLL refuses because a Java int cannot carry its pointers.
#include <gtest/gtest.h>

#include <jni.h>
#include <windows.h>

#include <string>

#include "QuorvaneDll.h"

namespace {

using qvtest::DllJni;

class BothBitnesses : public qvtest::QuorvaneDll {};

// The key a 32-bit client made is the key either DLL writes: the 32-bit view, also from the 64-bit DLL.
TEST_F(BothBitnesses, BothDllsWriteTheRegistryViewOfA32BitClient) {
  // Under WOW64 the machine's software is redirected (Windows redirects some of the user's classes too; Wine
  // does not, so they cannot be told apart here).
  const wchar_t kKey[] = L"Software\\Quorvane Wine View Test";
  const auto removeFromBothViews = [&] {
    for (const REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)})
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, view, 0);
  };
  removeFromBothViews();
  const jintArray handle = jni_.NewInts({0});
  ASSERT_EQ(ERROR_SUCCESS, Call<jint>("RegCreateKey", jint(intptr_t(HKEY_LOCAL_MACHINE)), jni_.Str(kKey), handle));
  RegCloseKey(HKEY(intptr_t(DllJni::Ints(handle)[0])));
  // A 32-bit process on 32-bit Windows has one view; Wine's 32-bit prefix is such a Windows.
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool oneView = sizeof(void*) == 4 && !wow64;
  for (const REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
    HKEY opened = nullptr;
    const LONG found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | view, &opened);
    if (found == ERROR_SUCCESS) RegCloseKey(opened);
    EXPECT_EQ(view == KEY_WOW64_32KEY || oneView ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND, found)
        << (view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view");
  }
  removeFromBothViews();
}

// System processes of the other bitness are found too (a 32-bit process cannot read a 64-bit one's modules).
TEST_F(BothBitnesses, ProcessesOfEitherBitnessAreFoundByName) {
  // services.exe is 64-bit on 64-bit Windows, and in Wine's 64-bit prefixes, where the i686 suite runs too.
  for (const wchar_t* name : {L"services.exe", L"SERVICES.EXE"})
    EXPECT_TRUE(Call<jboolean>("isProcessRunning", jni_.Str(name))) << std::string(name, name + wcslen(name));
  EXPECT_FALSE(Call<jboolean>("isProcessRunning", jni_.Str(L"services")));
}

// On x64 an int holds no address of a record (one above 4 GB would arrive cut, naming other memory): anything
// but 0 is refused.
TEST_F(BothBitnesses, A64BitDllTakesOnlyZeroForARecordAddress) {
  if (sizeof(void*) == 4) GTEST_SKIP() << "an int is a whole address on 32-bit Windows";
  // A real record low enough for an int to hold its address still is refused: the rule cannot depend on where
  // the JVM happened to allocate.
  SECURITY_ATTRIBUTES* record = nullptr;
  for (uintptr_t at = 0x10000000; record == nullptr && at < 0x80000000; at += 0x10000000)
    record = static_cast<SECURITY_ATTRIBUTES*>(
        VirtualAlloc(reinterpret_cast<void*>(at), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, record);
  *record = {sizeof *record, nullptr, TRUE};
  const jint low = jint(intptr_t(record));
  SetLastError(0);
  EXPECT_EQ(0, Call<jint>("CreateEvent", low, jboolean(1), jboolean(0), jstring()));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(-1, Call<jint>("CreateFile", jni_.Str(qvtest::ProgramPath()), jint(GENERIC_READ), jint(FILE_SHARE_READ),
                           low, jint(OPEN_EXISTING), jint(0), jint(0)));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  const jint event = Call<jint>("CreateEvent", jint(0), jboolean(1), jboolean(0), jstring());
  EXPECT_NE(0, event) << "0, no record, is taken";
  CloseHandle(HANDLE(intptr_t(event)));
  VirtualFree(record, 0, MEM_RELEASE);
}

}  // namespace
