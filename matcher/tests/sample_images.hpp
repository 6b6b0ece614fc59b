// OpenCV's sample photographs (package opencv-doc) for the matcher's tests:
// the folder comes from LINEMATCH_DATA_DIR when set.
#pragma once

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sample {

inline std::string dataDir() {
    const char* d = std::getenv("LINEMATCH_DATA_DIR");
    return d && *d ? d : "/usr/share/doc/opencv-doc/examples/data";
}

// The photograph in grey; an empty image and a test failure when missing.
inline cv::Mat readImage(const std::string& name) {
    const cv::Mat image = cv::imread(dataDir() + "/" + name, cv::IMREAD_GRAYSCALE);
    if (image.empty())
        ADD_FAILURE() << "cannot read " << dataDir() << "/" << name
                      << " (install opencv-doc or set LINEMATCH_DATA_DIR)";
    return image;
}

}  // namespace sample
