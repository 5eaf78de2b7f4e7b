// SPDX-License-Identifier: GPL-3.0-or-later
// The demo feed and the drill: the committed logs are exactly what demo-nmea writes, every
// line is a well-formed sentence, and the command refuses what it cannot do.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

const QString kCommitted = QStringLiteral(NAVORA_SOURCE_DIR "/data/demo/demo_sail.nmea");
const QString kCommittedDrill = QStringLiteral(NAVORA_SOURCE_DIR "/data/demo/drill.nmea");

struct ToolResult {
    int exit_code = -1;
    QString output;
};

ToolResult Tool(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(NAVORA_TOOL_PATH), QStringList{QStringLiteral("demo-nmea")} + args);
    ToolResult r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The XOR of the characters between the start character and "*", against the two
// upper-case hexadecimal digits after it.
bool ChecksumMatches(const QByteArray& line) {
    const int star = line.lastIndexOf('*');
    if (line.size() < 4 || (line[0] != '$' && line[0] != '!') || star < 1 || star + 3 != line.size()) return false;
    unsigned sum = 0;
    for (int i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
    bool ok = false;
    const unsigned given = line.mid(star + 1, 2).toUInt(&ok, 16);
    return ok && line.mid(star + 1, 2) == line.mid(star + 1, 2).toUpper() && given == sum;
}

TEST(DemoNmea, CommittedLogIsWhatTheCommandWrites) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("sail.nmea"));
    const ToolResult r = Tool({QStringLiteral("-o"), out});
    ASSERT_EQ(r.exit_code, 0) << r.output.toStdString();
    const QByteArray made = ReadAll(out);
    const QByteArray committed = ReadAll(kCommitted);
    ASSERT_FALSE(committed.isEmpty()) << "data/demo/demo_sail.nmea is missing";
    EXPECT_TRUE(made == committed) << "regenerate with: navora-tool demo-nmea -o data/demo/demo_sail.nmea";
    EXPECT_FALSE(QFile::exists(out + QStringLiteral(".tmp")));

    const QString drill = dir.filePath(QStringLiteral("drill.nmea"));
    ASSERT_EQ(Tool({QStringLiteral("--drill"), QStringLiteral("-o"), drill}).exit_code, 0);
    const QByteArray committedDrill = ReadAll(kCommittedDrill);
    ASSERT_FALSE(committedDrill.isEmpty()) << "data/demo/drill.nmea is missing";
    EXPECT_TRUE(ReadAll(drill) == committedDrill)
        << "regenerate with: navora-tool demo-nmea --drill -o data/demo/drill.nmea";
}

TEST(DemoNmea, EveryLineIsASentenceWithItsChecksumAtTheCadenceOfTheFeed) {
    const QByteArray text = ReadAll(kCommitted);
    ASSERT_TRUE(text.endsWith("\r\n"));
    std::map<std::string, int> counts;
    int lines = 0;
    for (QByteArray line : text.split('\n')) {
        if (line.isEmpty()) continue;
        ++lines;
        ASSERT_TRUE(line.endsWith('\r')) << "line " << lines;
        line.chop(1);
        ASSERT_TRUE(ChecksumMatches(line)) << "line " << lines << ": " << line.toStdString();
        // 82 characters with the line end is the longest sentence the standard allows.
        EXPECT_LE(line.size() + 2, 82) << line.toStdString();
        ++counts[line.mid(3, 3).toStdString()];
    }
    const int seconds = 3600;
    EXPECT_EQ(counts["RMC"], seconds);
    EXPECT_EQ(counts["GGA"], seconds);
    EXPECT_EQ(counts["GSA"], seconds);
    EXPECT_EQ(counts["VTG"], seconds);
    EXPECT_EQ(counts["HDG"], seconds);
    EXPECT_EQ(counts["GSV"] % seconds, 0);
    EXPECT_GE(counts["GSV"], seconds);
    EXPECT_EQ(counts["MWV"], seconds);  // apparent and true, every other second
    EXPECT_EQ(counts["DPT"], seconds / 5);
    // The AIS traffic: five stations, three of them reporting every 10 s.
    EXPECT_GT(counts["VDM"], 3 * seconds / 10);
    EXPECT_LT(counts["VDM"], 4 * seconds / 10);
    EXPECT_EQ(counts.size(), 9u);

    const QByteArray drill = ReadAll(kCommittedDrill);
    ASSERT_TRUE(drill.endsWith("\r\n"));
    for (QByteArray line : drill.split('\n')) {
        if (line.isEmpty()) continue;
        line.chop(1);
        ASSERT_TRUE(ChecksumMatches(line)) << line.toStdString();
        EXPECT_LE(line.size() + 2, 82) << line.toStdString();
    }
}

TEST(DemoNmea, ShorterLogsAndRefusals) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("short.nmea"));
    ASSERT_EQ(Tool({QStringLiteral("-o"), out, QStringLiteral("--minutes"), QStringLiteral("2")}).exit_code, 0);
    // The first two minutes of the full log, to the byte.
    const QByteArray shortLog = ReadAll(out);
    ASSERT_FALSE(shortLog.isEmpty());
    EXPECT_TRUE(ReadAll(kCommitted).startsWith(shortLog));
    EXPECT_EQ(shortLog.count("RMC,"), 120);

    EXPECT_NE(Tool({}).exit_code, 0);
    EXPECT_NE(Tool({QStringLiteral("-o"), out, QStringLiteral("--minutes"), QStringLiteral("0")}).exit_code, 0);
    EXPECT_NE(Tool({QStringLiteral("-o"), out, QStringLiteral("--minutes"), QStringLiteral("ten")}).exit_code, 0);
    EXPECT_NE(Tool({QStringLiteral("-o"), out, QStringLiteral("extra")}).exit_code, 0);
    EXPECT_NE(Tool({QStringLiteral("-o"), out, QStringLiteral("--drill"), QStringLiteral("--minutes"), QStringLiteral("2")})
                  .exit_code,
              0);
    // An unwritable place fails and leaves nothing behind.
    const QString nowhere = dir.filePath(QStringLiteral("missing/dir/sail.nmea"));
    const ToolResult r = Tool({QStringLiteral("-o"), nowhere});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_TRUE(r.output.contains(QStringLiteral("cannot write"))) << r.output.toStdString();
    EXPECT_FALSE(QFile::exists(nowhere));
    // A failed run does not touch an earlier good file.
    EXPECT_EQ(ReadAll(out), shortLog);
}

}  // namespace
