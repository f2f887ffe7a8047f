#pragma once

// State of the Z-stack page. Below 2 the page works on live video.
enum TZStackState : int {
    ZSTACK_IDLE = 0,
    ZSTACK_LIVE = 1,
    ZSTACK_COMPLETED = 2, // the stack is shown in the slice browser
    ZSTACK_STACKING = 3,  // a stack is being taken
};
