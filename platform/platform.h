// Every operation the device programs need from the device.
//
// One interface, two backends chosen at link time: platform/host (an emulated
// Pocket PC kept in a device folder) and platform/win32 (the real API).
// Above this header nothing knows which one it runs on.
//
// Text is UTF-16 (std::u16string) everywhere. Failures follow the Win32 rule:
// the call returns false (or an invalid result) and GetLastError() gives the
// Win32 error number (2 for a missing file or registry value) on both backends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// ---- Errors -------------------------------------------------------------
// Every Win32 error number the system uses, by its Win32 name.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorBusy = 170;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorFilenameExcedRange = 206;  // a name or path too long
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorNotOwner = 288;
constexpr uint32_t kErrorRegistryCorrupt = 1015;
constexpr uint32_t kErrorRegistryIoFailed = 1016;
constexpr uint32_t kErrorKeyDeleted = 1018;
constexpr uint32_t kErrorNoAssociation = 1155;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorWindowOfOtherThread = 1408;
constexpr uint32_t kErrorHotKeyAlreadyRegistered = 1409;
constexpr uint32_t kErrorHotKeyNotRegistered = 1419;
constexpr uint32_t kErrorNotEnoughQuota = 1816;  // a message queue that is full
constexpr uint32_t kErrorCantResolveFilename = 1921;

uint32_t GetLastError();
void SetLastError(uint32_t code);
// Whether a call of this program met a damaged registry: 0 when none did,
// else the error (1015; on the host build the registry is registry.db,
// which also keeps the device's state and journal, so a call of any kind
// can meet it; a registry fault of the table with 1015 counts too). It
// stays for the program's life: what the program did since may not have
// been kept, and it must not report success.
uint32_t RegistryDamage();

// ---- Registry -----------------------------------------------------------
// Product is the root of the product's own settings, which no program
// chooses: HKEY_LOCAL_MACHINE on the device, where every program keeps its
// settings; HKEY_CURRENT_USER on a Windows PC, where a standard user may
// write and each user has settings of their own. There, the first program
// to open it for a user who has no settings key yet takes a copy of the one
// an earlier version left under HKEY_LOCAL_MACHINE, which stays as it was;
// a copy cut short is made again by the next program.
enum class RegRoot { LocalMachine, ClassesRoot, Product };
// Whether the programs run on a Windows PC (the desktop build) rather than on
// the device (the device's own build and the host's emulated device). The
// one decision behind RegRoot::Product, the product's folders, the sheet
// as an ordinary window and what the special actions do; it never fails.
bool OnPc();
// The product's settings key, below RegRoot::Product.
inline constexpr char16_t kProductKey[] = u"Software\\Quadrakey";

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// Access masks, as Win32 numbers them.
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;

struct RegKeyObject;
using RegKey = RegKeyObject*;  // nullptr is "no key"

// Opens an existing key. Key paths compare without regard to letter case.
RegKey RegOpenKey(RegRoot root, const std::u16string& path, uint32_t access);
// Opens the key, creating it (and its parents) when missing.
RegKey RegCreateKey(RegRoot root, const std::u16string& path, uint32_t access);
void RegCloseKey(RegKey key);

// Reads a value. With data == nullptr only *size (bytes) and *type are set.
// When *size is too small for the data, fails with kErrorMoreData and sets
// *size to what is needed. type may be nullptr. An empty name is the
// default value.
bool RegQueryValue(RegKey key, const std::u16string& name, uint32_t* type,
                   void* data, uint32_t* size);
bool RegSetValue(RegKey key, const std::u16string& name, uint32_t type,
                 const void* data, uint32_t size);
bool RegDeleteValue(RegKey key, const std::u16string& name);
// Subkey number `index` (enumeration order). `capacity` is in characters
// including the terminating zero; a longer name fails with kErrorMoreData.
// Past the last subkey fails with kErrorNoMoreItems.
bool RegEnumKey(RegKey key, uint32_t index, char16_t* name, uint32_t capacity);
// Deletes the key with all its values and subkeys.
bool RegDeleteKey(RegRoot root, const std::u16string& path);

