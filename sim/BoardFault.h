#pragma once
#include <QString>
#include <QStringList>

// A fault the board simulator can be told to commit on the next commands it answers.
//
//   Silence          the command is not answered at all
//   Busy             answered "BUSY" ("$BUSY#A#<command>" in the new dialect), not carried out
//   Ng               answered "NG" ("$NG#A#<command>"), not carried out; count 3 = three times
//   Split            the reply is written in several pieces (BoardProfile::splitPieces, splitGapMs)
//   Merge            the reply is held back and written together with the next reply, in one write
//   EventInExchange  an event ("$A#KNOB FINE STOP" unless eventText says otherwise) is written
//                    after the command and before its reply, in a separate write
//   ReplyWithEvent   the reply and an event are written in one delivery, the event last
//   Garbage          bytes without "$", CR or LF come before the reply
//   Position800000   the next position reply ("Z POS" / "STAGE POS") gives 800000
//   ShortReply       the reply lacks its value: "$OK#A#STAGE POS", "$OK#A#STATUS#FILTER 4", "" ...
//   Late             the reply is held back until the program has given up waiting for it: it is
//                    written just before the answer to the next command, or after LateReplyMs
//
// A rule applies to the next `count` commands that contain `match` (any command when empty);
// a count below 0 keeps it for ever. The acknowledgements of events are no commands.
struct BoardFault
{
    enum Kind { Silence, Busy, Ng, Split, Merge, EventInExchange, ReplyWithEvent, Garbage,
                Position800000, ShortReply, Late };
    static constexpr int LateReplyMs = 1500; // longer than any exchange waits for its reply

    BoardFault() = default;
    BoardFault(Kind kind, int count = 1, const QString &match = QString())
        : kind(kind), count(count), match(match) {}

    Kind kind = Silence;
    int count = 1;
    QString match;
    QString eventText; // EventInExchange and ReplyWithEvent: the event text after "$A#"

    // Fault texts, as in VANTOR_SIM_FAULTS and the board-sim program's --fault option:
    //   NAME[=COUNT][@MATCH]   NAME one of names(), COUNT a number or "always", MATCH a text
    //   "ng3" is short for "ng=3". Examples: "busy", "ng=3", "split=always", "pos800000@STAGE POS".
    static QStringList names();
    static bool parse(const QString &text, BoardFault *fault, QString *error = nullptr);
    // A comma-separated list of fault texts; false with the first bad one named in error.
    static bool parseList(const QString &texts, QList<BoardFault> *faults, QString *error = nullptr);
    static QString name(Kind kind);
};
