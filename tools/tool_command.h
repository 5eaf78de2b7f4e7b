// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <functional>
#include <string>
#include <vector>

// Subcommands of navora-tool register themselves at static initialisation, each from its
// own source file, so subsystems add commands without touching a shared list.
struct ToolCommand {
    std::string name;
    std::string usage;    // one line: arguments
    std::string summary;  // one line: what it does
    // Receives the arguments after the command name; returns the exit code.
    std::function<int(const QStringList& args)> run;
    // Commands that draw (images, fonts) need the GUI application object; the others run
    // on a plain core application, which needs no display at all.
    bool needsGui = true;
};

class ToolCommandRegistry {
public:
    static std::vector<ToolCommand>& Commands();
    struct Registrar {
        explicit Registrar(ToolCommand cmd) { Commands().push_back(std::move(cmd)); }
    };
};

// Small argument helper shared by the commands: options may carry negative numbers as
// values ("--lon -0.8"), so values are taken positionally, never guessed from a dash.
class ToolArgs {
public:
    explicit ToolArgs(const QStringList& args) : m_args(args) {}
    // Removes "--name VALUE" and returns VALUE; `present` tells whether it was given.
    QString TakeOption(const QString& name, bool* present = nullptr);
    // Removes "--name V1 V2 ..." (count values).
    QStringList TakeOption(const QString& name, int count, bool* present = nullptr);
    bool TakeFlag(const QString& name);
    const QStringList& Rest() const { return m_args; }
    QString Error() const { return m_error; }
    bool HasError() const { return !m_error.isEmpty(); }

private:
    QStringList m_args;
    QString m_error;
};

// Parses a double strictly (the whole text must be a number).
bool ParseDouble(const QString& text, double& out);
bool ParseInt(const QString& text, int& out);
