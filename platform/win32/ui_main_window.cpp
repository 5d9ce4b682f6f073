// The program's main window, its message loop, the work area and the
// control classes.
#include "platform/win32/ui_internal.h"

namespace {

LRESULT CALLBACK MainWindowThunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto proc = reinterpret_cast<plat::WindowProc>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  plat::WindowEvent event;
  switch (message) {
    case WM_DESTROY: event = plat::WindowEvent::kDestroy; break;
    case WM_KEYDOWN: event = plat::WindowEvent::kKeyDown; break;
    case WM_KEYUP: event = plat::WindowEvent::kKeyUp; break;
    case WM_HOTKEY: event = plat::WindowEvent::kHotKey; break;
    case WM_TIMER: event = plat::WindowEvent::kTimer; break;
    case WM_APP: event = plat::WindowEvent::kAppMessage; break;
    case win32::kWmKeyEvent: event = plat::WindowEvent::kKeyEvent; break;
    case win32::kWmTrayCommand: event = plat::WindowEvent::kTrayCommand; break;
    case win32::kWmSessionEnd: event = plat::WindowEvent::kSessionEnd; break;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      // Any program of the session may send one: a text SendWindowText would
      // refuse is not taken either.
      if (proc == nullptr || data == nullptr || data->cbData % sizeof(char16_t) != 0 ||
          data->cbData > plat::kSentTextChars * sizeof(char16_t) || (data->cbData != 0 && data->lpData == nullptr))
        return FALSE;
      const std::u16string text(static_cast<const char16_t*>(data->lpData), data->cbData / sizeof(char16_t));
      proc(reinterpret_cast<plat::Window>(window), plat::WindowEvent::kAppText, data->dwData,
           reinterpret_cast<intptr_t>(&text));
      return TRUE;
    }
    default: return ::DefWindowProcW(window, message, wparam, lparam);
  }
  if (proc == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  return proc(reinterpret_cast<plat::Window>(window), event, wparam, lparam);
}

// A second run in one process finds the class made by the first.
bool RegisterWindowClass(const std::u16string& class_name, UINT style, HBRUSH background) {
  WNDCLASSW window_class = {};
  window_class.style = style;
  window_class.lpfnWndProc = MainWindowThunk;
  window_class.hInstance = win32::ui::ProgramInstance();
  window_class.hbrBackground = background;
  window_class.hIcon = win32::ui::ProgramIcon(false);
  window_class.lpszClassName = win32::W(class_name);
  return ::RegisterClassW(&window_class) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

#ifdef _WIN32_WCE
// CE has no message-only windows: a window that is never shown stands in.
HWND const kHiddenParent = nullptr;
#else
HWND const kHiddenParent = HWND_MESSAGE;
#endif

}  // namespace

namespace plat {

WorkArea GetWorkArea() {
  RECT area = {};
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
    area.right = ::GetSystemMetrics(SM_CXSCREEN);
    area.bottom = ::GetSystemMetrics(SM_CYSCREEN);
  }
  return {area.left, area.top, area.right - area.left, area.bottom - area.top};
}

void InitControls(uint32_t classes) {
  // The device's class bits that the desktop numbers alike: the bar classes
  // (trackbars) and 0x400. The device's sheet brings its own tab control;
  // the desktop's sheet needs the tab classes registered.
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = (classes & (ICC_BAR_CLASSES | ICC_COOL_CLASSES)) | ICC_TAB_CLASSES;
  ::InitCommonControlsEx(&controls);
  win32::ui::shell::InitExtraControls();
}

Window CreateMainWindow(const std::u16string& class_name, const std::u16string& title, WindowProc proc,
                        const WorkArea& area) {
  const HINSTANCE instance = win32::ui::ProgramInstance();
  if (!RegisterWindowClass(class_name, CS_HREDRAW | CS_VREDRAW, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH))))
    return 0;
  // On a PC the main window only owns the program's dialogs, which are the
  // windows a person sees there: shown, it is an empty window behind them.
  const DWORD style = win32::kOnPc ? 0 : WS_VISIBLE;
  HWND window = ::CreateWindowExW(0, win32::W(class_name), win32::W(title), style, area.left, area.top,
                                  area.width, area.height, nullptr, nullptr, instance,
                                  reinterpret_cast<void*>(proc));
  if (window == nullptr) return 0;
  if (!win32::kOnPc) {
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
  }
  return reinterpret_cast<Window>(window);
}

Window FindTopLevelWindow(const std::u16string& class_name) {
  return reinterpret_cast<Window>(::FindWindowW(win32::W(class_name), nullptr));
}

Window CreateMessageWindow(const std::u16string& class_name, WindowProc proc) {
  if (class_name.empty() || proc == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!RegisterWindowClass(class_name, 0, nullptr)) return 0;
  HWND window = ::CreateWindowExW(0, win32::W(class_name), L"", 0, 0, 0, 0, 0, kHiddenParent, nullptr,
                                  win32::ui::ProgramInstance(), reinterpret_cast<void*>(proc));
  return reinterpret_cast<Window>(window);
}

Window FindMessageWindow(const std::u16string& class_name) {
  return reinterpret_cast<Window>(::FindWindowExW(kHiddenParent, nullptr, win32::W(class_name), nullptr));
}

bool DestroyMessageWindow(Window window) { return ::DestroyWindow(reinterpret_cast<HWND>(window)) != 0; }

bool PostWindowMessage(Window window, uintptr_t code, intptr_t param) {
  if (::PostMessageW(reinterpret_cast<HWND>(window), WM_APP, code, param)) return true;
  // A full queue is ERROR_NOT_ENOUGH_QUOTA on Windows; say the same everywhere.
  if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  return false;
}

bool SetTimer(Window window, uintptr_t id, uint32_t interval_ms) {
  if (interval_ms < 10) interval_ms = 10;
  return ::SetTimer(reinterpret_cast<HWND>(window), id, interval_ms, nullptr) != 0;
}

void KillTimer(Window window, uintptr_t id) { ::KillTimer(reinterpret_cast<HWND>(window), id); }

void PostQuit(int code) { ::PostQuitMessage(code); }

int RunMessageLoop() {
  MSG message;
  BOOL got;
  while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return -1;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace plat
