// WinInet where Java cannot reach: ~/.netrc entries (none from a broken file), handle kinds, request injection,
// no_proxy hosts beyond the loopback servers the JUnit table checks against curl.
#include <gtest/gtest.h>

#include <string>

#include "Win32Api.h"
#include "posix/inet/Netrc.h"
#include "posix/inet/ProxyLookup.h"
#include "posix/inet/RequestHeaders.h"
#include "posix/inet/RequestTarget.h"

using namespace quorvane::posix::inet;

namespace {

// The last error when the call failed, 0 when it did not.
long ErrorOf(bool failed) { return failed ? static_cast<long>(GetLastError()) : 0; }

TEST(Netrc, PicksTheEntryForTheHostOrNoneFromABrokenFile) {
  const struct {
    const char *text, *host, *entry;  // entry: "login|password", or "-" for none
  } cases[] = {
      {"machine a.test login al password pw", "a.test", "al|pw"},
      {"machine A.Test login al password pw", "a.TEST", "al|pw"},
      {"machine a.test login al password pw\nmachine b.test login bo password qq", "b.test", "bo|qq"},
      {"default login anon password x\nmachine a.test login al password pw", "a.test", "al|pw"},
      {"machine a.test login al password pw\ndefault login anon password x", "c.test", "-"},
      {"machine a.test login al password pw", "c.test", "-"},
      {"# comment login x\nmachine a.test login \"a l\" password \"p\\\"w\\\\\"", "a.test", "a l|p\"w\\"},
      {"machine a.test\n  login al\n  account acc\n  password pw\n", "a.test", "al|pw"},
      // A macro body is not read as entries, up to the empty line ending it.
      {"macdef init\nmachine a.test login evil password e\n\nmachine a.test login al password pw", "a.test", "al|pw"},
      {"machine a.test password pw", "a.test", "-"},
      // Broken files give nothing at all, not the entries read before the fault.
      {"machine a.test login al password pw\nport 21", "a.test", "-"},
      {"machine a.test login al password", "a.test", "-"},
      {"machine a.test login al password \"pw", "a.test", "-"},
      {"login al password pw machine a.test", "a.test", "-"},
      {"default login a\ndefault login b", "a.test", "-"},
      {"machine \"\" login al", "", "-"},
  };
  for (const auto& c : cases) {
    const auto entries = ParseNetrc(c.text);
    const auto entry = entries ? FindNetrcEntry(*entries, c.host) : std::nullopt;
    EXPECT_EQ(entry ? entry->login + "|" + entry->password : "-", c.entry) << c.text;
  }
}

TEST(NoProxy, CoversTheHostsCurl7881Exempts) {
  const struct {
    const char *list, *host;
    bool covered;  // as curl 7.88.1 decided (-v: "Trying" the server, or the proxy)
  } cases[] = {
      {"::1", "::1", true},         {"[::1]", "::1", false},       {"::1/128", "::1", false},
      {"::/0", "::1", false},       {"1", "::1", false},           {"10.0.0.0/8", "10.1.2.3", true},
      {"10.1.2.3/16", "10.1.9.9", true}, {"10.1.2.3/", "10.1.2.3", true}, {"10.1.2.3/x", "10.1.2.4", false},
      {"3", "10.1.2.3", false},     {"2.3", "10.1.2.3", false},    {"a.test", "b.a.test.", true},
      {"a.test.", "A.TEST", true},  {"..a.test", "a.test", false}, {"b.a.test", "a.test", false},
      {"*", "a.test", true},        {" * ", "a.test", false},      {"x,\ta.test", "a.test", true},
      {"x;a.test", "a.test", false}, {"", "a.test", false}, {"x a.test", "a.test", true}};
  for (const auto& c : cases) EXPECT_EQ(NoProxyCovers(c.list, c.host), c.covered) << c.list << " / " << c.host;
}

TEST(InetHandles, AHandleOfTheWrongKindOrClosedIsRefusedAndNothingCanBeInjected) {
  HINTERNET session = InternetOpenW(L"agent", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  HINTERNET connection = InternetConnectW(session, L"127.0.0.1", 1, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  ASSERT_NE(connection, nullptr);
  HINTERNET request = HttpOpenRequestW(connection, L"GET", L"/", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_NE(request, nullptr);
  EXPECT_NE(session, connection);
  EXPECT_NE(connection, request);

  const long wrongKind = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
  EXPECT_EQ(ErrorOf(!InternetConnectW(request, L"h", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)), wrongKind);
  EXPECT_EQ(ErrorOf(!HttpOpenRequestW(session, L"GET", L"/", nullptr, nullptr, nullptr, 0, 0)), wrongKind);
  DWORD read = 0, status = 0, size = sizeof status;
  char byte;
  EXPECT_EQ(ErrorOf(!InternetReadFile(connection, &byte, 1, &read)), wrongKind);
  // No answer yet: no status, nothing to read.
  EXPECT_EQ(ErrorOf(!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)),
            ERROR_HTTP_HEADER_NOT_FOUND);
  EXPECT_TRUE(InternetCloseHandle(request));
  EXPECT_EQ(ErrorOf(!HttpSendRequestW(request, nullptr, 0, nullptr, 0)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ErrorOf(!InternetCloseHandle(request)), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(InternetCloseHandle(connection));
  EXPECT_TRUE(InternetCloseHandle(session));
  // Nothing can be injected through the object name, the server name or the headers.
  EXPECT_EQ(RequestTargetFor(nullptr), "/");
  EXPECT_EQ(RequestTargetFor(L""), "/");
  EXPECT_EQ(RequestTargetFor(L"/a b?x=%41\r\nHost: evil"), "/a%20b?x=%41%0D%0AHost:%20evil");
  EXPECT_EQ(RequestTargetFor(L"/\u00e9\t\x7f"), "/%C3%A9%09%7F");
  EXPECT_EQ(RequestTargetFor(L"/a?b#c#d"), "/a?b");  // a fragment stays with the client
  EXPECT_EQ(RequestTargetFor(L"#c"), "/");

  for (const char* name : {"a.test", "127.0.0.1", "::1", "[::1]"}) EXPECT_TRUE(IsUsableServerName(name)) << name;
  for (const char* name : {"", "evil@a.test", "a.test/x", "a.test:80", "a b", "[a.test]"})
    EXPECT_FALSE(IsUsableServerName(name)) << name;

  RequestHeaders headers;
  const DWORD addOrReplace = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, whole = static_cast<DWORD>(-1);
  for (const wchar_t* value : {L"Content-Type: a;", L"content-type: b;", L"Content-Type: c;"})
    EXPECT_EQ(headers.Add(value, whole, addOrReplace), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(headers.List().size(), 1u);
  EXPECT_EQ(headers.List()[0].value, "c;");
  EXPECT_EQ(headers.Add(L"X: a\rY: b", whole, addOrReplace), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(headers.Add(L"No colon", whole, HTTP_ADDREQ_FLAG_ADD), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(headers.Add(L"X-Missing: 1", whole, HTTP_ADDREQ_FLAG_REPLACE),
            ERROR_HTTP_HEADER_NOT_FOUND);
  EXPECT_EQ(headers.List().size(), 1u);
}

}  // namespace
