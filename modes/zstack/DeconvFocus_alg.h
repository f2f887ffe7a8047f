#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Extended-focus merge of a stack of 8-bit grey slices: every pixel is taken from the slice
// where the local gradient is strongest; an optional detail stage adds fine structure found in
// a rescaled copy of the composite and corrects it to the stack's mean brightness.
// run() is meant for a worker thread and polls that thread's interruption request.
class DeconvFocus_alg
{
public:
    DeconvFocus_alg() = default;

    // Keeps a private copy of width x height 8-bit grey pixels (rows packed) as the next slice.
    void set_load_image(unsigned char* data, int width, int height);
    void free_load_image();

    // False (the earlier result kept) for an empty stack, slices of unequal size, parameters the
    // filters refuse, or an interruption; true when a new result was made.
    bool run(int matchingSize, int medianKernel, int meanKernel, int sobelKernel, bool sr,
             float scaleFactor, int patchSize, int patchMoving, double freqWeight);

    // Copies the result (width x height bytes) into out; false without a result or slices.
    bool get_result_image(unsigned char* out) const;

    int sliceCount() const { return int(m_slices.size()); }

    // Detail stage, first half: for each block of the padded composite, finds the best-matching
    // patch of the padded rescaled image near its scaled position and adds that patch's detail
    // into accum, counting the additions in count. False when interrupted.
    bool Find_Patching_Block_Accumulation(cv::Mat composite, cv::Mat upscaled, cv::Mat detail,
                                          cv::Mat accum, cv::Mat count, int patchSize,
                                          float scaleFactor, int patchMoving);
    // Detail stage, second half: brightnessWeight x composite + detailWeight x mean detail, 8-bit.
    cv::Mat Final_Patching_make_Result(cv::Mat composite, cv::Mat accum, cv::Mat count,
                                       double brightnessWeight, double detailWeight);

private:
    static bool parametersValid(int matchingSize, int medianKernel, int meanKernel, int sobelKernel,
                                bool sr, float scaleFactor, int patchSize, int patchMoving,
                                int width, int height);
    struct FocusBuffers
    {
        cv::Mat padded, a, b, c;
    };
    // Per-pixel focus measure of one slice: the largest gradient magnitude in the
    // matchingSize x matchingSize window centred on each pixel.
    static cv::Mat focusMap(const cv::Mat& slice, int matchingSize, int medianKernel,
                            int meanKernel, int sobelKernel, FocusBuffers& work);

    cv::Mat m_result;
    std::vector<cv::Mat> m_slices;
    int m_width = 0;
    int m_height = 0;
    int m_bytesPerPixel = 0;
};
