// The tour's last stop: one line of Python through the zok module, when the build made it.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apps/zok/commands.h"

namespace {

void tour_python() {
#if defined(ZOK_PYTHON_EXE) && defined(ZOK_PYTHON_PATH) && defined(ZOK_PYTHON_INSTALLED)
  zok::app::tour_heading("from Python: zok on numpy arrays");
  // An installed program finds the module relative to itself, a built one in the build tree.
  std::string path;
  char exe[PATH_MAX] = {};
  const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
  struct stat st {};
  if (len > 0) {
    std::string dir(exe, static_cast<size_t>(len));
    dir = dir.substr(0, dir.rfind('/')) + "/" ZOK_PYTHON_INSTALLED;
    if (stat((dir + "/zok/__init__.py").c_str(), &st) == 0) path = dir;
  }
  if (path.empty() && stat(ZOK_PYTHON_PATH "/zok/__init__.py", &st) == 0) path = ZOK_PYTHON_PATH;
  if (path.empty()) {
    std::printf("  the Python module was not found (build the zok_python target)\n");
    return;
  }
  const char* line = "import numpy as np, zok; print(zok.vm.exp(np.linspace(0, 1, 5), accuracy='HA'))";
  std::printf("  PYTHONPATH=%s python3 -c \"%s\"\n  ", path.c_str(), line);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    setenv("PYTHONPATH", path.c_str(), 1);
    execl(ZOK_PYTHON_EXE, ZOK_PYTHON_EXE, "-c", line, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::printf("  (python did not run)\n");
#endif
}

const bool kRegistered = zok::app::register_command({"python", nullptr, nullptr, tour_python, 1000});

}  // namespace
