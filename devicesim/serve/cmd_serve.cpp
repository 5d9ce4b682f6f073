// devicesim serve: the emulated device in a browser on this machine.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/install.h"
#include "devicesim/serve/serve_access.h"
#include "devicesim/serve/serve_events.h"
#include "devicesim/serve/serve_http.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_ledger.h"
#include "devicesim/serve/serve_token.h"
#include "devicesim/serve/serve_watch.h"
#include "devicesim/shell/start_program.h"
#include "platform/host/device/device.h"

extern char** environ;

namespace devicesim {
namespace {

constexpr long long kDefaultPort = 8240;

const char kHelp[] =
    "usage: devicesim serve [--port N] [--open] [--new-token] [--web DIR]\n"
    "\n"
    "Shows the emulated device in a browser on this machine: its screen (the\n"
    "running tapdeck's pages and dialogs, or the Today screen), its hardware\n"
    "buttons, which the mouse presses and holds (pointer down is the key down,\n"
    "pointer up the key up; keys 1 to 9 press the buttons in table order), every\n"
    "press drawn as a timeline with what it did, and the journal as it grows.\n"
    "\n"
    "Serves on 127.0.0.1 only and prints the address to open as its first line.\n"
    "That address carries the device's token after '#', which a browser never\n"
    "sends: the page keeps it for its tab and sends it to no server, but proves\n"
    "it holds it, and sends nothing before the server has proved the same. No\n"
    "cookie is set or read. Scripts send the token in X-Quadrakey-Token. The\n"
    "token is kept in the device folder (serve-token, readable by its owner\n"
    "only), so that a restarted server keeps it and an open page carries on.\n"
    "\n"
    "  --port N      the port (default 8240; 0 takes a free one)\n"
    "  --open        also open the page in the desktop's browser (xdg-open, through\n"
    "                a private file in the device folder: the token never shows\n"
    "                in a process list)\n"
    "  --new-token   make a new token: pages opened with the old one are refused\n"
    "                until the new address is opened\n"
    "  --web DIR     the page's files (default: web/ beside devicesim): regular\n"
    "                files with one link each, index.html among them\n"
    "\n"
    "Programs that presses start append their output to output/buttons.txt in the\n"
    "device folder. Ctrl-C (or SIGTERM) stops the server; every key a client holds\n"
    "goes up first. A server that ended otherwise (kill -9, a crash) leaves a list\n"
    "of the keys it held in the device folder (serve-keys.PID): the next server\n"
    "lets go of them when it starts.\n"
    "\n"
    "Exit status: 0 stopped; 1 no device, no page files, no token, or the port is\n"
    "taken; 2 usage error.\n";

int Run(const Args& args);

}  // namespace

const Command kServeCommand = {"serve", "show the device in a browser: screen, buttons, journal", kHelp, Run};

namespace {

int stop_pipe[2] = {-1, -1};

void OnStop(int) {
  int saved = errno;
  char byte = 's';
  if (write(stop_pipe[1], &byte, 1) < 0) {
    // the pipe is full: a stop is already on its way
  }
  errno = saved;
}

// Presses start programs that the server never waits for, and, as the
// subreaper, it inherits their orphans: none may stay a zombie.
void OnChild(int) {
  int saved = errno;
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}

void OnPipe(int) {}

void Handle(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // A handler, not SIG_IGN: started programs get the default back at exec.
  action.sa_flags = SA_RESTART | (signal_number == SIGCHLD ? SA_NOCLDSTOP : 0);
  sigaction(signal_number, &action, nullptr);
}

void OpenInBrowser(const std::string& file) {
  std::vector<char*> argv{const_cast<char*>("xdg-open"), const_cast<char*>(file.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv.data(), environ) != 0)
    std::fprintf(stderr, "devicesim serve: cannot run xdg-open; open the address above yourself\n");
  posix_spawn_file_actions_destroy(&actions);
}

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kServeCommand, args,
                                {{"--port", true}, {"--open", false}, {"--new-token", false}, {"--web", true}}, &parsed);
  if (status >= 0) return status;
  if (!parsed.positional.empty())
    return UsageError(kServeCommand, "unexpected argument '" + parsed.positional[0] + "'");
  long long port = kDefaultPort;
  if (parsed.Has("--port") && !ParseNumber(parsed.Value("--port"), 0, 65535, &port))
    return UsageError(kServeCommand, "--port takes a number from 0 to 65535");
  if (!RequireDevice(kServeCommand)) return kExitFailure;
  std::string web = parsed.Value("--web", OwnFolder() + "/web");
  std::error_code ignored;
  // Held to the rule every visit is held to, so that no visit gets a 500.
  std::string index;
  switch (serve::ReadWebFile(web, "index.html", serve::kMaxWebFileBytes, &index)) {
    case serve::WebFile::kRead: break;
    case serve::WebFile::kMissing:
      return Failure(kServeCommand, "no index.html in " + web + " (build the host build, or give --web)");
    case serve::WebFile::kNotAFile:
      return Failure(kServeCommand, web + "/index.html is not a regular file with one link (a symbolic link, a "
                                          "second hard link, or no file at all): the page's files are served only so");
    case serve::WebFile::kTooLarge:
      return Failure(kServeCommand, web + "/index.html is larger than " +
                                        std::to_string(serve::kMaxWebFileBytes >> 20) + " MiB");
  }

