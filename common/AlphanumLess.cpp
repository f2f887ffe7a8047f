#include "AlphanumLess.h"

#include <QByteArray>
#include <cstring>

namespace {

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Compares the digit runs at *left and *right by value, whatever their length, and moves both
// pointers past their runs.
int compareNumbers(const unsigned char *&left, const unsigned char *&right)
{
    while (*left == '0')
        ++left;
    while (*right == '0')
        ++right;
    const unsigned char *l = left;
    const unsigned char *r = right;
    while (isDigit(*l))
        ++l;
    while (isDigit(*r))
        ++r;
    const ptrdiff_t lengthDiff = (l - left) - (r - right);
    int result = lengthDiff < 0 ? -1 : lengthDiff > 0 ? 1 : 0;
    if (result == 0) {
        const int cmp = std::memcmp(left, right, size_t(l - left));
        result = cmp < 0 ? -1 : cmp > 0 ? 1 : 0;
    }
    left = l;
    right = r;
    return result;
}

} // namespace

int alphanum_impl(const char *leftText, const char *rightText)
{
    auto left = reinterpret_cast<const unsigned char *>(leftText);
    auto right = reinterpret_cast<const unsigned char *>(rightText);
    while (*left && *right) {
        const bool leftDigit = isDigit(*left);
        const bool rightDigit = isDigit(*right);
        if (leftDigit && rightDigit) {
            if (const int result = compareNumbers(left, right))
                return result;
            continue;
        }
        if (leftDigit)
            return -1;
        if (rightDigit)
            return 1;
        if (*left != *right)
            return int(*left) - int(*right);
        ++left;
        ++right;
    }
    if (*right)
        return -1;
    if (*left)
        return 1;
    return 0;
}

bool alphanum_less::operator()(const std::string &left, const std::string &right) const
{
    return alphanum_impl(left.c_str(), right.c_str()) < 0;
}

bool alphanum_less::operator()(const QString &left, const QString &right) const
{
    return alphanum_impl(left.toUtf8().constData(), right.toUtf8().constData()) < 0;
}
