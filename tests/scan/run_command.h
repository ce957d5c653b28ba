/* run_command.h - what the scan tests share: the built command run with its output captured, files. */
#ifndef SCAN_TEST_RUN_COMMAND_H
#define SCAN_TEST_RUN_COMMAND_H

#include <functional>
#include <string>
#include <vector>

struct CommandResult {
    int Status = -1; /* exit status, or 128 + the signal that killed it */
    std::string Out, Err;
};

/* Called whenever standard error grows, with the child's id and all of it so far. */
using ErrWatcher = std::function<void(int pid, const std::string &err)>;
CommandResult RunCommand(const std::string &program, std::vector<std::string> args,
                         const std::vector<std::string> &extraEnv = {}, const ErrWatcher &watch = nullptr);

/* A fresh directory under $TMPDIR, removed with what it holds. */
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

std::vector<std::string> ListDirectory(const std::string &dir); /* names, sorted */
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &contents);
inline bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }
bool HaveTool(const char *name);
/* Why the virtual scanner and the real driver cannot scan here, or "". */
std::string VirtualScannerMissing();

#endif