  serve::PageServerSettings settings;
  settings.web_folder = std::filesystem::absolute(web, ignored).string();
  serve::KeptToken kept;
  std::string error;
  if (!serve::KeepToken(device::Folder(), parsed.Has("--new-token"), &kept, &error))
    return Failure(kServeCommand, error);
  if (!kept.note.empty()) std::fprintf(stderr, "devicesim serve: %s\n", kept.note.c_str());
  settings.token = kept.token;
  settings.press_output = ProgramOutputFile(u"buttons");

  if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return Failure(kServeCommand, "cannot make a pipe");
  Handle(SIGINT, OnStop);
  Handle(SIGTERM, OnStop);
  Handle(SIGHUP, OnStop);
  Handle(SIGCHLD, OnChild);
  Handle(SIGPIPE, OnPipe);
  if (prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0)
    std::fprintf(stderr, "devicesim serve: cannot become a subreaper; orphans of started programs go to init\n");

  serve::HeldKeys keys;
  // Before the page sees the device: what a server killed with keys down left down.
  for (serve::LeftBehind& left : serve::FindLeftBehind(device::Folder())) {
    if (!left.problem.empty()) {
      std::fprintf(stderr, "devicesim serve: %s: keys a server before this one held may still be down\n",
                   left.problem.c_str());
    }
    for (const std::string& key : keys.ReleaseLeftBehind(left.keys))
      std::fprintf(stderr, "devicesim serve: %s went up: a server before this one ended with it down\n", key.c_str());
    serve::Forget(&left);
  }
  serve::KeyLedger ledger;
  if (ledger.Open(device::Folder(), &error))
    keys.SetLedger(&ledger);
  else
    std::fprintf(stderr, "devicesim serve: %s; a key held when this server is killed stays down\n", error.c_str());

  serve::EventHub hub(serve::kMaxStreams);
  serve::DeviceWatcher watcher(&hub, &keys);
  if (!watcher.Start(&error)) return Failure(kServeCommand, error);
  serve::PageServer server(settings, &hub, &watcher, &keys);
  if (!server.Bind(static_cast<int>(port), &error)) {
    watcher.Stop();
    return Failure(kServeCommand, error);
  }
  std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/#token=" + settings.token;
  // The address comes first, alone on its line: scripts read it.
  std::printf("%s\n", url.c_str());
  std::printf("devicesim serve: the device in %s; open the address above in a browser on this machine\n"
              "(it carries the device's token). Ctrl-C stops the server.\n",
              device::Folder().c_str());
  std::fflush(stdout);

  bool failed = false;
  std::thread serving([&] {
    failed = !server.Run();
    OnStop(0);
  });
  if (parsed.Has("--open")) {
    std::string opener;
    if (serve::WriteOpener(device::Folder(), url, &opener, &error))
      OpenInBrowser(opener);
    else
      std::fprintf(stderr, "devicesim serve: %s; open the address above yourself\n", error.c_str());
  }

  for (;;) {
    pollfd stop{stop_pipe[0], POLLIN, 0};
    if (poll(&stop, 1, -1) > 0) break;
  }
  server.Stop();
  serving.join();
  // Only now: no request can press anything any more.
  size_t held = keys.Count();
  keys.ReleaseAll();
  keys.SetLedger(nullptr);
  ledger.Close();
  watcher.Stop();
  std::printf("devicesim serve: stopped%s\n",
              held > 0 ? (", " + std::to_string(held) + (held == 1 ? " key" : " keys") + " let go").c_str() : "");
  std::fflush(stdout);
  return failed ? kExitFailure : kExitOk;
}

}  // namespace
}  // namespace devicesim
