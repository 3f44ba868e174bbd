#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string mgn_temp_dir() {
  char pattern[] = "/tmp/mgn_test_XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) throw std::runtime_error("mkdtemp failed");
  return dir;
}

std::string mgn_read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void mgn_write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

mgn_run_result mgn_run_program(const std::vector<std::string>& args, const std::string& cwd) {
  const std::string dir = cwd.empty() ? mgn_temp_dir() : cwd;
  const std::string out_path = dir + "/.stdout";
  const std::string err_path = dir + "/.stderr";
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string exe = MGN_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  mgn_run_result result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = mgn_read_file(out_path);
  result.err = mgn_read_file(err_path);
  return result;
}
