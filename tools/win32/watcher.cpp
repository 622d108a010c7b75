// Message-box watcher for the end-to-end runs under Wine.
//
//   watcher.exe LOGFILE STOPFILE [SECONDS]
//
// Runs beside the product in the same prefix (same wineserver, same
// desktop).  Every 50 ms it looks for visible top-level dialogs of the
// message-box class "#32770", appends one line per new box to LOGFILE
//
//   messagebox flags=? caption="<caption>" text="<text>"
//
// (winsim's journal line, quoted the same way: \" \\ and \xNN for control
// and non-ASCII bytes; the style flags of another process's box cannot be
// read back, hence "?") and presses OK.  Each line is written and the file closed at once,
// so the record is complete even if the watcher is killed.  It stops when
// STOPFILE exists (exit code 0) or after SECONDS (default 120; exit code 3),
// so that a run never hangs on a box nobody closes.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "snapshot.h"

namespace {

const char kDialogClass[] = "#32770";
// The control id of a message box's text (the same in Windows and Wine).
const int kMessageTextId = 0xFFFF;


std::string WindowText(HWND hwnd) {
  int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return "";
  std::vector<char> buffer(length + 2);
  int got = GetWindowTextA(hwnd, buffer.data(), int(buffer.size()));
  return std::string(buffer.data(), got > 0 ? got : 0);
}

struct StaticSearch {
  std::string text;
};

BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
  StaticSearch *search = reinterpret_cast<StaticSearch *>(param);
  char cls[64] = "";
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "Static") != 0) return TRUE;
  std::string text = WindowText(child);
  if (text.empty()) return TRUE;  // the icon is a Static without text
  search->text = text;
  return FALSE;
}

// The message text: the control with the message-box text id, or else the
// first Static control that has a text.
std::string MessageText(HWND box) {
  HWND item = GetDlgItem(box, kMessageTextId);
  if (item) return WindowText(item);
  StaticSearch search;
  EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&search));
  return search.text;
}

struct Scan {
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBoxes(HWND hwnd, LPARAM param) {
  char cls[64] = "";
  if (!GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, kDialogClass) != 0) return TRUE;
  if (!IsWindowVisible(hwnd)) return TRUE;
  reinterpret_cast<Scan *>(param)->boxes.push_back(hwnd);
  return TRUE;
}

bool AppendLine(const char *path, const std::string &line) {
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string data = line + "\n";
  DWORD written = 0;
  BOOL ok = WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == data.size();
}

bool FileExists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void PressOk(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  // WM_COMMAND with IDOK is what the OK button sends when clicked; posting it
  // never blocks the watcher on the product's thread.
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: watcher LOGFILE STOPFILE [SECONDS]\n");
    return 2;
  }
  const char *log = argv[1];
  const char *stop = argv[2];
  DWORD limitMs = (argc == 4 ? DWORD(atoi(argv[3])) : 120) * 1000;
  // The log exists from the start: an empty log means "no box was shown".
  HANDLE file = CreateFileA(log, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "watcher: cannot write %s\n", log);
    return 2;
  }
  CloseHandle(file);

  std::set<HWND> handled;
  DWORD start = GetTickCount();
  for (;;) {
    Scan scan;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&scan));
    // Forget boxes that are gone: a later box may get the same handle.
    for (auto it = handled.begin(); it != handled.end();) {
      if (!IsWindow(*it)) it = handled.erase(it);
      else ++it;
    }
    for (HWND box : scan.boxes) {
      if (handled.count(box)) {
        PressOk(box);  // not closed yet: press again
        continue;
      }
      std::string caption = WindowText(box);
      std::string text = MessageText(box);
      AppendLine(log, "messagebox flags=? caption=" + winsim::QuoteText(caption) + " text=" + winsim::QuoteText(text));
      handled.insert(box);
      PressOk(box);
    }
    if (FileExists(stop)) return 0;
    if (GetTickCount() - start > limitMs) {
      AppendLine(log, "watcher timeout");
      return 3;
    }
    Sleep(50);
  }
}
