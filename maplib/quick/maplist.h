// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The map list: every chart of the catalogue, grouped by map type and, within a type, by
// where the file lives ("Built-in", "Internal", "Documents"), in the user's sort order.
// Choosing a chart opens it in the map the list was opened from; a chart can be deleted
// after a Yes/No question; the map types shown on the map are chosen here too. The QML
// side is "MapList.qml" (with "MapTypes.qml"), whose `model` is this object.
//
// GUI thread only.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "core/pubsub.h"
#include "core/uiservices.h"

class CChartList;
class CChartOutline;
class QQuickItem;

class CDlg_map_list : public QObject, private Listener<CChartList> {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QVariantList rows READ rows NOTIFY listChanged)
    Q_PROPERTY(int chartCount READ chartCount NOTIFY listChanged)
    Q_PROPERTY(int sortOrder READ sortOrder WRITE setSortOrder NOTIFY listChanged)
    Q_PROPERTY(bool reverseSort READ reverseSort WRITE setReverseSort NOTIFY listChanged)
    Q_PROPERTY(QStringList sortChoices READ sortChoices CONSTANT)
    Q_PROPERTY(QVariantList mapTypes READ mapTypes NOTIFY typesChanged)

public:
    static constexpr const char* kBuiltIn = "Built-in";
    static constexpr const char* kInternal = "Internal";
    static constexpr const char* kDocuments = "Documents";
    static constexpr const char* kNoType = "Other";

    struct Row {
        enum Kind { kTypeHeader = 0, kFolderHeader = 1, kChart = 2 };
        Kind kind = kChart;
        std::string text;  // header text, or the chart's name
        std::string type;
        std::string folder;
        std::string path;  // charts only
        double scale = 0;
        bool shown = true;  // the type is one the map shows
        bool unreadable = false;  // refused when opened; listed so that it can be deleted
    };
    struct TypeEntry {
        std::string name;
        int charts = 0;
        bool shown = false;
    };

    explicit CDlg_map_list(QObject* parent = nullptr);
    ~CDlg_map_list() override;

    // The catalogue listed (the global one by default).
    void SetChartList(CChartList* list);
    // The point that "nearness" sorts by (the map's centre).
    void SetReference(double lat, double lon);
    void SetHwnd(const NV_HWND& hwnd) { m_hwnd = hwnd; }
    // What opening a chart does (the map item's openNewMap). An empty path means "the
    // last view".
    std::function<void(const std::string& path)> onOpen;

    // Where a chart file lives, as the list names it.
    static std::string FolderOf(const CChartOutline& outline, const CChartList& list);

    const std::vector<Row>& Rows() const { return m_rows; }
    std::vector<TypeEntry> Types() const;

    QString title() const { return tr("Maps"); }
    QVariantList rows() const;
    int chartCount() const;
    int sortOrder() const;
    void setSortOrder(int order);
    bool reverseSort() const;
    void setReverseSort(bool reverse);
    QStringList sortChoices() const;
    QVariantList mapTypes() const;

    // Makes the model and a MapList.qml popup for it, with the anchor's engine, in the
    // anchor's window. The popup deletes itself (and the model) when closed. Null when
    // the anchor has no engine or the component cannot be made.
    static QObject* Show(QQuickItem* anchor, std::function<void(const std::string& path)> onOpen,
                         std::optional<DblPoint> reference = std::nullopt);

public Q_SLOTS:
    void refresh();
    // Opens the chart of a chart row; false for other rows.
    bool openRow(int row);
    void openPath(const QString& path);
    void openLastView();
    // Asks, then deletes the chart of a chart row.
    bool deleteRow(int row);
    void setTypeShown(const QString& type, bool shown);

Q_SIGNALS:
    void listChanged();
    void typesChanged();
    // A chart was chosen: the popup closes.
    void chartOpened(const QString& path);

private:
    void OnUpdate(CChartList& list) override;
    CChartList* List() const;
    void DeletePath(const std::string& path);

    CChartList* m_list = nullptr;
    std::optional<DblPoint> m_reference;
    NV_HWND m_hwnd;
    std::vector<Row> m_rows;
};
