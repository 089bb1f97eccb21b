// winbox.exe read XID: prints the caption and the text of the message box shown in the X window
// XID, as UTF-8, separated by a line feed. winbox.exe return XID: presses Return in that box.
// Exit code 1 when no box is there. The Wine harness reads and dismisses boxes with it: X knows
// a box's title but not its text, and keyboard focus is one per display.
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
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
    return {};
  }
  std::wstring text(length + 1, L'\0');
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 10000, &length)) {
    return {};
  }
  text.resize(length);
  return text;
}

void WriteUtf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  std::wstring command = argv[1];
  Search search{reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(std::wcstoull(argv[2], nullptr, 0))),
                nullptr};
  EnumWindows(MatchXWindow, reinterpret_cast<LPARAM>(&search));
  HWND text = search.found ? GetDlgItem(search.found, BoxTextId) : nullptr;
  if (!text) return 1;
  if (command == L"read") {
    WriteUtf8(TextOf(search.found) + L"\n" + TextOf(text));
    return 0;
  }
  if (command == L"return") {
    // The box's own message loop takes the key as a user's: its default button is pressed.
    PostMessageW(search.found, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(search.found, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001));
    return 0;
  }
  return 2;
}
