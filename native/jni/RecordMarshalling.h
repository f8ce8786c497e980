// The shell's records to and from plain Java objects whose fields carry the
// record members' names. Fields are found by name and signature on the
// object's own class, one by one in the record's order, so a missing field
// stops the marshalling there with the VM's NoSuchFieldError pending (plain
// JNIException). Nothing is read or written past a Java array or a record
// member, whatever the object holds. Java text is UTF-16; the record's WCHAR
// text is converted at this boundary (UTF-32 on Linux).
#pragma once

#include <jni.h>

#include <memory>

#include "JavaChars.h"
#include "Win32Api.h"

namespace quorvane {
namespace jni {

// Java -> record. cbSize becomes the size of the layout without a GUID (936
// bytes on 32-bit Windows). A null char[] leaves its member as the record had
// it; a text without a zero unit within the member is cut and terminated.
void ReadNotifyIconData(JNIEnv* env, jobject object, NOTIFYICONDATAW& record);

// GUID -> "Data1".."Data4"; Data2 and Data3 arrive zero-extended.
void WriteGuid(JNIEnv* env, jobject object, const GUID& guid);

// SHFILEINFOW -> Java. szDisplayName and szTypeName fill the start of the
// existing arrays with all 260 / 80 UTF-16 units of the member.
void WriteFileInfo(JNIEnv* env, jobject object, const SHFILEINFOW& info);

// Java -> SHFILEOPSTRUCTW. The record points into the three string holders,
// which the caller owns and keeps until the platform call is done (they are
// set as each string is reached, so a throw leaves the earlier ones owned).
// False when pFrom or pTo lacks its last zero (the record then holds a
// completed copy, safe to read, but not what the caller meant to send).
bool ReadFileOperation(JNIEnv* env, jobject object, SHFILEOPSTRUCTW& record, std::unique_ptr<JavaChars>& fromHolder,
                       std::unique_ptr<JavaChars>& toHolder, std::unique_ptr<JavaChars>& titleHolder);

}  // namespace jni
}  // namespace quorvane
