// devicesim display: the emulated display's orientation and rotation support.
#include <cstdio>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/report.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
    "usage: devicesim display [--orientation DEG] [--rotation on|off]\n"
    "\n"
    "Without options, shows the display's orientation and whether it can rotate.\n"
    "  --orientation DEG   turn the display to 0, 90, 180 or 270 degrees\n"
    "  --rotation on|off   whether the display supports rotation (a display that\n"
    "                      does not makes every orientation change fail)\n";

int Run(const Args& args);

}  // namespace

const Command kDisplayCommand = {"display", "show or change the emulated display", kHelp, Run};

namespace {

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kDisplayCommand, args, {{"--orientation", true}, {"--rotation", true}},
                                &parsed);
  if (status >= 0) return status;
  if (!parsed.positional.empty())
    return UsageError(kDisplayCommand, "unexpected argument '" + parsed.positional[0] + "'");
  uint32_t orientation = 0;
  bool change_orientation = parsed.Has("--orientation");
  if (change_orientation) {
    std::string value = parsed.Value("--orientation");
    if (value == "0") orientation = plat::kDmdo0;
    else if (value == "90") orientation = plat::kDmdo90;
    else if (value == "180") orientation = plat::kDmdo180;
    else if (value == "270") orientation = plat::kDmdo270;
    else return UsageError(kDisplayCommand, "--orientation takes 0, 90, 180 or 270");
  }
  std::string rotation = parsed.Value("--rotation");
  if (parsed.Has("--rotation") && rotation != "on" && rotation != "off")
    return UsageError(kDisplayCommand, "--rotation takes on or off");
  if (!RequireDevice(kDisplayCommand)) return kExitFailure;

  device::DisplayState state{};
  if (!device::GetDisplay(&state)) return DeviceFailure(kDisplayCommand, "cannot read the display");
  if (change_orientation) state.orientation = orientation;
  if (parsed.Has("--rotation")) state.rotation_supported = rotation == "on";
  if ((change_orientation || parsed.Has("--rotation")) && !device::SetDisplay(state))
    return DeviceFailure(kDisplayCommand, "cannot change the display");
  if (!device::GetDisplay(&state)) return DeviceFailure(kDisplayCommand, "cannot read the display");
  int degrees = OrientationDegrees(state.orientation);
  if (degrees >= 0) {
    std::printf("orientation: %d degrees\n", degrees);
  } else {
    std::printf("orientation: unknown (platform value %u)\n", state.orientation);
  }
  std::printf("rotation: %s\n", state.rotation_supported ? "supported" : "not supported");
  return kExitOk;
}

}  // namespace
}  // namespace devicesim
