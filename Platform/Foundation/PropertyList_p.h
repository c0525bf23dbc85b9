// Property-list files and data (binary, XML or old-style text), read into and written from QVariant values,
// over libplist. Dictionaries are QVariantMap, arrays QVariantList, strings QString, integers
// qint64 (or quint64 above INT64_MAX), reals double, booleans bool, data QByteArray, dates
// QDateTime (UTC). A UID node reads as a QVariantMap {"CF$UID": n}, as property-list tools
// show it; the keyed archive works on libplist nodes directly and does not go through here.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

#include <plist/plist.h>

namespace PropertyList {

enum class Format { XML, Binary };

// Owns one libplist node tree.
struct NodeDeleter {
    void operator()(void *node) const { if (node) plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

// Parses property-list bytes in every form a Mac writes: binary, XML and old-style (OpenStep)
// text, the text forms in UTF-8 (with or without a byte-order mark) or UTF-16 (big- or
// little-endian, with a byte-order mark, or without one when the text opens with an ASCII
// character). None for anything else, for bytes nested deeper than 512 levels, or for a
// value of a kind that has no QVariant form.
std::optional<QVariant> fromData(const QByteArray &data);
// Reads the file; none when it cannot be read or parsed, or when it holds more than MAXBYTES
// bytes (negative: no limit): then no more than MAXBYTES + 1 bytes are read.
std::optional<QVariant> readFile(const QString &path, qint64 maxBytes = -1);

// The property-list bytes of a value; empty when the value holds a kind that a property list
// cannot hold (for instance a null QVariant).
QByteArray toData(const QVariant &value, Format format);
// Writes the value by replacing the path (FileReplacement.h): a new file beside it takes its
// place, so a reader sees the old file or the new one, a link at the path is replaced and
// never followed, and an older file there that the writer may not write is replaced as long
// as the folder is writable. Both values of ATOMICALLY write this way. The file gets the mode
// that the process's umask gives a new file.
bool writeFile(const QVariant &value, const QString &path, Format format, bool atomically);

// Whether libplist may be given DATA: false for a binary property list with a reference
// cycle, more than 512 levels, more than 4,000,000 nodes once shared objects are copied out,
// or (unless TEXTSMAYHOLDNUL: the caller reads texts and keys only by pointer and length) a
// text holding a NUL (libplist would recurse, grow or abort without bound), and for XML
// nested more than 512 levels. Data that is no property list at all counts as safe: libplist
// refuses it by itself. Every reader of property-list bytes asks this first.
bool isSafeToParse(const QByteArray &data, bool textsMayHoldNul = false);

// libplist node conversion, for code that needs nodes (depth-limited as fromData).
std::optional<QVariant> variantFromNode(plist_t node);
Node nodeFromVariant(const QVariant &value);

} // namespace PropertyList
