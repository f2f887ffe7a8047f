#pragma once
#include <QString>
#include <string>

// Natural-order comparison of two NUL-terminated byte strings: digit runs compare as numbers
// (leading zeros do not count, runs of any length), other bytes as unsigned values, a digit sorts
// before any other byte. Below 0, 0 or above 0 as the first sorts before, with or after the second.
int alphanum_impl(const char *left, const char *right);

// The comparator that sorts every image-file and protocol list:
// std::sort(list.begin(), list.end(), alphanum_less()).
struct alphanum_less
{
    bool operator()(const std::string &left, const std::string &right) const;
    bool operator()(const QString &left, const QString &right) const;
};
