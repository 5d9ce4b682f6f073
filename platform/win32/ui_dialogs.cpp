// Modal dialogs from the program's resources, the file-open dialog and
// message boxes owned by a window.
#include <cwchar>
#include <vector>

#include "platform/common/fault_gate.h"
#include "platform/win32/ui_internal.h"

namespace {

using win32::ui::DialogCatcher;
using win32::ui::Frame;
using win32::ui::FrameKind;

// Device paths name the current drive's root ("\My Documents\x.psw"). A
// chosen file on that drive is given back in that form, as the device's
// dialog gives it; a file elsewhere keeps its drive.
std::u16string DevicePath(const std::u16string& path) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, folder);
  if (length < 2 || length > MAX_PATH || folder[1] != L':') return path;
  if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') return path;
  const std::u16string drive(reinterpret_cast<const char16_t*>(folder), 2);
  if (plat::CompareNoCase(path.substr(0, 2), drive) != 0) return path;
  return path.substr(2);
}

// ---- The file name's length ----
// The desktop's file dialog works in buffers of MAX_PATH characters: a
// chosen path longer than that is cut, or (Wine 8) the dialog never comes
// back from OK. So the length is checked at OK, before the dialog sees it:
// a path that does not fit the request's buffer ends the dialog as a
// failure, never as a cut name that could be another file's.
const wchar_t kOriginalProc[] = L"Quadrakey.FileDialogProc";
constexpr int kNameCombo = 0x47C, kNameEdit = 0x480;  // cmb13, edt1

Frame* FrameOf(HWND window) {
  for (Frame* frame : win32::ui::Frames())
    if (frame->window == window) return frame;
  return nullptr;
}

