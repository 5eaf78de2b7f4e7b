// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/tool_command.h"

std::vector<ToolCommand>& ToolCommandRegistry::Commands() {
    static std::vector<ToolCommand> commands;
    return commands;
}

QString ToolArgs::TakeOption(const QString& name, bool* present) {
    const QStringList v = TakeOption(name, 1, present);
    return v.isEmpty() ? QString() : v.front();
}

QStringList ToolArgs::TakeOption(const QString& name, int count, bool* present) {
    if (present) *present = false;
    const int i = m_args.indexOf(name);
    if (i < 0) return {};
    if (i + count >= m_args.size()) {
        m_error = name + QStringLiteral(" needs %1 value(s)").arg(count);
        m_args.remove(i, m_args.size() - i);
        return {};
    }
    QStringList values = m_args.mid(i + 1, count);
    m_args.remove(i, count + 1);
    if (present) *present = true;
    return values;
}

bool ToolArgs::TakeFlag(const QString& name) {
    const int i = m_args.indexOf(name);
    if (i < 0) return false;
    m_args.removeAt(i);
    return true;
}

bool ParseDouble(const QString& text, double& out) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (ok) out = v;
    return ok;
}

bool ParseInt(const QString& text, int& out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok) out = v;
    return ok;
}

static void PrintHelp() {
    std::printf("Usage: navora-tool COMMAND [ARGS...]\n\nCommands:\n");
    auto cmds = ToolCommandRegistry::Commands();
    std::sort(cmds.begin(), cmds.end(), [](const ToolCommand& a, const ToolCommand& b) { return a.name < b.name; });
    for (const ToolCommand& c : cmds) {
        std::printf("  %s %s\n      %s\n", c.name.c_str(), c.usage.c_str(), c.summary.c_str());
    }
    if (cmds.empty()) std::printf("  (none yet)\n");
    std::printf("\nnavora-tool --help shows this list.\n");
}

int main(int argc, char** argv) {
    // Rendering commands need QImage/QPainter but never a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    bool gui = true;
    if (argc > 1) {
        for (const ToolCommand& c : ToolCommandRegistry::Commands())
            if (c.name == argv[1]) gui = c.needsGui;
    }
    std::unique_ptr<QCoreApplication> app;
    if (gui)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Navora"));
    QCoreApplication::setApplicationName(QStringLiteral("navora-tool"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty() || args.front() == QLatin1String("--help") || args.front() == QLatin1String("-h") ||
        args.front() == QLatin1String("help")) {
        PrintHelp();
        return args.isEmpty() ? 2 : 0;
    }
    const std::string name = args.takeFirst().toStdString();
    for (const ToolCommand& c : ToolCommandRegistry::Commands()) {
        if (c.name == name) return c.run(args);
    }
    std::fprintf(stderr, "navora-tool: unknown command '%s' (see navora-tool --help)\n", name.c_str());
    return 2;
}