// ---- Files --------------------------------------------------------------
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
constexpr uint32_t kFileAttributeDirectory = 0x10;

// Device paths: '\' and '/' both separate; names match without regard to case.
uint32_t GetFileAttributes(const std::u16string& path);
bool DeleteFile(const std::u16string& path);
// Renames `from` to `to` in one step, replacing a file of that name: a
// reader sees the old file or the new one, never a part of either. Both
// paths in one folder. False with the last error set; `to` is then as it was.
bool MoveFileReplacing(const std::u16string& from, const std::u16string& to);

struct FoundFile {
  std::u16string name;  // as the file system reports it
  bool is_folder;
};
// Lists the entries that match `pattern` (a folder path, '\', and a
// wildcard such as "*.*"), including "." and "..". False when the folder
// cannot be listed.
bool ListFiles(const std::u16string& pattern, std::vector<FoundFile>* out);

// Text-mode streams. Wide text is written as UTF-8.
struct TextFileObject;
using TextFile = TextFileObject*;
TextFile OpenTextFile(const std::u16string& path, const char* mode);  // "at", "wt", "rt"
bool WriteTextFile(TextFile file, const std::u16string& text);
bool FlushTextFile(TextFile file);
// Reads the whole rest of the file as raw bytes.
bool ReadTextFile(TextFile file, std::string* bytes);
void CloseTextFile(TextFile file);

// Writes a shortcut file whose target is the command `target`.
bool CreateShortcut(const std::u16string& path, const std::u16string& target);
// Full path of the Start Menu's programs folder.
bool GetProgramsFolder(std::u16string* path);
// The programs folders of every Start Menu a person sees, own first: the
// device's one; on a Windows PC the user's own and the one of all users
// (a folder that cannot be found is left out). False with the last error
// when there is none.
bool GetProgramsFolders(std::vector<std::u16string>* paths);

// Where the product's own files are, where the platform itself knows it.
enum class ProductFolder {
  Programs,  // on a Windows PC the running program's folder
  Logs,      // on a Windows PC the user's local application data + "\Quadrakey", made when missing
};
// The folder's full path, without a separator at its end. On the device
// the product's "AppFolder" value names the one folder of both: false with
// kErrorNotSupported. Otherwise false with the last error when the folder
// cannot be found or made (fault "product-folder").
bool GetProductFolder(ProductFolder which, std::u16string* folder);

// ---- Named mutex --------------------------------------------------------
struct MutexObject;
using Mutex = MutexObject*;
enum class WaitResult { Acquired, Abandoned, Timeout, Failed };

// Creates the mutex, or opens it when another process already made it.
Mutex CreateNamedMutex(const std::u16string& name);
WaitResult WaitForMutex(Mutex mutex, uint32_t timeout_ms);
void ReleaseMutex(Mutex mutex);
void CloseMutex(Mutex mutex);

// ---- Time and keys ------------------------------------------------------
void Sleep(uint32_t ms);
// Milliseconds from an arbitrary start; for measuring, not for the calendar.
uint64_t TickCount();
// Bit 0x8000 is set while the key is down.
uint16_t GetAsyncKeyState(int virtual_key);

constexpr uint32_t kKeyEventKeyUp = 0x2;
constexpr uint32_t kKeyEventSilent = 0x4;
void KeybdEvent(uint8_t virtual_key, uint8_t scan_code, uint32_t flags,
                uintptr_t extra_info);

// The name a person knows a key by ("F6", "Enter", "A", "Volume Up" on a
// device whose key that is), for offering as a default name. Never empty: a
// key the platform has no name for, or a code above 0xFF, is "Key 0xNN".
std::u16string GetKeyName(uint32_t virtual_key);

// ---- Processes and the shell -------------------------------------------
// Starts `program` with `command_line` (the text after the program's path)
// and does not wait for it.
bool CreateProcess(const std::u16string& program, const std::u16string& command_line);
// Opens a shortcut, program or document as the file explorer would (verb
// "open"). False with the last-error code set on failure.
bool ShellOpen(const std::u16string& file);

