#pragma once
#include <QString>

// Text as one visible line. Control characters (which break or rewrite a line), format characters
// (invisible, or reordering what follows) and line and paragraph separators are shown as escapes,
// and so is the backslash, so that two different texts never look alike: \n, \r, \t, \\, \xHH for
// the other control characters, \uHHHH for the rest (\UHHHHHHHH above U+FFFF). Used wherever a
// file name or a message is shown as a line: the command-line tools and the File manager.
namespace VisibleText {

QString escaped(const QString &text);

// The text a line shown by escaped stands for, when every escape in it is whole (hex digits in
// either case); false, text untouched, when a backslash begins no escape escaped would write.
bool unescaped(const QString &line, QString *text);

} // namespace VisibleText
