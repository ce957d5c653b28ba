/*
 * run_command.cpp - fork, exec and collect for the end-to-end tests.
 */
#include "run_command.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

CommandResult RunCommand(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &extraEnv, const ErrWatcher &watch)
{
    CommandResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char **e = environ; *e != nullptr; ++e)
        envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char *> envp;
    for (std::string &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        close(outPipe[0]);
        close(errPipe[0]);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int openPipes = 2;
    char buffer[65536];
    while (openPipes > 0) {
        if (poll(fds, 2, -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --openPipes;
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

std::vector<std::string> ListDirectory(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/scan-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    Dir = name.data();
}

TempDir::~TempDir()
{
    for (const std::string &name : ListDirectory(Dir))
        unlink((Dir + "/" + name).c_str());
    rmdir(Dir.c_str());
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void WriteFile(const std::string &path, const std::string &contents)
{
    std::ofstream file(path, std::ios::binary);
    file << contents;
}
