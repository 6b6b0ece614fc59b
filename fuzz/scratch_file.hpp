// A file of the fuzz process's own under /tmp, removed when the process ends
// normally (a crashing run leaves it for inspection).
#pragma once

#include "fuzz_check.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

class ScratchFile {
public:
    explicit ScratchFile(const std::string& prefix) {
        std::string pattern = prefix + "XXXXXX";
        const int fd = mkstemp(pattern.data());
        FUZZ_CHECK(fd >= 0, "cannot create a scratch file %s", pattern.c_str());
        close(fd);
        path_ = pattern;
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
