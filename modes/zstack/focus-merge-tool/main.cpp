// vantor-focus-merge: merges slice files into one extended-focus image with the Z-stack page's
// default parameters and writes it as an 8-bit grey TIFF.
//   vantor-focus-merge [--sr] OUT.tif SLICE.tif...
// Colour slices are merged by their grey value, 16-bit slices scaled by 255/4094 as the page
// does. Exit 0 on success, 2 on a refused input (one line on standard error says why).
#include "DeconvFocus_alg.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int refuse(const std::string& why)
{
    std::fprintf(stderr, "vantor-focus-merge: %s\n", why.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    bool sr = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sr") == 0)
            sr = true;
        else
            paths.emplace_back(argv[i]);
    }
    if (paths.size() < 2)
        return refuse("usage: vantor-focus-merge [--sr] OUT.tif SLICE.tif...");

    DeconvFocus_alg engine;
    for (size_t i = 1; i < paths.size(); ++i) {
        cv::Mat image = cv::imread(paths[i], cv::IMREAD_UNCHANGED);
        if (image.empty())
            return refuse("cannot read " + paths[i]);
        if (image.channels() == 3)
            cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
        else if (image.channels() != 1)
            return refuse("not a grey or RGB image: " + paths[i]);
        if (image.depth() == CV_16U)
            image.convertTo(image, CV_8U, 255.0 / 4094.0);
        else if (image.depth() != CV_8U)
            return refuse("not an 8- or 16-bit image: " + paths[i]);
        if (!image.isContinuous())
            image = image.clone();
        engine.set_load_image(image.data, image.cols, image.rows);
    }
    // The page's defaults: edge kernel 11, noise filters and Sobel 3, scale 0.25, patches 1 x 1.
    if (!engine.run(11, 3, 3, 3, sr, 0.25f, 1, 1, 2.5))
        return refuse("merge failed (slices of unequal size?)");
    cv::Mat first = cv::imread(paths[1], cv::IMREAD_UNCHANGED);
    cv::Mat result(first.rows, first.cols, CV_8UC1);
    if (!engine.get_result_image(result.data) || !cv::imwrite(paths[0], result, {cv::IMWRITE_TIFF_COMPRESSION, 1}))
        return refuse("cannot write " + paths[0]);
    return 0;
}
