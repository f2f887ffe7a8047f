#pragma once

// One point of a focus curve: the focus value of the frame taken at a stage height (motor steps).
struct FocusResult
{
    double focusValue = 0.0;
    int motorPosition = 0;
};
