// uidriver: drives the window of a running `server.exe` the way a user's
// clicks do (the same messages: BM_CLICK on a button, WM_COMMAND of a menu
// entry, the tray icon's callback) and reads the window's state back. It
// reads one command per line on standard input and answers each with one
// line ("ok ...", "none", or "error ...") on standard output, so a test
// script keeps one driver for a whole session.
//
// Windows are named: main (the main view), auth, acl, settings, about, tip,
// ask (the question before quitting), frame (the main window itself).
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"com.quillonlabs.zuviridar_iphone";
constexpr UINT kMsgSelectRow = WM_APP + 10;
constexpr UINT kTrayMessage = 0x2400;
constexpr wchar_t kWaveService[] = L"Lumora Wave Service";

HWND mainWindow() { return ::FindWindowW(kMainClass, nullptr); }

HWND mainView() {
  HWND main = mainWindow();
  return main ? ::GetWindow(main, GW_CHILD) : nullptr;
}

// A dialog is known by one control only it has.
int markerOf(const std::string& name) {
  if (name == "auth") return 1403;
  if (name == "acl") return 1601;
  if (name == "settings") return 1150;
  if (name == "about") return 1204;
  if (name == "tip") return 1703;
  if (name == "ask") return 1502;
  return 0;
}

struct Search {
  DWORD pid;
  int marker;
  HWND found;
};

BOOL CALLBACK visit(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, search->marker)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND window(const std::string& name) {
  if (name == "main") return mainView();
  if (name == "frame") return mainWindow();
  const int marker = markerOf(name);
  HWND main = mainWindow();
  if (!marker || !main) return nullptr;
  Search search = {0, marker, nullptr};
  ::GetWindowThreadProcessId(main, &search.pid);
  ::EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND waitFor(const std::string& name, int ms) {
  for (int waited = 0;; waited += 100) {
    if (HWND found = window(name)) return found;
    if (waited >= ms) return nullptr;
    ::Sleep(100);
  }
}

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

std::string textOf(HWND hwnd) {
  wchar_t buffer[1024] = {};
  ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 3000, nullptr);
  return narrow(buffer);
}

struct All {
  DWORD pid;
  std::string out;
};

BOOL CALLBACK listOne(HWND hwnd, LPARAM data) {
  auto* a = reinterpret_cast<All*>(data);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid != a->pid) return TRUE;
  wchar_t klass[64] = {};
  ::GetClassNameW(hwnd, klass, 64);
  a->out += " [" + narrow(klass) + (::IsWindowVisible(hwnd) ? " visible " : " hidden ") + textOf(hwnd) + "]";
  return TRUE;
}

// The notification balloon on screen now: the system's notification area
// (another process, explorer under Wine) shows it as a balloon tooltip.
struct Balloon {
  DWORD serverPid;
  HWND found;
};

BOOL CALLBACK findBalloon(HWND hwnd, LPARAM data) {
  auto* b = reinterpret_cast<Balloon*>(data);
  wchar_t klass[64] = {};
  ::GetClassNameW(hwnd, klass, 64);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (std::wstring(klass) != TOOLTIPS_CLASSW || pid == b->serverPid || !::IsWindowVisible(hwnd)) return TRUE;
  if (!(::GetWindowLongW(hwnd, GWL_STYLE) & TTS_BALLOON)) return TRUE;
  b->found = hwnd;
  return FALSE;
}

