#pragma once
#include <string>
#include <vector>

// The numbers that the keys of an INI file may hold, each the range its dialog offers. A value
// read outside its key's range, or one that is not a number, gives way to the reader's default
// and the log says so: a damaged or hostile file never hands a reader a number it cannot use.
class KeyRanges
{
public:
    enum Kind
    {
        Integer, // a whole number: what the dialogs write and what QString::toInt takes
        Number   // any decimal number, for reals and for integers read as strtol reads them
    };

    // A section ending in "*" stands for every section that begins so, a key "*" for every key
    // of its section. The first matching range of the list holds.
    struct Range
    {
        const char *section;
        const char *key;
        Kind kind;
        double min;
        double max;
    };

    explicit KeyRanges(std::vector<Range> ranges);

    const Range *find(const std::string &section, const std::string &key) const;

    // True when value (as read from file) may stand; otherwise logs why and gives false, so the
    // reader keeps its default def. A key without a range always stands.
    bool holds(const std::string &file, const std::string &section, const std::string &key, const std::string &value,
               const std::string &def) const;

    // The keys of the configuration file "/root/Microscope/NIMBO/NIMBO.ini".
    static const KeyRanges &configuration();

private:
    std::vector<Range> m_Ranges;
};
