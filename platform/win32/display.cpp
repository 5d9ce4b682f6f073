// Display orientation through the display settings.
#include "platform/common/fault_gate.h"
#include "platform/win32/win32_api.h"

namespace plat {

bool QueryDisplayOrientation(uint32_t* orientation) {
  if (orientation == nullptr) return win32::Fail(ERROR_INVALID_PARAMETER);
  DEVMODEW mode = {};
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_DISPLAYORIENTATION;
#ifdef _WIN32_WCE
  // On the device, CDS_TEST fills in the current orientation.
  if (::ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr) != DISP_CHANGE_SUCCESSFUL)
    return win32::Fail(ERROR_NOT_SUPPORTED);
#else
  // The desktop's CDS_TEST only validates; the current mode tells instead.
  if (!::EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode))
    return win32::Fail(ERROR_NOT_SUPPORTED);
  if ((mode.dmFields & DM_DISPLAYORIENTATION) == 0) return win32::Fail(ERROR_NOT_SUPPORTED);
  if (mode.dmDisplayOrientation == DMDO_270) {
    *orientation = kDmdo270;
    return true;
  }
#endif
  *orientation = mode.dmDisplayOrientation;
  return true;
}

int32_t SetDisplayOrientation(uint32_t orientation) {
  common::FaultGate gate(faults::Op::DisplaySet);
  if (gate.failed()) return DISP_CHANGE_FAILED;
  if (orientation != kDmdo0 && orientation != kDmdo90 && orientation != kDmdo180 &&
      orientation != kDmdo270)
    return DISP_CHANGE_BADPARAM;
  DEVMODEW mode = {};
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_DISPLAYORIENTATION;
  // The platform's numbering (0, 1, 2, 4) is CE's; the desktop counts 0..3.
#ifdef _WIN32_WCE
  mode.dmDisplayOrientation = orientation;
  return ::ChangeDisplaySettingsEx(nullptr, &mode, nullptr, 0, nullptr);
#else
  mode.dmDisplayOrientation = orientation == kDmdo270 ? DMDO_270 : orientation;
  LONG result = ::ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr);
  if (result != DISP_CHANGE_SUCCESSFUL) return result;
  // Some desktop drivers (Wine's among them) answer success and leave the
  // display as it was; only a display that really turned counts.
  uint32_t now = 0;
  if (!QueryDisplayOrientation(&now) || now != orientation) return DISP_CHANGE_BADMODE;
  return DISP_CHANGE_SUCCESSFUL;
#endif
}

}  // namespace plat
