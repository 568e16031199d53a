"""vantor's version line and help pages, compared line by line with their printf forms."""

import unittest

from harness import TempDirTestCase
from vantor_support import run_vantor

VERSION = "Vantor version 1.0.7_beta (1.0.7)"
PAUSE = "-- Press ENTER to continue --"


def render(page):
    """printf semantics for the page lines: (format, args) pairs or bare formats."""
    out = []
    for entry in page:
        fmt, args = entry if isinstance(entry, tuple) else (entry, ())
        out.append(fmt % args)
    return out


USAGE = [
    "usage:  vantor [options]", "", "options:",
    "-h or -help       displays this message",
    "    -hr           displays help on data port ranges",
    "    -hf           displays help on user files",
    "    -hU           displays help on specifying a user",
    "    -hR           displays help on permissions",
    "    -hL           displays help on logging",
    "    -hF           displays help on log formatting",
    "-p<port>          port number the server will run on (default = 21)",
    "-r<low>-<high>    range of ports to use for data connections (default = any)",
    ("-f<userfile>      file containing user info (def userfile = %s)", ("vantor.cfg",)),
    "-a<userfile>      add a user to the user info file (doesn't start server)",
    "-b<IP>            IP address to bind to (x.x.x.x or IPv6 form)",
    "-e                enable explicit SSL (AUTH SSL)",
    "-i<port>          enable implicit SSL on the specified port (default = 990)",
    "-U<user>          specify a user for the site (default = anonymous)",
    "-P<password>      password for the user (default = [no password])",
    "-H<homedir>       home directory for the user (default = CWD)",
    ("-R<flags>         permissions for the user (default = %s)", ("lvcpstduoamn",)),
    "-L<level>:<path>  logging level (default level = 2, path = CWD)",
    "-F<type>:<format> set the format for the program/access (type = p/a) logs",
    "-x<mode>:<masks>  PROXY protocol header (off/optional/required) from the",
    "                  load balancers at these address masks (comma separated)",
    "-A<IP>|control    address PASV announces (control = the one connected to)",
    "-t0               TLS data connections need not resume the control session",
    "-m<port>[:<IP>]   Prometheus metrics on this port (default IP = 127.0.0.1)",
    "-n                do not look up the host names of clients",
    "-w<n>[:<total>]   connections that may wait to log in per address (and in all)",
]

RANGES = [
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
]

USER_FILES = [
    "The user file contains the list of users allowed to login to the server.",
    "The file is formatted as follows:",
    ("<username>%c<encrypted password>%c<home directory>%c<permissions>", (";", ";", ";")),
    "",
    "Use \"vantor -a<filename>\" to add a user to the user file.",
    ("The default filename for the user file is \"%s\".", ("vantor.cfg",)),
    "On UNIX systems the user file can be reloaded without restarting the server",
    "by sending the vantor process a SIGHUP signal (Ex. kill -HUP <PID>).",
    "NOTE: If the -f option is used, the -U, -P, -H, and -R flags are ignored.  If",
    "      the -f option is not used, the user file will not be checked.",
]

USER = [
    "The \"-U\" option is used to specify a user on the command line.  This option",
    "is usually used with the \"-P\", \"-H\", and \"-R\" options.  These options are",
    "designed for the situation when a user file (specified with the \"-f\" option) is",
    "not used.  The \"-U\" option enables a server to be setup quickly for a specific",
    "user without the need to create a user file.",
    "",
    "NOTE: The -U<user> option must always come before the -P<password> option.",
]

PERMISSIONS = [
    "The following permissions are available:",
    "l = list directory contents", "v = recursive directory listing",
    "c = change current working directory (CWD)", "p = print working dir (PWD)",
    "s = system info (SYST and STAT)", "t = SITE command", "d = download files",
    "u = upload files", "o = remove files", "a = rename files/directories",
    "m = make directories", "n = remove directories",
    "r = \"read\" -> d",
    "w = \"write\" -> uoamn",
    "x = \"execute\" -> lvcpst",
]

LOGGING = [
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
    ("The program log file is \"%s\" and the access log file is \"%s\".",
     ("ftpd.log", "%d%m%Y_access.log")),
    "The program log file is used to log events and activities related to the",
    "operation of the FTP server.  The access log file is used to log the FTP",
    "transactions between the server and the connected FTP clients.  When reduced",
    "logging is selected, only the access log file is affected --the program log",
    "file will continue to log everything.",
]

