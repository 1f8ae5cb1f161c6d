#pragma once

#include <QImage>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The 22 x 22 folder the status item shows, drawn by the program.
QImage VintrelleStatusItemImage();

// The item in the desktop's system tray and its menu. The menu exists whether or not the desktop
// has a tray, so every action stays reachable through the other triggers.
class VintrelleStatusItem : public QObject
{
    Q_OBJECT

public:
    explicit VintrelleStatusItem(QObject *parent = nullptr);
    ~VintrelleStatusItem() override;

    QMenu *menu() const { return m_menu; }
    // None on the offscreen platform.
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QAction *toggleAction() const { return m_toggleAction; }

    // The second line, "Checking hotkey access…" until the gestures report their state; it gets
    // an action once the gestures have one to offer.
    QAction *hotKeyStatusAction() const { return m_hotKeyStatusAction; }
    void setHotKeyStatus(const QString &title);

signals:
    void toggleRequested();
    void quitRequested();

private:
    QMenu *m_menu;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QAction *m_toggleAction;
    QAction *m_hotKeyStatusAction;
};
