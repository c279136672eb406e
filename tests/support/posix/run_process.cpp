#include "support/run_process.h"

#include "support/temp_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

extern char **environ;

namespace qg_test {

run_result run_process(const std::vector<std::string> &args, const std::string &input,
                       const std::vector<std::string> &extra_env) {
  run_result result;
  if (args.empty()) return result;
  TempDir io;
  const std::string in_path = io.write("stdin", input);
  const std::string out_path = io.at("stdout");
  const std::string err_path = io.at("stderr");

  std::vector<std::string> owned = args;
  std::vector<char *> argv;
  for (std::string &arg : owned) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_owned;
  for (char **e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("NO_COLOR=", 0) != 0) env_owned.emplace_back(*e);
  }
  env_owned.insert(env_owned.end(), extra_env.begin(), extra_env.end());
  std::vector<char *> envp;
  for (std::string &e : env_owned) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = read_bytes(out_path);
  result.err = read_bytes(err_path);
  return result;
}

bool program_exists(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace qg_test