FORMATS = [
    "The following types are available:",
    "p = specify the format for the program log",
    "a = specify the format for the access log",
    "d = specify the format for the date field",
    "",
    "The following specifiers are available for the program log:",
    "%%D = date (format is specified using the \"-Fd:<format>\" option)",
    "%%S = sub-system (where in the prog the log is coming from)",
    "%%M = message (the message body)",
    "%%%% = A literal `%%' character",
    ("The default program log format is \"%s\".", ("%D;%M",)),
    "Example: \"vantor -Fp:%%D;%%S;%%M\" will create a log line such as",
    "         17/03/2002:20:19:33-0300;MAIN;Server started on port 8000",
    "",
    "The following specifiers are available for the access log:",
    "%%d = date (format is specified using the \"-Fd:<format>\" option)",
    "%%s = server IP", "%%l = server listening port", "%%c = client IP", "%%p = client port",
    "%%u = user name",
    PAUSE,
    "%%m = FTP command (method)",
    "%%%% = A literal `%%' character",
    "%%a = argument to the command", "%%r = 3-digit response code from the server",
    "%%t = response text from the server",
    ("The default access log format is \"%s\".", ("%d;%s;%l;%c;%p;%u;%m;%a;%r;%t",)),
    "",
    "The following specifiers are available for the date field:",
    "%%a = abbreviated weekday name according to the current locale",
    "%%A = full weekday name according to the current locale",
    "%%b = abbreviated month name according to the current locale",
    "%%B = full month name according to the current locale",
    "%%d = day of the month as a decimal number (range 01 to 31)",
    "%%H = hour as a decimal number using a 24-hour clock (range 00 to 23)",
    "%%I = hour as a decimal number using a 12-hour clock (range 01 to 12)",
    "%%j = day of the year as a decimal number (range 001 to 366)",
    "%%m = month as a decimal number (range 01 to 12)",
    "%%p = current locale's AM/PM. indicator for 12-hour clock",
    "%%S = second as a decimal number (range 00 to 61)",
    "%%w = day of the week as a decimal, range 0 to 6, Sunday being 0",
    "%%y = year as a decimal number without a century (range 00 to 99)",
    "%%Y = year as a decimal number including the century",
    "%%z = time-zone as hour offset from GMT",
    PAUSE,
    "%%Z = time zone or name or abbreviation",
    "%%O = display the 5-digit (w/ + or -) UTC offset in minutes (Ex. EST -> -0300)",
    "%%%% = A literal `%%' character",
    ("The default date format is \"%s\".", ("%d/%m/%Y:%H:%M:%S",)),
    "Note: The specifiers for the date field are the same as the C-language",
    "      function strftime() except for the added specifier \"%%O\".",
    "",
    "The -F<type>:<format> option can be specified more than once on the command",
    "line to specify the formatting for each of the log types.",
    "Example: \"vantor -Fp:%%D,%%M -Fd:\"%%Y-%%m-%%d %%H:%%M:%%S\"\" ->",
    "         2002-03-17 22:18:41,Server started on port 8000",
]


def page_text(page):
    return "\n".join([VERSION, "", *render(page), ""]) + "\n"


class HelpTest(TempDirTestCase):
    def help(self, arg, stdin_text=""):
        r = run_vantor([arg], self.tmp, stdin_text=stdin_text)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        return r.stdout

    def test_version(self):
        for arg in ("-v", "-V"):
            r = run_vantor([arg, "-p1"], self.tmp)
            self.assertEqual((r.returncode, r.stdout), (0, VERSION + "\n"))

    def test_usage_page_for_h_help_and_unknown_letters(self):
        expected = page_text(USAGE)
        for arg in ("-h", "-help", "-hX", "-hz", "-h-"):
            with self.subTest(arg=arg):
                self.assertEqual(self.help(arg), expected)

    def test_every_page(self):
        pages = {"-hr": RANGES, "-hf": USER_FILES, "-hU": USER, "-hR": PERMISSIONS,
                 "-hL": LOGGING, "-hF": FORMATS, "-hrest": RANGES}
        for arg, page in pages.items():
            with self.subTest(arg=arg):
                self.assertEqual(self.help(arg, stdin_text="\n\n"), page_text(page))

    def test_pauses_read_one_character_each_and_end_at_end_of_input(self):
        # Closed input: both pauses pass at once instead of waiting.
        self.assertEqual(self.help("-hF", stdin_text=""), page_text(FORMATS))
        self.assertEqual(self.help("-hF", stdin_text="ab"), page_text(FORMATS))

    def test_only_the_first_argument_asks_for_help(self):
        # "-h" later on is an unknown option letter: the server would start. Stopping it at once
        # through an invalid port shows that no help was printed.
        r = run_vantor(["-pnot-a-port", "-p99999", "-h"], self.tmp)
        self.assertNotIn("usage:", r.stdout)
        self.assertEqual(r.returncode, 1)
        self.assertIn("ERROR: Unable to start the server (sd = -1): Invalid argument.", r.stdout)


if __name__ == "__main__":
    unittest.main()
