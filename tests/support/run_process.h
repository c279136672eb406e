// Runs a program as a separate process, for tests of the tool and tests that
// compare with other programs (git, rg). POSIX only: the programs that use it
// are kept for POSIX.
#ifndef QG_TEST_RUN_PROCESS_H
#define QG_TEST_RUN_PROCESS_H

#include <string>
#include <vector>

namespace qg_test {

struct run_result {
  int status = -1;  // the exit status, 128 + the signal's number, or -1 when it did not start
  std::string out;
  std::string err;
};

// Runs `argv[0]` (looked up in PATH when it holds no '/') with `argv`,
// feeding `input` on standard input, in the test's environment without
// NO_COLOR and with `extra_env` ("NAME=value") added. Output goes through
// files, so no pipe can fill up and stall either side.
run_result run_process(const std::vector<std::string> &argv, const std::string &input = "",
                       const std::vector<std::string> &extra_env = {});

// True when `program` can be found in PATH.
bool program_exists(const std::string &program);

}  // namespace qg_test

#endif  // QG_TEST_RUN_PROCESS_H
