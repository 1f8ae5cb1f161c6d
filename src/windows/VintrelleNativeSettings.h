#pragma once

// The settings window: a small floating panel with three panes chosen from its toolbar
// (Connection, Preferences, Library). It owns no data: every action is a command sent through
// `command`, and each answer is shown on the status line at the bottom.

#include "VintrelleReply.h"

#include <QJsonObject>
#include <QPoint>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;

class VintrelleNativeSettings : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 520;
    static constexpr int contentHeight = 340;
    // The title strip and the toolbar above the panes; empty parts of both drag the window.
    static constexpr int titleHeight = 28;
    static constexpr int toolbarHeight = 52;
    static constexpr int chromeHeight = titleHeight + toolbarHeight;

    static inline const QString connectionPane = QStringLiteral("Connection");
    static inline const QString preferencesPane = QStringLiteral("Preferences");
    static inline const QString libraryPane = QStringLiteral("Library");

    VintrelleNativeSettings();
    ~VintrelleNativeSettings() override;

    std::function<void(const QJsonObject &command, VintrelleReply reply)> command;
    std::function<void()> onClose;
    std::function<void(const QPoint &topLeft)> onMoved;

    // Opens at the pointer, or with the top-left corner at a global point; a window already
    // shown stays where it is. Every opening re-reads the preferences.
    void open();
    void openAtPoint(const QPoint &topLeft);

    // The actions of the controls.
    void installConnection();
    void testConnection();
    void savePreferences();
    void comboChanged();
    void addStarterCategories();
    void exportLibrary();
    void importLibrary();
    void reset();
    void undo();
    void selectPane(const QString &name);
    void cancelOperation();

    // The steps of export and import after their dialogs: write the exported text to a chosen
    // file; read a chosen file and ask how to import it; send the import.
    void writeExport(const QString &path, const QString &contents);
    void importFile(const QString &path);
    void sendImport(const QString &text, bool replace);

    QLabel *status() const { return m_status; }
    QComboBox *combo() const { return m_combo; }
    QComboBox *letter() const { return m_letter; }
    QAbstractButton *login() const { return m_login; }
    QStackedWidget *tabs() const { return m_tabs; }
    QString currentPane() const;
    QToolButton *paneButton(const QString &name) const;
    // A push button by its title ("Install…", "Test Connection", "Reset Library…", ...).
    QPushButton *button(const QString &title) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void actionEvent(QActionEvent *event) override;

private:
    QWidget *buildConnectionPane();
    QWidget *buildPreferencesPane();
    QWidget *buildLibraryPane();
    QPushButton *makeButton(const QString &title, void (VintrelleNativeSettings::*action)());
    // Sends `sent` with `button` disabled until the reply; `done` sees the reply unless the
    // window is gone.
    void send(const QJsonObject &sent, QPushButton *button, VintrelleReply done);
    void showStatus(const QString &text);
    void askImportMode(const QString &text);

    QStackedWidget *m_tabs;
    QLabel *m_status;
    QComboBox *m_combo = nullptr;
    QComboBox *m_letter = nullptr;
    QAbstractButton *m_login = nullptr;
    QPushButton *m_close;
    QList<QToolButton *> m_paneButtons;
    QList<QPushButton *> m_buttons;
};
