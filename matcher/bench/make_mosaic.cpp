// A k x k mosaic of OpenCV's sample photographs for the scale benchmark:
// 640 x 480 grey tiles, row by row from a fixed list; from the second pass
// through the list on, the photographs are mirrored so that no tile repeats.
//
// usage: make_mosaic K OUT_IMAGE [DATA_DIR]
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* const kPhotographs[] = {
    "building.jpg", "graf1.png",       "aero1.jpg",     "leuvenA.jpg",  "board.jpg",   "stuff.jpg",
    "home.jpg",     "fruits.jpg",      "baboon.jpg",    "aloeL.jpg",    "messi5.jpg",  "squirrel_cls.jpg",
    "basketball1.png", "rubberwhale1.png", "box_in_scene.png", "left.jpg", "butterfly.jpg", "apple.jpg",
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: make_mosaic K OUT_IMAGE [DATA_DIR]\n");
        return 2;
    }
    const int k = std::atoi(argv[1]);
    const std::string data = argc > 3 ? argv[3] : "/usr/share/doc/opencv-doc/examples/data";
    const int width = 640, height = 480, count = static_cast<int>(std::size(kPhotographs));
    cv::Mat mosaic(k * height, k * width, CV_8U);
    for (int t = 0; t < k * k; ++t) {
        const std::string path = data + "/" + kPhotographs[t % count];
        const cv::Mat photo = cv::imread(path, cv::IMREAD_GRAYSCALE);
        if (photo.empty()) {
            std::fprintf(stderr, "make_mosaic: cannot read %s\n", path.c_str());
            return 1;
        }
        cv::Mat tile;
        cv::resize(photo, tile, {width, height}, 0, 0, cv::INTER_AREA);
        if ((t / count) % 2 == 1) cv::flip(tile, tile, 1);
        tile.copyTo(mosaic(cv::Rect((t % k) * width, (t / k) * height, width, height)));
    }
    if (!cv::imwrite(argv[2], mosaic)) {
        std::fprintf(stderr, "make_mosaic: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
