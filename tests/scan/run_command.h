/*
 * run_command.h - running the built scan command from a test: arguments,
 * extra environment, standard output and error captured, and the exit
 * status (or 128 + signal when it was killed by one).
 */
#ifndef SCAN_TEST_RUN_COMMAND_H
#define SCAN_TEST_RUN_COMMAND_H

#include <functional>
#include <string>
#include <vector>

struct CommandResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

/* Called whenever standard error has grown, with the child's process id and
 * all of standard error so far. */
using ErrWatcher = std::function<void(int pid, const std::string &err)>;

CommandResult RunCommand(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &extraEnv = {}, const ErrWatcher &watch = nullptr);

/* The files in a directory, names only, sorted. */
std::vector<std::string> ListDirectory(const std::string &dir);

/* A fresh empty directory under the test temporary directory, removed with
 * its files when the object goes. */
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return Dir; }
    std::string File(const std::string &name) const { return Dir + "/" + name; }

private:
    std::string Dir;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &contents);

#endif
