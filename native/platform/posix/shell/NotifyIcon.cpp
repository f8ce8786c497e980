// Shell_NotifyIconW on Linux: the icons of the process, kept per (hWnd, uID)
// with the shell's answers, and shown through the session bus
// (NotifyIconBus.cpp) when there is one. The answers never depend on the
// desktop: a headless process gets the same TRUE and FALSE.
#include <map>
#include <mutex>

#include "../text/FileSystemText.h"
#include "NotifyIcon.h"
#include "ShellIcon.h"

namespace qp = quorvane::posix;
namespace notify = quorvane::posix::notify;

namespace {

struct IconState {
  UINT callbackMessage = 0;
  std::string iconName;
  std::string tip;
  DWORD state = 0;
  UINT version = 0;
  uint32_t notification = 0;  // the balloon on screen, 0 for none
};

template <size_t N>
std::string Text(const WCHAR (&text)[N]) {
  size_t length = 0;
  while (length < N && text[length] != 0) ++length;
  return qp::FileSystemTextFromWide(text, length);
}

std::string IconName(HICON icon) {
  auto shellIcon = qp::ShellIconFromHandle(icon);
  return shellIcon && !shellIcon->Names().empty() ? shellIcon->Names().front() : std::string();
}

std::string BalloonIcon(const NOTIFYICONDATAW& data, const std::string& iconName) {
  switch (data.dwInfoFlags & NIIF_ICON_MASK) {
    case NIIF_INFO: return "dialog-information";
    case NIIF_WARNING: return "dialog-warning";
    case NIIF_ERROR: return "dialog-error";
    case NIIF_USER: return iconName;
    default: return std::string();
  }
}

class IconTable {
 public:
  // What changed on screen is shown after the table's lock is let go, so a
  // slow bus never holds up other callers' answers.
  BOOL Apply(DWORD message, const NOTIFYICONDATAW& data) {
    const notify::IconKey key{reinterpret_cast<uintptr_t>(data.hWnd), data.uID};
    notify::IconView view;
    view.key = key;
    bool show = false, remove = false;
    uint32_t closeNotification = 0;
    notify::Balloon balloon;
    bool notifyNow = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = icons_.find(key);
      switch (message) {
        case NIM_ADD:
          if (it != icons_.end()) return FALSE;
          it = icons_.emplace(key, IconState()).first;
          break;
        case NIM_MODIFY:
        case NIM_SETFOCUS:
          if (it == icons_.end()) return FALSE;
          if (message == NIM_SETFOCUS) return TRUE;
          break;
        case NIM_DELETE:
          if (it == icons_.end()) return FALSE;
          closeNotification = it->second.notification;
          icons_.erase(it);
          remove = true;
          break;
        case NIM_SETVERSION:
          if (it == icons_.end() || data.uVersion > NOTIFYICON_VERSION_4) return FALSE;
          it->second.version = data.uVersion;
          return TRUE;
        default:
          return FALSE;
      }
      if (!remove) {
        IconState& icon = it->second;
        if (data.uFlags & NIF_MESSAGE) icon.callbackMessage = data.uCallbackMessage;
        if (data.uFlags & NIF_ICON) icon.iconName = IconName(data.hIcon);
        if (data.uFlags & NIF_TIP) icon.tip = Text(data.szTip);
        if (data.uFlags & NIF_STATE) icon.state = (icon.state & ~data.dwStateMask) | (data.dwState & data.dwStateMask);
        if (data.uFlags & NIF_INFO) {
          // An empty text takes the balloon down.
          closeNotification = icon.notification;
          icon.notification = 0;
          balloon = {Text(data.szInfoTitle), Text(data.szInfo), BalloonIcon(data, icon.iconName),
                     (data.dwInfoFlags & NIIF_ICON_MASK) == NIIF_ERROR, (data.dwInfoFlags & NIIF_NOSOUND) != 0};
          notifyNow = !balloon.text.empty();
        }
        view.iconName = icon.iconName;
        view.tip = icon.tip;
        view.hidden = (icon.state & NIS_HIDDEN) != 0;
        show = true;
      }
    }
    if (remove) notify::SessionBus::Remove(key);
    if (show) notify::SessionBus::Show(view);
    if (closeNotification != 0) notify::SessionBus::Close(closeNotification);
    if (notifyNow) {
      const uint32_t id = notify::SessionBus::Notify(balloon);
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = icons_.find(key);
      if (it != icons_.end()) it->second.notification = id;
    }
    return TRUE;
  }

 private:
  std::mutex mutex_;
  std::map<notify::IconKey, IconState> icons_;
};

IconTable& Icons() {
  static auto* table = new IconTable();  // never destroyed: callers may come until exit
  return *table;
}

}  // namespace

BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
  if (lpData == nullptr) return FALSE;
  return Icons().Apply(dwMessage, *lpData);
}