// The balloon's title lives in its own process: the question and the
// answer's buffer go there. Empty when any step of that fails (seen once
// under Wine on a fresh machine): the title is then not known, which
// readers take as such.
std::string balloonTitle(HWND balloon) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(balloon, &pid);
  HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return "";
  constexpr UINT kChars = 128;
  const SIZE_T size = sizeof(TTGETTITLE) + kChars * sizeof(wchar_t);
  auto* remote = static_cast<uint8_t*>(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  std::string title;
  if (remote) {
    TTGETTITLE ask = {};
    ask.dwSize = sizeof(ask);
    ask.cch = kChars;
    ask.pszTitle = reinterpret_cast<WCHAR*>(remote + sizeof(TTGETTITLE));
    wchar_t text[kChars] = {};
    if (::WriteProcessMemory(process, remote, &ask, sizeof(ask), nullptr) &&
        ::WriteProcessMemory(process, remote + sizeof(TTGETTITLE), text, sizeof(text), nullptr)) {
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(balloon, TTM_GETTITLE, 0, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 3000,
                            &ignored);
      if (::ReadProcessMemory(process, remote + sizeof(TTGETTITLE), text, sizeof(text), nullptr)) {
        text[kChars - 1] = 0;
        title = narrow(text);
      }
    }
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  ::CloseHandle(process);
  return title;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string run(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  if (command == "wait") {
    std::string name;
    int ms = 10000;
    in >> name >> ms;
    return waitFor(name, ms) ? "ok" : "none";
  }
  if (command == "gone") {  // waits until the window is no more
    std::string name;
    int ms = 10000;
    in >> name >> ms;
    for (int waited = 0; waited <= ms; waited += 100) {
      if (!window(name)) return "ok";
      ::Sleep(100);
    }
    return "none";
  }
  if (command == "click" || command == "state" || command == "text" || command == "settext" || command == "check" ||
      command == "count" || command == "items" || command == "choose" || command == "tab") {
    std::string name;
    int id = 0;
    in >> name >> id;
    HWND parent = window(name);
    HWND control = parent ? ::GetDlgItem(parent, id) : nullptr;
    if (!control) return "error no control " + std::to_string(id) + " in " + name;
    if (command == "click") {
      ::PostMessageW(control, BM_CLICK, 0, 0);
      return "ok";
    }
    if (command == "state") {
      const bool latched = ::GetPropW(control, L"QLLatched") != nullptr;
      const LRESULT check = ::SendMessageW(control, BM_GETCHECK, 0, 0);
      return "ok enabled=" + std::to_string(::IsWindowEnabled(control) ? 1 : 0) +
             " latched=" + std::to_string(latched ? 1 : 0) +
             " checked=" + std::to_string(check == BST_CHECKED ? 1 : 0) +
             " visible=" + std::to_string(::IsWindowVisible(control) ? 1 : 0) + " text=" + textOf(control);
    }
    if (command == "text") return "ok " + textOf(control);
    if (command == "count") return "ok " + std::to_string(::SendMessageW(control, LVM_GETITEMCOUNT, 0, 0));
    if (command == "items") {
      // A drop-down list: "ok SELECTED|ENTRY|ENTRY...".
      const LRESULT rows = ::SendMessageW(control, CB_GETCOUNT, 0, 0);
      std::string out = "ok " + std::to_string(::SendMessageW(control, CB_GETCURSEL, 0, 0));
      for (LRESULT i = 0; i < rows; ++i) {
        wchar_t entry[512] = {};
        if (::SendMessageW(control, CB_GETLBTEXTLEN, i, 0) < 512) {
          ::SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        }
        out += "|" + narrow(entry);
      }
      return out;
    }
    if (command == "choose") {
      // Picks a row of a drop-down list as the user's choice does: the
      // selection, then the notice to the dialog.
      int row = 0;
      in >> row;
      ::SendMessageW(control, CB_SETCURSEL, row, 0);
      ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
      return "ok";
    }
    if (command == "tab") {
      // A tab clicked: the tab control tells the dialog itself.
      int page = 0;
      in >> page;
      ::SendMessageW(control, TCM_SETCURFOCUS, page, 0);
      return "ok " + std::to_string(::SendMessageW(control, TCM_GETCURSEL, 0, 0));
    }
    if (command == "check") {
      int on = 0;
      in >> on;
      ::SendMessageW(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
      return "ok";
    }
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    const std::wstring wide = widen(rest);
    ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    return "ok";
  }
  if (command == "rect") {
    std::string name;
    in >> name;
    HWND hwnd = window(name);
    if (name == "main") hwnd = mainWindow();
    RECT r;
    if (!hwnd || !::GetWindowRect(hwnd, &r)) return "none";
    return "ok " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
           " " + std::to_string(r.bottom - r.top);
  }
  if (command == "visible") {
    std::string name;
    in >> name;
    HWND hwnd = name == "main" ? mainWindow() : window(name);
    return std::string("ok ") + ((hwnd && ::IsWindowVisible(hwnd)) ? "1" : "0");
  }
  if (command == "select-row") {
    int row = 0, add = 0;
    in >> row >> add;
    HWND acl = window("acl");
    if (!acl) return "none";
    return "ok " + std::to_string(::SendMessageW(acl, kMsgSelectRow, row, add));
  }
  if (command == "command" || command == "close" || command == "tray") {
    HWND main = mainWindow();
    if (!main) return "none";
    long long a = 0;
    in >> a;
    if (command == "command") ::PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(a), 0);
    if (command == "close") ::PostMessageW(main, WM_CLOSE, static_cast<WPARAM>(a), 0);
    if (command == "tray") ::PostMessageW(main, kTrayMessage, 0, static_cast<LPARAM>(a));
    return "ok";
  }
  if (command == "menu") {
    // The notification-area menu that is open now: its command ids.
    HWND popup = nullptr;
    for (int waited = 0; waited < 5000 && !popup; waited += 100) {
      popup = ::FindWindowW(L"#32768", nullptr);
      if (!popup || !::IsWindowVisible(popup)) {
        popup = nullptr;
        ::Sleep(100);
      }
    }
    if (!popup) return "none";
    HMENU menu = reinterpret_cast<HMENU>(::SendMessageW(popup, MN_GETHMENU, 0, 0));
    std::string ids = "ok";
    const int count = menu ? ::GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count; ++i) {
      const UINT id = ::GetMenuItemID(menu, i);
      if (id != 0 && id != static_cast<UINT>(-1)) ids += " " + std::to_string(id);
    }
    return ids;
  }
  if (command == "menu-close") {
    HWND popup = ::FindWindowW(L"#32768", nullptr);
    if (popup) ::PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    if (HWND main = mainWindow()) ::PostMessageW(main, WM_CANCELMODE, 0, 0);
    return "ok";
  }
  if (command == "list") {
    // Every top-level window of the server: class, visible, title.
    HWND main = mainWindow();
    if (!main) return "none";
    All all = {0, "ok"};
    ::GetWindowThreadProcessId(main, &all.pid);
    ::EnumWindows(listOne, reinterpret_cast<LPARAM>(&all));
    return all.out;
  }
  if (command == "msgbox") {
    // A message box of the server: answers it with the button `id` and
    // tells its text.
    int id = IDOK, ms = 10000;
    in >> id >> ms;
    HWND main = mainWindow();
    if (!main) return "none";
    All boxes = {0, ""};
    ::GetWindowThreadProcessId(main, &boxes.pid);
    for (int waited = 0; waited <= ms; waited += 100) {
      HWND box = nullptr;
      for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
           w = ::FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        bool ours = false;
        for (const char* name : {"auth", "acl", "settings", "about", "tip", "ask"}) {
          ours = ours || ::GetDlgItem(w, markerOf(name)) != nullptr;
        }
        if (pid == boxes.pid && ::IsWindowVisible(w) && !ours && ::GetDlgItem(w, id)) box = w;
      }
      if (box) {
        std::string text;
        for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
          wchar_t klass[32] = {};
          ::GetClassNameW(c, klass, 32);
          if (std::wstring(klass) == L"Static") text += textOf(c);
        }
        // A click that reaches the box before its own message loop runs
        // can be lost under load: clicked again until the box is gone.
        for (int tries = 0; tries < 10 && ::IsWindow(box) && ::IsWindowVisible(box); ++tries) {
          ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, id)));
          for (int waited = 0; waited < 2000 && ::IsWindow(box) && ::IsWindowVisible(box); waited += 100) ::Sleep(100);
        }
        return "ok " + text;
      }
      ::Sleep(100);
    }
    return "none";
  }
  if (command == "balloon") {
    // "ok WINDOW TITLE|TEXT" of the balloon shown now, "none" without one.
    Balloon b = {0, nullptr};
    if (HWND main = mainWindow()) ::GetWindowThreadProcessId(main, &b.serverPid);
    ::EnumWindows(findBalloon, reinterpret_cast<LPARAM>(&b));
    if (!b.found) return "none";
    return "ok " + std::to_string(reinterpret_cast<uintptr_t>(b.found)) + " " + balloonTitle(b.found) + "|" +
           textOf(b.found);
  }
  if (command == "service-install") {
    // service-install EXE RECORD: a stand-in for the wave service, started
    // with the file where it writes the control codes it receives.
    std::string exe, record;
    in >> exe >> record;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return "error no service manager";
    const std::wstring binary = L"\"" + widen(exe) + L"\"";
    SC_HANDLE service = ::CreateServiceW(manager, kWaveService, kWaveService, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) service = ::OpenServiceW(manager, kWaveService, SERVICE_ALL_ACCESS);
    std::string answer = "error no service";
    if (service) {
      const std::wstring path = widen(record);
      const wchar_t* args[] = {path.c_str()};
      answer = ::StartServiceW(service, 1, args) ? "error not running" : "error start " + std::to_string(::GetLastError());
      for (int waited = 0; waited < 30000; waited += 100) {
        SERVICE_STATUS status = {};
        if (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING) {
          answer = "ok";
          break;
        }
        ::Sleep(100);
      }
      ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return answer;
  }
  if (command == "service-remove") {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return "error no service manager";
    SC_HANDLE service = ::OpenServiceW(manager, kWaveService, SERVICE_ALL_ACCESS);
    if (service) {
      SERVICE_STATUS status = {};
      ::ControlService(service, SERVICE_CONTROL_STOP, &status);
      for (int waited = 0; waited < 10000; waited += 100) {
        if (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED) break;
        ::Sleep(100);
      }
      ::DeleteService(service);
      ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return service ? "ok" : "none";
  }
  if (command == "sleep") {
    int ms = 0;
    in >> ms;
    ::Sleep(ms);
    return "ok";
  }
  return "error unknown command " + command;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") break;
    if (line.empty()) continue;
    std::cout << run(line) << std::endl;
  }
  return 0;
}
