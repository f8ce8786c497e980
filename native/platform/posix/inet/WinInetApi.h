// The WinInet subset of the Linux build: one HTTP request at a time per
// request handle, carried by libcurl. The system's proxy settings come from
// libproxy (desktop settings, PAC, http_proxy/https_proxy/no_proxy), TLS is
// verified against the system's trust store (or SSL_CERT_FILE when set),
// connections are kept alive across calls in one process-wide cache, and the
// response is pulled through InternetReadFile without ever being held whole.
// Timeouts follow WinInet's per-user registry values (ConnectTimeout and
// ReceiveTimeout under HKCU\Software\Microsoft\Windows\CurrentVersion\Internet
// Settings, in ms) or WinInet's defaults when they are absent. Failures set
// the last-error code to the ERROR_INTERNET_* code WinInet gives.
//
// Redirects are followed as WinInet follows them (Redirect.h). Where this
// differs from WinInet: there is no cache, INTERNET_OPEN_TYPE_PROXY with a proxy list of
// its own is refused (ERROR_INVALID_PARAMETER), and HttpQueryInfoW knows
// only HTTP_QUERY_STATUS_CODE. An object name is escaped, never refused:
// controls, spaces and non-ASCII (as UTF-8) go out as %XX.
#pragma once

#include "../base/WinError.h"
#include "../base/WinTypes.h"

#ifndef ERROR_CANCELLED
#  define ERROR_CANCELLED 1223L
#endif

typedef void* HINTERNET;
typedef DWORD* LPDWORD;
typedef WORD INTERNET_PORT;

#define INTERNET_OPEN_TYPE_PRECONFIG 0u
#define INTERNET_OPEN_TYPE_DIRECT 1u
#define INTERNET_OPEN_TYPE_PROXY 3u
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4u

#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_DEFAULT_HTTPS_PORT 443

#define INTERNET_SERVICE_HTTP 3u

#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000u
#define INTERNET_FLAG_RESYNCHRONIZE 0x00000800u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u

#define HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON 0x01000000u
#define HTTP_ADDREQ_FLAG_ADD_IF_NEW 0x10000000u
#define HTTP_ADDREQ_FLAG_ADD 0x20000000u
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA 0x40000000u
#define HTTP_ADDREQ_FLAG_REPLACE 0x80000000u

#define HTTP_QUERY_STATUS_CODE 19u
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u

#define FLAGS_ERROR_UI_FILTER_FOR_ERRORS 0x01u
#define FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS 0x02u
#define FLAGS_ERROR_UI_FLAGS_GENERATE_DATA 0x04u

#define INTERNET_OPTION_CONNECT_TIMEOUT 2u
#define INTERNET_OPTION_SEND_TIMEOUT 5u
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6u

#ifndef ERROR_INTERNET_FORCE_RETRY
#  define ERROR_INTERNET_OUT_OF_HANDLES 12001L
#  define ERROR_INTERNET_TIMEOUT 12002L
#  define ERROR_INTERNET_INTERNAL_ERROR 12004L
#  define ERROR_INTERNET_INVALID_URL 12005L
#  define ERROR_INTERNET_NAME_NOT_RESOLVED 12007L
#  define ERROR_INTERNET_INVALID_OPTION 12009L
#  define ERROR_INTERNET_INVALID_OPERATION 12016L
#  define ERROR_INTERNET_OPERATION_CANCELLED 12017L
#  define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018L
#  define ERROR_INTERNET_CANNOT_CONNECT 12029L
#  define ERROR_INTERNET_CONNECTION_ABORTED 12030L
#  define ERROR_INTERNET_CONNECTION_RESET 12031L
#  define ERROR_INTERNET_FORCE_RETRY 12032L
#  define ERROR_INTERNET_SEC_CERT_DATE_INVALID 12037L
#  define ERROR_INTERNET_SEC_CERT_CN_INVALID 12038L
#  define ERROR_INTERNET_INVALID_CA 12045L
#  define ERROR_INTERNET_SEC_CERT_ERRORS 12055L
#  define ERROR_HTTP_HEADER_NOT_FOUND 12150L
#  define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152L
#  define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157L
#endif
#ifndef ERROR_INTERNET_BAD_OPTION_LENGTH
#  define ERROR_INTERNET_BAD_OPTION_LENGTH 12010L
#  define ERROR_INTERNET_INCORRECT_PASSWORD 12014L
#  define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019L
#  define ERROR_INTERNET_INVALID_PROXY_REQUEST 12033L
#  define ERROR_HTTP_HEADER_ALREADY_EXISTS 12155L
#endif

HINTERNET InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass,
                        DWORD dwFlags);
HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext);
HINTERNET HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                           LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext);
BOOL HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, DWORD dwModifiers);
BOOL HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                      DWORD dwOptionalLength);
// No dialog can be shown here: with FLAGS_ERROR_UI_FILTER_FOR_ERRORS a 401
// or 407 answer is met with the user's ~/.netrc entry for the server (or
// proxy) once per request, answering ERROR_INTERNET_FORCE_RETRY; otherwise
// ERROR_SUCCESS, or ERROR_CANCELLED when credentials were asked for and none
// could be given.
DWORD InternetErrorDlg(HWND hWnd, HINTERNET hRequest, DWORD dwError, DWORD dwFlags, LPVOID* lppvData);
BOOL HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                    LPDWORD lpdwIndex);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
// NULL sets the process-wide default for handles opened afterwards.
BOOL InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
BOOL InternetCloseHandle(HINTERNET hInternet);
