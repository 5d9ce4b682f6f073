// The notice of each press: which button, which kind of press, and what it
// did, in one short line ("F13: double press → Notepad"). TapdeckX makes it
// after it has acted; the running key listener shows it.
#pragma once

#include <cstdint>
#include <string>

// The settings-key DWORD that switches the notice: 0 off, anything else on.
inline constexpr char16_t kPressNoticeValue[] = u"PressNotice";
// How long a notice stays, in milliseconds.
inline constexpr uint32_t kPressNoticeMs = 2500;
// The longest button name and assignment name a notice shows; longer ones
// are cut and end in "…".
inline constexpr size_t kNoticeButtonChars = 40;
inline constexpr size_t kNoticeAssignmentChars = 60;

// "single press", "press and hold", "double press", "double press and hold".
std::u16string PressKindText(int32_t press_count, bool hold);
// What an assignment is called in a notice: a special action as the lists
// show it ("<Today>"), a file by its name without folder and without
// ".lnk" ("Notepad"), nothing as "nothing assigned".
std::u16string AssignmentShownName(const std::u16string& assignment);
// The whole line: "BUTTON: KIND → ASSIGNMENT". Control characters become
// spaces, and a cut never splits a character in two.
std::u16string PressNoticeText(const std::u16string& button_name, int32_t press_count, bool hold,
                               const std::u16string& assignment);

// Whether the person wants a notice of each press: on by default on a
// Windows PC, off on the device; a value of another type reads as missing.
bool PressNoticeWanted();
bool SetPressNoticeWanted(bool wanted);
