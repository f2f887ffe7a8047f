#pragma once

class QListWidget;

// The image strip of a series or count viewer: a list widget of thumbnails shown as icons
// (150 x 120 grid, 132 x 100 icons) or as a numbered list (75 x 50 grid, 57 x 44 icons), paged
// by its up and down buttons.
class ThumbnailList
{
public:
    static constexpr int kThumbnailStep = 120; // scroll step of the icons: one grid row
    static constexpr int kListStep = 1;        // scroll step of the list: one item

    // No auto scroll, no frame, no mouse tracking, static icons, no scroll bars.
    static void setUp(QListWidget *list);
    // Icons (text empty) or the list (text the row number from 1), with their sizes.
    static void setMode(QListWidget *list, bool thumbnails);
    // Moves the vertical scroll bar by one step of the mode, direction -1 up or 1 down.
    static void scroll(QListWidget *list, bool thumbnails, int direction);
    // Deletes every item.
    static void deleteItems(QListWidget *list);
};
