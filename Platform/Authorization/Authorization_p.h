// Authorization Services: the Mac's names, types, flag values and status codes, doing the real
// thing on Linux.
//
// How the right is held here:
// - A process whose effective user is root holds every right without being asked.
// - When a polkit authority answers on the system bus, it decides (PolkitAuthority): the right
//   is the product's action, checked for this process; a check without interaction passes
//   when polkit grants it silently (a rule, a kept authorization); with interaction the
//   session's agent asks, or the product's own agent (PolkitAgentProcess) when none does.
//   Tools run through pkexec and ZVPrivilegedTool, covered by the kept authorization.
//   AuthorizationFree with kAuthorizationFlagDestroyRights revokes it and ends the agent.
// - With neither polkit nor sudo, a request that may ask shows that rights cannot be
//   obtained here and fails with errAuthorizationInternal.
// - Otherwise the right is held through sudo (/usr/bin/sudo). With interaction allowed and the
//   right not yet held, a password dialog (AuthorizationDialog) asks the person at the console
//   for the administrator's password; sudo checks it ("sudo -S -v", the password written to its
//   stdin pipe, never to its arguments, environment, a file or a log) and keeps its cached
//   credential for this process. A reference remembers that it holds the right; a check without
//   interaction is granted only while the reference holds it and sudo still accepts the cached
//   credential without a password ("sudo -n -v").
// - sudo keeps its credential per terminal when this process has a controlling terminal and
//   otherwise per parent process and session: the sudo commands started directly by this
//   process share it, other programs do not.
// - AuthorizationFree with kAuthorizationFlagDestroyRights drops the right of the reference and
//   sudo's cached credential ("sudo -k"), so the next request asks again.
// - AuthorizationExecuteWithPrivileges runs the tool as root (directly when root, otherwise
//   through "sudo -n --") with its standard input and output on a socket handed back as a
//   stream.
// Every right name asks for the administrator's right: this platform has that one rule.
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <cstdio>

struct AuthorizationOpaqueRef;
using AuthorizationRef = const AuthorizationOpaqueRef *;
using AuthorizationString = const char *;
using AuthorizationFlags = UInt32;

struct AuthorizationItem {
    AuthorizationString name;
    std::size_t valueLength;
    void *value;
    UInt32 flags;
};

struct AuthorizationItemSet {
    UInt32 count;
    AuthorizationItem *items;
};

using AuthorizationRights = AuthorizationItemSet;
using AuthorizationEnvironment = AuthorizationItemSet;

#define kAuthorizationRightExecute "system.privilege.admin"
#define kAuthorizationEmptyEnvironment nullptr

enum : AuthorizationFlags {
    kAuthorizationFlagDefaults = 0,
    kAuthorizationFlagInteractionAllowed = 1 << 0,
    kAuthorizationFlagExtendRights = 1 << 1,
    kAuthorizationFlagPartialRights = 1 << 2,
    kAuthorizationFlagDestroyRights = 1 << 3,
    kAuthorizationFlagPreAuthorize = 1 << 4,
};

enum : OSStatus {
    errAuthorizationSuccess = 0,
    errAuthorizationInvalidSet = -60001,
    errAuthorizationInvalidRef = -60002,
    errAuthorizationInvalidTag = -60003,
    errAuthorizationInvalidPointer = -60004,
    errAuthorizationDenied = -60005,
    errAuthorizationCanceled = -60006,
    errAuthorizationInteractionNotAllowed = -60007,
    errAuthorizationInternal = -60008,
    errAuthorizationExternalizeNotAllowed = -60009,
    errAuthorizationInternalizeNotAllowed = -60010,
    errAuthorizationInvalidFlags = -60011,
    errAuthorizationToolExecuteFailure = -60031,
    errAuthorizationToolEnvironmentError = -60032,
    errAuthorizationBadAddress = -60033,
};

// Makes a new reference into *authorization. RIGHTS, when given with items, are copied as by
// AuthorizationCopyRights with FLAGS (the reference is handed back even when they are refused,
// as long as FLAGS are valid). ENVIRONMENT is ignored.
OSStatus AuthorizationCreate(const AuthorizationRights *rights,
    const AuthorizationEnvironment *environment, AuthorizationFlags flags,
    AuthorizationRef *authorization);

// Frees the reference; with kAuthorizationFlagDestroyRights also drops the right it holds and
// sudo's cached credential of this process.
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

// Asks for RIGHTS on AUTHORIZATION. Without kAuthorizationFlagExtendRights only rights already
// held are granted (errAuthorizationDenied otherwise); without
// kAuthorizationFlagInteractionAllowed nobody is asked (errAuthorizationInteractionNotAllowed
// when the right is not held). With interaction the password dialog is shown modally; it
// needs a QApplication and the thread that runs it (errAuthorizationInteractionNotAllowed
// otherwise). A cancelled dialog gives errAuthorizationCanceled. On success, when
// AUTHORIZEDRIGHTS is given, it receives a copy of RIGHTS that the caller frees with
// AuthorizationFreeItemSet. An empty set is granted at once.
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights *rights,
    const AuthorizationEnvironment *environment, AuthorizationFlags flags,
    AuthorizationRights **authorizedRights);

// Frees a set handed out by AuthorizationCopyRights.
OSStatus AuthorizationFreeItemSet(AuthorizationItemSet *set);

// Runs PATHTOTOOL as root with ARGUMENTS (NULL-terminated, may be NULL; the tool's own name is
// not part of them) after asking for kAuthorizationRightExecute with interaction allowed. The
// tool's standard input and output are connected to *COMMUNICATIONSPIPE (read and write; when
// COMMUNICATIONSPIPE is NULL they lead nowhere); its standard error and environment are this
// process's. Closing the stream reaps the tool once it has ended. OPTIONS must be 0.
// errAuthorizationToolExecuteFailure when the tool is not an absolute path to an executable
// file or cannot be started.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char *pathToTool,
    AuthorizationFlags options, char *const *arguments, FILE **communicationsPipe);
