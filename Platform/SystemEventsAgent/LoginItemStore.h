// The current user's login items as the XDG autostart entries that desktops start at login:
// the *.desktop files in $XDG_CONFIG_HOME/autostart (an absolute XDG_CONFIG_HOME, otherwise
// ~/.config/autostart).
//
// An entry made here carries the item's exact path under "X-SystemEvents-Path", its launch
// hidden flag under "X-SystemEvents-Hidden" (true/false; absent means not known) and its
// place in the order of adding under "X-SystemEvents-Order"; "Exec" runs the path so that
// the desktop really starts it. XDG's own "Hidden=true" means the entry is deleted, so the
// hidden flag never goes there.
//
// Entries the user switched off in the desktop's settings ("Hidden=true" or
// "X-GNOME-Autostart-enabled=false") are login items all the same: listed, with enabled
// false, and removable (their file is deleted like any other).
//
// Entries other programs put there (without X-SystemEvents-Path) are listed too, with the
// program of their "Exec" line as path (a bare command name found on PATH becomes that
// program's path) and no hidden flag; an entry without a program, or whose program is not an
// absolute path and not found on PATH, names no file and is skipped.
//
// An entry whose path cannot be represented in an Apple Event listing (isRepresentable) is
// left out of the listing and of the positions that removal counts, so that one such entry
// of another program never keeps the user's other items from being listed or removed.
//
// Order: the other programs' entries first, by file name, then this store's entries in the
// order they were added, so a new item is always the last one.
#pragma once

#include "MacTypes.h"

#include <QList>
#include <QString>
#include <optional>

class LoginItemStore {
public:
    struct Item {
        QString path;
        std::optional<bool> hidden;
        QString name;
        QString file; // the .desktop file
        bool enabled = true;
    };

    // The longest path, in UTF-16 code units, that a listing reader takes (1,023 bytes).
    static constexpr qsizetype kMaxPathLength = 511;
    // True for an absolute path of at most kMaxPathLength units, without NUL (no file name
    // holds one) and without undecodable bytes (U+FFFD from the entry's text).
    static bool isRepresentable(const QString &path);

    static QString autostartFolder();

    // The items in order: noErr (an empty list when the folder does not exist), or dirNFErr
    // (-120) when the autostart path is not a folder or cannot be read.
    static OSStatus list(QList<Item> *items);
    // Writes a new entry for the absolute PATH after the existing ones: noErr, paramErr for a
    // path that is not representable (empty, relative, too long, holding a NUL), dirNFErr /
    // ioErr when the folder or file cannot be written.
    static OSStatus add(const QString &path, std::optional<bool> hidden);
    // Deletes the entry of the item at POSITION (one-based): noErr, errAENoSuchObject (-1728)
    // when there is no such item, ioErr when its file cannot be removed.
    static OSStatus removeAt(long position);

    // The program of an Exec value (string escapes already undone): its first argument with
    // the quoting undone and "%%" as "%"; null when there is none.
    static QString programOfExec(const QString &exec);
    // PATH as an Exec value before string escaping: quoted, "%" doubled.
    static QString execForPath(const QString &path);
};
