#pragma once
#include <string>
#include <vector>

// The keys of an INI file with the numbers each may hold (the range its dialog offers) and, for
// the configuration file, the one default every reader of the key gets. A value read outside its
// key's range, one that is not a number, or an empty one gives way to the default and the log
// says so once per start: a damaged or hostile file never hands a reader a number it cannot use,
// and no two readers of one key disagree about what a missing or bad value means.
class KeyRanges
{
public:
    enum Kind
    {
        Integer, // a whole number: what the dialogs write and what QString::toInt takes
        Number,  // any decimal number, for reals and for integers read as strtol reads them
        Flag     // a check box: 0 or 1
    };

    // A section ending in "*" stands for every section that begins so, a key "*" for every key
    // of its section. The first matching range of the list holds. Without def the reader's own
    // default stands (the protocol files, whose two readers fall back differently by design).
    // With defKey the default is the value of that key of the same section (read by its own
    // range), and an empty value is a plain "none" that reads as it without a word in the log.
    struct Range
    {
        const char *section;
        const char *key;
        Kind kind;
        double min;
        double max;
        const char *def = nullptr;
        const char *defKey = nullptr;
    };

    explicit KeyRanges(std::vector<Range> ranges);

    const Range *find(const std::string &section, const std::string &key) const;

    // The value a reader gets for a key: stored (nullptr when the key is missing) when it may
    // stand, otherwise the key's default, or readerDef when the table gives none (for a key with
    // defKey, the caller passes that key's value). found is set when stored stands. Every value
    // that gives way is logged once per start and file.
    std::string valueOf(const std::string &file, const std::string &section, const std::string &key,
                        const std::string *stored, const std::string &readerDef, bool &found) const;

    const std::vector<Range> &ranges() const { return m_Ranges; }

    // The keys of the configuration file "/root/Microscope/NIMBO/NIMBO.ini".
    static const KeyRanges &configuration();

    // For tests: every value logged so far may be logged again.
    static void forgetLogged();

private:
    std::vector<Range> m_Ranges;
};
