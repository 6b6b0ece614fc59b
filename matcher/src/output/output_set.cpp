#include "linematch/output_set.hpp"

#include "linematch/front_end_error.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace linematch {

namespace {

[[noreturn]] void refuse(const std::string& path, int error) {
    throw FrontEndError(lineharvest::ErrorKind::outputFile, "cannot write " + path + ": " + std::strerror(error), path);
}

// A file descriptor closed on every way out.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

namespace {

// mkstemp's temporary name of `name`: "." + name + "." + six letters or digits.
bool isTemporaryOf(const std::string& entry, const std::string& name) {
    const std::size_t head = name.size() + 2;
    if (entry.size() != head + 6 || entry[0] != '.' || entry.compare(1, name.size(), name) != 0 ||
        entry[head - 1] != '.')
        return false;
    for (std::size_t k = head; k < entry.size(); ++k) {
        const char c = entry[k];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

}  // namespace

OutputSet::OutputSet(std::string folder, const std::vector<std::string>& staleNames) : folder_(std::move(folder)) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (!std::filesystem::is_directory(folder_))
        throw FrontEndError(lineharvest::ErrorKind::outputFile,
                            "cannot create directory " + folder_ + (error ? ": " + error.message() : ""), folder_);
    folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) refuse(folder_, errno);
    // Every live OutputSet of a folder holds it locked (shared, exclusive
    // in its commit), and a killed process's lock goes with it: an
    // exclusive lock got without waiting means that no live writer owns
    // the temporaries here. Where the file system has no locks they stay.
    if (!staleNames.empty() && ::flock(folderFd_, LOCK_EX | LOCK_NB) == 0) {
        std::vector<std::string> stale;
        const int listing = ::dup(folderFd_);
        if (DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing)) {
            while (const dirent* entry = ::readdir(entries))
                for (const std::string& name : staleNames)
                    if (isTemporaryOf(entry->d_name, name)) stale.emplace_back(entry->d_name);
            ::closedir(entries);
        } else if (listing >= 0) {
            ::close(listing);
        }
        // unlinkat: a link by that name goes, never what it points at.
        for (const std::string& name : stale) ::unlinkat(folderFd_, name.c_str(), 0);
    }
    // Shared (the exclusive one above becomes shared); a writer committing
    // is waited for. Without locks the commit's own lock decides, as before.
    while (::flock(folderFd_, LOCK_SH) != 0)
        if (errno != EINTR) break;
}

OutputSet::~OutputSet() {
    for (const File& f : files_)
        if (!f.temporary.empty()) ::unlink(f.temporary.c_str());
    if (folderFd_ >= 0) ::close(folderFd_);
}

void OutputSet::add(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + "/" + name;
    std::vector<char> pattern;
    const std::string text = folder_ + "/." + name + ".XXXXXX";
    pattern.assign(text.begin(), text.end());
    pattern.push_back('\0');
    Descriptor out;
    out.fd = ::mkstemp(pattern.data());
    if (out.fd < 0) refuse(path, errno);
    files_.push_back({name, pattern.data()});
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(out.fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) refuse(path, errno);
        done += static_cast<std::size_t>(wrote);
    }
    // The result files are read by others: the folder's permissions, not
    // mkstemp's private 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(out.fd, 0666 & ~mask) != 0) refuse(path, errno);
    if (::fsync(out.fd) != 0) refuse(path, errno);
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) refuse(path, errno);
}

void OutputSet::drop(const std::string& name) { dropped_.push_back(name); }

void OutputSet::commit(const std::string& last) {
    // The shared lock becomes exclusive, on the same descriptor: a second
    // descriptor of the folder would wait for this one's own shared lock.
    // Held until the descriptor closes, also when the process is killed.
    while (::flock(folderFd_, LOCK_EX) != 0)
        if (errno != EINTR) refuse(folder_, errno);
    const auto removeOld = [&](const std::string& name) {
        const std::string path = folder_ + "/" + name;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) refuse(path, errno);
    };
    const auto place = [&](File& f) {
        const std::string path = folder_ + "/" + f.name;
        if (::rename(f.temporary.c_str(), path.c_str()) != 0) refuse(path, errno);
        f.temporary.clear();
    };
    removeOld(last);
    for (const std::string& name : dropped_) removeOld(name);
    for (File& f : files_)
        if (f.name != last) place(f);
    for (File& f : files_)
        if (f.name == last) place(f);
    ::fsync(folderFd_);
}

}  // namespace linematch
