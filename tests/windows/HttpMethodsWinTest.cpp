// postMessage through the platform's WinInet; no 401 is tried, as its credentials dialog is modal.
#include "ExportedMethods.h"  // first: winsock2.h before windows.h

#include <algorithm>
#include <thread>

namespace {

// Answers every connection with `response` until the listener closes; returns the last request.
std::string Serve(SOCKET listener, const std::string& response) {
  std::string request;
  for (SOCKET c; (c = accept(listener, nullptr, nullptr)) != INVALID_SOCKET; closesocket(c)) {
    request.clear();
    char buffer[4096];
    size_t head = std::string::npos, length = 0;
    for (int n; (head == std::string::npos || request.size() < head + 4 + length) &&
                (n = recv(c, buffer, sizeof buffer, 0)) > 0;) {
      request.append(buffer, n);
      if (head == std::string::npos && (head = request.find("\r\n\r\n")) != std::string::npos) {
        const size_t at = request.find("Content-Length: ");
        if (at < head) length = std::stoul(request.substr(at + 16));
      }
    }
    for (size_t at = 0; at < response.size(); at += 100) {  // in pieces, as a slow network brings them
      send(c, response.data() + at, static_cast<int>(std::min<size_t>(100, response.size() - at)), 0);
      Sleep(1);
    }
    shutdown(c, SD_SEND);
  }
  return request;
}

using ExportedMethods = qvtest::ExportedMethods;

// A body makes a form post, none or an empty one a GET; the answer arrives in kilobyte chunks through one array.
TEST_F(ExportedMethods, PostMessageAgainstACannedServer) {
  std::string letters;
  for (int i = 0; i < 2500; ++i) letters += static_cast<char>('a' + i % 26);
  struct Case {
    const char *status, *body;  // body null: none
    std::string response, error;
    std::vector<size_t> chunks;
  };
  const Case cases[] = {
      {"200 OK", "a=1&b=two", "done", "", {4}},
      {"200 OK", "", "done", "", {4}},
      {"200 OK", nullptr, letters, "", {1024, 1024, 452}},
      {"404 Not Found", nullptr, "missing", "java.io.IOException: Server returned non HTTP_OK return code: 404", {}},
  };
  WSADATA wsa;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
  for (const Case& c : cases) Row("postMessage", std::string(c.status) + " to " + (c.body ? c.body : "<none>"), [&] {
    sockaddr_in at = {};  // 127.0.0.1, any free port
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bind(listener, reinterpret_cast<sockaddr*>(&at), size);
    listen(listener, 4);
    getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
    std::string request;
    std::thread server([&] {
      request = Serve(listener, "HTTP/1.1 " + std::string(c.status) + "\r\nContent-Length: " +
                                    std::to_string(c.response.size()) + "\r\nConnection: close\r\n\r\n" + c.response);
    });
    jni_.writes.clear();
    Call<void>("postMessage", jni_.Str(L"127.0.0.1"), jni_.Str(L"/form?x=1"), jint(ntohs(at.sin_port)),
               jboolean(JNI_FALSE), c.body ? jni_.Bytes(c.body) : jbyteArray(), jni_.NewOutputStream());
    const std::string pending = jni_.Pending();
    closesocket(listener);  // ends the server's accept
    server.join();
    EXPECT_EQ(c.error, pending);
    const bool post = c.body && *c.body;
    EXPECT_EQ(0u, request.find(post ? "POST /form?x=1 HTTP/1.1\r\n" : "GET /form?x=1 HTTP/1.1\r\n")) << request;
    const auto once = [&](const char* header) {
      return request.find(header) != std::string::npos && request.find(header) == request.rfind(header);
    };
    EXPECT_TRUE(once("User-Agent: Sorrel_ARK_1.0\r\n") && once("Pragma: no-cache\r\n")) << request;
    EXPECT_EQ(post, once("Content-Type: application/x-www-form-urlencoded;\r\n")) << request;
    EXPECT_EQ(post ? c.body : "", request.substr(request.find("\r\n\r\n") + 4));
    std::vector<size_t> sizes;
    std::string received;
    for (const auto& w : jni_.writes) {
      sizes.push_back(w.bytes.size());
      received += w.bytes;
      EXPECT_EQ(0, w.offset);
      EXPECT_EQ(jni_.writes[0].array, w.array) << "one reused array";
    }
    EXPECT_EQ(c.chunks, sizes);
    EXPECT_EQ(c.error.empty() ? c.response : "", received);
  });
  WSACleanup();
}

}  // namespace
