// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool nmea-dump: what the sentence dispatcher publishes for a log, as JSON lines.

#include <cstdio>
#include <string>

#include "navdata/nmea_dump.h"
#include "tools/tool_command.h"

namespace {

constexpr size_t kMaxLine = 4096;  // far beyond any sentence; longer lines are dropped

int NmeaDump(const QStringList& argv) {
    ToolArgs args(argv);
    if (args.HasError()) {
        std::fprintf(stderr, "navora-tool nmea-dump: %s\n", args.Error().toStdString().c_str());
        return 1;
    }
    if (args.Rest().size() > 1) {
        std::fprintf(stderr, "navora-tool nmea-dump: expected at most one FILE\n");
        return 1;
    }
    const std::string path = args.Rest().isEmpty() ? std::string("-") : args.Rest()[0].toStdString();
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "navora-tool nmea-dump: cannot open '%s'\n", path.c_str());
        return 1;
    }

    auto printers = CNMEADump::StartAll([](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    });

    std::string line;
    line.reserve(kMaxLine + 1);
    bool overlong = false;
    auto finishLine = [&]() {
        if (!overlong && !line.empty() && line[0] != '#') CNMEADump::Dispatch(&line[0]);
        line.clear();
        overlong = false;
    };
    for (int c; (c = std::fgetc(in)) != EOF;) {
        if (c == '\n' || c == '\r') {
            finishLine();
        } else if (line.size() < kMaxLine) {
            line.push_back(static_cast<char>(c));
        } else {
            overlong = true;
        }
    }
    finishLine();
    const bool failed = std::ferror(in) != 0;
    if (in != stdin) std::fclose(in);
    printers.clear();
    std::fflush(stdout);
    if (failed) {
        std::fprintf(stderr, "navora-tool nmea-dump: read error on '%s'\n", path.c_str());
        return 1;
    }
    return 0;
}

ToolCommandRegistry::Registrar s_nmeaDump({"nmea-dump", "[FILE|-]",
                                           "print every parsed sentence record of an NMEA log as JSON lines",
                                           NmeaDump});

}  // namespace
