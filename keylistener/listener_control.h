// The resident key listener TapdeckH, as the configuration program sees it:
// what to call to start it, to tell it that the list of user-defined buttons
// changed, and to make it start at sign-in.
//
// The listener takes each user-defined button's key as a hot key and starts
// TapdeckX with the button's page position (hardware buttons first, then the
// list) on every press, so that the press launcher runs as it does for a
// taken-over hardware button. One listener runs at a time; it ends by itself
// when the list is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Its hidden window's class: how other programs find the running listener.
inline constexpr char16_t kKeyListenerClass[] = u"Velbrook_QuadrakeyKeyListener";
inline constexpr char16_t kKeyListenerProgram[] = u"TapdeckH.exe";
// The name of its sign-in entry (a shortcut in \Windows\StartUp on the device,
// a value of the user's start-up list on a Windows PC).
inline constexpr char16_t kKeyListenerSignInName[] = u"Quadrakey Key Listener";

// What the listener's window takes (plat::PostWindowMessage codes).
inline constexpr uintptr_t kListenerReadList = 1;  // the list changed: read it again
inline constexpr uintptr_t kListenerEnd = 2;
// What the listener's window takes as a text (plat::SendWindowText).
inline constexpr uintptr_t kListenerNotice = 3;  // a press notice to show

// True while a listener runs (its window exists).
bool IsKeyListenerRunning();
// Starts TapdeckH.exe from the application folder, or tells the running
// listener to read the list again. True when one runs now or was started
// (it may still be starting up); false with the last error when it could
// not be started.
bool StartKeyListener();
// Tells the running listener that the list changed; false when none runs.
bool TellKeyListenerListChanged();
// Asks the running listener to end; false when none runs.
bool StopKeyListener();
// Has the running listener show a press notice; false with the last error
// when none runs (1400) or it did not take it.
bool TellKeyListenerNotice(const std::u16string& text);

// The sign-in entry starts TapdeckH.exe of the application folder. Writing
// replaces an earlier entry; removing one that is not there succeeds.
bool WriteKeyListenerSignIn();
bool RemoveKeyListenerSignIn();
// Whether the sign-in entry is there: Done left buttons listed, so a
// listener should run.
bool IsKeyListenerSignedIn();
