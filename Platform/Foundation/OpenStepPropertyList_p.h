// The old-style (OpenStep) text form of a property list, as the Mac still reads and writes
// it: { key = value; ... }, ( value, ... ), <hex data>, and strings quoted ("..." or '...')
// or not (letters, digits and _$+/:.-), with // and /* */ comments. Every value that is not
// a dictionary, list or data is a string (the form has no numbers, booleans or dates).
#pragma once

#include <QString>
#include <QVariant>
#include <optional>

namespace PropertyList {

// Parses TEXT as one old-style value followed by nothing but blanks and comments or, as a
// strings file, as the entries of a dictionary without its braces ("key = value;" ...; a
// lone "key;" maps the key to itself). Escapes in quoted strings: \a \b \f \n \r \t \v,
// \ followed by any other character gives that character (\" \' \\), \ and up to three octal
// digits a character code (0 to 255), \U and up to four hex digits a UTF-16 unit. A key given
// twice keeps its last value. None for anything else, or for more than 512 nested levels.
std::optional<QVariant> fromOpenStepText(const QString &text);

} // namespace PropertyList
