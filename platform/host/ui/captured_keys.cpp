// Keys a dialog takes for itself (plat::CaptureKey): the device sends each
// move of such a key to the dialog's window, and this program hands it to
// the dialog's procedure for moves while the dialog waits for input.
#include <map>

#include "platform/host/device/host_internal.h"
#include "platform/host/ui/model.h"

namespace device::ui {
namespace {

struct Capture {
  uint32_t virtual_key;
  plat::KeyMoveProc proc;
  void* context;
};

std::map<plat::Window, Capture>& Captures() {
  static std::map<plat::Window, Capture> captures;
  return captures;
}

}  // namespace

void NoteCapture(plat::Window dialog, uint32_t virtual_key, plat::KeyMoveProc proc, void* context) {
  Captures()[dialog] = {virtual_key, proc, context};
}

bool DeliverCapturedKey(const internal::PostedMessage& message) {
  if (message.message != internal::kWmKeyEvent) return false;
  const auto found = Captures().find(message.window);
  if (found == Captures().end()) return false;
  const Capture capture = found->second;
  const uint32_t key = static_cast<uint32_t>(message.first & 0xFF);
  // A move posted before the dialog gave the key back, or took another.
  if (key != capture.virtual_key) return true;
  const plat::KeyMove move{key, (message.first & plat::kKeyEventUp) != 0,
                           internal::DeviceTimeToTicks(static_cast<int64_t>(message.second))};
  capture.proc(message.window, move, capture.context);
  return true;
}

void ForgetCapturedKeys() {
  while (!Captures().empty()) ReleaseCapturedKeys(Captures().begin()->first);
}

void ReleaseCapturedKeys(plat::Window dialog) {
  if (Captures().erase(dialog) == 0) return;
  internal::GiveKeyBack(dialog);
}

}  // namespace device::ui

namespace plat {

bool CaptureKey(Window dialog, uint32_t virtual_key, KeyMoveProc proc, void* context) {
  common::FaultGate gate(faults::Op::KeyCapture);
  if (gate.failed()) return false;
  const device::ui::WindowObject* window = device::ui::FindWindow(dialog);
  if (window == nullptr || window->role != device::ui::Role::kDialog || window->ended) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  if (virtual_key < 1 || virtual_key > 0xFE || proc == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (!device::internal::TakeKeyFor(static_cast<int>(virtual_key), dialog)) return false;
  device::ui::NoteCapture(dialog, virtual_key, proc, context);
  return true;
}

bool ReleaseKey(Window dialog) {
  const uint32_t saved = GetLastError();
  device::ui::ReleaseCapturedKeys(dialog);
  SetLastError(saved);
  return true;
}

}  // namespace plat
