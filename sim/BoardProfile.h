#pragma once
#include <QString>
#include <QStringList>

// Which controller-board firmware the simulator plays, and its timing.
//
// The old dialect answers bare commands ("FILTER", "Z POS", "LED 1 30") with a number or "BUSY" or
// "NG" ended by CR LF, and ignores the framed version query. The new dialect answers
// "$A#..." commands with "$OK#A#...", "$BUSY#A#..." or "$NG#A#..." ended by CR LF and sends
// events on its own. Version-dependent behaviour of the new dialect:
//   2.3:            no "STATUS" query (answered "NG");
//   above 2.3:      "STATUS" gives filter and objective in one reply;
//   2.6, 2.8:       maximum speed and acceleration ("STAGE#MAX#n", "STAGE#ACC#n") are taken;
//   above 2.5:      LED power in tenths of a percent (0 to 1000), else percent (0 to 100).
struct BoardProfile
{
    bool newDialect = true;
    QString version = QStringLiteral("3.1"); // version text of the new dialect; empty for the old
    // The old dialect answers a move ("Z <d>", "Z BOTTOM") with the stage position either as the
    // move starts (the default) or once it has ended.
    bool oldMoveAnswerAtEnd = false;

    // Timing. Stage speeds are steps per second: "STAGE SPEED n" and "SLIDER SPEED n" give
    // n * speedScale, "STAGE#MAX#n" gives n * maxSpeedScale.
    int replyDelayMs = 3;       // from the end of a command line to its reply
    double speedScale = 30;
    double maxSpeedScale = 250;
    double defaultSpeed = 20000; // before any speed command
    int splitPieces = 3;        // the split-reply fault writes a reply in this many pieces
    int splitGapMs = 15;        // ... this far apart

    // The profiles of the boards in the field: "old", "2.3", "2.4", "2.6", "2.8", "3.1".
    static QStringList names();
    // The profile of a name above, or of any other version text of digits and dots ("2.5",
    // "2.3.1"); false (profile unchanged) for anything else.
    static bool fromName(const QString &name, BoardProfile *profile);
    QString name() const;       // "old" or the version text
    // "start" or "end" (oldMoveAnswerAtEnd); false (profile unchanged) for anything else.
    bool setOldMoveAnswer(const QString &when);

    float versionNumber() const; // 0 for the old dialect; "2.3.1" gives 2.31, "2.3.1.4" too
    bool hasStatusQuery() const;  // new dialect above 2.3
    bool takesMaxAndAcc() const;  // above 2.5 and at most 3.0
    bool ledPowerInTenths() const; // above 2.5
};
