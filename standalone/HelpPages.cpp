#include "standalone/HelpPages.h"

#include <initializer_list>

#include "standalone/ConsoleInput.h"
#include "standalone/StandaloneSite.h"

namespace orvex {

namespace {

// Stands for a pause in a page.
constexpr const char* kPause = nullptr;

using Page = std::initializer_list<const char*>;

const Page kUsage = {
    "usage:  vantor [options]",
    "",
    "options:",
    "-h or -help       displays this message",
    "    -hr           displays help on data port ranges",
    "    -hf           displays help on user files",
    "    -hU           displays help on specifying a user",
    "    -hR           displays help on permissions",
    "    -hL           displays help on logging",
    "    -hF           displays help on log formatting",
    "-p<port>          port number the server will run on (default = 21)",
    "-r<low>-<high>    range of ports to use for data connections (default = any)",
    "-f<userfile>      file containing user info (def userfile = vantor.cfg)",
    "-a<userfile>      add a user to the user info file (doesn't start server)",
    "-b<IP>            IP address to bind to (x.x.x.x or IPv6 form)",
    "-e                enable explicit SSL (AUTH SSL)",
    "-i<port>          enable implicit SSL on the specified port (default = 990)",
    "-U<user>          specify a user for the site (default = anonymous)",
    "-P<password>      password for the user (default = [no password])",
    "-H<homedir>       home directory for the user (default = CWD)",
    "-R<flags>         permissions for the user (default = lvcpstduoamn)",
    "-L<level>:<path>  logging level (default level = 2, path = CWD)",
    "-F<type>:<format> set the format for the program/access (type = p/a) logs",
    "-x<mode>:<masks>  PROXY protocol header (off/optional/required) from the",
    "                  load balancers at these address masks (comma separated)",
    "-A<IP>|control    address PASV announces (control = the one connected to)",
    "-t0               TLS data connections need not resume the control session",
    "-m<port>[:<IP>]   Prometheus metrics on this port (default IP = 127.0.0.1)",
    "-n                do not look up the host names of clients",
    "-w<n>[:<total>]   connections that may wait to log in per address (and in all)",
};

const Page kRanges = {
    "This option is used to specify a range of ports that can be used when",
    "then the server creates a data connection in passive mode.  This option",
    "would typically be used when the server is running behind a firewall.  In",
    "this case, the range of ports used by the server must be known to be able",
    "to open a hole in the firewall for the server",
    "",
    "Example: \"vantor -p21 -r10000-10099\" will start a server that listens",
    "         for a control connection on port 21 and will only open a data",
    "         connection on a port between (and including) 10000 and 10099",
    "         when the client uses passive (PASV) mode.",
    "",
    "NOTE: When a range of ports is specified with the \"-r<low>-<high>\" option,",
    "      only <high>-<low>+1 data connections will be able to be made at one",
    "      time.  Also, <low> should be at least greater than 1024 to avoid",
    "      conflicts with standard services (in general make <low> > 5000).",
};

const Page kUserFiles = {
    "The user file contains the list of users allowed to login to the server.",
    "The file is formatted as follows:",
    "<username>;<encrypted password>;<home directory>;<permissions>",
    "",
    "Use \"vantor -a<filename>\" to add a user to the user file.",
    "The default filename for the user file is \"vantor.cfg\".",
    "On UNIX systems the user file can be reloaded without restarting the server",
    "by sending the vantor process a SIGHUP signal (Ex. kill -HUP <PID>).",
    "NOTE: If the -f option is used, the -U, -P, -H, and -R flags are ignored.  If",
    "      the -f option is not used, the user file will not be checked.",
};

const Page kUser = {
    "The \"-U\" option is used to specify a user on the command line.  This option",
    "is usually used with the \"-P\", \"-H\", and \"-R\" options.  These options are",
    "designed for the situation when a user file (specified with the \"-f\" option) is",
    "not used.  The \"-U\" option enables a server to be setup quickly for a specific",
    "user without the need to create a user file.",
    "",
    "NOTE: The -U<user> option must always come before the -P<password> option.",
};

const Page kPermissions = {
    "The following permissions are available:",
    "l = list directory contents",
    "v = recursive directory listing",
    "c = change current working directory (CWD)",
    "p = print working dir (PWD)",
    "s = system info (SYST and STAT)",
    "t = SITE command",
    "d = download files",
    "u = upload files",
    "o = remove files",
    "a = rename files/directories",
    "m = make directories",
    "n = remove directories",
    "r = \"read\" -> d",
    "w = \"write\" -> uoamn",
    "x = \"execute\" -> lvcpst",
};

const Page kLogging = {
    "The following logging levels are available:",
    "0 = no logging",
    "1 = reduced display only (display the reduced logs to the screen only)",
    "2 = display only (default - the logs are only displayed on the screen)",
    "3 = reduced logging (only write logins and transfers to the access log file)",
    "4 = normal logging (logs are only written to the log file)",
    "5 = reduced debug logging (reduced logs are also displayed)",
    "6 = debug logging (logs are also displayed on the screen)",
    "",
    "To specify a path for the log files use -L<level>:<path> --where <path> is",
    "the path the log files will be written to (the default path is the CWD).",
    "Example: \"vantor -L4:/var/log\" will use normal logging and write the",
    "         log files into the directory \"/var/log\".",
    "The program log file is \"ftpd.log\" and the access log file is \"%d%m%Y_access.log\".",
    "The program log file is used to log events and activities related to the",
    "operation of the FTP server.  The access log file is used to log the FTP",
    "transactions between the server and the connected FTP clients.  When reduced",
    "logging is selected, only the access log file is affected --the program log",
    "file will continue to log everything.",
};

const Page kFormats = {
    "The following types are available:",
    "p = specify the format for the program log",
    "a = specify the format for the access log",
    "d = specify the format for the date field",
    "",
    "The following specifiers are available for the program log:",
    "%D = date (format is specified using the \"-Fd:<format>\" option)",
    "%S = sub-system (where in the prog the log is coming from)",
    "%M = message (the message body)",
    "%% = A literal `%' character",
    "The default program log format is \"%D;%M\".",
    "Example: \"vantor -Fp:%D;%S;%M\" will create a log line such as",
    "         17/03/2002:20:19:33-0300;MAIN;Server started on port 8000",
    "",
    "The following specifiers are available for the access log:",
    "%d = date (format is specified using the \"-Fd:<format>\" option)",
    "%s = server IP",
    "%l = server listening port",
    "%c = client IP",
    "%p = client port",
    "%u = user name",
    kPause,
    "%m = FTP command (method)",
    "%% = A literal `%' character",
    "%a = argument to the command",
    "%r = 3-digit response code from the server",
    "%t = response text from the server",
    "The default access log format is \"%d;%s;%l;%c;%p;%u;%m;%a;%r;%t\".",
    "",
    "The following specifiers are available for the date field:",
    "%a = abbreviated weekday name according to the current locale",
    "%A = full weekday name according to the current locale",
    "%b = abbreviated month name according to the current locale",
    "%B = full month name according to the current locale",
    "%d = day of the month as a decimal number (range 01 to 31)",
    "%H = hour as a decimal number using a 24-hour clock (range 00 to 23)",
    "%I = hour as a decimal number using a 12-hour clock (range 01 to 12)",
    "%j = day of the year as a decimal number (range 001 to 366)",
    "%m = month as a decimal number (range 01 to 12)",
    "%p = current locale's AM/PM. indicator for 12-hour clock",
    "%S = second as a decimal number (range 00 to 61)",
    "%w = day of the week as a decimal, range 0 to 6, Sunday being 0",
    "%y = year as a decimal number without a century (range 00 to 99)",
    "%Y = year as a decimal number including the century",
    "%z = time-zone as hour offset from GMT",
    kPause,
    "%Z = time zone or name or abbreviation",
    "%O = display the 5-digit (w/ + or -) UTC offset in minutes (Ex. EST -> -0300)",
    "%% = A literal `%' character",
    "The default date format is \"%d/%m/%Y:%H:%M:%S\".",
    "Note: The specifiers for the date field are the same as the C-language",
    "      function strftime() except for the added specifier \"%O\".",
    "",
    "The -F<type>:<format> option can be specified more than once on the command",
    "line to specify the formatting for each of the log types.",
    "Example: \"vantor -Fp:%D,%M -Fd:\"%Y-%m-%d %H:%M:%S\"\" ->",
    "         2002-03-17 22:18:41,Server started on port 8000",
};

const Page& PageFor(char letter) {
    switch (letter) {
        case 'F':
            return kFormats;
        case 'L':
            return kLogging;
        case 'R':
            return kPermissions;
        case 'U':
            return kUser;
        case 'f':
            return kUserFiles;
        case 'r':
            return kRanges;
        default:
            return kUsage;
    }
}

}  // namespace

void PrintVersion(FILE* out) {
    std::fprintf(out, "%s version %s (%s)\n", kVantorName, kVantorVersion, kVantorEngineVersion);
}

void PrintHelp(char page, FILE* out, FILE* in) {
    PrintVersion(out);
    std::fputc('\n', out);
    for (const char* line : PageFor(page)) {
        if (line == kPause) {
            ConsoleInput::WaitForEnter(in, out);
            continue;
        }
        std::fputs(line, out);
        std::fputc('\n', out);
    }
    std::fputc('\n', out);
    std::fflush(out);
}

}  // namespace orvex
