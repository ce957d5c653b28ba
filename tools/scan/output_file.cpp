/*
 * output_file.cpp - temporary output files and their rename. The temporary
 * file is a hidden name in the same directory (".NAME.XXXXXX"), so the
 * final rename stays within one file system and replaces an older image in
 * one step.
 */
#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

bool OpenOutput(const std::string &path, OutputFile &out, std::string &error)
{
    out = OutputFile{};
    if (path.empty()) {
        out.Stream = stdout;
        return true;
    }
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) {
        error = "the output file name '" + path + "' names a directory";
        return false;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = "the output file '" + path + "' is a directory";
        return false;
    }
    std::string pattern = (dir == "/" ? "/" : dir + "/") + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        error = "cannot create a file in " + dir + ": " + std::strerror(errno);
        return false;
    }
    FILE *stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        error = "cannot write to " + std::string(name.data()) + ": " + std::strerror(errno);
        close(fd);
        unlink(name.data());
        return false;
    }
    out.FinalPath = path;
    out.TempPath = name.data();
    out.Stream = stream;
    return true;
}

bool CommitOutput(OutputFile &out, std::string &error)
{
    if (out.TempPath.empty()) {
        if (out.Stream != nullptr && std::fflush(out.Stream) != 0) {
            error = std::string("cannot write the image: ") + std::strerror(errno);
            return false;
        }
        out.Stream = nullptr;
        return true;
    }
    mode_t mask = umask(0);
    umask(mask);
    int failure = 0;
    if (std::fflush(out.Stream) != 0 || fchmod(fileno(out.Stream), 0666 & ~mask) != 0)
        failure = errno;
    if (std::fclose(out.Stream) != 0 && failure == 0)
        failure = errno;
    out.Stream = nullptr;
    if (failure == 0 && rename(out.TempPath.c_str(), out.FinalPath.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        error = "cannot write " + out.FinalPath + ": " + std::strerror(failure);
        unlink(out.TempPath.c_str());
        out.TempPath.clear();
        return false;
    }
    out.TempPath.clear();
    return true;
}

void DiscardOutput(OutputFile &out)
{
    if (out.TempPath.empty()) {
        out.Stream = nullptr;
        return;
    }
    if (out.Stream != nullptr)
        std::fclose(out.Stream);
    out.Stream = nullptr;
    unlink(out.TempPath.c_str());
    out.TempPath.clear();
}

bool IsSeekable(FILE *stream)
{
    return lseek(fileno(stream), 0, SEEK_CUR) != static_cast<off_t>(-1);
}
