// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <functional>
#include <string>

#include "core/geometry.h"
#include "core/uiservices.h"

// What the process was started with, after "-profile NAME" has been taken out.
struct StartupArguments {
    QString profile;    // empty: the default profile
    QStringList files;  // every other argument, the program path first
};
StartupArguments ParseStartupArguments(const QStringList& args);

// What one command-line argument (or forwarded piece) asks for.
struct ArgumentAction {
    enum Kind { Ignore, OpenChart, Import, Activity };
    Kind kind = Ignore;
    std::string command;  // Activity: lower-cased command ("open", "fetch", "view", ...)
    std::string query;    // Activity: the query or path; OpenChart/Import: the file path
};
ArgumentAction ClassifyArgument(const std::string& argument);

// The last path component of a command, lower-cased ("navlink://x/View" -> "view").
std::string NormaliseActivityCommand(const std::string& command);

// Importers plug in by file extension (lower case, no dot) as their subsystems land.
// An importer adds the area of what it read to `bounds` and, on failure, may fill
// `reason` for the user.
using ImportFunction =
    std::function<bool(const NV_HWND& window, const std::string& path, CBounds& bounds, std::string& reason)>;
void RegisterImporter(const std::string& extension, ImportFunction importer);
void ClearImportersForTesting();

// Imports a file according to its extension, telling the user when it fails.
bool importFileOfAnyType(const NV_HWND& window, const std::string& path, CBounds& bounds);
