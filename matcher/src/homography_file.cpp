#include "linematch/homography_file.hpp"


#include "linematch/front_end_error.hpp"
#include "linematch/image_input.hpp"

#include "lineharvest/errors.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace linematch {

namespace {

bool hasOpenCvExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = path.substr(dot);
    return ext == ".xml" || ext == ".yml" || ext == ".yaml" || ext == ".json";
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw FrontEndError(lineharvest::ErrorKind::homographyFile, "homography file " + path + ": " + why, path);
}

}  // namespace

cv::Matx33d readHomographyFile(const std::string& path) {
    // A FIFO would block the reader, /dev/zero would be read without end.
    requireReadableFile(path, lineharvest::ErrorKind::homographyFile, "homography file");
    cv::Matx33d h;
    if (hasOpenCvExtension(path)) {
        cv::Mat m;
        try {
            cv::FileStorage fs(path, cv::FileStorage::READ);
            if (!fs.isOpened()) refuse(path, "cannot be read");
            for (const cv::FileNode& node : fs.root()) {
                if (node.isMap()) {
                    node >> m;
                    break;
                }
            }
        } catch (const cv::Exception& e) {
            refuse(path, std::string("not an OpenCV matrix file (") + e.err + ")");
        }
        if (m.rows != 3 || m.cols != 3 || m.channels() != 1) refuse(path, "does not hold a 3x3 matrix");
        m.convertTo(m, CV_64F);
        h = cv::Matx33d(m);
    } else {
        std::ifstream in(path);
        if (!in) refuse(path, "cannot be read");
        for (int k = 0; k < 9; ++k) {
            // A token is kept up to a length no number needs, so that a file
            // of one huge token is neither held nor quoted whole.
            constexpr std::size_t kLongest = 1024;
            std::string token;
            std::size_t length = 0;
            in >> std::ws;
            for (int c; (c = in.peek()) != EOF && !std::isspace(c); in.get(), ++length)
                if (token.size() < kLongest) token += static_cast<char>(c);
            if (length == 0) refuse(path, "does not hold nine numbers");
            std::istringstream parse(token);
            double v = 0;
            if (length > token.size() || !(parse >> v) || !parse.eof())
                refuse(path, "'" + lineharvest::inputExcerpt(token) + "' is not a number");
            h(k / 3, k % 3) = v;
        }
        in >> std::ws;
        if (in.peek() != EOF) refuse(path, "holds more than nine numbers");
    }
    checkHomography(h, lineharvest::ErrorKind::homographyFile, "homography file " + path);
    return h;
}

void checkHomography(const cv::Matx33d& h, lineharvest::ErrorKind kind, const std::string& what) {
    for (int k = 0; k < 9; ++k)
        if (!std::isfinite(h.val[k])) throw FrontEndError(kind, what + " must hold finite numbers");
    if (std::fabs(cv::determinant(h)) == 0) throw FrontEndError(kind, what + " must not be singular");
}

void writeHomographyFile(const std::string& path, const cv::Matx33d& homography) {
    std::ofstream out(path);
    char buffer[64];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            std::snprintf(buffer, sizeof buffer, "%s%.17g", c ? " " : "", homography(r, c));
            out << buffer;
        }
        out << "\n";
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace linematch
