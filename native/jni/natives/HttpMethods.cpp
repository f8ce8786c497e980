// Win32Impl HTTP form post: postMessage sends one request through WinInet
// (the system's proxy settings and credential prompts apply) and copies the
// body of a 200 answer into a Java output stream in chunks of at most
// kChunkBytes, through one reused Java array. Failures reach Java as
// IllegalArgumentException or IOException; the method ends in the
// Java-exception guard.
#include <cstdio>
#include <string>

#include "Exports.h"
#include "Guards.h"
#include "JavaArrayElements.h"
#include "JavaChars.h"
#include "Win32Api.h"

using namespace quorvane::jni;

namespace {

constexpr DWORD kChunkBytes = 1024;
constexpr size_t kStatusMessageChars = 255;
const wchar_t kUserAgent[] = L"Sorrel_ARK_1.0";
const wchar_t kContentType[] = L"Content-Type: application/x-www-form-urlencoded;";
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kErrorDialogFlags =
    FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
// Reported when no status could be read at all.
constexpr DWORD kNoStatus = 0;

// One WinInet handle, closed when the call ends; members of a call are
// declared parent first, so they close request, connection, Internet.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) ::InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// Sends the request until the error dialog stops asking for a retry; the
// dialog judges the answer itself. The last send's error, ERROR_SUCCESS when
// an answer came.
DWORD Send(HINTERNET request, bool post, JNIEnv* env, jbyteArray body, jsize length) {
  DWORD decision = ERROR_INTERNET_FORCE_RETRY, error = ERROR_SUCCESS;
  while (decision == static_cast<DWORD>(ERROR_INTERNET_FORCE_RETRY)) {
    if (post)
      ::HttpAddRequestHeadersW(request, kContentType, static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    BOOL sent = FALSE;
    if (length >= 1) {
      JavaArrayElements<jbyte> elements(env, body, ArrayUse::kReadOnly);
      sent = ::HttpSendRequestW(request, nullptr, 0, elements.elements, static_cast<DWORD>(length));
    } else {
      sent = ::HttpSendRequestW(request, nullptr, 0, nullptr, 0);
    }
    error = sent ? ERROR_SUCCESS : ::GetLastError();
    decision = ::InternetErrorDlg(::GetDesktopWindow(), request, ERROR_SUCCESS, kErrorDialogFlags, nullptr);
  }
  return error;
}

// Whether the text has a C0 or C1 control character, U+0000 above all: the
// Windows calls would end the text there, or a request line would break.
bool HasControl(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  return false;
}

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return kNoStatus;
  return status;
}

// Copies the response into `out` until the body ends or `write` leaves a
// Java exception pending; a failed read (a timeout above all) throws, since
// the output would otherwise look whole.
void CopyBody(JNIEnv* env, HINTERNET request, jobject out, jmethodID write, jbyteArray chunk) {
  BYTE buffer[kChunkBytes];
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request, buffer, kChunkBytes, &read)) {
      char message[kStatusMessageChars + 1];
      std::snprintf(message, sizeof message, "Response cut short (WinInet error %lu)",
                    static_cast<unsigned long>(::GetLastError()));
      throw IOException(env, message);
    }
    if (read == 0) return;
    env->SetByteArrayRegion(chunk, 0, static_cast<jsize>(read), reinterpret_cast<const jbyte*>(buffer));
    env->CallVoidMethod(out, write, chunk, jint(0), static_cast<jint>(read));
    if (env->ExceptionCheck()) return;
  }
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL QV_NATIVE(postMessage)(JNIEnv* env, jclass, jstring uri, jstring resource, jint port,
                                              jboolean secure, jbyteArray body, jobject out) {
  JavaExceptionGuardVoid(env, [&] {
    if (out == nullptr) throw IllegalArgumentException(env, "Return stream cannot be null");
    jclass outClass = env->GetObjectClass(out);
    jmethodID write = outClass != nullptr ? env->GetMethodID(outClass, "write", "([BII)V") : nullptr;
    if (write == nullptr) {
      env->ExceptionClear();
      throw IllegalArgumentException(env, "Unable to load write method on return stream");
    }
    jbyteArray chunk = env->NewByteArray(static_cast<jsize>(kChunkBytes));
    if (chunk == nullptr) throw OutOfMemoryException();
    if (uri == nullptr) throw IllegalArgumentException(env, "URI cannot be null");

    JavaChars server(env, uri);
    JavaChars object(env, resource);
    if (HasControl(server.Text())) throw IllegalArgumentException(env, "URI contains a control character");
    if (HasControl(object.Text())) throw IllegalArgumentException(env, "Resource contains a control character");
    const jsize length = body == nullptr ? 0 : env->GetArrayLength(body);
    const bool post = length >= 1;

    InternetHandle internet(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) throw IOException(env, "Unable to open WinInet services");
    InternetHandle connection(::InternetConnectW(internet.Get(), server.chars, static_cast<INTERNET_PORT>(port),
                                                 nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) throw IOException(env, "Unable to open connection to specified URI and port");
    const DWORD flags = secure == JNI_TRUE ? kRequestFlags | INTERNET_FLAG_SECURE : kRequestFlags;
    InternetHandle request(::HttpOpenRequestW(connection.Get(), post ? L"POST" : L"GET", object.chars, nullptr,
                                              nullptr, nullptr, flags, 0));
    if (!request) throw IOException(env, "Unable to create request request for provided resource");

    const DWORD error = Send(request.Get(), post, env, body, length);
    const DWORD status = StatusCode(request.Get());
    if (status != 200) {
      char message[kStatusMessageChars + 1];
      // No answer at all: the WinInet error tells a timeout from a refusal.
      if (status == kNoStatus && error != ERROR_SUCCESS)
        std::snprintf(message, sizeof message, "Server returned non HTTP_OK return code: 0 (WinInet error %lu)",
                      static_cast<unsigned long>(error));
      else
        std::snprintf(message, sizeof message, "Server returned non HTTP_OK return code: %d", static_cast<int>(status));
      throw IOException(env, message);
    }
    CopyBody(env, request.Get(), out, write, chunk);
  });
}

}  // extern "C"
