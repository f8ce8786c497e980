// postMessage of quorvane.dll against the platform's WinInet (Wine's in CI),
// called through its export with FakeJni's JNIEnv. A Winsock server on
// 127.0.0.1 in this program answers every connection with one canned
// response and keeps the requests it was sent. The credentials dialog of a
// 401 answer is not exercised: it is modal on Windows and Wine alike.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <jni.h>

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeJni.h"
#include "QuorvaneDll.h"

namespace {

using qvtest::FakeJni;
typedef void(JNICALL* PostMethod)(JNIEnv*, jclass, jstring, jstring, jint, jboolean, jbyteArray, jobject);

// Answers each connection with `response`, then closes it.
class CannedServer {
 public:
  explicit CannedServer(std::string response) : response_(std::move(response)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&at), size) == 0 && listen(listener_, 4) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) == 0)
      port = ntohs(at.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CannedServer() {
    closesocket(listener_);  // ends accept
    thread_.join();
    WSACleanup();
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  int port = 0;

 private:
  void Serve() {
    for (SOCKET c; (c = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET; closesocket(c)) {
      std::string request;
      char buffer[4096];
      size_t end = std::string::npos, length = 0;
      for (int n; (end == std::string::npos || request.size() < end + 4 + length) &&
                  (n = recv(c, buffer, sizeof buffer, 0)) > 0;) {
        request.append(buffer, n);
        if (end == std::string::npos && (end = request.find("\r\n\r\n")) != std::string::npos) {
          const size_t at = request.find("Content-Length: ");
          if (at < end) length = std::stoul(request.substr(at + 16));
        }
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      send(c, response_.data(), static_cast<int>(response_.size()), 0);
      shutdown(c, SD_SEND);
    }
  }

  const std::string response_;
  SOCKET listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

std::string Response(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// The output stream: an object whose write([BII)V keeps each call.
class HttpMethods : public qvtest::QuorvaneDll {
 protected:
  struct Write {
    jbyteArray array;
    jint offset;
    std::string bytes;
  };

  HttpMethods() : table_(*jni_.env()->functions) {
    table_.reserved1 = this;
    table_.GetMethodID = GetMethodID;
    table_.CallVoidMethodV = CallVoidMethodV;
    env_.functions = &table_;
  }

  // Posts `body` (none when null) to /form?x=1 on the server; the pending exception's message, empty when none.
  std::string Post(const CannedServer& server, const char* body) {
    const auto post = Method<PostMethod>("postMessage", 32);
    if (!post) return "no export";
    jbyteArray bytes = nullptr;
    if (body) {
      FakeJni::Value* v = jni_.NewObject();
      v->bytes.assign(body, body + std::strlen(body));
      bytes = reinterpret_cast<jbyteArray>(v);
    }
    jni_.pending.clear();
    post(&env_, nullptr, Text(u"127.0.0.1"), Text(u"/form?x=1"), server.port, JNI_FALSE, bytes,
         FakeJni::Ref(jni_.NewObject()));
    return jni_.pending;
  }
  jstring Text(const std::u16string& text) { return reinterpret_cast<jstring>(jni_.NewText(text)); }

  static jmethodID JNICALL GetMethodID(JNIEnv*, jclass, const char* name, const char* signature) {
    return std::string(name) + signature == "write([BII)V" ? reinterpret_cast<jmethodID>(1) : nullptr;
  }
  // jni.h's C++ CallVoidMethod calls this va_list form.
  static void JNICALL CallVoidMethodV(JNIEnv* e, jobject, jmethodID, va_list args) {
    const jbyteArray array = va_arg(args, jbyteArray);
    const jint offset = va_arg(args, jint), count = va_arg(args, jint);
    const auto& bytes = reinterpret_cast<FakeJni::Value*>(array)->bytes;
    static_cast<HttpMethods*>(e->functions->reserved1)
        ->writes_.push_back({array, offset, std::string(bytes.data() + offset, bytes.data() + offset + count)});
  }

  FakeJni jni_;
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
  CannedServer server(Response("200 OK", "done"));
  ASSERT_NE(0, server.port);
  const char* const formType = "Content-Type: application/x-www-form-urlencoded;\r\n";
  for (const char* body : {"a=1&b=two", "", static_cast<const char*>(nullptr)}) {
    const std::string verb = body && *body ? "POST" : "GET";
    writes_.clear();
    EXPECT_EQ("", Post(server, body)) << verb;
    ASSERT_FALSE(server.Requests().empty());
    const std::string request = server.Requests().back();
    EXPECT_EQ(0u, request.find(verb + " /form?x=1 HTTP/1.1\r\n")) << request;
    EXPECT_EQ(1u, Count(request, "User-Agent: Sorrel_ARK_1.0\r\n")) << request;
    EXPECT_EQ(1u, Count(request, "Pragma: no-cache\r\n")) << request;
    EXPECT_EQ(verb == "POST" ? 1u : 0u, Count(request, formType)) << request;
    EXPECT_EQ(body && *body ? body : "", request.substr(request.find("\r\n\r\n") + 4));
    ASSERT_EQ(1u, writes_.size());
    EXPECT_EQ("done", writes_[0].bytes);
  }
}

TEST_F(HttpMethods, ANon200AnswerRaisesWithItsNumberAndWritesNothing) {
  CannedServer server(Response("404 Not Found", "missing"));
  EXPECT_EQ("Server returned non HTTP_OK return code: 404", Post(server, nullptr));
  EXPECT_TRUE(writes_.empty());
}

TEST_F(HttpMethods, TheResponseArrivesInChunksOfOneKilobyteThroughOneArray) {
  std::string body;
  for (int i = 0; i < 2500; ++i) body += static_cast<char>('a' + i % 26);
  CannedServer server(Response("200 OK", body));
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
