// rcgen: turns the dialog templates of a resource script into the host
// build's template table.
//
//   rcgen SCRIPT.rc OUTPUT.cpp [-I DIR]...
//
// Exit code 0 when the table was written (or was already up to date), 1 with
// "file:line: error: ..." on stderr when the script holds something rcgen does
// not read, 2 for a wrong command line.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/rcgen/rc_script.h"

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::vector<std::string> include_dirs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-I" && i + 1 < argc) {
      include_dirs.push_back(argv[++i]);
    } else if (arg.rfind("-I", 0) == 0 && arg.size() > 2) {
      include_dirs.push_back(arg.substr(2));
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) {
    std::fprintf(stderr, "usage: rcgen SCRIPT.rc OUTPUT.cpp [-I DIR]...\n");
    return 2;
  }
  const std::string& script_path = positional[0];
  const std::string& output_path = positional[1];

  rcgen::Script script;
  std::string error;
  if (!rcgen::ReadScriptFile(script_path, include_dirs, &script, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const size_t slash = script_path.find_last_of('/');
  const std::string name = slash == std::string::npos ? script_path : script_path.substr(slash + 1);
  const std::string table = rcgen::WriteTemplateTable(script, name);

  // An unchanged table keeps its time stamp, so nothing recompiles for it.
  std::ifstream existing(output_path, std::ios::binary);
  if (existing) {
    std::ostringstream old;
    old << existing.rdbuf();
    if (old.str() == table) return 0;
  }
  std::ofstream out(output_path, std::ios::binary | std::ios::trunc);
  out << table;
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: error: cannot write the table\n", output_path.c_str());
    return 1;
  }
  return 0;
}
