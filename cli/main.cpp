// crenovix-cli: the updater's functions from a terminal, for scripts, tests and people without a
// desktop.
#include "cli/Commands.h"
#include "crenovix/Version.h"
#include "text/PrintableText.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

void PrintUsage(std::ostream& out) {
    out << "usage: crenovix-cli COMMAND [ARGS]\n"
           "\n"
           "commands:\n"
           "  info [--json] FILE\n"
           "                   show the header of an update file\n"
           "  list [--com] [--json]\n"
           "                   list the chargers (and, with --com, all serial ports)\n"
           "  update [--com] (--port NAME | --serial SN | --all | --simulate LIST)\n"
           "         [--json] [--record FILE] [--log FILE | --no-log] FILE\n"
           "  update --watch [--serial SN] [--simulate LIST] [--json]\n"
           "         [--log FILE | --no-log] FILE\n"
           "                   write FILE into a charger: the one on port NAME, the one with\n"
           "                   serial number SN, or every charger at once (--all); --simulate\n"
           "                   takes simulated chargers instead, LIST as in hid,hid,serial\n"
           "                   (a word may add a fault: hid:refuse, hid:noreturn, hid:unplug,\n"
           "                   hid:moved); --json prints JSON Lines events on standard output;\n"
           "                   --record writes every byte of every dialogue to FILE; each run\n"
           "                   is added to the update log (in the user's data folder, or the\n"
           "                   FILE of --log; --no-log keeps none); --watch keeps running and\n"
           "                   updates each charger once as it is plugged in (again after an\n"
           "                   unplug), until Ctrl+C\n"
           "  replay TRACE FILE\n"
           "                   run the dialogue of a --record trace again against the trace\n"
           "  catalogue        show whether a newer version exists and the update files offered\n"
           "  download INDEX PATH\n"
           "                   download the catalogue's entry INDEX (from 0) to PATH\n"
           "  doctor [--json]  find why chargers are not found or cannot be opened\n"
           "  --version        print the version\n"
           "\n"
           "exit codes: 0 success; 1 the update (or one of several) failed, or the doctor found\n"
           "a problem; 2 usage or device list error; 3 no charger found; 130 interrupted\n";
}

int Dispatch(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintUsage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? crenovix::cli::kExitUsage : crenovix::cli::kExitSuccess;
    }
    const std::string& command = args[0];
    if (command == "--version") {
        std::cout << "crenovix-cli " << CRENOVIX_VERSION << "\n";
        return 0;
    }
    const std::span<const std::string> rest(args.begin() + 1, args.end());
    if (command == "info") {
        return crenovix::cli::RunInfo(rest, std::cout, std::cerr);
    }
    if (command == "list") {
        return crenovix::cli::RunList(rest, std::cout, std::cerr);
    }
    if (command == "update") {
        return crenovix::cli::RunUpdate(rest, std::cout, std::cerr);
    }
    if (command == "replay") {
        return crenovix::cli::RunReplay(rest, std::cout, std::cerr);
    }
    if (command == "catalogue") {
        return crenovix::cli::RunCatalogue(rest, std::cout, std::cerr);
    }
    if (command == "download") {
        return crenovix::cli::RunDownload(rest, std::cout, std::cerr);
    }
    if (command == "doctor") {
        return crenovix::cli::RunDoctor(rest, std::cout, std::cerr);
    }
    std::cerr << "crenovix-cli: unknown command '" << crenovix::Printable(command) << "'\n";
    PrintUsage(std::cerr);
    return crenovix::cli::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // Whatever a command meets (a file, a device, the network), it ends with a message and an
    // exit code, never with the runtime's abort.
    try {
        return Dispatch(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "crenovix-cli: " << crenovix::Printable(error.what()) << "\n";
    } catch (...) {
        std::cerr << "crenovix-cli: unexpected error\n";
    }
    return crenovix::cli::kExitFailed;
}
