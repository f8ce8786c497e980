// Data protection tests: protecting and opening in forked children with key folders of their own, the system log
// they write, and private session buses with the real gnome-keyring.
#pragma once

#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "Win32Api.h"

namespace protect_test {

const DWORD kNoKey = static_cast<DWORD>(NTE_BAD_KEY_STATE);
constexpr uid_t kNobody = 65534;

// The blob of `byte` protected, or empty with the error in `error`.
inline std::vector<BYTE> Protect(BYTE byte, DWORD& error) {
  DATA_BLOB plain = {1, &byte}, blob = {};
  if (!CryptProtectData(&plain, L"ark_secret", nullptr, nullptr, nullptr, 0, &blob)) {
    error = GetLastError();
    return {};
  }
  std::vector<BYTE> out(blob.pbData, blob.pbData + blob.cbData);
  LocalFree(blob.pbData);
  return out;
}

// 0 when `blob` opens, else the error.
inline DWORD Unprotect(std::vector<BYTE> blob) {
  DATA_BLOB in = {static_cast<DWORD>(blob.size()), blob.data()}, out = {};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out)) return GetLastError();
  LocalFree(out.pbData);
  return 0;
}

inline std::vector<BYTE> KeyId(const std::vector<BYTE>& blob) {
  return blob.size() < 24 ? blob : std::vector<BYTE>(blob.begin() + 8, blob.begin() + 24);
}

inline void SaveBlob(const std::string& path, const std::vector<BYTE>& blob) {
  settings_test::WriteBytes(path, std::string(blob.begin(), blob.end()));
}

inline std::vector<BYTE> LoadBlob(const std::string& path) {
  const std::string bytes = settings_test::ReadBytes(path);
  return std::vector<BYTE>(bytes.begin(), bytes.end());
}

// Runs `body` in a child with its own data folder (passed in; `given`, kept, when there is one) as HOME and
// XDG_DATA_HOME, and the session bus at `bus` (none when empty); its exit code.
inline int InChild(const std::function<int(const std::string&)>& body, const std::string& given = "",
                   const std::string& bus = "") {
  char pattern[] = "/tmp/qv-keycache-XXXXXX";
  const std::string data = given.empty() ? mkdtemp(pattern) : given;
  const pid_t child = fork();
  if (child == 0) {
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("HOME", data.c_str(), 1);
    if (bus.empty()) unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    _exit(body(data));
  }
  int status = 0;
  const bool ended = waitpid(child, &status, 0) == child;
  if (given.empty()) std::system(("rm -rf '" + data + "'").c_str());
  return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// In a child: the system log's lines also go to `file` (LOG_PERROR, stderr moved there), as the library leaves the
// process's openlog as it finds it.
inline bool CaptureSystemLog(const std::string& file) {
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) return false;
  close(fd);
  openlog("qv-test", LOG_PERROR | LOG_NDELAY, LOG_USER);
  return true;
}

// Lines of `file` holding every one of `parts`.
inline int LinesWith(const std::string& file, const std::vector<std::string>& parts) {
  std::ifstream in(file);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    bool all = true;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    count += all;
  }
  return count;
}

// In a child running as root: becomes uid and gid 65534 with no groups and no capabilities.
inline bool BecomeNobody() {
  return setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
         setresuid(kNobody, kNobody, kNobody) == 0;
}

// What a shell command prints.
inline std::string Output(const std::string& command) {
  std::string text;
  if (FILE* out = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
    pclose(out);
  }
  return text;
}

// A session bus of its own (dbus-daemon with a configuration that names only our services folder), on `listen` (a
// D-Bus address) when given: with `keyring`, gnome-keyring is started on demand by D-Bus with an unlocked login
// collection, as a desktop session does; without, the bus has no Secret Service. The keyring keeps its files in a
// folder of its own and ends with the bus.
class PrivateBus {
 public:
  explicit PrivateBus(bool keyring, const std::string& listen = "") {
    const std::string services = folder_.File("services"), home = folder_.File("home");
    mkdir(services.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    if (keyring) {
      settings_test::WriteBytes(services + "/org.freedesktop.secrets.service",
                                "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/sh -c 'printf pw | exec "
                                "gnome-keyring-daemon --foreground --unlock --components=secrets'\n");
    }
    settings_test::WriteBytes(
        folder_.File("bus.conf"),
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>" + (listen.empty() ? "unix:dir=" + folder_.Path() : listen) +
        "</listen>"
        "<servicedir>" + services + "</servicedir><policy context=\"default\">"
        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
        "</policy></busconfig>\n");
    const std::string lines = Output("env HOME='" + home + "' XDG_DATA_HOME='" + home + "' XDG_RUNTIME_DIR='" + home +
                                     "' dbus-daemon --config-file='" + folder_.File("bus.conf") +
                                     "' --fork --print-address=1 --print-pid=1");
    const size_t newline = lines.find('\n');
    if (newline == std::string::npos) return;
    address_ = lines.substr(0, newline);
    pid_ = atoi(lines.c_str() + newline + 1);
  }
  // The daemon is gone (or a zombie) when this returns: on its way out it removes its socket, perhaps a successor's.
  ~PrivateBus() {
    if (pid_ <= 0 || kill(pid_, SIGTERM) != 0) return;
    for (int i = 0; i < 250; ++i) {
      std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
      std::string line;
      if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z") return;
      usleep(20 * 1000);
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool Ready() const { return pid_ > 0; }
  const std::string& Address() const { return address_; }

  // The object paths of the keyring's data-protection keys.
  std::vector<std::string> Items() const {
    const std::string found = Call("/org/freedesktop/secrets", "org.freedesktop.Secret.Service.SearchItems",
                                   "\"{'xdg:schema': 'com.quorvane.MasterKey'}\"");
    std::vector<std::string> items;
    const std::regex path("/org/freedesktop/secrets/collection/[^']+");
    for (auto it = std::sregex_iterator(found.begin(), found.end(), path); it != std::sregex_iterator(); ++it)
      items.push_back(it->str());
    return items;
  }
  // The number in the newest unique name (":1.N") on the bus, which is the asking connection's own: connections
  // made between two calls are the difference less one.
  int NewestConnection() const {
    const std::string names = Output("gdbus call --address '" + address_ + "' --dest org.freedesktop.DBus "
                                     "--object-path /org/freedesktop/DBus --method org.freedesktop.DBus.ListNames");
    int newest = -1;
    const std::regex unique("':1\\.([0-9]+)'");
    for (auto it = std::sregex_iterator(names.begin(), names.end(), unique); it != std::sregex_iterator(); ++it)
      newest = std::max(newest, std::stoi((*it)[1].str()));
    return newest;
  }
  void DeleteItems() const {
    for (const std::string& item : Items()) Call(item, "org.freedesktop.Secret.Item.Delete", "");
  }

 private:
  std::string Call(const std::string& object, const std::string& method, const std::string& arguments) const {
    return Output("gdbus call --address '" + address_ + "' --dest org.freedesktop.secrets --object-path '" + object +
                  "' --method " + method + " " + arguments + " 2>&1");
  }

  settings_test::TempFolder folder_;
  std::string address_;
  pid_t pid_ = 0;
};

}  // namespace protect_test
