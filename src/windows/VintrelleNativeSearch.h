#pragma once

// The plug-in search: a small floating panel that searches Ableton's browser through the bridge
// and adds the chosen result to a library category. It sends "search" and "addPlugin" through
// `command` and never changes the library itself; the new library comes back through
// `updateLibrary`, which marks the results the chosen category now holds.

#include "VintrelleReply.h"
#include "VintrelleSearchModel.h"
#include "VintrelleDarkPanel.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class VintrelleEditHeader;

class VintrelleNativeSearch : public VintrelleDarkPanel
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 300;
    static constexpr int panelHeight = 420;
    static constexpr int dragStripHeight = 56;

    VintrelleNativeSearch();
    ~VintrelleNativeSearch() override;

    std::function<void(const QJsonObject &command, VintrelleReply reply)> command;
    std::function<void()> onClose;
    std::function<void(const QPoint &topLeft)> onMoved;

    void updateLibrary(const QJsonArray &categories);
    // Chooses the category `categoryID` and shows the window in front, its top-left corner at
    // `topLeft` (global), with the keyboard in the search field.
    void openForCategory(const QString &categoryID, const QPoint &topLeft);
    void setConnected(bool connected);

    // Actions of the field and buttons.
    void find();
    void addSelected();
    void destinationChanged(int index);
    void done() { close(); }

    const VintrelleSearchModel &searchModel() const { return m_model; }
    VintrelleEditHeader *header() const { return m_header; }
    QComboBox *destination() const { return m_destination; }
    QLineEdit *query() const { return m_query; }
    QTableWidget *table() const { return m_table; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *doneButton() const { return m_doneButton; }
    QPushButton *searchButton() const { return m_searchButton; }
    QLabel *status() const { return m_status; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void reloadTable();
    void updateRowHeights();
    void selectTableRow(std::optional<int> row);
    void refresh();

    VintrelleSearchModel m_model;
    VintrelleEditHeader *m_header;
    QPushButton *m_doneButton;
    QComboBox *m_destination;
    QLineEdit *m_query;
    QPushButton *m_searchButton;
    QTableWidget *m_table;
    QPushButton *m_addButton;
    QLabel *m_status;
    bool m_updating = false;
};
