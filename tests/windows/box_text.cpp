// box-text.exe XID: prints the caption and the text of the message box shown in the X window
// XID, as UTF-8 on two parts separated by a line feed; exit code 1 when no box is there.
// The Wine harness reads boxes with it, because X knows a box's title but not its text.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

// Wine keeps each top-level window's X window in this property.
constexpr wchar_t XWindowProperty[] = L"__wine_x11_whole_window";
// The static control that holds a message box's text.
constexpr int BoxTextId = 0xFFFF;

struct Search {
  HANDLE xWindow;
  HWND found;
};

BOOL CALLBACK MatchXWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (GetPropW(window, XWindowProperty) != search->xWindow) return TRUE;
  search->found = window;
  return FALSE;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[8192];
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0],
                           reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &length)) {
    return {};
  }
  return std::wstring(buffer, length);
}

void WriteUtf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  Search search{reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(std::wcstoull(argv[1], nullptr, 0))),
                nullptr};
  EnumWindows(MatchXWindow, reinterpret_cast<LPARAM>(&search));
  HWND text = search.found ? GetDlgItem(search.found, BoxTextId) : nullptr;
  if (!text) return 1;
  WriteUtf8(TextOf(search.found) + L"\n" + TextOf(text));
  return 0;
}
