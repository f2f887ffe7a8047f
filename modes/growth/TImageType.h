#pragma once

// The kind of a growth-monitor result image, which names its file.
enum TImageType : int {
    IMAGE_SEGMENTATION = 0, // "_result"
    IMAGE_COUNT = 1,        // "_count"
    IMAGE_RAW = 2,          // the source itself (the caller's suffix)
};
