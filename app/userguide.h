// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The user guide that ships inside the program (Markdown chapters under ":/guide"), as the
// Help page shows it: one chapter at a time, chosen from a list, by a link in another
// chapter, or by the tag of the screen that asked for help. GUI thread.

#include <QObject>
#include <QString>
#include <QStringList>

class CUserGuide : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList titles READ titles CONSTANT)
    Q_PROPERTY(int current READ current WRITE setCurrent NOTIFY currentChanged)
    Q_PROPERTY(QString text READ text NOTIFY currentChanged)

public:
    struct Chapter {
        const char* tag;    // also the file name under ":/guide"
        const char* title;
    };
    static const std::vector<Chapter>& Chapters();
    // The chapter for a help tag: a chapter's own tag, or one of the screens' tags
    // ("layout", "gps_setup", "map_settings", ...); unknown tags give the first chapter.
    static int ChapterForTag(const QString& tag);
    // The Markdown of a chapter; empty when the resource is missing.
    static QString ChapterText(int index);

    explicit CUserGuide(QObject* parent = nullptr);

    QStringList titles() const;
    int current() const { return m_current; }
    void setCurrent(int index);
    QString text() const;

    // A link in the text: "help:TAG" (or "#TAG") changes chapter, anything else opens
    // in the desktop's browser.
    Q_INVOKABLE void openLink(const QString& link);
    Q_INVOKABLE void showTag(const QString& tag) { setCurrent(ChapterForTag(tag)); }

Q_SIGNALS:
    void currentChanged();

private:
    int m_current = 0;
};
