/*
 * output_file_win32.cpp - temporary output files and their rename on
 * Windows. The temporary file is "NAME.XXXXXX.tmp" in the same directory,
 * created exclusively, and replaces an older image in one MoveFileEx.
 * Standard output is switched to binary mode, or every 0x0A byte of an
 * image would gain a carriage return.
 */
#include "output_file.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

namespace {

std::string SystemMessage(DWORD code)
{
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        --length;
    return length ? std::string(text, length) : "error " + std::to_string(code);
}

} // namespace

bool OpenOutput(const std::string &path, OutputFile &out, std::string &error)
{
    out = OutputFile{};
    if (path.empty()) {
        _setmode(_fileno(stdout), _O_BINARY);
        out.Stream = stdout;
        return true;
    }
    size_t separator = path.find_last_of("\\/");
    std::string base = separator == std::string::npos ? path : path.substr(separator + 1);
    if (base.empty()) {
        error = "the output file name '" + path + "' names a directory";
        return false;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "the output file '" + path + "' is a directory";
        return false;
    }
    /* A name no other file has: the process id and a counter, created with
     * CREATE_NEW so that a name taken meanwhile is never overwritten. */
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%lu-%u.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                      counter++);
        std::string temp = path + suffix;
        HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS)
                continue;
            error = "cannot create " + temp + ": " + SystemMessage(code);
            return false;
        }
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
        FILE *stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (stream == nullptr) {
            error = "cannot write to " + temp + ": " + std::strerror(errno);
            if (fd >= 0)
                _close(fd);
            else
                CloseHandle(file);
            DeleteFileA(temp.c_str());
            return false;
        }
        out.FinalPath = path;
        out.TempPath = temp;
        out.Stream = stream;
        return true;
    }
    error = "cannot find a free temporary name beside " + path;
    return false;
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
    std::string failure;
    if (std::fflush(out.Stream) != 0)
        failure = std::strerror(errno);
    if (std::fclose(out.Stream) != 0 && failure.empty())
        failure = std::strerror(errno);
    out.Stream = nullptr;
    if (failure.empty() &&
        !MoveFileExA(out.TempPath.c_str(), out.FinalPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failure = SystemMessage(GetLastError());
    if (!failure.empty()) {
        error = "cannot write " + out.FinalPath + ": " + failure;
        DeleteFileA(out.TempPath.c_str());
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
    DeleteFileA(out.TempPath.c_str());
    out.TempPath.clear();
}

bool IsSeekable(FILE *stream)
{
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK;
}
