// The WinInet functions themselves: argument checks, handle look-up and the
// last-error code; the work is done by the handle objects.
#include <new>
#include <string>

#include "CurlShare.h"
#include "HttpRequest.h"
#include "InetHandles.h"
#include "RequestTarget.h"
#include "WinInetApi.h"
#include "../base/ErrnoMapping.h"

using namespace quorvane::posix::inet;

namespace {

BOOL Answer(DWORD error) {
  SetLastError(error);
  return error == ERROR_SUCCESS ? TRUE : FALSE;
}

std::string Utf8OrEmpty(LPCWSTR text) { return text == nullptr ? std::string() : Utf8Text(std::wstring(text)); }

// A method is an HTTP token: nothing that could break the request line.
bool IsToken(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c <= 0x20 || c >= 0x7F || c == ':' || c == '/' || c == '"') return false;
  return true;
}

// Runs `body`; out of memory becomes ERROR_NOT_ENOUGH_MEMORY and `failed`.
template <typename R, typename Body>
R Guarded(R failed, Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
  } catch (...) {
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return failed;
}

}  // namespace

HINTERNET InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass,
                        DWORD dwFlags) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    // A named proxy list is not supported: the system's settings or none.
    if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
        dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (SharedCurlState() == nullptr) {
      SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
      return nullptr;
    }
    auto session = std::make_shared<Session>(Utf8OrEmpty(lpszAgent), dwAccessType == INTERNET_OPEN_TYPE_DIRECT);
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(session));
  });
}

HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    auto session = Find<Session>(hInternet, InetObject::Kind::kSession);
    if (!session) return nullptr;
    if (dwService != INTERNET_SERVICE_HTTP || lpszServerName == nullptr || *lpszServerName == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    // Like WinInet, the name is not looked at until a request is sent.
    std::string host = Utf8OrEmpty(lpszServerName);
    auto connection = std::make_shared<Connection>(session, std::move(host), nServerPort, Utf8OrEmpty(lpszUserName),
                                                   Utf8OrEmpty(lpszPassword));
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(connection));
  });
}

HINTERNET HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                           LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    auto connection = Find<Connection>(hConnect, InetObject::Kind::kConnection);
    if (!connection) return nullptr;
    const std::string verb = lpszVerb == nullptr || *lpszVerb == 0 ? "GET" : Utf8OrEmpty(lpszVerb);
    if (!IsToken(verb)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    auto request = std::make_shared<HttpRequest>(connection, verb, RequestTargetFor(lpszObjectName), dwFlags);
    const DWORD replace = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;
    if (lpszReferrer != nullptr && *lpszReferrer != 0) {
      const DWORD error = request->AddHeaders((L"Referer: " + std::wstring(lpszReferrer)).c_str(), -1, replace);
      if (error != ERROR_SUCCESS) return SetLastError(error), nullptr;
    }
    if (lplpszAcceptTypes != nullptr && lplpszAcceptTypes[0] != nullptr) {
      std::wstring accept = L"Accept: ";
      for (LPCWSTR* type = lplpszAcceptTypes; *type != nullptr; ++type)
        accept += (type == lplpszAcceptTypes ? L"" : L", ") + std::wstring(*type);
      const DWORD error = request->AddHeaders(accept.c_str(), -1, replace);
      if (error != ERROR_SUCCESS) return SetLastError(error), nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(request));
  });
}

BOOL HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, DWORD dwModifiers) {
  return Guarded<BOOL>(FALSE, [&] {
    auto request = Find<HttpRequest>(hRequest, InetObject::Kind::kRequest);
    if (!request) return FALSE;
    return Answer(request->AddHeaders(lpszHeaders, dwHeadersLength, dwModifiers));
  });
}

BOOL HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                      DWORD dwOptionalLength) {
  return Guarded<BOOL>(FALSE, [&] {
    auto request = Find<HttpRequest>(hRequest, InetObject::Kind::kRequest);
    if (!request) return FALSE;
    return Answer(request->Send(lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength));
  });
}

