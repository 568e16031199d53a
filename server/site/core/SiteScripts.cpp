// Custom SITE commands (TEXT, EXEC, IS) and the scripts that run before and after commands. Every
// program runs through the one runner with an argument vector: nothing a client types ever
// reaches a shell.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "engine/os/ProcessRunner.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/core/ExternalCommand.h"

namespace orvex {

namespace {

// A program still running after this long is killed and counts as one that could not run.
constexpr int kProgramTimeoutMs = 30000;
constexpr size_t kOutputPiece = 254;
constexpr size_t kOutputLimit = 64 * 1024;
constexpr size_t kScriptNameMax = 255;
// Custom commands of mode IS may call each other, but not in a circle for ever.
constexpr int kMaxAliasDepth = 8;

// A configured path under the root path: one leading separator dropped, in OS form.
std::string UnderRoot(ServerSite& site, std::string path) {
    FileUtil::ToBackslashes(path);
    FileUtil::StripLeadingSep(path);
    return FileUtil::OsPath(site.MakeRootPath("", path));
}

// The name a script is configured under: the verb, or "SITE" and the sub-command (and the
// REMOTE sub-command).
std::string ScriptCommandName(const Args& args) {
    std::string name = args[0];
    if (StringUtil::EqualNoCase(name, "SITE") && args.size() > 1) {
        name = "SITE " + args[1];
        if (StringUtil::EqualNoCase(args[1], "REMOTE") && args.size() > 2) name += " " + args[2];
    }
    StringUtil::Truncate(name, kScriptNameMax);
    return name;
}

}  // namespace

int SiteSession::Dispatch(const Args& args) {
    if (args.empty()) return FtpSession::Dispatch(args);
    if (!RunCommandScript(args, 1)) return 0;
    const int result = FtpSession::Dispatch(args);
    PublishState();
    RunCommandScript(args, 2);
    return result;
}

bool SiteSession::RunCommandScript(const Args& args, int phase) {
    const std::string name = ScriptCommandName(args);
    const std::optional<CustomScript> script = server_.Config().FindCustomScript(name, phase);
    if (!script) return true;

    const std::optional<UserRecord> record = server_.Users().FindUser(user_);
    std::string group = record ? record->group : std::string();
    StringUtil::Truncate(group, kUserNameMax);
    std::vector<std::string> arguments{Join(args, 0, 0), user_, group, RealDirectory()};
    if (RunScript(UnderRoot(server_, script->script), std::move(arguments), phase == 1))
        return true;
    Respond(args,
            SetMessage("Custom \"%s\" script (%s) for \"%s\" returned error.",
                       script->phase.c_str(), script->script.c_str(), name.c_str()),
            "500", false);
    return false;
}

bool SiteSession::RunScript(const std::string& script, std::vector<std::string> arguments,
                            bool pre) {
    if (pre && FileUtil::Kind(script) == 0) {
        // Refused all the same, but the client is told instead of waiting for a reply.
        Replies().Reply("Command failed.", "550");
        return false;
    }
    std::string output;
    const std::vector<std::string> env = ScriptEnvironment();
    const int status = RunProgram(ProgramArgv(script, arguments), pre ? &output : nullptr,
                                  kProgramTimeoutMs, kOutputLimit, &env);
    if (!pre) return true;
    // A script that could not run printed nothing.
    if (status < 0) output.clear();
    ScriptVerdict verdict = RelayScriptOutput(output);
    if (verdict.allow) {
        // The command's own reply, whatever its code, carries them.
        Replies().HoldContinuation(std::move(verdict.lines));
        return true;
    }
    for (const std::string& line : verdict.lines) Replies().Reply(line, verdict.code, 1);
    Replies().Reply(verdict.finalText, verdict.code);
    return false;
}

int SiteSession::RunCommandProgram(const std::vector<std::string>& argv) {
    std::string output;
    const std::vector<std::string> env = ScriptEnvironment();
    if (argv.empty() || RunProgram(argv, &output, kProgramTimeoutMs, kOutputLimit, &env) < 0) {
        Replies().Reply("Unable to run command.", "451");
        return 0;
    }
    for (const std::string& line : OutputLines(output, kOutputPiece)) Line(" " + line);
    Replies().Reply("Command Successful.", "200");
    return 1;
}

int SiteSession::SiteCustomCommand(const Args& args) {
    std::optional<CustomCommand> command;
    if (args.size() >= 2) command = server_.Config().FindCustomCommand(args[1]);
    const bool alias = command && StringUtil::EqualNoCase(command->mode, "IS");
    if (!command || (alias && StringUtil::EqualNoCase(command->target, args[1])))
        return NotUnderstood(args);

    const std::optional<UserRecord> record = server_.Users().FindUser(user_);
    if (!record) {
        Respond(args, "Unable to get user information.", "501");
        return 0;
    }
    if (server_.Config().MatchSiteCommand(args[1], user_, record->group, record->flags) != 1) {
        Respond(args, site::kNoAccess, "550");
        return 0;
    }

    const std::string clientArgs = Join(args, 0, 2);
    if (alias) {
        if (aliasDepth_ >= kMaxAliasDepth) {
            Respond(args, "Command failed.", "550");
            return 0;
        }
        const std::string line = StringUtil::Format("SITE %s %s %s", command->target.c_str(),
                                                    command->arguments.c_str(), clientArgs.c_str());
        const bool bypass = siteBypass_;
        siteBypass_ = true;
        ++aliasDepth_;
        const int result = Site(Tokenizer().Split(line));
        --aliasDepth_;
        siteBypass_ = bypass;
        return result;
    }
    if (StringUtil::EqualNoCase(command->mode, "TEXT")) {
        std::string path = command->target;
        FileUtil::ToBackslashes(path);
        FileUtil::StripLeadingSep(path);
        TextFileReply::Send(Replies(), server_.MakeRootPath("", path), "200", std::nullopt, 0);
        Respond(args, command->mode + " " + command->target, "200", false);
        return 1;
    }
    if (StringUtil::EqualNoCase(command->mode, "EXEC")) {
        const std::vector<std::string> values{
            user_,           record->group,       FileUtil::OsPath(server_.MakeRootPath("")),
            RealDirectory(), record->permissions, record->flags};
        std::vector<std::string> arguments;
        for (const std::string& word : SplitTemplateWords(command->arguments))
            arguments.push_back(StringUtil::ExpandTemplate(word, "uyRdYZ", values));
        // Each word of the client stays one argument, whatever characters it holds.
        arguments.insert(arguments.end(), args.begin() + 2, args.end());
        const int result =
            RunCommandProgram(ProgramArgv(UnderRoot(server_, command->target), arguments));
        Respond(args, command->mode + " " + command->target + " " + command->arguments, "200",
                false);
        return result;
    }
    Respond(args, SetMessage("%s: Command has invalid mode.", args[1].c_str()), "502");
    return 0;
}

}  // namespace orvex
