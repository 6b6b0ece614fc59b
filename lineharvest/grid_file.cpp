// Reading the grid cell file: one line per grid cell, in cell order, each
// holding the space-separated 0-based image-2 segment indices of its cell.
#include "grid_tokens.hpp"
#include "lineharvest/errors.hpp"
#include "lineharvest/grid_index.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <istream>
#include <sys/stat.h>
#include <unistd.h>

namespace lineharvest {

namespace {

bool isConversionSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Turns the lines of a grid cell file into cells, one line at a time.
class CellParser {
public:
    CellParser(GridIndex& grid, const std::string& source) : grid_(grid), source_(source) {}

    // line excludes its LF; a CR before that LF is part of the line end.
    void addLine(std::string_view line, bool endedByLineFeed) {
        if (endedByLineFeed && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        cell_.clear();
        std::size_t start = line.find_first_not_of(' ');
        while (start != std::string_view::npos) {
            std::size_t end = line.find(' ', start);
            if (end == std::string_view::npos) end = line.size();
            const std::string_view token = line.substr(start, end - start);
            try {
                cell_.push_back(convertToken(token));
            } catch (const std::out_of_range&) {
                throw GridTokenOutOfRange({source_, lineNumber_, inputExcerpt(std::string(token))});
            } catch (const std::invalid_argument&) {
                throw GridTokenInvalid({source_, lineNumber_, inputExcerpt(std::string(token))});
            }
            start = line.find_first_not_of(' ', end);
        }
        grid_.appendCell(cell_.data(), cell_.data() + cell_.size());
        ++lineNumber_;
    }

private:
    GridIndex& grid_;
    const std::string& source_;
    long long lineNumber_ = 0;
    std::vector<int> cell_;
};

std::string describeErrno(int error) { return std::strerror(error); }

// A file descriptor closed on every way out.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

int convertToken(std::string_view token) {
    // Base-10 std::stoi, spelled out so that the failure texts are the same
    // on every standard library.
    std::size_t pos = 0;
    while (pos < token.size() && isConversionSpace(token[pos])) ++pos;
    bool negative = false;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-')) {
        negative = token[pos] == '-';
        ++pos;
    }
    const std::size_t firstDigit = pos;
    long long magnitude = 0;
    bool overflow = false;
    for (; pos < token.size() && token[pos] >= '0' && token[pos] <= '9'; ++pos) {
        if (!overflow) {
            magnitude = magnitude * 10 + (token[pos] - '0');
            if (magnitude > 2147483648LL) overflow = true;
        }
    }
    if (pos == firstDigit) throw std::invalid_argument("invalid stoi argument");
    const long long value = negative ? -magnitude : magnitude;
    if (overflow || value > 2147483647LL || value < -2147483648LL)
        throw std::out_of_range("stoi argument out of range");
    return static_cast<int>(value);
}

void splitTokens(std::string line, std::string delimiters, std::vector<std::string>& tokens) {
    tokens.clear();
    std::string::size_type start = line.find_first_not_of(delimiters, 0);
    while (start != std::string::npos) {
        const std::string::size_type end = line.find_first_of(delimiters, start);
        if (end == std::string::npos) {
            tokens.push_back(line.substr(start));
            return;
        }
        tokens.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(delimiters, end);
    }
}

GridIndex GridIndex::load(const std::string& path, int cellSize, RasterWindow window) {
    GridIndex grid(cellSize, window);
    const auto fail = [&path](const std::string& what) {
        throw HarvestError(ErrorKind::gridFile, "grid cell file '" + path + "': " + what);
    };
    // Opened without blocking, so that a FIFO without a writer cannot hang
    // the caller; only a regular file is read.
    FileDescriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) fail("cannot be opened: " + describeErrno(errno));
    struct stat info;
    if (::fstat(file.fd, &info) != 0) fail("cannot be examined: " + describeErrno(errno));
    if (!S_ISREG(info.st_mode)) fail("is not a regular file");

    CellParser parser(grid, path);
    std::string pending;  // the start of a line that continues in the next block
    std::vector<char> block(1 << 16);
    for (;;) {
        const ssize_t got = ::read(file.fd, block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("read error: " + describeErrno(errno));
        }
        if (got == 0) break;
        std::string_view data(block.data(), static_cast<std::size_t>(got));
        std::size_t lineFeed;
        while ((lineFeed = data.find('\n')) != std::string_view::npos) {
            if (pending.empty()) {
                parser.addLine(data.substr(0, lineFeed), true);
            } else {
                pending.append(data.data(), lineFeed);
                parser.addLine(pending, true);
                pending.clear();
            }
            data.remove_prefix(lineFeed + 1);
        }
        pending.append(data.data(), data.size());
    }
    // A last line without a line end still counts.
    if (!pending.empty()) parser.addLine(pending, false);
    return grid;
}

GridIndex GridIndex::load(std::istream& in, int cellSize, RasterWindow window, const std::string& sourceName) {
    GridIndex grid(cellSize, window);
    CellParser parser(grid, sourceName);
    // With badbit in the exception mask a failed read or allocation inside
    // getline surfaces as an exception instead of looking like end of file.
    const std::ios::iostate previousMask = in.exceptions();
    struct RestoreMask {
        std::istream& in;
        std::ios::iostate mask;
        ~RestoreMask() {
            try {
                in.exceptions(mask);
            } catch (...) {
            }
        }
    } restore{in, previousMask};
    std::string line;
    try {
        in.exceptions(std::ios::badbit);
        while (std::getline(in, line)) parser.addLine(line, !in.eof());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const GridTokenInvalid&) {
        throw;
    } catch (const GridTokenOutOfRange&) {
        throw;
    } catch (const std::exception& e) {
        // Whatever the stream's buffer raised (std::ios_base::failure from a
        // file buffer, anything from a caller's own buffer) is a read error.
        throw HarvestError(ErrorKind::gridFile, "grid cell file '" + sourceName + "': read error: " + e.what());
    }
    return grid;
}

}  // namespace lineharvest
