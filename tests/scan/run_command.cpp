/* run_command.cpp - the helpers of run_command.h. */
#include "run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

CommandResult RunCommand(const std::string &program, std::vector<std::string> args,
                         const std::vector<std::string> &extraEnv, const ErrWatcher &watch)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    args.insert(args.begin(), program);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        for (const std::string &e : extraEnv)
            if (!e.empty())
                putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    CommandResult result;
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    char buffer[65536];
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.Out : result.Err).append(buffer, static_cast<size_t>(n));
            if (i == 1 && watch)
                watch(pid, result.Err);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TempDir::TempDir() : Dir(fs::temp_directory_path().string() + "/scan-test-XXXXXX")
{
    if (mkdtemp(Dir.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
}

std::vector<std::string> ListDirectory(const std::string &dir)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string &path)
{
    std::ostringstream contents;
    contents << std::ifstream(path, std::ios::binary).rdbuf();
    return contents.str();
}

void WriteFile(const std::string &path, const std::string &contents)
{
    std::ofstream(path, std::ios::binary) << contents;
}

bool HaveTool(const char *name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string VirtualScannerMissing()
{
    for (const char *library : {"/libbuslnk32.so.1", "/libscandrv.so"})
        if (!fs::exists(std::string(SCAN_BUILD_DIR) + library))
            return std::string("skipped: ") + (library + 1) + " is not built";
    return "";
}