// ---- Dated presses --------------------------------------------------------
// A press is read from when its key really went down and up, not from when a
// launcher process happened to run. Whoever sees a key's events keeps them
// with their times: the emulated device keeps every key's; on Windows the
// key listener keeps those of the keys it watches (WatchKeys, ui.h), for its
// own session only.

// One press in TickCount() milliseconds: when its key went down, when it went
// up again and when the key next went down after that; 0 for an event the
// record has not seen (yet).
struct PressDates {
  uint64_t down = 0;
  uint64_t up = 0;
  uint64_t next_down = 0;
};

// CreateProcess for the launcher of one press: the key `virtual_key` whose
// key down the watcher reported with the stamp `down_stamp`
// (WindowEvent::kKeyEvent). The new process finds its press with
// GetOwnPress. Fails as CreateProcess does ("process-start").
bool StartPressLauncher(const std::u16string& program, const std::u16string& command_line, int virtual_key,
                        intptr_t down_stamp);

struct OwnPress {
  int virtual_key = 0;
  PressDates dates;
  // Whether up and next_down come from a live record. Without one only the
  // down is known (the record is gone: its keeper ended), and the key's
  // state must be asked (GetAsyncKeyState).
  bool recorded = false;
  // The key's presses before this one that the record still holds, the
  // latest first, each with the key down that followed it: enough to tell
  // where this press's series began.
  static constexpr int kEarlier = 8;
  PressDates earlier[kEarlier];
  int earlier_count = 0;
};
// The press this process was started for, as the record holds it now; ask
// again for what has happened since. False when the process was started
// for no dated press (by hand, or by a shell that dates nothing): it then
// times its press from its own start.
bool GetOwnPress(OwnPress* press);

// ---- Windows, messages, sound ------------------------------------------
using Window = uintptr_t;  // 0 is "no window"

// Hot keys (RegisterHotKey). Once registered, a key down of `virtual_key`
// with exactly `modifiers` goes to `window` as its hot-key event (first: the
// id, second: the modifiers in the low word and the key in the high word)
// instead of to the shell or the foreground window. Auto-repeat may send the
// event again while the key stays down: a caller that wants one event per
// press watches the key go up itself (GetAsyncKeyState). `window` is a
// window of this program; ids run from 0 to 0xBFFF, one key per id.
// Fails with 1409 when any program, this one included, holds that key and
// modifier combination; with 1400 for a window that is not this program's;
// with 87 for a key outside 1..0xFE or an id above 0xBFFF ("hotkey-register"
// in the fault table). A registration ends with UnregisterHotKey or with
// its program.
constexpr uint32_t kModAlt = 0x1;
constexpr uint32_t kModControl = 0x2;
constexpr uint32_t kModShift = 0x4;
constexpr uint32_t kModWin = 0x8;
constexpr uint32_t kModNoRepeat = 0x4000;  // asks for no auto-repeat; not every platform obeys
bool RegisterHotKey(Window window, int id, uint32_t modifiers, uint32_t virtual_key);
// False with 1419 when the window holds no hot key of that id.
bool UnregisterHotKey(Window window, int id);
Window GetDesktopWindow();
Window GetForegroundWindow();
// Brings the window to the front; on Win32 its last active popup (a dialog it
// owns) instead, restored when minimised.
bool SetForegroundWindow(Window window);

constexpr uint32_t kMbOk = 0x0;
// Yes and No: the box answers kIdYes or kIdNo.
constexpr uint32_t kMbYesNo = 0x4;
constexpr uint32_t kMbButtonsMask = 0xF;
constexpr uint32_t kMbIconStop = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconExclamation = 0x30;
constexpr uint32_t kMbTopmost = 0x40000;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
// Owner-less message box. A null caption is the platform's default caption.
// 0, with the last error set, when it cannot be shown (fault "message-box").
int MessageBox(const std::u16string& text, const std::u16string* caption, uint32_t flags);
void MessageBeep(uint32_t type);

