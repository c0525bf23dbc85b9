// Reading the system's process listings (the output of "ps" pipelines) and picking process
// ids out of them by name. Shared by ZVAuthentication and the workspace extension ZVXExtension,
// which differ only in how they decode the listing.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace ZVProcessListing {

enum class Encoding { ASCII, UTF8 };

// The locale a listing of ENCODING runs in: "C" for ASCII, "C.UTF-8" for UTF-8. procps
// prints a command line as the locale says: in the C locale every byte outside printable
// ASCII as "?", in a UTF-8 locale valid UTF-8 as it is and anything else as "?". So the text
// always decodes, whatever locale the user runs in; a name with characters outside ASCII is
// therefore never found by an ASCII listing (the product's names are plain program names).
QByteArray listingLocale(Encoding encoding);

// Runs COMMAND through the shell as popen does (mode "r"), with LC_ALL and LANG set to
// listingLocale(ENCODING) and the rest of the environment as it is, reading its output in
// 512-byte chunks until a read returns fewer bytes, then closing the stream and waiting for
// the shell. None when the command cannot be started.
std::optional<QByteArray> readCommandOutput(const QString &command,
                                            Encoding encoding = Encoding::ASCII);

// True when /proc is mounted with "hidepid" (hardened systems) and this process is neither
// root nor in the group that the mount lets see every process: then a listing run with this
// process's rights shows only its own user's processes.
bool listingHidesOtherUsers();

// BYTES as text, or a null QString when they are not valid in ENCODING (ASCII: a byte above
// 0x7F; UTF-8: a malformed sequence).
QString decode(const QByteArray &bytes, Encoding encoding);

// The integer at the start of TEXT the way a scanner reads one: leading white space skipped,
// an optional sign, decimal digits, clamped to the qint32 range; none without digits.
std::optional<qint32> scanInt(QStringView text);

// The ids of a listing, in its order, not made unique: for every line (the text after the
// last "\n" counts as a line), the text from its first non-blank character up to the first
// occurrence of NAME; such a prefix holding "grep" (the pipeline's own grep and shell) adds
// nothing, nor does one without a leading non-zero integer (a header line, a line where NAME
// comes first).
QList<qint32> processIDsInListing(const QString &text, const QString &name);

// The id on the first line of a listing that holds NAME, taken over the whole text at once;
// 0 when that line belongs to the grep pipeline (its prefix holds "grep") or has no leading
// integer.
qint32 firstProcessIDInListing(const QString &text, const QString &name);

// Runs the listing COMMAND and returns processIDsInListing of its decoded output; empty when
// it cannot be started, is empty or cannot be decoded.
QList<qint32> processIDsFromCommand(const QString &command, const QString &name,
                                    Encoding encoding);

} // namespace ZVProcessListing
