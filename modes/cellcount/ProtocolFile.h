#pragma once
#include "nimbo_protocol_t.h"
#include "protocol_t.h"

#include <QString>
#include <QStringList>
#include <string>
#include <variant>
#include <vector>

// The counting protocol files beside the program (Paths::programDir()):
// "Protocol_<name>_NIMBO.ini" for the own counter, written by the protocol editors, and
// "Protocol_<name>_BF.ini" for the second engine, which nothing here writes. One table of keys
// drives every reader and the writer. Values are decimal text read as strtol / strtod read them
// (independent of the process locale); a missing key or an empty value reads as its fall-back, and
// so does a value outside the range of the full editor's control for that key (logged).
class ProtocolFile
{
public:
    using Field = std::variant<int32_t nimbo_protocol_t::*, float nimbo_protocol_t::*, double nimbo_protocol_t::*>;

    // One setting of the own counter's file.
    struct Key
    {
        const char *group;
        const char *key;
        int decimals;               // -1: written as an integer
        const char *fallBack;       // the counting reader's
        double initValue;           // nimbo_protocol_t::Init
        const char *editorFallBack; // the full editor's
        double min, max;            // the full editor's range
        Field field;

        double value(const nimbo_protocol_t &protocol) const;
        // The file text of the record's value ("%d", "%.1f" or "%.2f").
        QString text(const nimbo_protocol_t &protocol) const;
        // Sets the field from a file text; integers truncate ("12.7" gives 12).
        void setFromText(nimbo_protocol_t &protocol, const std::string &text) const;
        void setValue(nimbo_protocol_t &protocol, double value) const;
    };

    // One setting of the second engine's file, with the range the reader takes.
    struct SecondEngineKey
    {
        const char *group, *key, *fallBack;
        double min, max;
        int32_t protocol_t::*field;
    };

    // Who reads: the count and the protocol dialog (their fall-backs, MustDetect_intensity at
    // most 220) or the full editor (its own fall-backs, no limit).
    enum class Reader { Count, Editor };

    static constexpr int kMustDetectIntensityCap = 220;
    static constexpr int kMaxFileNameBytes = 255;
    static const QString defaultName; // "DEFAULT"

    // The 22 keys in file order.
    static const std::vector<Key> &keys();

    // The second engine's 7 keys.
    static const std::vector<SecondEngineKey> &secondEngineKeys();

    // "<programDir>/Protocol_<name>_NIMBO.ini" as UTF-8; the second engine's "..._BF.ini".
    static std::string pathOf(const QString &name);
    static std::string secondEnginePathOf(const QString &name);

    // Reads every key into the record (name and path untouched); a missing file gives every
    // fall-back.
    static void read(const std::string &path, nimbo_protocol_t &protocol, Reader reader = Reader::Count);
    // Writes the 22 keys in one replacement of the file, then reads each back: false unless every
    // key holds what was written (a folder in the way, a read-only drive).
    static bool write(const std::string &path, const nimbo_protocol_t &protocol);
    // The second engine's seven keys; a missing file gives every fall-back.
    static void readSecondEngine(const std::string &path, protocol_t &protocol);

    // A name this system can store: not empty, none of \ / : * ? " < > |, and a file name of at
    // most 255 bytes.
    static bool isUsableName(const QString &name);
    static bool isNameTooLong(const QString &name);
    // The usable protocol names of the folder in natural order, always with "DEFAULT" first (with
    // or without its own file).
    static QStringList listNames();
};
