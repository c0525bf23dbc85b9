// The current user's login items as the XDG autostart entries that desktops start at login:
// the *.desktop files in $XDG_CONFIG_HOME/autostart (an absolute XDG_CONFIG_HOME, otherwise
// ~/.config/autostart).
//
// An entry made here carries the item's exact path under "X-SystemEvents-Path", its launch
// hidden flag under "X-SystemEvents-Hidden" (true/false; absent means not known) and its
// place in the order of adding under "X-SystemEvents-Order"; "Exec" runs the path so that
// the desktop really starts it. XDG's own "Hidden=true" means the entry is deleted, so the
// hidden flag never goes there, and entries with "Hidden=true" (or
// "X-GNOME-Autostart-enabled=false") are not login items and are not listed.
//
// Entries other programs put there (without X-SystemEvents-Path) are listed too, with the
// program of their "Exec" line as path (a bare command name found on PATH becomes that
// program's path) and no hidden flag; an entry without a program, or whose program is not an
// absolute path and not found on PATH, names no file and is skipped.
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
    };

    static QString autostartFolder();

    // The items in order: noErr (an empty list when the folder does not exist), or dirNFErr
    // (-120) when the autostart path is not a folder or cannot be read.
    static OSStatus list(QList<Item> *items);
    // Writes a new entry for the absolute PATH after the existing ones: noErr, paramErr for an
    // empty or relative path, dirNFErr / ioErr when the folder or file cannot be written.
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