DWORD InternetErrorDlg(HWND hWnd, HINTERNET hRequest, DWORD dwError, DWORD dwFlags, LPVOID* lppvData) {
  return Guarded<DWORD>(ERROR_NOT_ENOUGH_MEMORY, [&]() -> DWORD {
    auto request = Find<HttpRequest>(hRequest, InetObject::Kind::kRequest);
    if (!request) return GetLastError();
    return request->AnswerErrorDialog(dwError, dwFlags);
  });
}

BOOL HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                    LPDWORD lpdwIndex) {
  return Guarded<BOOL>(FALSE, [&] {
    auto request = Find<HttpRequest>(hRequest, InetObject::Kind::kRequest);
    if (!request) return FALSE;
    if (lpdwBufferLength == nullptr) return Answer(ERROR_INVALID_PARAMETER);
    if ((dwInfoLevel & ~HTTP_QUERY_FLAG_NUMBER) != HTTP_QUERY_STATUS_CODE) return Answer(ERROR_HTTP_HEADER_NOT_FOUND);
    long status = 0;
    if (const DWORD error = request->QueryStatus(&status); error != ERROR_SUCCESS) return Answer(error);
    if ((dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) != 0) {
      const DWORD number = static_cast<DWORD>(status);
      if (lpBuffer == nullptr || *lpdwBufferLength < sizeof number) {
        *lpdwBufferLength = sizeof number;
        return Answer(ERROR_INSUFFICIENT_BUFFER);
      }
      *static_cast<DWORD*>(lpBuffer) = number;
      *lpdwBufferLength = sizeof number;
      return Answer(ERROR_SUCCESS);
    }
    // As text: the length in bytes, without the terminator on success and
    // with it when the buffer is too small.
    const std::wstring text = std::to_wstring(status);
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (lpBuffer == nullptr || *lpdwBufferLength < needed) {
      *lpdwBufferLength = needed;
      return Answer(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(text.c_str(), text.c_str() + text.size() + 1, static_cast<WCHAR*>(lpBuffer));
    *lpdwBufferLength = needed - sizeof(WCHAR);
    return Answer(ERROR_SUCCESS);
  });
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
  return Guarded<BOOL>(FALSE, [&] {
    if (lpdwNumberOfBytesRead == nullptr) return Answer(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    auto request = Find<HttpRequest>(hFile, InetObject::Kind::kRequest);
    if (!request) return FALSE;
    if (lpBuffer == nullptr && dwNumberOfBytesToRead != 0) return Answer(ERROR_INVALID_PARAMETER);
    return Answer(request->Read(lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead));
  });
}

BOOL InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
  return Guarded<BOOL>(FALSE, [&] {
    const bool timeout = dwOption == INTERNET_OPTION_CONNECT_TIMEOUT || dwOption == INTERNET_OPTION_RECEIVE_TIMEOUT ||
                         dwOption == INTERNET_OPTION_SEND_TIMEOUT;
    if (!timeout) return Answer(ERROR_INTERNET_INVALID_OPTION);
    if (lpBuffer == nullptr || dwBufferLength != sizeof(DWORD)) return Answer(ERROR_INTERNET_BAD_OPTION_LENGTH);
    const DWORD ms = *static_cast<const DWORD*>(lpBuffer);
    if (hInternet == nullptr) return Answer(SetProcessTimeout(dwOption, ms) ? ERROR_SUCCESS : ERROR_INTERNET_INVALID_OPTION);
    auto object = FindAnyHandle(hInternet);
    if (!object) return FALSE;
    return Answer(object->SetTimeoutOption(dwOption, ms) ? ERROR_SUCCESS : ERROR_INTERNET_INVALID_OPTION);
  });
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
  return Guarded<BOOL>(FALSE, [&] { return CloseInetHandle(hInternet) ? Answer(ERROR_SUCCESS) : FALSE; });
}