std::wstring TextOf(HWND window) {
  if (window == nullptr) return {};
  const int length = ::GetWindowTextLengthW(window);
  std::vector<wchar_t> text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  return std::wstring(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

// The full path that OK would choose; empty when the name field is empty.
std::wstring ChosenPath(HWND dialog) {
  HWND field = ::GetDlgItem(dialog, kNameCombo);
  if (field == nullptr) field = ::GetDlgItem(dialog, kNameEdit);
  std::wstring name = TextOf(field);
  if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') name = name.substr(1, name.size() - 2);
  if (name.empty()) return {};
  std::wstring path;
  const bool absolute = (name.size() >= 2 && name[1] == L':') || name.rfind(L"\\\\", 0) == 0;
  if (absolute) {
    path = name;
  } else {
    std::vector<wchar_t> folder(32768, L'\0');
    ::SendMessageW(dialog, CDM_GETFOLDERPATH, folder.size(), reinterpret_cast<LPARAM>(folder.data()));
    const std::wstring base(folder.data());
    if (name.front() == L'\\') {
      path = base.substr(0, base.size() >= 2 && base[1] == L':' ? 2 : 0) + name;
    } else {
      path = base + (base.empty() || base.back() == L'\\' ? L"" : L"\\") + name;
    }
  }
  std::vector<wchar_t> full(32768, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  return length > 0 && length < full.size() ? std::wstring(full.data(), length) : path;
}

LRESULT CALLBACK GuardFileName(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto original = reinterpret_cast<WNDPROC>(::GetPropW(dialog, kOriginalProc));
  if (original == nullptr) return ::DefWindowProcW(dialog, message, wparam, lparam);
  if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
    Frame* frame = FrameOf(dialog);
    if (frame != nullptr && frame->request != nullptr && ChosenPath(dialog).size() >= frame->request->capacity) {
      frame->too_long = true;
      return ::CallWindowProcW(original, dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    ::RemovePropW(dialog, kOriginalProc);
  }
  return ::CallWindowProcW(original, dialog, message, wparam, lparam);
}

void GuardFileDialog(HWND dialog) {
  const LONG_PTR original = ::GetWindowLongPtrW(dialog, GWLP_WNDPROC);
  ::SetPropW(dialog, kOriginalProc, reinterpret_cast<HANDLE>(original));
  ::SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GuardFileName));
}

}  // namespace

namespace plat {

intptr_t RunDialog(Window owner, int template_id, DialogProc proc, intptr_t param) {
  if (common::FailsAtGate(faults::Op::DialogCreate)) return -1;
  Frame frame(FrameKind::kDialog);
  frame.template_id = template_id;
  win32::ui::KeyFilter keys;
  win32::ui::DialogStart start = {proc, param, &frame};
  ::SetLastError(ERROR_SUCCESS);
  const INT_PTR result = ::DialogBoxParamW(win32::ui::ProgramInstance(), MAKEINTRESOURCEW(template_id),
                                           reinterpret_cast<HWND>(owner), win32::ui::DialogThunk,
                                           reinterpret_cast<LPARAM>(&start));
  // No dialog was made: the system answers 0 for a bad owner, -1 otherwise.
  if (frame.window == nullptr) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  return result;
}

void EndDialog(Window dialog, intptr_t result) { ::EndDialog(reinterpret_cast<HWND>(dialog), result); }

bool GetOpenFileName(const OpenFileRequest& request, std::u16string* path) {
  if (common::FailsAtGate(faults::Op::FileDialog)) return false;
  if (path == nullptr || request.capacity < 2 || request.capacity > 32768 ||
      (request.filter_count > 0 && request.filters == nullptr)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // Description and pattern pairs, each text ended by a zero, the list by
  // another.
  std::u16string filters;
  for (int i = 0; i < 2 * request.filter_count; ++i) {
    filters += request.filters[i] != nullptr ? request.filters[i] : u"";
    filters += u'\0';
  }
  filters += u'\0';
  std::vector<wchar_t> file(request.capacity, L'\0');

  OPENFILENAMEW record = {};
  record.lStructSize = sizeof record;
  record.hwndOwner = reinterpret_cast<HWND>(request.owner);
  record.lpstrFilter = request.filter_count > 0 ? reinterpret_cast<const wchar_t*>(filters.c_str()) : nullptr;
  record.lpstrFile = file.data();
  record.nMaxFile = static_cast<DWORD>(request.capacity);
  record.lpstrTitle = request.title.empty() ? nullptr : win32::W(request.title);
  // The device's dialog neither moves the process's current folder (which
  // is the device root on the desktop) nor offers "read only".
  record.Flags = request.flags | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_EXPLORER;

  Frame frame(FrameKind::kFileDialog);
  frame.request = &request;
  BOOL chosen;
  {
    DialogCatcher catcher(&frame, GuardFileDialog);
    chosen = ::GetOpenFileNameW(&record);
  }
  if (!chosen) {
    const DWORD error = ::CommDlgExtendedError();
    if (frame.too_long) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    } else if (error == 0) {
      ::SetLastError(ERROR_SUCCESS);  // cancelled
    } else if (error == FNERR_BUFFERTOOSMALL) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    } else {
      ::SetLastError(ERROR_GEN_FAILURE);
    }
    return false;
  }
  // Only a whole, terminated name inside the buffer counts; anything else
  // would be some other file's name.
  const size_t length = wcsnlen(file.data(), file.size());
  if (length == 0 || length >= file.size()) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  *path = DevicePath(std::u16string(reinterpret_cast<const char16_t*>(file.data()), length));
  ::SetLastError(ERROR_SUCCESS);
  return true;
}

int MessageBoxOwned(Window owner, const std::u16string& text, const std::u16string* caption, uint32_t flags) {
  if (common::FailsAtGate(faults::Op::MessageBox)) return 0;
  Frame frame(FrameKind::kMessageBox);
  frame.text = text;
  frame.caption = caption != nullptr ? *caption : u"Error";
  frame.flags = flags;
  DialogCatcher catcher(&frame);
  return win32::ui::FittedMessageBox(reinterpret_cast<HWND>(owner), text, caption, flags);
}

}  // namespace plat