// ---- Input panel --------------------------------------------------------
struct SipInfo {
  uint32_t size;   // 48
  uint32_t flags;  // bit 0: the panel is shown
  uint8_t rest[40];
};
static_assert(sizeof(SipInfo) == 48, "the input panel record is 48 bytes");
constexpr uint32_t kSpiGetSipInfo = 225;
constexpr uint32_t kSipfOn = 0x1;
constexpr int kSipUp = 0;
constexpr int kSipForceDown = 2;
bool ShSipInfo(uint32_t action, uint32_t param, SipInfo* info, uint32_t win_ini);
bool ShSipPreference(Window window, int request);

// ---- Display orientation -----------------------------------------------
// Platform orientation values.
constexpr uint32_t kDmdo0 = 0;
constexpr uint32_t kDmdo90 = 1;
constexpr uint32_t kDmdo180 = 2;
constexpr uint32_t kDmdo270 = 4;
constexpr int32_t kDispChangeSuccessful = 0;
constexpr int32_t kDispChangeFailed = -1;
constexpr int32_t kDispChangeBadMode = -2;
constexpr int32_t kDispChangeBadParam = -5;
// Current orientation; false when the display cannot tell.
bool QueryDisplayOrientation(uint32_t* orientation);
// Applies an orientation; kDispChangeSuccessful when it took effect.
int32_t SetDisplayOrientation(uint32_t orientation);

// ---- Shell queries ------------------------------------------------------
// The device shell's table of hardware buttons below HKEY_LOCAL_MACHINE: one
// subkey per button, named for its virtual key ("40C1").
inline constexpr char16_t kButtonTableKey[] = u"SOFTWARE\\Microsoft\\Shell\\Keys";
// A Windows PC has no such table: nothing is found there, and nothing writes it.
inline constexpr RegRoot kButtonTableRoot = RegRoot::LocalMachine;

// Virtual-key code of the hardware button whose button table entry starts
// the program `program_file_name`, or 0.
uint8_t GetAppKey(const std::u16string& program_file_name);

struct Version {
  uint32_t major, minor, build, platform_id;
  std::u16string service_pack;  // empty when the platform names none
};
Version GetVersion();

// ---- Characters ---------------------------------------------------------
// The runtime's character rules, identical on both backends: letters of
// Latin-1, Latin Extended-A, Greek and Cyrillic have case.
bool IsCharUpper(char16_t c);
char16_t CharToLower(char16_t c);
char16_t CharToUpper(char16_t c);
// Three-way comparison of whole texts, ignoring letter case.
int CompareNoCase(const std::u16string& a, const std::u16string& b);

// ---- Starting at sign-in --------------------------------------------------
// Makes `program` (a full path, started without arguments) start each time
// the user signs in: on the device a shortcut "NAME.lnk" in \Windows\StartUp,
// on a Windows PC the value NAME of the user's start-up list
// (HKEY_CURRENT_USER "Software\Microsoft\Windows\CurrentVersion\Run")
// holding the program's quoted path. A second call with the same name
// replaces the entry. NAME has 1 to 64 characters, none of them \ / : * ? " < >
// | or a control character; anything else fails with 87, as does an empty
// program. Failures leave the last error ("signin-entry" in the fault table).
bool SetSignInStart(const std::u16string& name, const std::u16string& program);
// Removes the entry; one that does not exist is no failure.
bool RemoveSignInStart(const std::u16string& name);
// The program the entry starts; false with 2 when there is no such entry.
bool GetSignInStart(const std::u16string& name, std::u16string* program);

// ---- Process ------------------------------------------------------------
[[noreturn]] void ExitProcess(int code);

}  // namespace plat

// Each device program defines these three. The platform's entry point calls
// DeviceStartUp once, before DeviceMain, so that the program's process-wide
// objects exist before its own entry runs; DeviceShutDown releases them, in
// reverse order, when the program ends. Nothing of the platform is touched
// before main. A process that chooses its device itself (devicesim, tests)
// calls DeviceStartUp once the device is chosen, and DeviceShutDown then
// DeviceStartUp again to move to another device.
void DeviceStartUp();
void DeviceShutDown();
// Called with the command line (the text after the program's path); the
// program exits with its result.
int DeviceMain(const std::u16string& command_line);
