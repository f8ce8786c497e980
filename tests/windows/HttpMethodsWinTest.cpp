// postMessage of quorvane.dll against the platform's WinInet (Wine's in CI),
// called through its export with DllJni. A Winsock server on 127.0.0.1 in
// this program answers every connection with one canned response, sent in
// pieces, and keeps the requests. A 401 is not tried: its credentials
// dialog is modal.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <jni.h>

#include <algorithm>
#include <cstdarg>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QuorvaneDll.h"

namespace {

class CannedServer {
 public:
  CannedServer(const std::string& status, const std::string& body)
      : response_("HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bind(listener_, reinterpret_cast<sockaddr*>(&at), size);
    listen(listener_, 4);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size);
    port = ntohs(at.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CannedServer() {
    closesocket(listener_);  // ends accept
    thread_.join();
    WSACleanup();
  }
  std::string LastRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
  }

  int port = 0;

 private:
  // One request per connection: the head, then Content-Length bytes of body.
  void Serve() {
    for (SOCKET c; (c = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET; closesocket(c)) {
      std::string request;
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
      {
        std::lock_guard<std::mutex> lock(mutex_);
        request_ = request;
      }
      for (size_t at = 0; at < response_.size(); at += 100) {  // in pieces, as a slow network brings them
        send(c, response_.data() + at, static_cast<int>(std::min<size_t>(100, response_.size() - at)), 0);
        Sleep(1);
      }
      shutdown(c, SD_SEND);
    }
  }

  const std::string response_;
  SOCKET listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::string request_;
};

// The output stream is any object: DllJni finds a method id for every
// signature, and this table's CallVoidMethodV keeps each write(array, offset, count).
class HttpMethods : public qvtest::QuorvaneDll {
 protected:
  struct Write {
    jbyteArray array;
    jint offset;
    std::string bytes;
  };

  HttpMethods() : table_(*jni_.env()->functions) {
    table_.reserved2 = this;
    table_.CallVoidMethodV = CallVoidMethodV;
    env_.functions = &table_;
  }

  // Posts `body` (none when null) to /form?x=1; the pending exception's message, empty when none.
  std::string Post(const CannedServer& server, const char* body) {
    typedef void(JNICALL * PostMethod)(JNIEnv*, jclass, jstring, jstring, jint, jboolean, jbyteArray, jobject);
    const auto post = Method<PostMethod>("postMessage", 32);
    if (!post) return "no export";
    jni_.pending.clear();
    post(&env_, nullptr, jni_.Str(L"127.0.0.1"), jni_.Str(L"/form?x=1"), server.port, JNI_FALSE,
         body ? jni_.Bytes(body) : nullptr, qvtest::FakeJni::Ref(jni_.NewObject()));
    return jni_.pending;
  }

  static void JNICALL CallVoidMethodV(JNIEnv* e, jobject, jmethodID, va_list args) {
    const jbyteArray array = va_arg(args, jbyteArray);
    const jint offset = va_arg(args, jint), count = va_arg(args, jint);
    const auto& bytes = qvtest::DllJni::BytesOf(array);
    static_cast<HttpMethods*>(e->functions->reserved2)
        ->writes_.push_back({array, offset, std::string(bytes.data() + offset, bytes.data() + offset + count)});
  }

  qvtest::DllJni jni_;
  JNINativeInterface_ table_;
  JNIEnv env_;
  std::vector<Write> writes_;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(HttpMethods, ABodyMakesAFormPostAndNoBodyAGet) {
  CannedServer server("200 OK", "done");
  for (const char* body : {"a=1&b=two", "", static_cast<const char*>(nullptr)}) {
    const bool post = body && *body;
    writes_.clear();
    EXPECT_EQ("", Post(server, body)) << post;
    const std::string request = server.LastRequest();
    EXPECT_EQ(0u, request.find(post ? "POST /form?x=1 HTTP/1.1\r\n" : "GET /form?x=1 HTTP/1.1\r\n")) << request;
    EXPECT_EQ(1u, Count(request, "User-Agent: Sorrel_ARK_1.0\r\n")) << request;
    EXPECT_EQ(1u, Count(request, "Pragma: no-cache\r\n")) << request;
    EXPECT_EQ(post ? 1u : 0u, Count(request, "Content-Type: application/x-www-form-urlencoded;\r\n")) << request;
    EXPECT_EQ(post ? body : "", request.substr(request.find("\r\n\r\n") + 4));
    ASSERT_EQ(1u, writes_.size());
    EXPECT_EQ("done", writes_[0].bytes);
  }
}

TEST_F(HttpMethods, ANon200AnswerRaisesWithItsNumberAndWritesNothing) {
  CannedServer server("404 Not Found", "missing");
  EXPECT_EQ("Server returned non HTTP_OK return code: 404", Post(server, nullptr));
  EXPECT_TRUE(writes_.empty());
}

TEST_F(HttpMethods, TheResponseArrivesInKilobyteChunksThroughOneArray) {
  std::string body;
  for (int i = 0; i < 2500; ++i) body += static_cast<char>('a' + i % 26);
  CannedServer server("200 OK", body);
  EXPECT_EQ("", Post(server, nullptr));
  std::vector<size_t> sizes;
  std::string received;
  for (const Write& w : writes_) {
    sizes.push_back(w.bytes.size());
    received += w.bytes;
    EXPECT_EQ(0, w.offset);
    EXPECT_EQ(writes_[0].array, w.array) << "one reused array";
  }
  EXPECT_EQ((std::vector<size_t>{1024, 1024, 452}), sizes);
  EXPECT_EQ(body, received);
}

}  // namespace
