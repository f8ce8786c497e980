// The event and handle methods of quorvane.dll, called through its exports
// as the JVM calls them (stdcall, decorated names). None of them touches the
// JNIEnv when no name is passed, so no JVM is needed.
#include <gtest/gtest.h>

#include <jni.h>

#include "QuorvaneDll.h"

namespace {

typedef jint(JNICALL* Handle1)(JNIEnv*, jclass, jint);
typedef jint(JNICALL* Handle2)(JNIEnv*, jclass, jint, jint);
typedef jint(JNICALL* NoArgument)(JNIEnv*, jclass);
typedef jint(JNICALL* CreateEventMethod)(JNIEnv*, jclass, jint, jboolean, jboolean, jstring);

class KernelMethods : public qvtest::QuorvaneDll {};

TEST_F(KernelMethods, EventsSignalWaitAndClose) {
  const auto createEvent = Method<CreateEventMethod>("CreateEvent", 24);
  const auto setEvent = Method<Handle1>("SetEvent", 12);
  const auto resetEvent = Method<Handle1>("ResetEvent", 12);
  const auto wait = Method<Handle2>("WaitForSingleObject", 16);
  const auto closeHandle = Method<Handle1>("CloseHandle", 12);
  ASSERT_TRUE(createEvent && setEvent && resetEvent && wait && closeHandle);

  struct Case {
    jboolean manualReset, initialState;
    jint afterFirstWait;  // what a second wait sees
  };
  for (const Case& c : {Case{1, 1, WAIT_OBJECT_0}, Case{0, 1, WAIT_TIMEOUT}}) {
    SCOPED_TRACE(c.manualReset ? "manual reset" : "auto reset");
    const jint event = createEvent(nullptr, nullptr, 0, c.manualReset, c.initialState, nullptr);
    ASSERT_NE(0, event);
    EXPECT_EQ(WAIT_OBJECT_0, wait(nullptr, nullptr, event, 0));
    EXPECT_EQ(c.afterFirstWait, wait(nullptr, nullptr, event, 0));
    EXPECT_EQ(1, resetEvent(nullptr, nullptr, event));
    EXPECT_EQ(WAIT_TIMEOUT, wait(nullptr, nullptr, event, 10));
    EXPECT_EQ(1, setEvent(nullptr, nullptr, event));
    EXPECT_EQ(WAIT_OBJECT_0, wait(nullptr, nullptr, event, 0));
    // The handle is the process's own: the platform sees the same object.
    EXPECT_TRUE(SetEvent(reinterpret_cast<HANDLE>(static_cast<intptr_t>(event))));
    EXPECT_EQ(1, closeHandle(nullptr, nullptr, event));
    EXPECT_EQ(0, closeHandle(nullptr, nullptr, event)) << "closed twice";
    EXPECT_EQ(static_cast<jint>(WAIT_FAILED), wait(nullptr, nullptr, event, 0));
    EXPECT_EQ(0, setEvent(nullptr, nullptr, event));
  }
}

TEST_F(KernelMethods, ProcessPseudoHandleAndErrorMode) {
  const auto currentProcess = Method<NoArgument>("GetCurrentProcess", 8);
  const auto setErrorMode = Method<Handle1>("SetErrorMode", 12);
  const auto wait = Method<Handle2>("WaitForSingleObject", 16);
  ASSERT_TRUE(currentProcess && setErrorMode && wait);
  EXPECT_EQ(-1, currentProcess(nullptr, nullptr));
  EXPECT_EQ(WAIT_TIMEOUT, wait(nullptr, nullptr, -1, 0)) << "this process is running";
  const jint before = setErrorMode(nullptr, nullptr, SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  EXPECT_EQ(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, setErrorMode(nullptr, nullptr, before));
}

}  // namespace
