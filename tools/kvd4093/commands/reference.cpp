// What `kvd4093 help --all` adds after the commands: the exit status, the
// environment, the files and examples. The manual page is made from that
// text (help2man), so the page says what the tool says.
#include "commands/commands.h"

namespace kvd::tool {

std::string exitStatusHelp() {
    return "Exit status: 0 done, 1 a library call or a file failed, 2 a bad command\n"
           "line, 128 + the signal's number for an acquisition stopped by Ctrl-C (130),\n"
           "SIGTERM (143) or SIGHUP (129), 141 (128 + SIGPIPE) when the reader of\n"
           "standard output quit.\n";
}

std::string referenceHelp() {
    return "*Exit status*\n" + exitStatusHelp() +
           "\n"
           "Environment:\n"
           "  KVD4093_VIRTUAL_CARDS  physical IDs of virtual cards to use instead of real\n"
           "                         ones, 0 to 255 between commas, e.g. 7,9,5 (--virtual\n"
           "                         sets it); their settings are kept apart from the real\n"
           "                         cards' (see Files)\n"
           "  KVD4093_VIRTUAL_PACING\n"
           "                         off: virtual cards deliver their samples at once\n"
           "                         instead of at the card's rate\n"
           "  KVD4093_VIRTUAL_NOISE  amplitude[,seed]: noise on the virtual cards' signals\n"
           "  KVD4093_VIRTUAL_MEMORY the samples a paced virtual card holds between reads\n"
           "                         (default 65536); read later, it loses its oldest\n"
           "  KVD4093_USB_IDS        the USB vendor:product pairs taken for cards, in hex as\n"
           "                         lsusb shows them, e.g. 1209:0001 (Linux)\n"
           "  KVD4093_SETTINGS       the settings store for real and virtual cards alike: a\n"
           "                         file (Linux) or a key below HKEY_CURRENT_USER (Windows)\n"
           "  KVD4093_TRACE          a file that gets a line for every request to a card\n"
           "  KVD4093_MQTT_PASSWORD  the password for the USER of --publish's and collect's\n"
           "                         mqtt://USER@HOST/... address\n"
           "  XDG_CONFIG_HOME, HOME  where the settings files are (Linux, see Files)\n"
           "  PATH                   where xdg-open is looked for, which opens the help\n"
           "                         document (KVD4093_BrowseHelpInfo, Linux)\n"
           "  COLUMNS                the terminal's width, where the terminal does not say\n"
           "  LC_ALL, LC_CTYPE, LANG\n"
           "                         the terminal's encoding, for the library's messages\n"
           "\n"
           "Files:\n"
           "  $XDG_CONFIG_HOME/Olm/KVD4093.reg\n"
           "                         the saved settings of real cards (~/.config when\n"
           "                         XDG_CONFIG_HOME is unset; on Windows the registry key\n"
           "                         HKEY_CURRENT_USER\\Software\\Olm\\KVD4093)\n"
           "  $XDG_CONFIG_HOME/Olm/KVD4093-virtual.reg\n"
           "                         the saved settings of virtual cards (on Windows the key\n"
           "                         HKEY_CURRENT_USER\\Software\\Olm\\KVD4093-virtual)\n"
           "  KVD4093Err.log         the library's error log, written to the current folder\n"
           "                         when the program ends\n"
           "  $KVD4093_TRACE         the trace of the requests to the cards, when set\n"
           "\n"
           "Examples:\n"
           "  $ kvd4093 list\n"
           "  $ kvd4093 acquire --virtual --channels 0-3 -r 100k -t 2s -o run.csv --plot run.svg\n"
           "  $ kvd4093 acquire --virtual --continuous -o - | head -5\n"
           "  $ kvd4093 settings save --virtual --channels 0-3 --rate 100k\n"
           "  $ kvd4093 di --virtual=7,9 --id 9\n";
}

} // namespace kvd::tool
