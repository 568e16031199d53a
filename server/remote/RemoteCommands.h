#pragma once
// SITE REMOTE and its sub-commands: one row per sub-command, each with the number of arguments
// below which its help file answers. The dispatcher runs the permission check of the
// sub-command's full name ("REMOTE ADDALIAS") before the handler.

#include <cstddef>
#include <span>

#include "engine/Tokenizer.h"

namespace orvex {

class AliasSession;

namespace remote {

// args[0] "SITE", args[1] "REMOTE", args[2] the sub-command, then its arguments.
using RemoteHandler = int (*)(AliasSession&, const Args&);

struct RemoteCommand {
    const char* name;  // upper case
    RemoteHandler handler;
    size_t minArguments;  // after the sub-command
};

std::span<const RemoteCommand> RemoteCommands();
int Dispatch(AliasSession& s, const Args& args);

// RemoteCommands.cpp
int Help(AliasSession& s, const Args& args);
int AddAlias(AliasSession& s, const Args& args);
int DelAlias(AliasSession& s, const Args& args);
int Disconnect(AliasSession& s, const Args& args);
int Kill(AliasSession& s, const Args& args);
int Tunnel(AliasSession& s, const Args& args);
// RemoteMirrors.cpp
int AddMirror(AliasSession& s, const Args& args);
int DefMirror(AliasSession& s, const Args& args);
int DelMirror(AliasSession& s, const Args& args);
// RemoteViews.cpp
int Alias(AliasSession& s, const Args& args);
int Aliases(AliasSession& s, const Args& args);
int Mirrors(AliasSession& s, const Args& args);
int Connections(AliasSession& s, const Args& args);
// RemoteChange.cpp
int Change(AliasSession& s, const Args& args);
// SharedCommands.cpp: the messages between servers that share users.
int Login(AliasSession& s, const Args& args);
int Update(AliasSession& s, const Args& args);
int SharedLogin(AliasSession& s, const Args& args);
int SharedQuit(AliasSession& s, const Args& args);
int SharedConnections(AliasSession& s, const Args& args);

}  // namespace remote

// A SITE REMOTE line as logs may keep it: the password of ADDALIAS and CHANGE, and the argument
// of a tunnelled PASS, are left out.
Args LoggableRemoteArgs(const Args& args);

}  // namespace orvex
