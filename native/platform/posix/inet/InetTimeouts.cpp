#include "InetTimeouts.h"

#include <mutex>

#include "WinInetApi.h"
#include "../registry/RegistryApi.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::mutex g_processMutex;
bool g_connectSet = false, g_receiveSet = false;
Timeouts g_process;

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD type = 0, data = 0, size = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data)
    return false;
  *value = data;
  return true;
}

Timeouts RegistryTimeouts() {
  Timeouts timeouts;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return timeouts;
  ReadDword(key, L"ConnectTimeout", &timeouts.connectMs);
  ReadDword(key, L"ReceiveTimeout", &timeouts.receiveMs);
  if (ReadDword(key, L"RequestTimeout", &timeouts.requestMs) && IsUnlimited(timeouts.requestMs))
    timeouts.requestMs = kDefaultRequestTimeoutMs;
  RegCloseKey(key);
  return timeouts;
}

}  // namespace

bool SetTimeout(Timeouts& timeouts, DWORD option, DWORD ms) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      timeouts.connectMs = ms;
      return true;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      timeouts.receiveMs = ms;
      return true;
    case INTERNET_OPTION_SEND_TIMEOUT:
      return true;
    default:
      return false;
  }
}

Timeouts SessionTimeouts() {
  Timeouts timeouts = RegistryTimeouts();
  std::lock_guard<std::mutex> lock(g_processMutex);
  if (g_connectSet) timeouts.connectMs = g_process.connectMs;
  if (g_receiveSet) timeouts.receiveMs = g_process.receiveMs;
  return timeouts;
}

bool SetProcessTimeout(DWORD option, DWORD ms) {
  std::lock_guard<std::mutex> lock(g_processMutex);
  if (!SetTimeout(g_process, option, ms)) return false;
  if (option == INTERNET_OPTION_CONNECT_TIMEOUT) g_connectSet = true;
  if (option == INTERNET_OPTION_RECEIVE_TIMEOUT) g_receiveSet = true;
  return true;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
