// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"

#include <QDebug>
#include <QUrl>

#include <algorithm>
#include <map>

#include "core/apppaths.h"

StartupArguments ParseStartupArguments(const QStringList& args) {
    StartupArguments out;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("-profile")) {
            // "-profile" as the last argument changes nothing.
            if (i + 1 < args.size()) out.profile = args[++i];
            continue;
        }
        out.files.append(args[i]);
    }
    return out;
}

namespace {
std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}
}  // namespace

std::string NormaliseActivityCommand(const std::string& command) {
    std::string c = command;
    while (!c.empty() && c.back() == '/') c.pop_back();
    const auto slash = c.rfind('/');
    if (slash != std::string::npos) c = c.substr(slash + 1);
    return Lower(c);
}

ArgumentAction ClassifyArgument(const std::string& argument) {
    ArgumentAction a;
    if (argument.empty()) return a;
    if (FileExists(argument)) {
        a.kind = FileExtension(argument) == "qct" ? ArgumentAction::OpenChart : ArgumentAction::Import;
        a.query = argument;
        return a;
    }
    const QUrl url(QString::fromLocal8Bit(argument.c_str()), QUrl::TolerantMode);
    if (!url.isValid()) return a;
    const std::string scheme = Lower(url.scheme().toStdString());
    if (scheme == "navlink") {
        std::string path = url.path().toStdString();
        while (!path.empty() && path.back() == '/') path.pop_back();
        std::string command = path;
        const auto slash = command.rfind('/');
        if (slash != std::string::npos) command = command.substr(slash + 1);
        if (command.empty()) command = url.host().toStdString();
        if (command.empty()) return a;
        a.kind = ArgumentAction::Activity;
        a.command = NormaliseActivityCommand(command);
        a.query = url.query(QUrl::FullyEncoded).toStdString();
    } else if (scheme == "file") {
        a.kind = ArgumentAction::Activity;
        a.command = "open";
        a.query = url.path().toLocal8Bit().toStdString();
    } else if (scheme == "http" || scheme == "https") {
        a.kind = ArgumentAction::Activity;
        a.command = "fetch";
        a.query = argument;
    }
    return a;
}

namespace {
std::map<std::string, ImportFunction>& Importers() {
    static std::map<std::string, ImportFunction> importers;
    return importers;
}
}  // namespace

void RegisterImporter(const std::string& extension, ImportFunction importer) {
    Importers()[Lower(extension)] = std::move(importer);
}

void ClearImportersForTesting() {
    Importers().clear();
}

bool importFileOfAnyType(const NV_HWND& window, const std::string& path, CBounds& bounds) {
    const std::string ext = FileExtension(path);
    qInfo().noquote() << "Importing" << QString::fromLocal8Bit(path.c_str());
    std::string reason;
    bool ok = false;
    auto run = [&](const std::string& key) {
        auto it = Importers().find(key);
        return it != Importers().end() && it->second(window, path, bounds, reason);
    };
    if (ext == "gpx" || ext == "xml") {
        ok = run("gpx");
        if (!ok) MessageBoxOK(window, "GPX Import Failed", "Failed to import file: " + path);
    } else if (ext == "pstf" || ext == "dvpage") {
        ok = run(ext);
        if (!ok) {
            MessageBoxOK(window, "Pages file Failed",
                         reason.empty() ? std::string("Error reading file")
                                        : "Reading the ." + ext + " file failed: " + reason);
        }
    } else if (ext == "qct" || ext == "nvpkg") {
        ok = run(ext);
        if (!ok && !reason.empty()) MessageBoxOK(window, "Problem", reason + "\n\n" + path);
    } else if (ext == "csv") {
        ok = run("csv");
        if (!ok) MessageBoxOK(window, "CSV Import Failed", "Failed to import file: " + path);
    } else {
        MessageBoxOK(window, "Unknown file extension", "Don't know what this file is: " + path);
    }
    return ok;
}
