#include "linematch/image_input.hpp"

#include "linematch/front_end_error.hpp"
#include "linematch/image_header.hpp"
#include "linematch/matcher_options.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace linematch {

namespace {

std::string fileTypeProblem(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return S_ISREG(mode) ? "" : "is not a regular file";
}

std::string errnoText(int error) {
    if (error == EACCES || error == EPERM) return "permission denied (the file is not readable by this user)";
    return std::strerror(error);
}

// The open file, closed on every way out.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens path for reading without blocking (a FIFO swapped in after the
// check must not block either) and checks that it is a regular file.
void openRegular(const std::string& path, lineharvest::ErrorKind kind, const std::string& what, FileDescriptor& file,
                 struct stat& info) {
    const auto refuse = [&](const std::string& why) { throw FrontEndError(kind, what + " " + path + ": " + why, path); };
    if (::stat(path.c_str(), &info) != 0) refuse(errnoText(errno));
    if (!fileTypeProblem(info.st_mode).empty()) refuse(fileTypeProblem(info.st_mode));
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) refuse(errnoText(errno));
    if (::fstat(file.fd, &info) != 0) refuse(errnoText(errno));
    if (!fileTypeProblem(info.st_mode).empty()) refuse(fileTypeProblem(info.st_mode));
}

std::size_t readAt(int fd, std::size_t offset, unsigned char* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace

void requireReadableFile(const std::string& path, lineharvest::ErrorKind kind, const std::string& what) {
    FileDescriptor file;
    struct stat info {};
    openRegular(path, kind, what, file, info);
}

void checkImagePixels(long long width, long long height, double maxPixels, const std::string& what,
                      const std::string& path) {
    const double pixels = static_cast<double>(width) * static_cast<double>(height);
    if (pixels > maxPixels)
        throw FrontEndError(lineharvest::ErrorKind::imageTooLarge,
                            what + " is " + std::to_string(width) + " x " + std::to_string(height) + " = " +
                                numberText(pixels) + " pixels, more than the limit of " + numberText(maxPixels),
                            path);
}

cv::Mat readImageFile(const std::string& path, double maxPixels, int flags) {
    const std::string what = "cannot read image";
    FileDescriptor file;
    struct stat info {};
    openRegular(path, lineharvest::ErrorKind::imageFile, what, file, info);
    const auto refuse = [&](lineharvest::ErrorKind kind, const std::string& why) {
        throw FrontEndError(kind, what + " " + path + ": " + why, path);
    };

    if (info.st_size == 0) refuse(lineharvest::ErrorKind::imageFile, "the file is empty");
    const ImageHeader header = readImageHeader(
        [&](std::size_t offset, unsigned char* out, std::size_t n) { return readAt(file.fd, offset, out, n); });
    // A file of no format OpenCV decodes fails there too; refused here, a
    // format OpenCV would decode without a known size is never decoded.
    if (header.format.empty()) refuse(lineharvest::ErrorKind::imageFile, "not an image file OpenCV can decode");
    if (!header.refusal.empty()) refuse(lineharvest::ErrorKind::imageFile, "the " + header.format + " file is not read: " + header.refusal);
    if (header.width >= 0 && header.height >= 0)
        checkImagePixels(header.width, header.height, maxPixels, what + " " + path + ": the " + header.format + " header says it",
                         path);
    // No format holds an allowed image in more than 16 bytes a pixel plus
    // its metadata; a larger file is not read into memory.
    const double size = static_cast<double>(info.st_size);
    if (size > maxPixels * 16 + 64.0 * (1 << 20))
        refuse(lineharvest::ErrorKind::imageTooLarge, "the file has " + numberText(size) + " bytes, too many for an image of at most " +
                                                          numberText(maxPixels) + " pixels");

    std::vector<unsigned char> bytes(static_cast<std::size_t>(info.st_size));
    if (readAt(file.fd, 0, bytes.data(), bytes.size()) != bytes.size()) refuse(lineharvest::ErrorKind::imageFile, errnoText(errno ? errno : EIO));
    if (bytes.empty()) refuse(lineharvest::ErrorKind::imageFile, "the file is empty");
    const std::string damage = imageDamage(bytes);
    if (!damage.empty()) refuse(lineharvest::ErrorKind::damagedImage, "the " + header.format + " file is damaged (" + damage + ")");

    cv::Mat image;
    try {
        image = cv::imdecode(bytes, flags);
    } catch (const cv::Exception& e) {
        if (e.code == cv::Error::StsNoMem) throw std::bad_alloc();
        refuse(lineharvest::ErrorKind::imageFile, "OpenCV cannot decode it (" + e.err + ")");
    }
    if (image.empty()) refuse(lineharvest::ErrorKind::imageFile, "not an image file OpenCV can decode");
    checkImagePixels(image.cols, image.rows, maxPixels, what + " " + path + ": it", path);
    return image;
}

}  // namespace linematch
