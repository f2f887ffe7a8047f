#pragma once
#include "BoardProfile.h"

#include <QByteArray>
#include <QString>

class VirtualInstrument;

// The board's command tables: one command line in, the reply out, carried out on the
// VirtualInstrument. No I/O and no faults (BoardSimulator adds those).
//
// Old dialect                      reply (each ends in CR LF)
//   FILTER                         filter position 0 to 3, -1 while the turret turns
//   OBJLENS                        objective 1 to 5, 0 while the turret turns
//   Z POS                          stage position
//   Z <d>                          position at the start of the move (the stage is moving),
//                                  or with oldMoveAnswerAtEnd the end position once it stands
//   Z SPEED <n>                    the position
//   Z STOP, Z RESET                the position (after the stop, 0)
//   Z BOTTOM                       as Z <d>
//   LED <pos> <percent>            the percent (0 switches that light off)
//   anything else                  NG; framed lines ("$...") are ignored
//
// New dialect                      reply (each ends in CR LF)
//   $A#VER                         $OK#A#VER#<version>
//   $A#STATUS (above 2.3)          $OK#A#STATUS#FILTER <slot>#OBJ <n>
//   $A#FILTER                      $OK#A#FILTER <slot>   slot 1..4 = filter 3..0, 0 while turning
//   $A#OBJ                         $OK#A#OBJ <n>         0 while turning
//   $A#STAGE POS                   $OK#A#STAGE POS#<position>
//   $A#STAGE LIMIT TOP|BOTTOM      $OK#A#STAGE LIMIT TOP#<1|0>
//   $A#STAGE <d>, $A#SLIDER <d>    $OK#A#STAGE <position at the start of the move>
//   $A#STAGE BOTTOM, $A#SLIDER TOP, $A#SLIDER BOTTOM, $A#STAGE STOP, $A#STAGE RESET
//                                  $OK#A#STAGE <position>
//   $A#STAGE SPEED <n>, $A#SLIDER SPEED <n>, $A#KNOB COARSE <n>, $A#KNOB FINE <n>,
//   $A#LED BRT<led> <power>, $A#LED OFF<led>, $A#STAGE#MAX#<n>, $A#STAGE#ACC#<n> (2.6, 2.8)
//                                  $OK#A#<the command>
//   anything else, or a bad number $NG#A#<the command>
//   $OK#...                        (the program's acknowledgement of an event) no reply
// LED numbers of the new dialect are 4 minus the filter position.
class BoardFirmware
{
public:
    struct Reply
    {
        bool answered = false;   // false: the line gets no reply (ignored or acknowledgement)
        QByteArray text;         // the reply line with its CR LF
        bool isPosition = false; // a stage position query
        QString command;         // the command as the reply names it (new dialect: after "$A#")
        int delayMs = 0;         // held this long beyond the reply delay (a move answered at its end)
    };

    BoardFirmware(VirtualInstrument &instrument, const BoardProfile &profile);

    void setProfile(const BoardProfile &profile);
    const BoardProfile &profile() const { return m_profile; }

    // Whether the line is a command of the dialect in use (lines that are not get no reply).
    bool isCommand(const QString &line) const;
    // Carries out one command line (without its line end) and gives the reply.
    Reply handle(const QString &line);

    // Replies of the faults, in the dialect in use, for a command line.
    QByteArray busyReply(const QString &line) const;
    QByteArray ngReply(const QString &line) const;
    // The reply without its value (the short-reply fault), and a position reply giving p.
    QByteArray shortReply(const Reply &reply) const;
    QByteArray positionReply(int position) const;
    // An event as the board sends it: "$A#" + text + CR LF.
    static QByteArray event(const QString &text);
    // The reported filter slot (new dialect) of a filter position, 0 while turning.
    static int filterSlot(int position, bool turning);

private:
    Reply handleOld(const QString &line);
    Reply handleNew(const QString &line);
    Reply ok(const QString &command, const QString &text) const;
    Reply stageReply(const QString &command) const;
    void answerMove(Reply &reply) const;
    int positionNow() const;

    VirtualInstrument &m_instrument;
    BoardProfile m_profile;
    double m_stageSpeed = 0;  // steps per second of the next move
    double m_sliderSpeed = 0;
    int m_acc = 0;
};
