// The tag image and the final counts.
#include "CellCount_alg.h"

#include <opencv2/imgproc.hpp>

#include <string>

void CellCount_alg::ProcessTag_Filtering_NimboS(unsigned char *tag, const _MainDeclusterCountInfo_NimboS *records,
                                                int width, int height, int n, int *total, int *live, int *dead,
                                                bool numbers)
{
    int counted = 0, alive = 0, died = 0;
    if (tag && width > 0 && height > 0) {
        cv::Mat image(height, width, CV_8UC3, tag); // drawn in place; circles are clipped at the border
        for (int i = 1; records && i <= n; ++i) {
            const _MainDeclusterCountInfo_NimboS &r = records[i];
            for (int k = 1; k <= r.nCellNum && k <= r.kMaxCells; ++k) {
                if (!r.bValid[k])
                    continue;
                ++counted;
                const cv::Point centre(r.nCenterX[k], r.nCenterY[k]);
                const bool isLive = r.bLive[k] != 0;
                ++(isLive ? alive : died);
                cv::circle(image, centre, 10, isLive ? cv::Scalar(0, 200, 0) : cv::Scalar(200, 0, 0), 1, cv::LINE_8);
                if (numbers)
                    cv::putText(image, std::to_string(counted), centre + cv::Point(-6, -9), cv::FONT_HERSHEY_SIMPLEX,
                                0.3, cv::Scalar(0, 200, 200), 1, cv::LINE_8);
            }
        }
    }
    if (total)
        *total = counted;
    if (live)
        *live = alive;
    if (dead)
        *dead = died;
}
